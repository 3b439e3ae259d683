// The program corvalink end to end: the setup run, then QuickBooks' picks through the QuickBooks stand-in,
// which starts corvalink as a server for each pick.

#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>

#include "menu_agent/main_mod.h"
#include "menu_agent/menu_subscription.h"
#include "platform/com/activation.h"
#include "platform/com/class_registry.h"
#include "tests/menu_agent/program_test_support.h"

namespace {

using kv::test::BuildProgram;
using menutest::Outcome;
using menutest::ProgramTest;
using menutest::ReadAll;
using menutest::Start;
using menutest::SubscribeMenu;
using menutest::Wait;
using menutest::WriteAll;

TEST_F(ProgramTest, SetupAddsTheMenuAndPicksReachTheirPages) {
  const Outcome setup = Corvalink({"a"}, "jane\ns3cret&x\n");
  EXPECT_EQ(setup.status, 0) << setup.output;
  EXPECT_NE(setup.output.find("Kalvor menu items added to QuickBooks under File | Kalvor."), std::string::npos);
  EXPECT_EQ(setup.output.find("s3cret"), std::string::npos) << "the password was shown";
  EXPECT_EQ(setup.output.find("/regserver"), std::string::npos) << "registered, yet told to register";

  const Outcome menu = Qb({"menu"});
  EXPECT_NE(menu.output.find("Corvalink.QBMenuListener"), std::string::npos) << menu.output;
  EXPECT_NE(menu.output.find("[2] Syncronize"), std::string::npos);
  EXPECT_NE(menu.output.find("[K-77] Siteid  (hidden)"), std::string::npos);
  EXPECT_NE(menu.output.find("[ACME] Sitecode  (hidden)"), std::string::npos);

  const Outcome sync = Qb({"pick", "2"});
  EXPECT_EQ(sync.status, 0) << sync.output;
  EXPECT_EQ(Opened(), (std::vector<std::string>{service_->BaseUrl() + "help/QBmenuInstallHelp.html",
                                                service_->BaseUrl() + "BrintavelCall.asp?sitecode=ACME&siteid=K-99"}));
  const auto received = Received();
  ASSERT_EQ(received.size(), 3u);  // sign-in, file registration, refresh
  EXPECT_EQ(received[1].QueryValue("qbfile"), company_.string());
  EXPECT_EQ(received[2].Query(),
            (std::vector<std::pair<std::string, std::string>>{{"user", "ACME"}, {"pwd", "K-77"}, {"storuser", "1"}}));

  // No answer to the question is No: nothing is removed.
  Answer("");
  const Outcome kept = Qb({"pick", "10"});
  EXPECT_EQ(kept.status, 0) << kept.output;
  EXPECT_NE(kept.output.find("Do you want to remove Kalvor menu\u2019s from QuickBooks"), std::string::npos);
  EXPECT_NE(Qb({"menu"}).output.find("Uninstall"), std::string::npos);

  Answer("yes\n");
  const Outcome removed = Qb({"pick", "10"});
  EXPECT_EQ(removed.status, 0) << removed.output;
  EXPECT_NE(removed.output.find("Kalvor menu items removed from QuickBooks."), std::string::npos) << removed.output;
  EXPECT_EQ(Qb({"menu"}).output, "No menu subscriptions.\n");
}

// Each pick has a server process of its own; the second comes while the first waits 4 s for the service.
TEST_F(ProgramTest, APickWhileAnotherWaitsOnTheServiceOpensItsPageAfterIt) {
  SubscribeMenu();
  const menutest::ScopedEnv stall("KV_WEB_STALL_TIMEOUT_MS", "30000");
  const size_t before = service_->ReceivedCount();
  service_->SetFault("kvrGetQBMenuSpecs.asp", "delay-ms 4000");
  const std::filesystem::path in = Dir() / "none.txt";
  WriteAll(in, "");
  platform::os::Process sync = Start({BuildProgram("qb-standin").string(), "pick", "2"}, in, Dir() / "sync.txt");
  // The service has the first pick's request: that pick holds its turn and waits on the answer. The limit only
  // ends a run that hangs.
  ASSERT_TRUE(service_->WaitForReceived(before + 1, std::chrono::minutes(5)));
  const Outcome second = Qb({"pick", "0"});
  EXPECT_EQ(second.status, 0) << second.output;
  EXPECT_EQ(Wait(sync), 0) << ReadAll(Dir() / "sync.txt");
  EXPECT_EQ(Opened(), (std::vector<std::string>{service_->BaseUrl() + "BrintavelCall.asp?sitecode=ACME&siteid=K-99",
                                                service_->BaseUrl() + "tspenddownlist.asp?sitecode=ACME&siteid=K-77"}));
  EXPECT_EQ(service_->ReceivedCount(), before + 1);
}

}  // namespace
