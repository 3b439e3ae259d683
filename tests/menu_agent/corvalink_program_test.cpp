// The program corvalink on its own: registration, the setup run's early ends, a start by hand, and the server's
// lifetime and failures as QuickBooks sees them.

#include <gtest/gtest.h>

#include "menu_agent/main_mod.h"
#include "menu_agent/menu_subscription.h"
#include "platform/com/activation.h"
#include "platform/com/class_registry.h"
#include "platform/com/guid.h"
#include "tests/menu_agent/program_test_support.h"

namespace {

// The menu as a setup run leaves it, subscribed through the QuickBooks stand-in from this process.
void SubscribeMenu() {
  corvalink::MainMod().SiteCode = "ACME";
  corvalink::MainMod().SiteID = "K-77";
  ASSERT_TRUE(corvalink::AddMenu(true));
}

using kv::test::BuildProgram;
using menutest::Outcome;
using menutest::ProgramTest;
using menutest::ReadAll;
using menutest::Start;
using menutest::Wait;
using menutest::WriteAll;

TEST_F(ProgramTest, RegistersItsClassUnderItsProgId) {
  EXPECT_EQ(Corvalink({"/regserver"}).status, 0);
  const auto entry = platform::com::FindLocalServer("Corvalink.QBMenuListener");
  ASSERT_TRUE(entry);
  EXPECT_EQ(entry->program.filename(), "corvalink");
  EXPECT_EQ(platform::com::GuidToString(entry->clsid), "{0B01C3C5-B46F-4CFE-B42F-DA3D4E029F41}");
  EXPECT_EQ(Corvalink({"/unregserver"}).status, 0);
  EXPECT_FALSE(platform::com::FindLocalServer("Corvalink.QBMenuListener"));
}

TEST_F(ProgramTest, SetupEndsWithoutCredentials) {
  const Outcome setup = Corvalink({"a"}, "");
  EXPECT_EQ(setup.status, 1) << setup.output;
  EXPECT_EQ(Qb({"menu"}).output, "No menu subscriptions.\n");
  EXPECT_EQ(Received().size(), 0u);
}

TEST_F(ProgramTest, SetupReportsQuickBooksNotRunning) {
  EXPECT_EQ(Qb({"close"}).status, 0);
  const Outcome setup = Corvalink({"a"}, "jane\ns3cret&x\n");
  EXPECT_EQ(setup.status, 1);
  EXPECT_NE(setup.output.find("QuickBooks must be open with the correct company file"), std::string::npos)
      << setup.output;
}

TEST_F(ProgramTest, StartedByHandNothingToServe) {
  const Outcome run = Corvalink({});
  EXPECT_EQ(run.status, 0);
  EXPECT_NE(run.output.find("corvalink a"), std::string::npos) << run.output;
}

TEST_F(ProgramTest, ServerEndsAfterTheLastRelease) {
  auto object = platform::com::RemoteObject::Create("Corvalink.QBMenuListener");
  // No subscription yet: the read-back finds none, and the help item opens without site values.
  object.Inform("<QBXML>\n<EventTag>9</EventTag>\n</QBXML>\n");
  object.Inform("<QBXML>\n<EventTag>9</EventTag>\n</QBXML>\n");
  object.Release();
  EXPECT_EQ(object.WaitForServerExit(), 0);
  EXPECT_EQ(Opened(), (std::vector<std::string>{service_->BaseUrl() + "help/QBmenu.html",
                                                service_->BaseUrl() + "help/QBmenu.html"}));
}

TEST_F(ProgramTest, AFailedCallReachesQuickBooks) {
  SubscribeMenu();
  WriteAll(Dir() / "event.txt", "<QBXML>\r\n<EventTag>4</EventTag>\r\n</QBXML>\r\n");
  const Outcome pick = Qb({"pick", "4", "--event-file", (Dir() / "event.txt").string()});
  EXPECT_NE(pick.status, 0);
  EXPECT_NE(pick.output.find("the menu pick failed"), std::string::npos) << pick.output;
  EXPECT_TRUE(Opened().empty());
}

}  // namespace
