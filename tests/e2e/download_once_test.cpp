// Nothing is posted into QuickBooks twice: kvpage downloads the sample time or expenses into a copy of the sample
// company while a second page of the same site and company file starts, or while an expense comes without the ids
// its status report needs. Each record ends up in the company file at most once, and what was not posted says why.

#include <gtest/gtest.h>

#include <chrono>
#include <map>
#include <sstream>
#include <string>
#include <vector>

#include "tests/support/programs/program_run.h"
#include "tests/support/programs/sample_company.h"
#include "tests/support/service/service_standin.h"

namespace {

using namespace std::chrono_literals;

class DownloadOnceTest : public ::testing::Test {
 protected:
  void SetUp() override {
    service_.WriteFile("pending-time.txt", kv::test::ReadSourceFile("samples/service/pending-time.txt"));
    options_ = company_.options();
    options_.env.emplace_back("XDG_STATE_HOME", (company_.dir() / "state").string());
    options_.time_limit = 20s;
  }

  kv::test::ProgramRun Download(bool time, const kv::test::ProgramOptions& options) const {
    return kv::test::RunProgram(
        "kvpage",
        company_.DownloadArgs(service_.BaseUrl(),
                              {"--param", std::string("TsOrExpense=") + (time ? "True" : "False"), "--continue"}),
        options);
  }

  // How many transactions of each date the company file holds.
  std::map<std::string, int> CompanyDates() const {
    std::map<std::string, int> dates;
    std::istringstream lines(kv::test::RunProgram("qb-standin", {"txns"}, options_).out);
    for (std::string line; std::getline(lines, line);) {
      std::istringstream words(line);
      std::string kind, id, date;
      if (words >> kind >> id >> date && (kind == "TimeTracking" || kind == "Bill" || kind == "Check")) ++dates[date];
    }
    return dates;
  }

  // The requests of one page the service received.
  std::vector<kv::test::ReceivedRequest> Received(const std::string& page) const {
    std::vector<kv::test::ReceivedRequest> requests;
    for (auto& request : service_.Received()) {
      if (request.Page() == page) requests.push_back(std::move(request));
    }
    return requests;
  }

  const kv::test::SampleCompany company_{"kv-e2e-once"};
  kv::test::ProgramOptions options_;
  kv::test::ServiceStandinProcess service_;
};

TEST_F(DownloadOnceTest, ASecondDownloadWhileOneRunsIsRefusedAndEveryRecordIsPostedOnce) {
  // The first run's first report waits, so that the second page starts while the first is posting.
  service_.WriteFile("faults/kalvorupdatestatus.asp.1", "delay-ms 4000\n");
  kv::test::ProgramRun second;
  kv::test::ProgramOptions first_options = options_;
  // Each page sees other folders in its environment; the guard is the company file's all the same.
  kv::test::ProgramOptions second_options = options_;
  first_options.env.emplace_back("XDG_RUNTIME_DIR", (company_.dir() / "run-a").string());
  first_options.env.emplace_back("KV_RUN_LOCK_DIR", (company_.dir() / "locks-a").string());
  second_options.env.emplace_back("XDG_RUNTIME_DIR", (company_.dir() / "run-b").string());
  second_options.env.emplace_back("KV_RUN_LOCK_DIR", (company_.dir() / "locks-b").string());
  first_options.during = [this, &second, &second_options](pid_t) {
    // The download, then the first report, which the service holds.
    if (!service_.WaitForReceived(2)) return;
    second = Download(true, second_options);
  };
  const kv::test::ProgramRun first = Download(true, first_options);

  EXPECT_FALSE(first.timed_out);
  EXPECT_EQ(first.status, 0) << first.err;
  EXPECT_NE(first.out.find("Time/Leave transactions successfully posted 4\n"), std::string::npos) << first.out;
  EXPECT_EQ(second.status, 3) << second.out << second.err;
  EXPECT_NE(
      second.out.find("Another download into the company file '" + company_.file() + "' is running on this computer."),
      std::string::npos)
      << second.out;
  EXPECT_EQ(second.out.find("successfully posted"), std::string::npos) << second.out;

  // The second page downloaded nothing, and each record went into QuickBooks and was reported once.
  EXPECT_EQ(Received("kalvordownload.asp").size(), 1u);
  EXPECT_EQ(Received("kalvorupdatestatus.asp").size(), 4u);
  EXPECT_EQ(CompanyDates(),
            (std::map<std::string, int>{{"2006-05-08", 1}, {"2006-05-09", 1}, {"2006-05-10", 1}, {"2006-05-11", 1}}));

  // With the first run over, the next page downloads and posts again: the service, its transfers forgotten, lists
  // the records once more.
  service_.RemoveFile("transferred.txt");
  const kv::test::ProgramRun third = Download(true, options_);
  EXPECT_EQ(third.status, 0) << third.err;
  EXPECT_NE(third.out.find("Time/Leave transactions successfully posted 4\n"), std::string::npos) << third.out;
}

TEST_F(DownloadOnceTest, AnExpenseWhoseLinesCarryNoIdsIsNotPostedAndTheGridSaysWhy) {
  service_.WriteFile(
      "pending-expenses.txt",
      "EXP7001|Cascade Office Supply|05/08/2006|May office supplies|True|\r\n"
      "|05/08/2006|Binders and folders|Acme Widgets:Plant Expansion|42.75|Consulting|Office Supplies|Expense|True|"
      "False|0|0\r\n"
      "EXP7002|Riverside Travel Agency|05/09/2006|Client visit travel|False|Checking\r\n"
      "7201|05/09/2006|Train tickets|Baker's Dozen Bakery|118.40||Travel Expense|Expense|True|False|0|0\r\n");
  const kv::test::ProgramRun run = Download(false, options_);

  EXPECT_FALSE(run.timed_out);
  EXPECT_EQ(run.status, 5) << run.err;
  EXPECT_NE(run.out.find("Expense transactions successfully posted 1\n"), std::string::npos) << run.out;
  EXPECT_NE(run.out.find("Transactions not posted 1\n"), std::string::npos) << run.out;
  EXPECT_NE(run.out.find("Cascade Office Supply"), std::string::npos) << run.out;
  EXPECT_NE(run.out.find("carries no id, so the Kalvor service could not be told that it was posted"),
            std::string::npos)
      << run.out;
  // Only the check went into QuickBooks, and only it was reported.
  EXPECT_EQ(CompanyDates(), (std::map<std::string, int>{{"2006-05-09", 1}}));
  const auto reports = Received("kalvorupdatestatus.asp");
  ASSERT_EQ(reports.size(), 1u);
  EXPECT_EQ(reports[0].QueryValue("EEIIDs"), "7201");
}

}  // namespace
