#pragma once

// Runs the program corvalink and the QuickBooks stand-in as the user and QuickBooks do: each test has the sample
// company open in its own stand-in state directory, a service stand-in shared by the test program (with the
// test's accounts), and corvalink registered as the server of its class.

#include <signal.h>

#include <gtest/gtest.h>

#include <chrono>

#include "menu_agent/main_mod.h"
#include "menu_agent/menu_subscription.h"
#include "platform/com/activation.h"
#include "platform/com/class_registry.h"
#include "platform/os/process.h"
#include "tests/menu_agent/menu_test_support.h"
#include "tests/support/service/service_standin.h"

namespace menutest {

using kv::test::BuildProgram;

struct Outcome {
  int status = -1;
  std::string output;  // standard output and error together
};

// Starts a program with standard input from a file and its output (standard output and error) into another.
inline platform::os::Process Start(const std::vector<std::string>& args, const std::filesystem::path& input,
                                   const std::filesystem::path& output) {
  platform::os::Launch launch;
  launch.argv = args;
  launch.in = platform::os::Redirect::ReadFrom(input);
  launch.out = platform::os::Redirect::WriteTo(output);
  launch.err = platform::os::Redirect::Stream(1);
  // Its own session: no controlling terminal, as when QuickBooks starts it on a desktop.
  launch.new_session = true;
  return platform::os::Process::Start(launch);
}

// The exit status as a shell reports it; -1 when the program is still running after the limit (it is killed).
inline int Wait(platform::os::Process& process, std::chrono::seconds limit = std::chrono::seconds(20)) {
  if (const auto status = process.WaitFor(limit)) return status->ShellStatus();
  process.Stop(SIGKILL, {});
  return -1;
}

// The menu as a setup run leaves it, subscribed through the QuickBooks stand-in from this process.
inline void SubscribeMenu() {
  corvalink::MainMod().SiteCode = "ACME";
  corvalink::MainMod().SiteID = "K-77";
  ASSERT_TRUE(corvalink::AddMenu(true));
}

class ProgramTest : public AgentTest {
 protected:
  static void SetUpTestSuite() { service_ = new kv::test::ServiceStandinProcess(); }
  static void TearDownTestSuite() {
    delete service_;
    service_ = nullptr;
  }

  ProgramTest()
      : server_env_("CORVALINK_SERVER_URL", service_->BaseUrl()),
        answers_env_("CORVALINK_ANSWER_FILE", (Dir() / "answers.txt").string()) {
    company_ = Dir() / "company.xml";
    const std::filesystem::path sample = std::filesystem::path(KV_SOURCE) / "samples" / "company.xml";
    std::filesystem::copy_file(sample, company_);
    EXPECT_EQ(Qb({"open", company_.string()}).status, 0);
    for (const char* file : {"faults/kvrGetQBMenuSpecs.asp", "answers/kvrGetQBMenuSpecs.asp"})
      service_->RemoveFile(file);
    first_ = service_->Received().empty() ? 0 : service_->Received().back().number;
    service_->WriteFile("accounts.txt", menutest::AccountLine("jane", "s3cret&x", "ACME", "K-77", "") +
                                            menutest::AccountLine("ACME", "K-77", "ACME", "K-99", company_.string()));
    platform::com::RegisterLocalServer({corvalink::kProgID, {}, std::filesystem::absolute(BuildProgram("corvalink"))});
  }
  ~ProgramTest() override { platform::forms::ResetDefaultInstances(); }

  // The requests the service received during this test.
  std::vector<kv::test::ReceivedRequest> Received() const {
    std::vector<kv::test::ReceivedRequest> out;
    for (auto& r : service_->Received()) {
      if (r.number > first_) out.push_back(r);
    }
    return out;
  }

  Outcome Exec(std::vector<std::string> args, const std::string& input = "") {
    const std::filesystem::path in = Dir() / "stdin.txt";
    const std::filesystem::path out = Dir() / "stdout.txt";
    WriteAll(in, input);
    Outcome run;
    platform::os::Process process = Start(args, in, out);
    run.status = Wait(process);
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

  static inline kv::test::ServiceStandinProcess* service_ = nullptr;
  ScopedEnv server_env_;
  ScopedEnv answers_env_;
  std::filesystem::path company_;
  uint64_t first_ = 0;
};

}  // namespace menutest
