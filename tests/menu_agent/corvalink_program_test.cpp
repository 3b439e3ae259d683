// The program corvalink on its own: registration, the setup run's early ends, a start by hand, and the server's
// lifetime and failures as QuickBooks sees them.

#include <fcntl.h>
#include <poll.h>
#include <stdlib.h>
#include <termios.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <chrono>
#include <string_view>

#include "menu_agent/main_mod.h"
#include "menu_agent/menu_subscription.h"
#include "platform/com/activation.h"
#include "platform/com/class_registry.h"
#include "platform/com/guid.h"
#include "platform/os/process.h"
#include "tests/menu_agent/program_test_support.h"
#include "tests/support/event_wait.h"

namespace {

using kv::test::BuildProgram;
using menutest::Outcome;
using menutest::ProgramTest;
using menutest::ReadAll;
using menutest::SubscribeMenu;
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

TEST_F(ProgramTest, HelpListsTheCommandsAndEverySetting) {
  const Outcome help = Corvalink({"--help"});
  EXPECT_EQ(help.status, 0);
  for (const char* text :
       {"corvalink /regserver", "corvalink /unregserver", "corvalink a ", "corvalink -Embedding",
        "CORVALINK_SERVER_URL", "CORVALINK_PORTAL_URL", "CORVALINK_PUBLIC_ADDRESS", "CORVALINK_QUICKBOOKS_URL",
        "CORVALINK_SUPPORT_EMAIL", "CORVALINK_SUPPORT_PHONE", "CORVALINK_ANSWER_FILE", "BROWSER", "KV_BROWSER_LOG",
        "QB_STANDIN_HOME", "KV_WEB_CONNECT_TIMEOUT_MS", "KV_COM_TIMEOUT_SECONDS"}) {
    EXPECT_NE(help.output.find(text), std::string::npos) << text << "\n" << help.output;
  }
  // The address in force is the one shown, so a setting exported for one command can be checked.
  EXPECT_NE(help.output.find("(now " + service_->BaseUrl() + ")"), std::string::npos) << help.output;
  // Help registers nothing and starts nothing.
  EXPECT_EQ(Corvalink({"-h"}).output, help.output);
}

TEST_F(ProgramTest, WithoutTheRegistrationSetupAndPicksSayToRegister) {
  ASSERT_TRUE(platform::com::UnregisterLocalServer(corvalink::kProgID));
  const Outcome setup = Corvalink({"a"}, "jane\ns3cret&x\n");
  EXPECT_EQ(setup.status, 0) << setup.output;
  // The system's own message stays as it is; the hint is a line of its own after it.
  const size_t added = setup.output.find("Kalvor menu items added to QuickBooks under File | Kalvor.");
  const size_t hint = setup.output.find("is not registered");
  ASSERT_NE(added, std::string::npos) << setup.output;
  ASSERT_NE(hint, std::string::npos) << setup.output;
  EXPECT_LT(added, hint);
  EXPECT_NE(setup.output.find("corvalink /regserver\".\n", hint), std::string::npos) << setup.output;

  const Outcome pick = Qb({"pick", "2"});
  EXPECT_EQ(pick.status, 1);
  EXPECT_NE(pick.output.find("raised error 429 (0x000001AD): ActiveX component can't create object\n"),
            std::string::npos)
      << pick.output;
  EXPECT_NE(pick.output.find("corvalink /regserver"), std::string::npos) << pick.output;
}

TEST_F(ProgramTest, ARegistryThatCannotBeReadDoesNotFailTheSetup) {
  const std::filesystem::path registry = platform::com::ClassRegistryPath();
  std::filesystem::remove(registry);
  std::filesystem::create_directories(registry / "not-a-file");
  const Outcome setup = Corvalink({"a"}, "jane\ns3cret&x\n");
  std::filesystem::remove_all(registry);
  EXPECT_EQ(setup.status, 0) << setup.output;
  EXPECT_NE(setup.output.find("The class registry " + registry.string() + " could not be read"), std::string::npos)
      << setup.output;
  EXPECT_NE(setup.output.find("/regserver\"."), std::string::npos) << setup.output;
}

TEST_F(ProgramTest, SetupEndsWithoutCredentials) {
  const Outcome setup = Corvalink({"a"}, "");
  EXPECT_EQ(setup.status, 1) << setup.output;
  EXPECT_EQ(Qb({"menu"}).output, "No menu subscriptions.\n");
  EXPECT_EQ(Received().size(), 0u);
}

TEST_F(ProgramTest, AUserNameOfBlanksIsToldBothAreRequiredAndSendsNothing) {
  constexpr std::string_view kRequired =
      "This information is required to proceed with this setup..\nPlease press cancel to exit the setup..";
  const Outcome cancelled = Corvalink({"a"}, "   \nc\n");
  EXPECT_EQ(cancelled.status, 1) << cancelled.output;
  EXPECT_NE(cancelled.output.find(kRequired), std::string::npos) << cancelled.output;
  EXPECT_EQ(Received().size(), 0u);

  // Enter at the buttons asks for the user name again.
  const Outcome retried = Corvalink({"a"}, "\n\njane\ns3cret&x\n");
  EXPECT_EQ(retried.status, 0) << retried.output;
  EXPECT_NE(retried.output.find(kRequired), std::string::npos) << retried.output;
  const auto received = Received();
  ASSERT_EQ(received.size(), 2u);  // the sign-in and the file registration, nothing for the blank name
  EXPECT_EQ(received[0].QueryValue("user"), "jane");
}

TEST_F(ProgramTest, SetupReportsQuickBooksNotRunning) {
  EXPECT_EQ(Qb({"close"}).status, 0);
  const Outcome setup = Corvalink({"a"}, "jane\ns3cret&x\n");
  EXPECT_EQ(setup.status, 1);
  EXPECT_NE(setup.output.find("QuickBooks must be open with the correct company file"), std::string::npos)
      << setup.output;
}

TEST_F(ProgramTest, OnATerminalThePasswordIsNotEchoed) {
  const int terminal = posix_openpt(O_RDWR | O_NOCTTY);
  ASSERT_GE(terminal, 0);
  ASSERT_EQ(grantpt(terminal), 0);
  ASSERT_EQ(unlockpt(terminal), 0);
  platform::os::Launch launch;
  launch.argv = {BuildProgram("corvalink").string(), "a"};
  // The terminal becomes the program's controlling terminal and its standard streams, as in a shell.
  launch.new_session = true;
  launch.in = platform::os::Redirect::File(ptsname(terminal), O_RDWR);
  launch.out = platform::os::Redirect::Stream(0);
  launch.err = platform::os::Redirect::Stream(0);
  platform::os::Process program = platform::os::Process::Start(launch);
  std::string screen;
  // Reads what the terminal shows until the text appears or the program's side is gone.
  const auto read_until = [&](std::string_view text, std::chrono::seconds limit) {
    const auto deadline = std::chrono::steady_clock::now() + limit;
    while (screen.find(text) == std::string::npos && std::chrono::steady_clock::now() < deadline) {
      pollfd p{terminal, POLLIN, 0};
      if (poll(&p, 1, 100) <= 0) continue;
      char buffer[1024];
      const ssize_t n = read(terminal, buffer, sizeof buffer);
      if (n <= 0) return false;
      screen.append(buffer, static_cast<size_t>(n));
    }
    return screen.find(text) != std::string::npos;
  };
  const auto type = [&](std::string_view text) {
    ASSERT_EQ(write(terminal, text.data(), text.size()), static_cast<ssize_t>(text.size()));
  };
  EXPECT_TRUE(read_until("User name:", kv::test::kEventWait)) << screen;
  type("jane\n");
  EXPECT_TRUE(read_until("Password:", kv::test::kEventWait)) << screen;
  // A person types once the prompt stands; by then echo is off.
  termios modes{};
  for (int i = 0; i < 500 && tcgetattr(terminal, &modes) == 0 && (modes.c_lflag & ECHO) != 0; ++i) usleep(10000);
  EXPECT_EQ(modes.c_lflag & ECHO, 0u);
  type("s3cret&x\n");
  read_until("\x01never shown", std::chrono::seconds(20));
  close(terminal);
  EXPECT_EQ(Wait(program), 0) << screen;
  EXPECT_NE(screen.find("User name: jane"), std::string::npos) << screen;
  EXPECT_EQ(screen.find("s3cret"), std::string::npos) << screen;
  EXPECT_NE(screen.find("Kalvor menu items added to QuickBooks"), std::string::npos) << screen;
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
