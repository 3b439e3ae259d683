// A download that the service or QuickBooks breaks off: kvpage posts the sample time, leave and expenses into a
// copy of the sample company while the service stand-in or the QuickBooks stand-in fails in the middle. Whatever
// the failure, the run ends soon with a message that says what went wrong, the service is told the truth about
// every record it hears of, and the records reported as posted are exactly those the service confirmed, each of
// them in the company file.

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <map>
#include <ostream>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "tests/support/programs/program_run.h"
#include "tests/support/programs/sample_company.h"
#include "tests/support/service/service_standin.h"

namespace {

using namespace std::chrono_literals;

struct DownloadFault {
  const char* name;
  bool time;  // time and leave, else expenses
  // kalvordownload.asp: a fault file's text, or an answer's bytes, or a pending-time.txt of its own.
  const char* download_fault = nullptr;
  const char* download_answer = nullptr;
  const char* pending_time = nullptr;
  // kalvorupdatestatus.asp, one entry a call from the first: a fault file's text ("" none) and the service's
  // verdict ("" the usual SUCCESS).
  std::vector<std::string> status_faults = {};
  std::vector<std::string> verdicts = {};
  // Lines for "qb-standin fault".
  std::vector<std::string> qb_faults = {};
  // The terminal shows this, and "successfully posted" this many (-1: nothing is posted, the download failed).
  const char* shown = "";
  int posted = -1;
  // Those counted as not posted when not all the others (-1).
  int not_posted = -1;
};

void PrintTo(const DownloadFault& fault, std::ostream* out) {
  *out << fault.name;
}

// The date of each record's transaction, by the ids its status report carries.
const std::map<std::string, std::string> kRecordDates = {{"5001", "2006-05-08"},      {"5002", "2006-05-09"},
                                                         {"5003", "2006-05-10"},      {"6001", "2006-05-11"},
                                                         {"7101,7102", "2006-05-08"}, {"7201,7202", "2006-05-09"}};

// The start of the grid's reason for a record that is in QuickBooks while its report never reached the service.
constexpr const char* kNotTold = "Posted into QuickBooks, but the Kalvor service could not be told";

class DownloadRunTest : public ::testing::Test {
 protected:
  void SetUp() override {
    service_.WriteFile("pending-time.txt", kv::test::ReadSourceFile("samples/service/pending-time.txt"));
    service_.WriteFile("pending-expenses.txt", kv::test::ReadSourceFile("samples/service/pending-expenses.txt"));
    options_ = company_.options();
    options_.env.insert(options_.env.end(), {{"XDG_STATE_HOME", (company_.dir() / "state").string()},
                                             {"KV_WEB_CONNECT_TIMEOUT_MS", "1000"},
                                             {"KV_WEB_STALL_TIMEOUT_MS", "1000"}});
    options_.time_limit = 20s;
  }

  kv::test::ProgramRun Qb(const std::vector<std::string>& args) const {
    return kv::test::RunProgram("qb-standin", args, options_);
  }

  void Arrange(const DownloadFault& fault) const {
    if (fault.download_fault != nullptr) service_.SetFault("kalvordownload.asp", fault.download_fault);
    if (fault.download_answer != nullptr) service_.SetAnswer("kalvordownload.asp", fault.download_answer);
    if (fault.pending_time != nullptr) service_.WriteFile("pending-time.txt", fault.pending_time);
    for (size_t i = 0; i < fault.status_faults.size(); ++i) {
      const std::string& text = fault.status_faults[i];
      service_.WriteFile("faults/kalvorupdatestatus.asp." + std::to_string(i + 1), text.empty() ? "# none\n" : text);
    }
    std::vector<std::string> verdicts;
    for (const std::string& verdict : fault.verdicts) verdicts.push_back(verdict.empty() ? "SUCCESS" : verdict);
    if (!verdicts.empty()) service_.QueueAnswers("kalvorupdatestatus.asp", verdicts);
    if (!fault.qb_faults.empty()) {
      std::vector<std::string> args = {"fault"};
      args.insert(args.end(), fault.qb_faults.begin(), fault.qb_faults.end());
      ASSERT_EQ(Qb(args).status, 0);
    }
  }

  kv::test::ProgramRun Download(bool time) const {
    return kv::test::RunProgram(
        "kvpage",
        company_.DownloadArgs(service_.BaseUrl(),
                              {"--param", std::string("TsOrExpense=") + (time ? "True" : "False"), "--continue"}),
        options_);
  }

  // The dates of the transactions the run added to the company file.
  std::multiset<std::string> CompanyDates() const {
    std::multiset<std::string> dates;
    std::istringstream lines(Qb({"txns"}).out);
    for (std::string line; std::getline(lines, line);) {
      std::istringstream words(line);
      std::string kind, id, date;
      if (words >> kind >> id >> date && (kind == "TimeTracking" || kind == "Bill" || kind == "Check")) {
        dates.insert(date);
      }
    }
    return dates;
  }

