// End to end: kvpage hosts the download control against the QuickBooks stand-in (a copy of the sample company)
// and the service stand-in (the sample pending lines); the records land in the company file and are reported.

#include <gtest/gtest.h>
#include <signal.h>
#include <stdlib.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>

#include "tests/support/programs/program_run.h"
#include "tests/support/service/service_standin.h"

namespace {

namespace fs = std::filesystem;

std::string ReadWhole(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream out;
  out << in.rdbuf();
  return out.str();
}

class KvpageTessarineTest : public ::testing::Test {
 protected:
  KvpageTessarineTest() {
    const char* tmp = std::getenv("TMPDIR");
    std::string pattern = std::string(tmp != nullptr && *tmp != '\0' ? tmp : "/tmp") + "/kv-kvpage-XXXXXX";
    dir_ = mkdtemp(pattern.data());
    fs::create_directories(dir_ / "qbhome");
    qb_home_.env = {{"QB_STANDIN_HOME", (dir_ / "qbhome").string()}, {"XDG_STATE_HOME", (dir_ / "state").string()}};
    const fs::path source = std::getenv("KV_SOURCE_DIR") ? std::getenv("KV_SOURCE_DIR") : KV_SOURCE_DIR_FALLBACK;
    fs::copy_file(source / "samples/company.xml", company());
    service_.WriteFile("pending-time.txt", ReadWhole(source / "samples/service/pending-time.txt"));
    service_.WriteFile("pending-expenses.txt", ReadWhole(source / "samples/service/pending-expenses.txt"));
    EXPECT_EQ(Run("qb-standin", {"open", company().string()}).status, 0);
  }
  ~KvpageTessarineTest() override {
    std::error_code ec;
    fs::remove_all(dir_, ec);
  }

  struct Result {
    int status = -1;
    std::string out;  // standard output, then standard error
  };

  fs::path company() const { return dir_ / "company.xml"; }

  // Runs a program of the build with the QuickBooks stand-in's state in this test's directory.
  Result Run(const std::string& name, const std::vector<std::string>& args) const { return Run(name, args, qb_home_); }
  static Result Run(const std::string& name, const std::vector<std::string>& args,
                    const kv::test::ProgramOptions& options) {
    const kv::test::ProgramRun run = kv::test::RunProgram(name, args, options);
    return {run.status, run.out + run.err};
  }

  std::vector<std::string> KvpageArgs(const std::string& mode, bool with_user = true,
                                      const fs::path& company_file = {}) const {
    std::vector<std::string> args{"--control", "tessarine",    "--param", "KVSecureServerURL=" + service_.BaseUrl(),
                                  "--param",   "SiteCode=HLC", "--param", "SiteKey=K-42"};
    if (with_user) args.insert(args.end(), {"--param", "KalvorUser=dana"});
    const fs::path named = company_file.empty() ? company() : company_file;
    args.insert(args.end(), {"--param", "QBFilePath=" + named.string(), "--param", "TsOrExpense=" + mode});
    return args;
  }

  Result Kvpage(const std::string& mode, const std::string& extra = "--continue",
                const fs::path& company_file = {}) const {
    std::vector<std::string> args = KvpageArgs(mode, true, company_file);
    if (!extra.empty()) args.push_back(extra);
    return Run("kvpage", args);
  }

  size_t StatusReports() const {
    size_t reports = 0;
    for (const auto& request : service_.Received()) reports += request.Page() == "kalvorupdatestatus.asp" ? 1 : 0;
    return reports;
  }

  // Runs kvpage and sends it Ctrl-C once `requests` requests have reached the service.
  Result KvpageInterrupted(const std::string& mode, size_t requests) const {
    std::vector<std::string> args = KvpageArgs(mode, false);
    args.push_back("--continue");
    kv::test::ProgramOptions options = qb_home_;
    options.during = [this, requests](pid_t pid) {
      if (service_.WaitForReceived(requests)) kill(pid, SIGINT);
    };
    return Run("kvpage", args, options);
  }

