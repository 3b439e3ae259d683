// The service's records as the stand-in keeps them: a record whose status report was accepted is no longer
// listed, across a restart too, and a report of a record that is not pending is judged as the service judges it.

#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <httplib.h>

#include <filesystem>
#include <memory>
#include <set>
#include <string>

#include "standins/service/transfers.h"
#include "tests/support/service/service_standin.h"

namespace standins::service {
namespace {

namespace fs = std::filesystem;

constexpr char kOkTime[] =
    "<QBXML><QBXMLMsgsRs><TimeTrackingAddRs requestID=\"1\" statusCode=\"0\" statusSeverity=\"Info\" "
    "statusMessage=\"Status OK\"></TimeTrackingAddRs></QBXMLMsgsRs></QBXML>";
constexpr char kRefusedTime[] =
    "<QBXML><QBXMLMsgsRs><TimeTrackingAddRs requestID=\"1\" statusCode=\"3140\" statusSeverity=\"Error\" "
    "statusMessage=\"There is an invalid reference\"></TimeTrackingAddRs></QBXMLMsgsRs></QBXML>";
constexpr char kOkBill[] =
    "<QBXML><QBXMLMsgsRs><BillAddRs requestID=\"1\" statusCode=\"0\" statusSeverity=\"Info\" "
    "statusMessage=\"Status OK\"></BillAddRs></QBXMLMsgsRs></QBXML>";

constexpr char kTime[] =
    "TA5001\r\n05/08/2006|Dana|Acme|Consulting|7.5|||n|True\r\n05/09/2006 10:15:00 AM\r\n"
    "TA5002\r\n05/09/2006|Marcus|Baker|PM|6.25|||n|True\r\n05/10/2006 09:02:00 AM\r\n"
    "LA5001\r\n05/11/2006|Dana|||8||Vacation Pay||False\r\n05/12/2006 04:45:00 PM\r\n";
constexpr char kExpenses[] =
    "EXP7001|Cascade|05/08/2006|May|True|\r\n"
    "7101|05/08/2006|Binders|Acme|42.75|c|Office|Expense|True|False|0|0\r\n"
    "7102|05/08/2006|Paper|Acme|20|0|Paper|Expense|False|True|4|5\r\n"
    "EXP7002|Riverside|05/09/2006|Travel|False|Checking\r\n"
    "7201|05/09/2006|Train|Baker|118.40||Travel|Expense|True|False|0|0\r\n";

TEST(PendingLinesTest, ATransferredTimeOrLeaveRecordLeavesItsThreeLinesOut) {
  const std::string all = kTime;
  EXPECT_EQ(PendingTimeLines(all, {}), all);
  // Time and leave ids are apart: leave 5001 is another record than time 5001.
  EXPECT_EQ(PendingTimeLines(all, {{"TA", "5001"}}),
            "TA5002\r\n05/09/2006|Marcus|Baker|PM|6.25|||n|True\r\n05/10/2006 09:02:00 AM\r\n"
            "LA5001\r\n05/11/2006|Dana|||8||Vacation Pay||False\r\n05/12/2006 04:45:00 PM\r\n");
  EXPECT_EQ(PendingTimeLines(all, {{"TA", "5001"}, {"TA", "5002"}, {"LA", "5001"}}), "");
  // Headers in any letter case, as the control counts them.
  EXPECT_EQ(PendingTimeLines("ta9\r\nd\r\nx\r\n", {{"TA", "9"}}), "");
}

TEST(PendingLinesTest, AnExpenseGoesWhenAllItsItemLinesAreTransferredAndKeepsThoseNotYet) {
  const std::string all = kExpenses;
  EXPECT_EQ(PendingExpenseLines(all, {}), all);
  EXPECT_EQ(PendingExpenseLines(all, {{"EI", "7101"}, {"EI", "7102"}}),
            "EXP7002|Riverside|05/09/2006|Travel|False|Checking\r\n"
            "7201|05/09/2006|Train|Baker|118.40||Travel|Expense|True|False|0|0\r\n");
  EXPECT_EQ(PendingExpenseLines(all, {{"EI", "7102"}}),
            "EXP7001|Cascade|05/08/2006|May|True|\r\n"
            "7101|05/08/2006|Binders|Acme|42.75|c|Office|Expense|True|False|0|0\r\n"
            "EXP7002|Riverside|05/09/2006|Travel|False|Checking\r\n"
            "7201|05/09/2006|Train|Baker|118.40||Travel|Expense|True|False|0|0\r\n");
  EXPECT_EQ(PendingExpenseLines(all, {{"EI", "7101"}, {"EI", "7102"}, {"EI", "7201"}}), "");
  // Ids of time records do not name item lines.
  EXPECT_EQ(PendingExpenseLines(all, {{"TA", "7101"}}), all);
}

TEST(PendingLinesTest, TheTransferredFileKeepsEachSiteApartAndEachRecordOnce) {
  std::string file = WithTransferred("", "ACME", {{"TA", "1"}, {"TA", "1"}, {"EI", "7"}});
  file = WithTransferred(file, "OTHER", {{"TA", "1"}});
  file = WithTransferred(file, "ACME", {{"TA", "1"}, {"LA", "2"}});
  EXPECT_EQ(file, "ACME\tTA\t1\nACME\tEI\t7\nOTHER\tTA\t1\nACME\tLA\t2\n");
  EXPECT_EQ(TransferredOf(file, "ACME"), (std::set<RecordKey>{{"TA", "1"}, {"EI", "7"}, {"LA", "2"}}));
  EXPECT_EQ(CanonicalSite("  acme "), "ACME");
  EXPECT_EQ(ReportedRecords("5001", "", " 7101, 7102 ,"),
            (std::vector<RecordKey>{{"TA", "5001"}, {"EI", "7101"}, {"EI", "7102"}}));
}

class TransferTest : public ::testing::Test {
 protected:
  void SetUp() override {
    service_ = std::make_unique<kv::test::ServiceStandinProcess>();
    service_->WriteFile("accounts.txt", "demo\tpw\tACME\tK-1\tC:\\a.QBW\tl4\tl5\n");
    service_->WriteFile("pending-time.txt", kTime);
    service_->WriteFile("pending-expenses.txt", kExpenses);
  }

