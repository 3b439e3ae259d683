// A sync that ends before its lists are sent: kvpage sends employees and classes while the user presses Ctrl-C
// (Cancel) during a status report, or the service answers "Error". The run ends with the message of what happened
// and sends nothing after it.

#include <gtest/gtest.h>
#include <signal.h>

#include <chrono>
#include <string>
#include <vector>

#include "tests/support/programs/program_run.h"
#include "tests/support/programs/sample_company.h"
#include "tests/support/service/service_standin.h"

namespace {

using namespace std::chrono_literals;

class SyncStopsTest : public ::testing::Test {
 protected:
  void SetUp() override {
    // A copy, so that what a test sets for kvpage (a signal while it runs) never reaches the stand-in's close.
    options_ = company_.options();
    options_.time_limit = 20s;
  }

  kv::test::ProgramRun Sync() const {
    return kv::test::RunProgram(
        "kvpage", company_.SyncArgs(service_.BaseUrl(), {"--select", "employees,classes", "--start"}), options_);
  }

  // Every request the service received: its page and options letter.
  std::vector<std::string> Requests() const {
    std::vector<std::string> requests;
    for (const auto& request : service_.Received()) {
      requests.push_back(request.Page() + " " + request.QueryValue("options"));
    }
    return requests;
  }

  const kv::test::SampleCompany company_{"kv-e2e-stops"};
  kv::test::ProgramOptions options_;
  kv::test::ServiceStandinProcess service_;
};

TEST_F(SyncStopsTest, CtrlCDuringAStatusReportEndsTheRunAndNothingIsSentAfterIt) {
  service_.WriteFile("faults/brintavelupdatestatus.asp.1", "delay-ms 8000\n");
  options_.during = [this](pid_t pid) {
    // The employees' upload, then their status report, which the service holds.
    if (service_.WaitForReceived(2)) kill(pid, SIGINT);
  };
  const kv::test::ProgramRun run = Sync();

  EXPECT_FALSE(run.timed_out);
  EXPECT_EQ(run.killed_by, 0) << run.err;
  EXPECT_EQ(run.status, 4) << run.err;
  EXPECT_NE(run.out.find("[Critical]\nSync process cancelled on user request.\n"), std::string::npos) << run.out;
  EXPECT_EQ(run.out.find("successfully"), std::string::npos) << run.out;
  EXPECT_EQ(Requests(), (std::vector<std::string>{"brintavel.asp E", "brintavelupdatestatus.asp E"}));
}

TEST_F(SyncStopsTest, TheAnswerErrorEndsTheRunWithABoxThatSaysSo) {
  service_.QueueAnswers("brintavel.asp", {"Error"});
  const kv::test::ProgramRun run = Sync();

  EXPECT_FALSE(run.timed_out);
  EXPECT_EQ(run.status, 3) << run.err;
  EXPECT_EQ(run.out.rfind("[Information]\nCould not sync QB's data with Kalvor. Please try later.\n\n"
                          "[Critical]\nThe following error occured while executing ASP.\n\n"
                          "The Kalvor service answered \"Error\".\n",
                          0),
            0u)
      << run.out;
  EXPECT_EQ(run.out.find("successfully"), std::string::npos) << run.out;
  EXPECT_EQ(Requests(), (std::vector<std::string>{"brintavel.asp E"}));
}

}  // namespace
