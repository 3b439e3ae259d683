// The program corvalink end to end: the setup run in a terminal, its registration, and QuickBooks' picks through
// the QuickBooks stand-in, which starts corvalink as a server for each pick.

#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <chrono>
#include <thread>

#include "menu_agent/main_mod.h"
#include "platform/com/activation.h"
#include "platform/com/class_registry.h"
#include "tests/menu_agent/menu_test_support.h"
#include "tests/support/service/service_standin.h"

extern char** environ;

namespace {

using kv::test::BuildProgram;
using menutest::ReadAll;
using menutest::WriteAll;

struct Outcome {
  int status = -1;
  std::string output;  // standard output and error together
};

// Starts a program with standard input from a file and its output into another; returns its pid.
pid_t Start(const std::vector<std::string>& args, const std::filesystem::path& input,
            const std::filesystem::path& output) {
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, 0, input.c_str(), O_RDONLY, 0);
  posix_spawn_file_actions_addopen(&actions, 1, output.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
  posix_spawn_file_actions_adddup2(&actions, 1, 2);
  posix_spawnattr_t attr;
  posix_spawnattr_init(&attr);
  // Its own session: no controlling terminal, as when QuickBooks starts it on a desktop.
  posix_spawnattr_setflags(&attr, POSIX_SPAWN_SETSID);
  std::vector<char*> argv;
  for (const std::string& arg : args) argv.push_back(const_cast<char*>(arg.c_str()));
  argv.push_back(nullptr);
  pid_t pid = -1;
  const int rc = posix_spawn(&pid, argv[0], &actions, &attr, argv.data(), environ);
  posix_spawn_file_actions_destroy(&actions);
  posix_spawnattr_destroy(&attr);
  if (rc != 0) throw std::runtime_error("could not start " + args[0]);
  return pid;
}

int Wait(pid_t pid, std::chrono::seconds limit = std::chrono::seconds(20)) {
  const auto deadline = std::chrono::steady_clock::now() + limit;
  int status = 0;
  while (waitpid(pid, &status, WNOHANG) == 0) {
    if (std::chrono::steady_clock::now() > deadline) {
      kill(pid, SIGKILL);
      waitpid(pid, &status, 0);
      return -1;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
  return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
}

class ProgramTest : public menutest::AgentTest {
 protected:
  ProgramTest()
      : server_env_("CORVALINK_SERVER_URL", service_.BaseUrl()),
        answers_env_("CORVALINK_ANSWER_FILE", (Dir() / "answers.txt").string()) {
    company_ = Dir() / "company.xml";
    const std::filesystem::path sample = std::filesystem::path(KV_SOURCE) / "samples" / "company.xml";
    std::filesystem::copy_file(sample, company_);
    EXPECT_EQ(Qb({"open", company_.string()}).status, 0);
    service_.WriteFile("accounts.txt", menutest::AccountLine("jane", "s3cret&x", "ACME", "K-77", "") +
                                           menutest::AccountLine("ACME", "K-77", "ACME", "K-99", company_.string()));
    EXPECT_EQ(Corvalink({"/regserver"}).status, 0);
  }

  Outcome Exec(std::vector<std::string> args, const std::string& input = "") {
    const std::filesystem::path in = Dir() / "stdin.txt";
    const std::filesystem::path out = Dir() / "stdout.txt";
    WriteAll(in, input);
    Outcome run;
    run.status = Wait(Start(args, in, out));
    run.output = ReadAll(out);
    return run;
  }
  Outcome Corvalink(std::vector<std::string> args, const std::string& input = "") {
    args.insert(args.begin(), BuildProgram("corvalink").string());
    return Exec(args, input);
  }
  Outcome Qb(std::vector<std::string> args) {
    args.insert(args.begin(), BuildProgram("qb-standin").string());
    return Exec(args);
  }
  void Answer(const std::string& lines) { WriteAll(Dir() / "answers.txt", lines); }

  kv::test::ServiceStandinProcess service_;
  menutest::ScopedEnv server_env_;
  menutest::ScopedEnv answers_env_;
  std::filesystem::path company_;
};

TEST_F(ProgramTest, RegistersItsClassUnderItsProgId) {
  const auto entry = platform::com::FindLocalServer("Corvalink.QBMenuListener");
  ASSERT_TRUE(entry);
  EXPECT_EQ(entry->program.filename(), "corvalink");
  EXPECT_EQ(Corvalink({"/unregserver"}).status, 0);
  EXPECT_FALSE(platform::com::FindLocalServer("Corvalink.QBMenuListener"));
}

TEST_F(ProgramTest, SetupAddsTheMenuAndPicksReachTheirPages) {
  const Outcome setup = Corvalink({"a"}, "jane\ns3cret&x\n");
  EXPECT_EQ(setup.status, 0) << setup.output;
  EXPECT_NE(setup.output.find("Kalvor menu items added to QuickBooks under File | Kalvor."), std::string::npos);
  EXPECT_EQ(setup.output.find("s3cret"), std::string::npos) << "the password was shown";

  const Outcome menu = Qb({"menu"});
  EXPECT_NE(menu.output.find("Corvalink.QBMenuListener"), std::string::npos) << menu.output;
  EXPECT_NE(menu.output.find("[2] Syncronize"), std::string::npos);
  EXPECT_NE(menu.output.find("[K-77] Siteid  (hidden)"), std::string::npos);
  EXPECT_NE(menu.output.find("[ACME] Sitecode  (hidden)"), std::string::npos);

  const Outcome sync = Qb({"pick", "2"});
  EXPECT_EQ(sync.status, 0) << sync.output;
  EXPECT_EQ(Opened(), (std::vector<std::string>{service_.BaseUrl() + "help/QBmenuInstallHelp.html",
                                                 service_.BaseUrl() + "BrintavelCall.asp?sitecode=ACME&siteid=K-99"}));
  const auto received = service_.Received();
  ASSERT_EQ(received.size(), 3u);  // sign-in, file registration, refresh
  EXPECT_EQ(received[1].QueryValue("qbfile"), company_.string());
  EXPECT_EQ(received[2].Query(), (std::vector<std::pair<std::string, std::string>>{
                                     {"user", "ACME"}, {"pwd", "K-77"}, {"storuser", "1"}}));

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

TEST_F(ProgramTest, SetupEndsWithoutCredentials) {
  const Outcome setup = Corvalink({"a"}, "");
  EXPECT_EQ(setup.status, 1) << setup.output;
  EXPECT_EQ(Qb({"menu"}).output, "No menu subscriptions.\n");
  EXPECT_EQ(service_.ReceivedCount(), 0u);
}

TEST_F(ProgramTest, SetupReportsQuickBooksNotRunning) {
  EXPECT_EQ(Qb({"close"}).status, 0);
  const Outcome setup = Corvalink({"a"}, "jane\ns3cret&x\n");
  EXPECT_EQ(setup.status, 1);
  EXPECT_NE(setup.output.find("QuickBooks must be open with the correct company file"), std::string::npos)
      << setup.output;
}

TEST_F(ProgramTest, PickWhileAnotherWaitsOnTheServiceDispatchesNothing) {
  ASSERT_EQ(Corvalink({"a"}, "jane\ns3cret&x\n").status, 0);
  const size_t before = service_.ReceivedCount();
  service_.SetFault("kvrGetQBMenuSpecs.asp", "delay-ms 1500");
  const std::filesystem::path in = Dir() / "none.txt";
  WriteAll(in, "");
  const pid_t sync = Start({BuildProgram("qb-standin").string(), "pick", "2"}, in, Dir() / "sync.txt");
  ASSERT_TRUE(service_.WaitForReceived(before + 1, std::chrono::seconds(10)));
  const Outcome second = Qb({"pick", "0"});
  EXPECT_EQ(second.status, 0) << second.output;
  EXPECT_EQ(Wait(sync), 0) << ReadAll(Dir() / "sync.txt");
  const auto opened = Opened();
  ASSERT_EQ(opened.size(), 2u);
  EXPECT_NE(opened[1].find("BrintavelCall.asp"), std::string::npos);
  // Afterwards picks work again.
  EXPECT_EQ(Qb({"pick", "0"}).status, 0);
  EXPECT_NE(Opened().back().find("tspenddownlist.asp"), std::string::npos);
}

TEST_F(ProgramTest, ServerEndsAfterTheLastRelease) {
  auto object = platform::com::RemoteObject::Create("Corvalink.QBMenuListener");
  // No subscription yet: the read-back finds none, and the help item opens without site values.
  object.Inform("<QBXML>\n<EventTag>9</EventTag>\n</QBXML>\n");
  object.Inform("<QBXML>\n<EventTag>9</EventTag>\n</QBXML>\n");
  object.Release();
  EXPECT_EQ(object.WaitForServerExit(), 0);
  EXPECT_EQ(Opened(), (std::vector<std::string>{service_.BaseUrl() + "help/QBmenu.html",
                                                 service_.BaseUrl() + "help/QBmenu.html"}));
}

TEST_F(ProgramTest, AFailedCallReachesQuickBooks) {
  ASSERT_EQ(Corvalink({"a"}, "jane\ns3cret&x\n").status, 0);
  WriteAll(Dir() / "event.txt", "<QBXML>\r\n<EventTag>4</EventTag>\r\n</QBXML>\r\n");
  const Outcome pick = Qb({"pick", "4", "--event-file", (Dir() / "event.txt").string()});
  EXPECT_NE(pick.status, 0);
  EXPECT_NE(pick.output.find("the menu pick failed"), std::string::npos) << pick.output;
  EXPECT_EQ(Opened().size(), 1u);  // only the installation help of the setup
}

TEST_F(ProgramTest, StartedByHandNothingToServe) {
  const Outcome run = Corvalink({});
  EXPECT_EQ(run.status, 0);
  EXPECT_NE(run.output.find("corvalink a"), std::string::npos) << run.output;
}

}  // namespace
