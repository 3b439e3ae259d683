// A sync that the service breaks off: kvpage sends employees, customers with their jobs, and classes while the
// service stand-in fails the upload of the jobs, the second half of the customer list. Whatever the failure, the
// run ends soon with a message that says what went wrong, the lists sent whole before the failure are reported,
// and the customer list, half sent, is never reported as synced.

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <ostream>
#include <string>
#include <vector>

#include "tests/support/programs/program_run.h"
#include "tests/support/programs/sample_company.h"
#include "tests/support/service/service_standin.h"

namespace {

using namespace std::chrono_literals;

struct SyncFault {
  const char* name;
  // What the service does on the failing upload: a fault file's text, or else an answer's bytes.
  const char* fault;
  const char* answer;
  // The message tells the user this.
  const char* shown;
};

void PrintTo(const SyncFault& fault, std::ostream* out) {
  *out << fault.name;
}

// Uploads in order: employees (E), customers (P), jobs (P), classes (C).
constexpr int kJobsUpload = 3;

class SyncFaultsTest : public ::testing::TestWithParam<SyncFault> {
 protected:
  void SetUp() override {
    options_ = company_.options();
    options_.env.insert(options_.env.end(),
                        {{"KV_WEB_CONNECT_TIMEOUT_MS", "1000"}, {"KV_WEB_STALL_TIMEOUT_MS", "1000"}});
    options_.time_limit = 20s;
  }

  // The uploads before the failing one go through; the failing one fails.
  void BreakUpload(int number, const SyncFault& fault) const {
    if (fault.answer != nullptr) {
      std::vector<std::string> answers(static_cast<size_t>(number - 1), "SUCCESS");
      answers.push_back(fault.answer);
      service_.QueueAnswers("brintavel.asp", answers);
      return;
    }
    for (int i = 1; i <= number; ++i) {
      service_.WriteFile("faults/brintavel.asp." + std::to_string(i), i < number ? "# none\n" : fault.fault);
    }
  }

  kv::test::ProgramRun Sync() const {
    return kv::test::RunProgram(
        "kvpage", company_.SyncArgs(service_.BaseUrl(), {"--select", "employees,customers,classes", "--start"}),
        options_);
  }

  const kv::test::SampleCompany company_{"kv-e2e-sync"};
  kv::test::ProgramOptions options_;
  kv::test::ServiceStandinProcess service_;
};

TEST_P(SyncFaultsTest, TheRunEndsWithTheFailureAndTheHalfSentListIsNotReported) {
  const SyncFault& fault = GetParam();
  BreakUpload(kJobsUpload, fault);
  const kv::test::ProgramRun run = Sync();

  // The run's limit lies below every default time-out: a wait that ran to a default would time the run out.
  EXPECT_FALSE(run.timed_out);
  EXPECT_EQ(run.killed_by, 0) << run.err;
  EXPECT_EQ(run.status, 3) << run.err;
  EXPECT_EQ(run.out.rfind("[Critical]\nThe following error occured while executing ASP.\n\n", 0), 0u) << run.out;
  EXPECT_NE(run.out.find(fault.shown), std::string::npos) << run.out;
  EXPECT_EQ(run.out.find("successfully"), std::string::npos) << run.out;

  std::vector<std::string> uploads, reported;
  for (const auto& request : service_.Received()) {
    const std::string options = request.QueryValue("options");
    if (request.Page() == "brintavel.asp") uploads.push_back(options);
    if (request.Page() == "brintavelupdatestatus.asp") reported.push_back(options);
  }
  // The employees went whole before the failure; the customers went, the jobs failed, the classes never went.
  EXPECT_EQ(reported, std::vector<std::string>{"E"});
  // Each upload went once: a dropped one is not sent again, a moved page is not followed.
  EXPECT_EQ(uploads, (std::vector<std::string>{"E", "P", "P"}));
}

TEST_F(SyncFaultsTest, AStatusReportWhoseConnectionDropsIsSentOnce) {
  service_.WriteFile("faults/brintavelupdatestatus.asp.1", "drop\n");
  const kv::test::ProgramRun run = Sync();
  EXPECT_FALSE(run.timed_out);
  EXPECT_EQ(run.status, 0) << run.err;
  std::vector<std::string> uploads, reported;
  for (const auto& request : service_.Received()) {
    const std::string options = request.QueryValue("options");
    if (request.Page() == "brintavel.asp") uploads.push_back(options);
    if (request.Page() == "brintavelupdatestatus.asp") reported.push_back(options);
  }
  ASSERT_FALSE(reported.empty());
  EXPECT_EQ(reported[0], "E");
  EXPECT_EQ(std::count(reported.begin(), reported.end(), "E"), 1) << run.out;
  EXPECT_EQ(std::count(uploads.begin(), uploads.end(), "E"), 1) << run.out;
}

INSTANTIATE_TEST_SUITE_P(
    ServiceFaults, SyncFaultsTest,
    ::testing::Values(SyncFault{"Dropped", "drop\n", nullptr, "The page cannot be displayed"},
                      SyncFault{"Http500", "status 500\n", nullptr, "HTTP 500"},
                      SyncFault{"Redirect302", "redirect http://127.0.0.1:1/v2/brintavel.asp\n", nullptr,
                                "HTTP 302 Found\nThe page moved to "
                                "http://127.0.0.1:1/v2/brintavel.asp; the request was "
                                "not sent there."},
                      SyncFault{"Redirect307", "status 307\nredirect https://127.0.0.1:1/v2/brintavel.asp\n", nullptr,
                                "The page moved to https://127.0.0.1:1/v2/brintavel.asp"},
                      SyncFault{"Stalled", "delay-ms 6000\n", nullptr, "Operation too slow"},
                      SyncFault{"Garbage", nullptr, "<h1>Serv\x01\x1b[2Jer Error</h1>\xff",
                                "Serv^A^[[2Jer Error</h1>\xc3\xbf"},
                      SyncFault{"Truncated", nullptr, "SUCC", "SUCC"}),
    [](const ::testing::TestParamInfo<SyncFault>& info) { return std::string(info.param.name); });

}  // namespace