  const kv::test::SampleCompany company_{"kv-e2e-download"};
  kv::test::ProgramOptions options_;
  kv::test::ServiceStandinProcess service_;
};

class DownloadFaultsTest : public DownloadRunTest, public ::testing::WithParamInterface<DownloadFault> {};

TEST_P(DownloadFaultsTest, TheRunEndsWithTheFailureAndReportsOnlyWhatTheServiceConfirmed) {
  const DownloadFault& fault = GetParam();
  Arrange(fault);
  const kv::test::ProgramRun run = Download(fault.time);

  // The run's limit lies below every default time-out: a wait that ran to a default would time the run out.
  EXPECT_FALSE(run.timed_out);
  EXPECT_EQ(run.killed_by, 0) << run.err;
  // kvpage's exit status: 3 the run failed, 5 it finished with records not posted.
  const int records = fault.time ? 4 : 2;
  EXPECT_EQ(run.status, fault.posted < 0 ? 3 : fault.posted < records ? 5 : 0) << run.err;
  EXPECT_NE(run.out.find(fault.shown), std::string::npos) << run.out;
  EXPECT_NE(run.out.find("You can close this window to return to KV Dashboard now.."), std::string::npos) << run.out;
  const std::multiset<std::string> in_company = CompanyDates();

  std::vector<kv::test::ReceivedRequest> reports;
  for (auto& request : service_.Received()) {
    if (request.Page() == "kalvorupdatestatus.asp") reports.push_back(std::move(request));
  }
  if (fault.posted < 0) {
    EXPECT_EQ(run.out.find("successfully posted"), std::string::npos) << run.out;
    EXPECT_TRUE(reports.empty());
    EXPECT_TRUE(in_company.empty());
    return;
  }

  // Each record is reported once, whatever happened to its report.
  std::set<std::string> reported;
  for (const auto& report : reports) {
    const std::string ids = report.QueryValue("TAIDs") + report.QueryValue("LAIDs") + report.QueryValue("EEIIDs");
    EXPECT_TRUE(reported.insert(ids).second) << ids << " reported twice";
  }

  // The service hears QuickBooks' answer: a success exactly for the records that are in the company file.
  std::set<std::string> confirmed;
  for (size_t k = 0; k < reports.size(); ++k) {
    const auto& report = reports[k];
    const std::string ids = report.QueryValue("TAIDs") + report.QueryValue("LAIDs") + report.QueryValue("EEIIDs");
    ASSERT_TRUE(kRecordDates.contains(ids)) << ids;
    const std::string& date = kRecordDates.at(ids);
    EXPECT_EQ(report.body.find("statusCode=\"0\"") != std::string::npos, in_company.contains(date))
        << ids << ": " << report.body;
    const bool faulted = k < fault.status_faults.size() && !fault.status_faults[k].empty();
    const bool refused = k < fault.verdicts.size() && !fault.verdicts[k].empty() && fault.verdicts[k] != "SUCCESS";
    if (!faulted && !refused) confirmed.insert(ids);
  }
  // Posted are exactly the records the service confirmed, and each of them is in the company file.
  for (const auto& ids : confirmed) EXPECT_TRUE(in_company.contains(kRecordDates.at(ids))) << ids;
  EXPECT_EQ(confirmed.size(), static_cast<size_t>(fault.posted));
  const std::string kind = fault.time ? "Time/Leave" : "Expense";
  EXPECT_NE(run.out.find(kind + " transactions successfully posted " + std::to_string(fault.posted) + "\n"),
            std::string::npos)
      << run.out;
  const int not_posted = fault.not_posted >= 0 ? fault.not_posted : records - fault.posted;
  EXPECT_NE(run.out.find("Transactions not posted " + std::to_string(not_posted) + "\n"), std::string::npos) << run.out;
}

TEST_F(DownloadRunTest, TheServiceGoingAwayMidRunLeavesTheUnreportedRecordsUnposted) {
  // The third report hangs until the service ends. Whatever reaches the service while it ends (a retry of the
  // third, the fourth) is dropped; after that nothing reaches it.
  service_.WriteFile("faults/kalvorupdatestatus.asp.1", "# none\n");
  service_.WriteFile("faults/kalvorupdatestatus.asp.2", "# none\n");
  for (const char* n : {"3", "4", "5", "6"}) {
    service_.WriteFile(std::string("faults/kalvorupdatestatus.asp.") + n, "delay-ms 60000\n");
  }
  options_.during = [this](pid_t) {
    if (service_.WaitForReceived(4)) service_.Stop();
  };
  const kv::test::ProgramRun run = Download(true);
  // The run's limit lies below every default time-out: a wait that ran to a default would time the run out.
  EXPECT_FALSE(run.timed_out);
  EXPECT_EQ(run.status, 5) << run.err;
  EXPECT_NE(run.out.find("Time/Leave transactions successfully posted 2\n"), std::string::npos) << run.out;
  EXPECT_NE(run.out.find("Transactions not posted 2\n"), std::string::npos) << run.out;
  // Both are in QuickBooks: the grid says so, or the user would post them again.
  EXPECT_NE(run.out.find("| 5/10/2006 | Time | 3 | " + std::string(kNotTold)), std::string::npos) << run.out;
  EXPECT_NE(run.out.find("| 5/11/2006 | Leave | 8 | " + std::string(kNotTold)), std::string::npos) << run.out;
  // QuickBooks took all four; the service confirmed the first two only, so the other two stay pending there.
  EXPECT_EQ(CompanyDates(), (std::multiset<std::string>{"2006-05-08", "2006-05-09", "2006-05-10", "2006-05-11"}));
  std::vector<std::string> reported;
  for (const auto& request : service_.Received()) {
    if (request.Page() == "kalvorupdatestatus.asp") reported.push_back(request.QueryValue("TAIDs"));
  }
  reported.resize(std::min<size_t>(reported.size(), 3));
  EXPECT_EQ(reported, (std::vector<std::string>{"5001", "5002", "5003"}));
}

TEST_F(DownloadRunTest, NotesInAWindowsCodePageAndAStrayByteArriveAsWritten) {
  // The first and third records are UTF-8; the second was written in windows-1252 (0x92 0x80 0x93 0x94).
  service_.WriteFile(
      "pending-time.txt",
      "TA5001\r\n05/08/2006|Dana Whitfield|Acme Widgets:Plant Expansion|Consulting|7.5|Consulting|Regular Pay|"
      "Dana\xE2\x80\x99s survey \xE2\x80\x9C"
      "phase 2\xE2\x80\x9D \xE2\x82\xAC"
      "40|True\r\n05/09/2006 10:15:00 AM\r\n"
      "TA5002\r\n05/09/2006|Marcus O'Neill|Baker's Dozen Bakery:Website Redesign|Project Management|6.25|"
      "Consulting:West Region|Regular Pay|Marcus\x92 \x93kick-off\x94 \x80"
      "12|True\r\n05/10/2006 09:02:00 AM\r\n"
      "TA5003\r\n05/10/2006|Priya Raman||Training|3|Training||Caf\xC3\xA9 course|False\r\n05/11/2006 08:30:00 AM\r\n");
  const kv::test::ProgramRun run = Download(true);
  EXPECT_EQ(run.status, 0) << run.err;
  EXPECT_NE(run.out.find("Time/Leave transactions successfully posted 3\n"), std::string::npos) << run.out;
  const std::string company = company_.Contents();
  for (const std::string notes : {"<Notes>Dana\xE2\x80\x99s survey \xE2\x80\x9Cphase 2\xE2\x80\x9D \xE2\x82\xAC"
                                  "40</Notes>",
                                  "<Notes>Marcus\xE2\x80\x99 \xE2\x80\x9Ckick-off\xE2\x80\x9D \xE2\x82\xAC"
                                  "12</Notes>",
                                  "<Notes>Caf\xC3\xA9 course</Notes>"}) {
    EXPECT_NE(company.find(notes), std::string::npos) << notes;
  }
}

// The pending time with the second record's data line cut short.
constexpr const char* kTimeWithABrokenLine =
    "TA5001\r\n05/08/2006|Dana Whitfield|Acme Widgets:Plant Expansion|Consulting|7.5|Consulting|Regular Pay|"
    "Site survey|True\r\n05/09/2006 10:15:00 AM\r\n"
    "TA5002\r\n05/09/2006|Marcus O'Neill|Baker's Dozen Bakery:Website Redesign\r\n05/10/2006 09:02:00 AM\r\n"
    "TA5003\r\n05/10/2006|Priya Raman||Training|3|Training||Internal course preparation|False\r\n"
    "05/11/2006 08:30:00 AM\r\n"
    "LA6001\r\n05/11/2006|Dana Whitfield|||8||Vacation Pay||False\r\n05/12/2006 04:45:00 PM\r\n";

// The pending time with the second record's header garbled: the records from there on cannot be told apart.
constexpr const char* kTimeWithABrokenHeader =
    "TA5001\r\n05/08/2006|Dana Whitfield|Acme Widgets:Plant Expansion|Consulting|7.5|Consulting|Regular Pay|"
    "Site survey|True\r\n05/09/2006 10:15:00 AM\r\n"
    "TA5002\n\x01garbage|||\xff|x|y\nnot a date\n"
    "TA5003\r\n05/10/2006|Priya Raman||Training|3|Training||Internal course preparation|False\r\n"
    "05/11/2006 08:30:00 AM\r\n"
    "LA6001\r\n05/11/2006|Dana Whitfield|||8||Vacation Pay||False\r\n05/12/2006 04:45:00 PM\r\n";

constexpr const char* kCouldNotContact = "Could not contact the Kalvor site due to internet problems";
constexpr const char* kNotTaken = "ERROR|3180|QuickBooks did not take the record";

INSTANTIATE_TEST_SUITE_P(
    ServiceFailsTheDownload, DownloadFaultsTest,
    ::testing::Values(
        DownloadFault{.name = "Dropped", .time = true, .download_fault = "drop", .shown = kCouldNotContact},
        DownloadFault{.name = "Http500", .time = true, .download_fault = "status 500", .shown = kCouldNotContact},
        DownloadFault{.name = "Stalled", .time = false, .download_fault = "delay-ms 6000", .shown = kCouldNotContact},
        DownloadFault{.name = "Garbage",
                      .time = true,
                      .download_answer = "<html><body>Fatal\x1b[31m error</body></html>",
                      .shown = kCouldNotContact}),
    [](const ::testing::TestParamInfo<DownloadFault>& info) { return std::string(info.param.name); });

INSTANTIATE_TEST_SUITE_P(
    ServiceFailsAReport, DownloadFaultsTest,
    ::testing::Values(
        // The service reads the report and hangs up: the report is not sent again.
        DownloadFault{.name = "Dropped",
                      .time = true,
                      .status_faults = {"", "drop"},
                      .shown = "Marcus O'Neill | Baker's Dozen Bakery:Website Redesign",
                      .posted = 3},
        DownloadFault{.name = "Http500",
                      .time = true,
                      .status_faults = {"", "status 500"},
                      .shown = "| 6.25 | Posted into QuickBooks, but the Kalvor service could not be told, so it "
                               "still lists the record as pending. Do not post it again.\nThe page cannot be "
                               "displayed\nHTTP 500 Internal Server Error\n",
                      .posted = 3},
        DownloadFault{.name = "Stalled",
                      .time = true,
                      .status_faults = {"", "delay-ms 6000"},
                      .shown = "Do not post it again.\nThe page cannot be displayed\nOperation too slow",
                      .posted = 3},
        DownloadFault{.name = "Garbage",
                      .time = false,
                      .verdicts = {"", "<html><body>\x01\xfe</body></html>"},
                      .shown = "Riverside Travel Agency",
                      .posted = 1}),
    [](const ::testing::TestParamInfo<DownloadFault>& info) { return std::string(info.param.name); });

INSTANTIATE_TEST_SUITE_P(RecordsFailOnTheWayIn, DownloadFaultsTest,
                         ::testing::Values(DownloadFault{.name = "BrokenLine",
                                                         .time = true,
                                                         .pending_time = kTimeWithABrokenLine,
                                                         .verdicts = {"", kNotTaken},
                                                         .shown = "where 9 are needed",
                                                         .posted = 3},
                                           // The run stops at the garbled header; what follows stays pending on the
                                           // service, neither posted nor listed as failed.
                                           DownloadFault{.name = "BrokenHeader",
                                                         .time = true,
                                                         .pending_time = kTimeWithABrokenHeader,
                                                         .shown = "carries no numeric id",
                                                         .posted = 1,
                                                         .not_posted = 0},
                                           DownloadFault{.name = "SessionRefused",
                                                         .time = true,
                                                         .verdicts = {"", kNotTaken},
                                                         .qb_faults = {"session ok", "session ok", "session refuse"},
                                                         .shown = "denied the application",
                                                         .posted = 3},
                                           DownloadFault{.name = "AddFailed",
                                                         .time = true,
                                                         .verdicts = {"", kNotTaken},
                                                         .qb_faults = {"add ok", "add fail"},
                                                         .shown = "QuickBooks did not take the record",
                                                         .posted = 3},
                                           DownloadFault{.name = "ExpenseAddFailed",
                                                         .time = false,
                                                         .verdicts = {"", kNotTaken},
                                                         .qb_faults = {"add ok", "add fail"},
                                                         .shown = "Riverside Travel Agency",
                                                         .posted = 1},
                                           DownloadFault{.name = "ExpenseSessionRefused",
                                                         .time = false,
                                                         .qb_faults = {"session ok", "session ok", "session refuse"},
                                                         .shown = "denied the application",
                                                         .posted = 1}),
                         [](const ::testing::TestParamInfo<DownloadFault>& info) {
                           return std::string(info.param.name);
                         });

}  // namespace
