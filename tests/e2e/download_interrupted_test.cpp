// A download stopped anywhere, then run again: kvpage posts the sample time and leave into a copy of the sample
// company and is killed (kill -9) in the middle, or its status reports get no verdict; the next download leaves
// every record in the company file exactly once and reported to the service. The service stand-in does not take
// a reported record off its pending list by itself, so the test plays that part: a record whose report the
// service accepted is not listed again.

#include <gtest/gtest.h>
#include <signal.h>

#include <chrono>
#include <filesystem>
#include <map>
#include <random>
#include <set>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "tests/support/event_wait.h"
#include "tests/support/programs/program_run.h"
#include "tests/support/programs/sample_company.h"
#include "tests/support/service/service_standin.h"

namespace {

using namespace std::chrono_literals;

// The sample's records: their status report ids and the dates of their transactions.
const std::map<std::string, std::string> kRecordDates = {
    {"5001", "2006-05-08"}, {"5002", "2006-05-09"}, {"5003", "2006-05-10"}, {"6001", "2006-05-11"}};

// Waits for something a program does (a file appears or goes); false when it does not happen within the hang
// guard.
template <typename Condition>
bool WaitFor(Condition condition, std::chrono::milliseconds limit = kv::test::kEventWait) {
  const auto end = std::chrono::steady_clock::now() + limit;
  while (!condition()) {
    if (std::chrono::steady_clock::now() > end) return false;
    std::this_thread::sleep_for(5ms);
  }
  return true;
}

class DownloadInterruptedTest : public ::testing::Test {
 protected:
  void SetUp() override {
    pending_ = kv::test::ReadSourceFile("samples/service/pending-time.txt");
    service_.WriteFile("pending-time.txt", pending_);
    options_ = company_.options();
    options_.env.emplace_back("XDG_STATE_HOME", (company_.dir() / "state").string());
    options_.env.emplace_back("KV_WEB_CONNECT_TIMEOUT_MS", "1000");
    options_.env.emplace_back("KV_WEB_STALL_TIMEOUT_MS", "1000");
    options_.time_limit = 20s;
  }

  kv::test::ProgramRun Download(const kv::test::ProgramOptions& options) const {
    return kv::test::RunProgram(
        "kvpage", company_.DownloadArgs(service_.BaseUrl(), {"--param", "TsOrExpense=True", "--continue"}), options);
  }

  void QbFaults(const std::vector<std::string>& lines) const {
    std::vector<std::string> args = {"fault"};
    args.insert(args.end(), lines.begin(), lines.end());
    kv::test::RunProgram("qb-standin", args, options_);
  }

  std::filesystem::path HeldMarker() const { return company_.dir() / "qb" / "add-held"; }

  // How many transactions of each date the company file holds.
  std::map<std::string, int> CompanyDates() const {
    std::map<std::string, int> dates;
    std::istringstream lines(kv::test::RunProgram("qb-standin", {"txns"}, options_).out);
    for (std::string line; std::getline(lines, line);) {
      std::istringstream words(line);
      std::string kind, id, date;
      if (words >> kind >> id >> date && kind == "TimeTracking") ++dates[date];
    }
    return dates;
  }

  // The service's part: reports that arrived whole and were not failed on purpose are accepted when QuickBooks'
  // answer in them says the record was added; accepted records are no longer pending.
  void SettleService() {
    const auto received = service_.Received();
    size_t report = 0;
    for (const auto& request : received) {
      if (request.Page() != "kalvorupdatestatus.asp") continue;
      ++report;
      if (failed_reports_.contains(report) || request.body.find("statusCode=\"0\"") == std::string::npos) continue;
      const std::string id = request.QueryValue("TAIDs") + request.QueryValue("LAIDs");
      accepted_.insert(id);
    }
    std::string pending;
    std::istringstream lines(pending_);
    std::vector<std::string> all;
    for (std::string line; std::getline(lines, line);) all.push_back(line + "\n");
    for (size_t i = 0; i + 2 < all.size(); i += 3) {
      const std::string id = all[i].substr(2, all[i].find_first_of("\r\n") - 2);
      if (!accepted_.contains(id)) pending += all[i] + all[i + 1] + all[i + 2];
    }
    service_.WriteFile("pending-time.txt", pending);
    reports_seen_ = report;
  }