  fs::path dir_;
  kv::test::ProgramOptions qb_home_;
  kv::test::ServiceStandinProcess service_;
};

TEST_F(KvpageTessarineTest, TimeAndLeaveReachTheCompanyFileAndAreReported) {
  const Result run = Kvpage("True");
  EXPECT_EQ(run.status, 0) << run.out;
  EXPECT_NE(run.out.find("4 time/leave activity rows to be downloaded.."), std::string::npos) << run.out;
  EXPECT_NE(run.out.find("Number of Time/Leave transactions selected for Post : 4"), std::string::npos) << run.out;
  EXPECT_NE(run.out.find("Time/Leave transactions successfully posted 4"), std::string::npos) << run.out;
  EXPECT_NE(run.out.find("You can close this window to return to KV Dashboard now.."), std::string::npos);

  const Result query = Run("qb-standin", {"query", "TimeTracking"});
  EXPECT_NE(query.out.find("<TxnDate>2006-05-09</TxnDate>"), std::string::npos);
  EXPECT_NE(query.out.find("Baker's Dozen Bakery:Website Redesign"), std::string::npos) << query.out;
  EXPECT_NE(query.out.find("<Notes>Site survey&#10;Report drafted</Notes>"), std::string::npos);
  EXPECT_NE(query.out.find("<Duration>PT6H15M</Duration>"), std::string::npos);
  EXPECT_NE(query.out.find("<FullName>Vacation Pay</FullName>"), std::string::npos);

  std::vector<std::string> reported;
  for (const auto& request : service_.Received()) {
    if (request.Page() != "kalvorupdatestatus.asp") continue;
    reported.push_back(request.QueryValue("TrnType") + request.QueryValue("TAIDs") + request.QueryValue("LAIDs"));
    EXPECT_NE(request.body.find("statusCode=\"0\""), std::string::npos) << request.body;
  }
  EXPECT_EQ(reported, (std::vector<std::string>{"TA5001", "TA5002", "TA5003", "LA6001"}));
}

TEST_F(KvpageTessarineTest, ExpensesBecomeABillAndACheck) {
  const Result run = Kvpage("False");
  EXPECT_EQ(run.status, 0) << run.out;
  EXPECT_NE(run.out.find("Expense transactions successfully posted 2"), std::string::npos) << run.out;
  const Result bills = Run("qb-standin", {"query", "Bill", "--lines"});
  EXPECT_NE(bills.out.find("<TxnDate>2006-05-08</TxnDate>"), std::string::npos) << bills.out;
  EXPECT_NE(bills.out.find("Binders and folders for the plant office"), std::string::npos);
  const Result checks = Run("qb-standin", {"query", "Check", "--lines"});
  EXPECT_NE(checks.out.find("Lunch with the client"), std::string::npos) << checks.out;
  std::vector<std::string> reported;
  for (const auto& request : service_.Received()) {
    if (request.Page() == "kalvorupdatestatus.asp") {
      reported.push_back(request.QueryValue("EEIIDs") + "/" + request.QueryValue("BillOrCheck"));
    }
  }
  EXPECT_EQ(reported, (std::vector<std::string>{"7101,7102/True", "7201,7202/False"}));
}

TEST_F(KvpageTessarineTest, ABillWhoseItemLineComesFirstIsPostedWithBothLines) {
  service_.WriteFile("pending-expenses.txt",
                     "EXP7301|Cascade Office Supply|05/08/2006|Item line first|True|\r\n"
                     "7302|05/08/2006|Printer paper|Acme Widgets|20|0|Printer Paper|Expense|False|True|4|5\r\n"
                     "7301|05/08/2006|Binders|Acme Widgets:Plant Expansion|42.75|Consulting|Office Supplies|Expense|"
                     "True|False|0|0\r\n");
  const Result run = Kvpage("False");
  EXPECT_EQ(run.status, 0) << run.out;
  EXPECT_NE(run.out.find("Expense transactions successfully posted 1"), std::string::npos) << run.out;
  const Result bills = Run("qb-standin", {"query", "Bill", "--lines"});
  const size_t bill = bills.out.find("<Memo>Item line first</Memo>");
  ASSERT_NE(bill, std::string::npos) << bills.out;
  const std::string posted = bills.out.substr(bill, bills.out.find("</BillRet>", bill) - bill);
  EXPECT_NE(posted.find("<ExpenseLineRet>"), std::string::npos) << posted;
  EXPECT_NE(posted.find("<Memo>Binders</Memo>"), std::string::npos) << posted;
  EXPECT_NE(posted.find("<ItemLineRet>"), std::string::npos) << posted;
  EXPECT_NE(posted.find("<Desc>Printer paper</Desc>"), std::string::npos) << posted;
  std::vector<std::string> reported;
  for (const auto& request : service_.Received()) {
    if (request.Page() != "kalvorupdatestatus.asp") continue;
    reported.push_back(request.QueryValue("EEIIDs"));
    EXPECT_NE(request.body.find("statusCode=\"0\""), std::string::npos) << request.body;
  }
  EXPECT_EQ(reported, std::vector<std::string>{"7302,7301"});
}

TEST_F(KvpageTessarineTest, TimeWithoutCustomerAndServiceItemIsPosted) {
  service_.WriteFile("pending-time.txt",
                     "TA5101\r\n05/10/2006|Priya Raman|||2|||Internal meeting|False\r\n05/11/2006 08:30:00 AM\r\n");
  const Result run = Kvpage("True");
  EXPECT_EQ(run.status, 0) << run.out;
  EXPECT_NE(run.out.find("Time/Leave transactions successfully posted 1"), std::string::npos) << run.out;
  const Result query = Run("qb-standin", {"query", "TimeTracking"});
  const size_t entry = query.out.find("<Notes>Internal meeting</Notes>");
  ASSERT_NE(entry, std::string::npos) << query.out;
  const size_t start = query.out.rfind("<TimeTrackingRet>", entry);
  const std::string posted = query.out.substr(start, query.out.find("</TimeTrackingRet>", entry) - start);
  EXPECT_EQ(posted.find("<ItemServiceRef>"), std::string::npos) << posted;
  EXPECT_EQ(posted.find("<CustomerRef>"), std::string::npos) << posted;
}

TEST_F(KvpageTessarineTest, RecordsTheCompanyRejectsAreListedWithTheServicesReason) {
  service_.QueueAnswers("kalvorupdatestatus.asp", {"SUCCESS", "ERROR|4|Employee not set up in QuickBooks"});
  const Result run = Kvpage("True");
  EXPECT_EQ(run.status, 5) << run.out;
  EXPECT_NE(run.out.find("Transactions not posted 1"), std::string::npos) << run.out;
  EXPECT_NE(run.out.find("Marcus O'Neill | Baker's Dozen Bakery:Website Redesign | Project Management | 5/9/2006 | "
                         "Time | 6.25 | Employee not set up in QuickBooks"),
            std::string::npos)
      << run.out;
}

TEST_F(KvpageTessarineTest, CtrlCPressesCancelAndTheRunStopsAfterTheCurrentRecord) {
  // The first status report waits on the service; Ctrl-C arrives while it waits.
  service_.SetFault("kalvorupdatestatus.asp", "delay-ms 1500");
  const Result run = KvpageInterrupted("True", 2);
  EXPECT_EQ(run.status, 4) << run.out;
  EXPECT_NE(run.out.find("Cancel pressed"), std::string::npos) << run.out;
  // The record under way is finished and reported; no further one is posted, no results are shown and the page
  // stays open.
  size_t reports = 0;
  for (const auto& request : service_.Received()) reports += request.Page() == "kalvorupdatestatus.asp" ? 1 : 0;
  EXPECT_EQ(reports, 1u);
  EXPECT_EQ(run.out.find("Number of Time/Leave transactions selected for Post"), std::string::npos) << run.out;
  EXPECT_EQ(run.out.find("You can close this window to return to KV Dashboard now.."), std::string::npos);
  const Result query = Run("qb-standin", {"query", "TimeTracking"});
  EXPECT_NE(query.out.find("<TxnDate>2006-05-08</TxnDate>"), std::string::npos) << query.out;
  EXPECT_EQ(query.out.find("<TxnDate>2006-05-09</TxnDate>"), std::string::npos) << query.out;
}

TEST_F(KvpageTessarineTest, WithoutContinueTheCountIsShownAndNothingIsPosted) {
  const Result run = Kvpage("True", "");
  EXPECT_EQ(run.status, 0);
  EXPECT_NE(run.out.find("4 time/leave activity rows to be downloaded.."), std::string::npos) << run.out;
  EXPECT_EQ(run.out.find("Results"), std::string::npos);
  EXPECT_EQ(service_.ReceivedCount(), 1u);
}

// With Books.xml open and books.xml beside it, a page naming books.xml names another company file.
TEST_F(KvpageTessarineTest, APageNamingAnotherFileThanTheOpenOnePostsNothing) {
  const fs::path open = dir_ / "Books.xml";
  const fs::path named = dir_ / "books.xml";
  fs::copy_file(company(), open);
  fs::copy_file(company(), named);
  ASSERT_EQ(Run("qb-standin", {"open", open.string()}).status, 0);
  const std::string before = ReadWhole(open);

  const Result run = Kvpage("True", "--continue", named);
  EXPECT_NE(run.out.find("[Critical]\nYour Current Quickbooks file '" + open.string() +
                         "' does not match with the QB file you are using with Kalvor '" + named.string() +
                         "'. \nPlease open the correct Quickbooks file and try again."),
            std::string::npos)
      << run.out;
  EXPECT_EQ(run.out.find("successfully posted"), std::string::npos) << run.out;
  EXPECT_EQ(StatusReports(), 0u);
  EXPECT_EQ(ReadWhole(open), before);
  EXPECT_EQ(ReadWhole(named), ReadWhole(company()));
}

TEST_F(KvpageTessarineTest, APageNamingALinkToTheOpenFilePostsIntoIt) {
  const fs::path link = dir_ / "linked company.xml";
  fs::create_symlink(company(), link);
  const Result run = Kvpage("True", "--continue", link);
  EXPECT_EQ(run.status, 0) << run.out;
  EXPECT_NE(run.out.find("Time/Leave transactions successfully posted 4"), std::string::npos) << run.out;
  EXPECT_EQ(StatusReports(), 4u);
  const Result query = Run("qb-standin", {"query", "TimeTracking"});
  EXPECT_NE(query.out.find("<TxnDate>2006-05-09</TxnDate>"), std::string::npos) << query.out;
}

TEST_F(KvpageTessarineTest, TheServicePageGivesTheParameters) {
  service_.WriteFile("page-params.txt", "KalvorUser=dana\nQBFilePath=" + company().string() + "\n");
  const Result run = Run("kvpage", {"--control", "tessarine", "--page",
                                    service_.BaseUrl() + "exppenddownlist.asp?sitecode=HLC&siteid=K-42", "--continue"});
  EXPECT_EQ(run.status, 0) << run.out;
  EXPECT_NE(run.out.find("Expense transactions successfully posted 2"), std::string::npos) << run.out;
}

}  // namespace