  std::string Download(bool time, const std::string& site = "ACME", const std::string& key = "K-1") {
    httplib::Client client("127.0.0.1", service_->Port());
    const std::string target = "/kalvordownload.asp?sitecode=" + site + "&sitekey=" + key +
                               "&pldbtype=4&tsorexpense=" + (time ? "True" : "False") + "&fullorpartial=False";
    auto answer = client.Get(target.c_str());
    return answer ? answer->body : "(no answer)";
  }
  std::string Report(const std::string& ta, const std::string& la, const std::string& items, const std::string& body,
                     const std::string& site = "ACME", const std::string& key = "K-1") {
    httplib::Client client("127.0.0.1", service_->Port());
    const std::string type = !ta.empty() ? "TA" : !la.empty() ? "LA" : "EXP";
    const std::string target = "/kalvorupdatestatus.asp?sitecode=" + site + "&sitekey=" + key + "&TAIDs=" + ta +
                               "&LAIDs=" + la + "&EEIDs=&EEIIDs=" + items + "&TrnType=" + type +
                               "&KVRUser=demo&BillOrCheck=True";
    auto answer = client.Post(target.c_str(), body, "text/plain");
    return answer ? answer->body : "(no answer)";
  }

  std::unique_ptr<kv::test::ServiceStandinProcess> service_;
};

TEST_F(TransferTest, AnAcceptedReportTakesTheRecordOffTheDownloadAndARestartKeepsIt) {
  EXPECT_EQ(Report("5001", "", "", kOkTime), "SUCCESS");
  EXPECT_EQ(Report("", "", "7101,7102", kOkBill), "SUCCESS");
  // A report QuickBooks' answer refuses transfers nothing.
  EXPECT_THAT(Report("5002", "", "", kRefusedTime), ::testing::StartsWith("ERROR|5002|"));

  const std::string time_after = Download(true);
  EXPECT_EQ(time_after.find("TA5001"), std::string::npos) << time_after;
  EXPECT_THAT(time_after, ::testing::StartsWith("TA5002\r\n"));
  EXPECT_THAT(time_after, ::testing::HasSubstr("LA5001\r\n"));
  EXPECT_THAT(Download(false), ::testing::StartsWith("EXP7002|"));

  // The service forgets nothing when it is restarted on the same data.
  service_->Restart();
  EXPECT_EQ(Download(true, "acme"), time_after);
  EXPECT_THAT(Download(false), ::testing::StartsWith("EXP7002|"));
}

TEST_F(TransferTest, ReportsOfRecordsNotPendingAreJudgedAsTheServiceWould) {
  EXPECT_EQ(Report("5001", "", "", kOkTime), "SUCCESS");
  // Reported again after its answer was lost: still transferred, whatever QuickBooks now says of a duplicate.
  EXPECT_EQ(Report("5001", "", "", kRefusedTime), "SUCCESS");
  EXPECT_EQ(Report("5001", "", "", ""), "SUCCESS");
  // A record the site never had is not taken as posted, and takes no pending record with it.
  EXPECT_THAT(Report("9999", "", "", kOkTime), ::testing::StartsWith("ERROR|9999|"));
  EXPECT_THAT(Report("", "", "7201,8888", kOkBill), ::testing::StartsWith("ERROR|7201,8888|"));
  EXPECT_THAT(Download(false), ::testing::HasSubstr("7201|"));
  // The id is a leave record's, not a time record's.
  EXPECT_THAT(Report("", "5002", "", kOkTime), ::testing::StartsWith("ERROR|5002|"));
}

TEST_F(TransferTest, EachSiteHasItsOwnTransfersAndTheSiteCodeIsComparedAsTheServiceDoes) {
  service_->WriteFile("accounts.txt",
                      "demo\tpw\tACME\tK-1\tC:\\a.QBW\tl4\tl5\nbob\tpw\tBETA\tK-2\tC:\\b.QBW\tl4\tl5\n");
  EXPECT_EQ(Report("5001", "", "", kOkTime, "%20acme%20", "K-1"), "SUCCESS");
  EXPECT_EQ(Download(true).find("TA5001"), std::string::npos);
  EXPECT_THAT(Download(true, "BETA", "K-2"), ::testing::StartsWith("TA5001\r\n"));
  EXPECT_EQ(Download(true, "Acme", "K-1"), Download(true));
}

TEST_F(TransferTest, AReportThatFailsOnItsWayChangesNothingAndOneWhoseAnswerIsLostTransfers) {
  service_->WriteFile("faults/kalvorupdatestatus.asp.1", "status 500\n");
  service_->WriteFile("faults/kalvorupdatestatus.asp.2", "drop\n");
  service_->WriteFile("faults/kalvorupdatestatus.asp.3", "answer-lost\n");
  // The error status carries the answer the page would have given; the page did not run.
  EXPECT_EQ(Report("5001", "", "", kOkTime), "SUCCESS");
  EXPECT_EQ(Report("5002", "", "", kOkTime), "(no answer)");
  EXPECT_THAT(Download(true), ::testing::StartsWith("TA5001\r\n"));
  EXPECT_THAT(Download(true), ::testing::HasSubstr("TA5002\r\n"));
  EXPECT_EQ(Report("5002", "", "", kOkTime), "(no answer)");
  EXPECT_THAT(Download(true), ::testing::StartsWith("TA5001\r\n"));
  EXPECT_EQ(Download(true).find("TA5002"), std::string::npos);
  // A scripted answer stands in for the page: it transfers nothing.
  service_->SetAnswer("kalvorupdatestatus.asp", "SUCCESS");
  EXPECT_EQ(Report("5001", "", "", kOkTime), "SUCCESS");
  EXPECT_THAT(Download(true), ::testing::StartsWith("TA5001\r\n"));
}

TEST_F(TransferTest, RemovingTheFileMakesEveryRecordPendingAgain) {
  EXPECT_EQ(Report("5001", "", "", kOkTime), "SUCCESS");
  ASSERT_TRUE(fs::exists(service_->DataDir() / "transferred.txt"));
  service_->RemoveFile("transferred.txt");
  EXPECT_EQ(Download(true), kTime);
}

}  // namespace
}  // namespace standins::service