  // After the interrupted run: the next one, then every record once in the company file and reported.
  void ExpectTheNextRunCompletes() {
    SettleService();
    const kv::test::ProgramRun next = Download(options_);
    EXPECT_FALSE(next.timed_out);
    SettleService();
    EXPECT_EQ(CompanyDates(),
              (std::map<std::string, int>{{"2006-05-08", 1}, {"2006-05-09", 1}, {"2006-05-10", 1}, {"2006-05-11", 1}}))
        << next.out << next.err;
    std::set<std::string> all;
    for (const auto& [id, date] : kRecordDates) all.insert(id);
    EXPECT_EQ(accepted_, all) << next.out;
  }

  kv::test::SampleCompany company_{"kv-e2e-stop"};
  kv::test::ProgramOptions options_;
  kv::test::ServiceStandinProcess service_;
  std::string pending_;
  std::set<size_t> failed_reports_;
  std::set<std::string> accepted_;
  size_t reports_seen_ = 0;
};

// Killed while QuickBooks processes the k-th add; QuickBooks finishes it, as it does a request it has received.
class KilledDuringAnAdd : public DownloadInterruptedTest, public ::testing::WithParamInterface<int> {};

TEST_P(KilledDuringAnAdd, TheNextRunReportsTheAddInsteadOfRepeatingIt) {
  const int k = GetParam();
  std::vector<std::string> faults(static_cast<size_t>(k - 1), "add ok");
  faults.push_back("add hold");
  QbFaults(faults);
  kv::test::ProgramOptions killed = options_;
  killed.during = [this](pid_t pid) {
    if (!WaitFor([this] { return std::filesystem::exists(HeldMarker()); })) return;
    kill(pid, SIGKILL);
  };
  const kv::test::ProgramRun run = Download(killed);
  ASSERT_EQ(run.killed_by, SIGKILL) << run.out << run.err;
  std::filesystem::remove(HeldMarker());

  ExpectTheNextRunCompletes();
}

INSTANTIATE_TEST_SUITE_P(FirstSecondAndLastRecord, KilledDuringAnAdd, ::testing::Values(1, 2, 4));

TEST_F(DownloadInterruptedTest, KilledAfterAnAddReachedTheCompanyFileBeforeItsReport) {
  // The second record's report is held by the service, which never finishes it.
  // Fault files are taken one per request, in the order of their numbers.
  service_.WriteFile("faults/kalvorupdatestatus.asp.1", "# none\n");
  service_.WriteFile("faults/kalvorupdatestatus.asp.2", "delay-ms 10000\n");
  failed_reports_.insert(2);
  kv::test::ProgramOptions killed = options_;
  killed.during = [this](pid_t pid) {
    // The download and two reports.
    if (!service_.WaitForReceived(3)) return;
    kill(pid, SIGKILL);
  };
  const kv::test::ProgramRun run = Download(killed);
  ASSERT_EQ(run.killed_by, SIGKILL) << run.out << run.err;
  EXPECT_EQ(CompanyDates().size(), 2u);
  service_.RemoveFile("faults/kalvorupdatestatus.asp.2");

  ExpectTheNextRunCompletes();
}

TEST_F(DownloadInterruptedTest, KilledAtRandomMoments) {
  std::mt19937 random(std::random_device{}());
  for (int round = 0; round < 2; ++round) {
    // After the download or one of the reports, whatever the page is doing then.
    const size_t requests = service_.ReceivedCount() + std::uniform_int_distribution<size_t>(1, 4)(random);
    kv::test::ProgramOptions killed = options_;
    killed.during = [this, requests](pid_t pid) {
      if (service_.WaitForReceived(requests)) kill(pid, SIGKILL);
    };
    SCOPED_TRACE("killed after request " + std::to_string(requests));
    Download(killed);
    SettleService();
  }
  ExpectTheNextRunCompletes();
}

TEST_F(DownloadInterruptedTest, AReportDroppedAndOneAnsweredWithAnErrorPageAreMadeGoodByTheNextRun) {
  service_.WriteFile("faults/kalvorupdatestatus.asp.1", "drop\n");
  service_.WriteFile("faults/kalvorupdatestatus.asp.2", "# none\n");
  service_.WriteFile("faults/kalvorupdatestatus.asp.3", "status 500\n");
  failed_reports_ = {1, 3};
  const kv::test::ProgramRun first = Download(options_);
  EXPECT_FALSE(first.timed_out);
  EXPECT_NE(first.out.find("Time/Leave transactions successfully posted 2\n"), std::string::npos) << first.out;
  EXPECT_EQ(CompanyDates().size(), 4u);
  ExpectTheNextRunCompletes();
  // The next run only reported the two records.
  EXPECT_EQ(reports_seen_, 6u);
}

}  // namespace
