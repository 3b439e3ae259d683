// The posting loop: Continue posts every record into QuickBooks, reports it, counts the service's verdict and ends
// with the results form and the closing view; its preconditions, Cancel between records and its failures.

#include <chrono>
#include <cstdlib>

#include "control_fixture.h"
#include "download_control/results_form.h"
#include "platform/forms/event_loop.h"
#include "platform/qb/qb_errors.h"

namespace tessarine::test {
namespace {

using platform::forms::Form;
using platform::forms::vbCritical;
using platform::forms::vbInformation;
using platform::forms::vbOKOnly;

TEST_F(PostingTest, TimeRunPostsReportsAndCountsEveryRecord) {
  service.WriteFile("pending-time.txt", kTimeLines);
  KVRDowloadctl& c = Site(Params(true));
  ResultsSeen seen;
  ExpectResults(ui, seen);
  c.cmdStartDownload.Click();

  ASSERT_EQ(qb.requests.size(), 4u);
  EXPECT_NE(qb.requests[0].find("<EntityRef>\r\n<FullName>Ann Lee</FullName>"), std::string::npos);
  EXPECT_NE(qb.requests[0].find("<!DOCTYPE QBXML PUBLIC '-//INTUIT//DTD QBXML QBD 2.0//EN'>"), std::string::npos);
  EXPECT_NE(qb.requests[2].find("<IsBillable>0</IsBillable>"), std::string::npos);  // no customer
  EXPECT_EQ(qb.requests[3].find("<ItemServiceRef>"), std::string::npos);            // leave
  // Each record on its own connection and session, and nothing left open.
  EXPECT_EQ(qb.processorsCreated, 5);
  EXPECT_EQ(qb.OpenSessions(), 0);
  EXPECT_EQ(qb.OpenConnections(), 0);

  const auto reports = Reports();
  ASSERT_EQ(reports.size(), 4u);
  const std::vector<std::pair<std::string, std::string>> query = {
      {"sitecode", "ACME"}, {"sitekey", "K&Y 1"}, {"TAIDs", "101"},   {"LAIDs", ""},           {"EEIDs", ""},
      {"EEIIDs", ""},       {"TrnType", "TA"},    {"KVRUser", "ann"}, {"BillOrCheck", "False"}};
  EXPECT_EQ(reports[0].method, "POST");
  EXPECT_EQ(reports[0].Query(), query);
  EXPECT_EQ(reports[0].body, AddResponse("TimeTracking"));
  EXPECT_EQ(reports[0].Header("Content-Type"), "text/plain");
  EXPECT_EQ(reports[1].QueryValue("TAIDs"), "102");
  EXPECT_EQ(reports[3].QueryValue("LAIDs"), "201");
  EXPECT_EQ(reports[3].QueryValue("TAIDs"), "");
  EXPECT_EQ(reports[3].QueryValue("TrnType"), "LA");

  EXPECT_EQ(seen.total, "4");
  EXPECT_EQ(seen.success, "4");
  EXPECT_EQ(seen.failure, "0");
  EXPECT_TRUE(seen.rows.empty());
  EXPECT_TRUE(c.Closed());
  EXPECT_EQ(c.lblGather.Caption(), kCollectingText);
  EXPECT_FALSE(c.lblTransfer2.Visible());
  EXPECT_FALSE(c.Timer1.Running());
  EXPECT_EQ(c.ProgressBar1.Value(), 0);
  EXPECT_EQ(Module().varTARecordCount, 0);
  EXPECT_EQ(c.Results(), nullptr);
}

TEST_F(PostingTest, TheDocumentHeaderFollowsTheOpenQuickBooksVersion) {
  service.WriteFile("pending-time.txt", "TA1\r\n4/3/2006|Ann|Acme|C|1|||n|True\r\nx\r\n");
  qb.versions = std::vector<std::string>{"1.0", "UK2.0"};
  KVRDowloadctl& c = Site(Params(true));
  ResultsSeen seen;
  ExpectResults(ui, seen);
  c.cmdStartDownload.Click();
  ASSERT_EQ(qb.requests.size(), 1u);
  EXPECT_EQ(qb.requests[0].rfind("<?xml version=\"1.0\" ?><?qbxml version=\"UK2.0\"?><QBXML>\r\n", 0), 0u);
  // A public builder reports its own failure: here the current expense has no date.
  c.CreateBillAddRq();
  EXPECT_TRUE(c.QBError());
  EXPECT_EQ(c.QBErrorText(), "The date '' cannot be read; dates are M/D/YYYY or YYYY-MM-DD.");
}

TEST_F(PostingTest, AnOlderQuickBooksGetsTheOlderHeaderAndNoBillableStatus) {
  service.WriteFile("pending-expenses.txt",
                    "EXP1|Vendor A|5/2/2006|Trip|True|\r\n"
                    "10|5/1/2006|Taxi|Acme|25||Travel|Expense|True|False||\r\n");
  qb.versions = std::vector<std::string>{"1.0", "1.1"};
  KVRDowloadctl& c = Site(Params(false));
  ResultsSeen seen;
  ExpectResults(ui, seen);
  c.cmdStartDownload.Click();
  ASSERT_EQ(qb.requests.size(), 1u);
  EXPECT_EQ(qb.requests[0].rfind("<?xml version = \"1.0\"?>\r\n<!DOCTYPE QBXML PUBLIC '-//INTUIT//DTD QBXML QBD "
                                 "1.0//EN'>\r\n<QBXML>\r\n",
                                 0),
            0u);
  EXPECT_EQ(qb.requests[0].find("BillableStatus"), std::string::npos);
}

TEST_F(PostingTest, TheReportBodyReachesTheServiceAsUsAsciiBytes) {
  service.WriteFile("pending-time.txt", "TA1\r\n4/3/2006|Ann|Acme|C|1|||n|True\r\nx\r\n");
  qb.responder = [](const std::string&) { return AddResponse("TimeTracking", 0, "Caf\u00e9 \u2713"); };
  KVRDowloadctl& c = Site(Params(true));
  ResultsSeen seen;
  ExpectResults(ui, seen);
  c.cmdStartDownload.Click();
  ASSERT_EQ(Reports().size(), 1u);
  EXPECT_EQ(Reports()[0].body, AddResponse("TimeTracking", 0, "Caf? ?"));
}

TEST_F(PostingTest, RejectedRecordsBecomeGridRowsWithTheServicesReason) {
  service.WriteFile("pending-time.txt", kTimeLines);
  service.QueueAnswers("kalvorupdatestatus.asp",
                       {"SUCCESS", "ERROR|7|Customer Acme:Roof not found", "SUCCESS|but more", "success"});
  KVRDowloadctl& c = Site(Params(true));
  ResultsSeen seen;
  ExpectResults(ui, seen);
  c.cmdStartDownload.Click();
  EXPECT_EQ(seen.total, "4");
  EXPECT_EQ(seen.success, "2");
  EXPECT_EQ(seen.failure, "2");
  ASSERT_EQ(seen.rows.size(), 2u);
  EXPECT_EQ(seen.rows[0], (std::vector<std::string>{"Ann Lee", "Acme:Roof", "Consulting", "4/4/2006", "Time", "8",
                                                    "Customer Acme:Roof not found"}));
  EXPECT_EQ(seen.rows[1][0], "Bo Chan");
  EXPECT_EQ(seen.rows[1][6], "SUCCESS|but more");
}

// A report that never reached the service's verdict: the user must learn which records are in QuickBooks already,
// since the service hands them out again.
TEST_F(PostingTest, ALostReportOfARecordQuickBooksTookSaysItIsInQuickBooks) {
  service.WriteFile("pending-time.txt", kTimeLines);
  service.WriteFile("faults/kalvorupdatestatus.asp.1", "status 500\n");
  service.WriteFile("faults/kalvorupdatestatus.asp.2", "status 500\n");
  service.QueueAnswers("kalvorupdatestatus.asp", {"SUCCESS", "SUCCESS", "ERROR|7|Customer Acme:Roof not found"});
  int added = 0;
  qb.responder = [&added](const std::string&) {
    // The second record is refused by QuickBooks.
    return ++added == 2 ? AddResponse("TimeTracking", 3140, "There is an invalid reference")
                        : AddResponse("TimeTracking");
  };
  KVRDowloadctl& c = Site(Params(true));
  ResultsSeen seen;
  ExpectResults(ui, seen);
  c.cmdStartDownload.Click();
  EXPECT_EQ(seen.success, "1");
  ASSERT_EQ(seen.rows.size(), 3u);
  const std::string kNotTold = "Posted into QuickBooks, but the Kalvor service could not be told";
  EXPECT_EQ(seen.rows[0][6].rfind(kNotTold, 0), 0u) << seen.rows[0][6];
  EXPECT_NE(seen.rows[0][6].find("HTTP 500"), std::string::npos) << seen.rows[0][6];
  // Not in QuickBooks: the transport's reason alone.
  EXPECT_EQ(seen.rows[1][6].rfind("The page cannot be displayed", 0), 0u) << seen.rows[1][6];
  // The service's own verdict is no lost report.
  EXPECT_EQ(seen.rows[2][6], "Customer Acme:Roof not found");
}

TEST_F(PostingTest, AnExpenseWhoseLinesCarryNoIdsIsNotPostedAndSaysWhy) {
  service.WriteFile("pending-expenses.txt",
                    "EXP1|Vendor A|5/2/2006|Trip|True|\r\n|5/1/2006|Taxi||25.00||Travel|Expense|False|False||\r\n"
                    "|5/1/2006|Tip||5.50||Travel|Expense|False|False||\r\n"
                    "EXP2|Vendor B|5/3/2006|Lunch|False|Checking\r\n12|5/3/2006|Lunch||12||Meals|Expense|False|"
                    "False||\r\n");
  ui.ExpectBoxContaining("carries no id, so the Kalvor service could not be told that it was posted");
  KVRDowloadctl& c = Site(Params(false));
  ResultsSeen seen;
  ExpectResults(ui, seen);
  c.cmdStartDownload.Click();
  ASSERT_EQ(qb.requests.size(), 1u);  // only Vendor B's check
  EXPECT_NE(qb.requests[0].find("<CheckAddRq"), std::string::npos);
  ASSERT_EQ(Reports().size(), 1u);
  EXPECT_EQ(Reports()[0].QueryValue("EEIIDs"), "12");
  EXPECT_EQ(seen.success, "1");
  EXPECT_EQ(seen.failure, "1");
  ASSERT_EQ(seen.rows.size(), 1u);
  EXPECT_EQ(seen.rows[0][0], "Vendor A");
  EXPECT_NE(seen.rows[0][6].find("carries no id"), std::string::npos) << seen.rows[0][6];
}

// Two pages of the same site and company file: the second downloads nothing while the first may still post.
TEST_F(PostingTest, ASecondPageOfTheSameSiteAndFileIsRefusedUntilTheFirstIsDone) {
  service.WriteFile("pending-time.txt", kTimeLines);
  KVRDowloadctl& first = Site(Params(true));
  ui.ExpectBoxContaining("Another download into the company file '" + company_file + "' is running on this computer.");
  {
    KVRDowloadctl second;
    platform::activex::ControlHost second_host(second);
    second_host.Site(Params(true), 7200, 3600);
    EXPECT_TRUE(second.Closed());
    second_host.Teardown();
  }
  size_t downloads = 0;
  for (const auto& request : service.Received()) downloads += request.Page() == "kalvordownload.asp" ? 1 : 0;
  EXPECT_EQ(downloads, 1u);

  ResultsSeen seen;
  ExpectResults(ui, seen);
  first.cmdStartDownload.Click();
  EXPECT_EQ(seen.success, "4");
  EXPECT_EQ(Reports().size(), 4u);
  // The first page is done: a new one may download what is pending now.
  EXPECT_TRUE(RunLock::TryTake(company_file).has_value());
}

TEST_F(PostingTest, TheRemainingCountDropsOnlyForAcceptedRecords) {
  service.WriteFile("pending-time.txt", kTimeLines);
  service.QueueAnswers("kalvorupdatestatus.asp", {"SUCCESS", "ERROR|1|No", "SUCCESS", "SUCCESS"});
  KVRDowloadctl& c = Site(Params(true));
  std::vector<std::string> captions;
  std::vector<double> progress;
  // The label and the bar as each record reaches QuickBooks.
  qb.responder = [&](const std::string&) {
    captions.push_back(c.lblGather.Caption());
    progress.push_back(c.ProgressBar1.Value());
    return AddResponse("TimeTracking");
  };
  ResultsSeen seen;
  ExpectResults(ui, seen);
  c.cmdStartDownload.Click();
  EXPECT_EQ(captions,
            (std::vector<std::string>{
                "4 time/leave activity rows to be downloaded..", "3 time/leave activity rows to be downloaded",
                "3 time/leave activity rows to be downloaded", "2 time/leave activity rows to be downloaded"}));
  EXPECT_EQ(progress, (std::vector<double>{0, 1, 2, 3}));
  EXPECT_EQ(c.ProgressBar1.Max(), 4);
}

TEST_F(PostingTest, ExpenseRunPostsVendorAsBillAndVendorBsCheck) {
  service.WriteFile("pending-expenses.txt", kExpenseLines);
  KVRDowloadctl& c = Site(Params(false));
  ResultsSeen seen;
  ExpectResults(ui, seen);
  c.cmdStartDownload.Click();
  ASSERT_EQ(qb.requests.size(), 2u);
  EXPECT_NE(qb.requests[0].find("<BillAdd>\r\n<VendorRef>\r\n<FullName>Vendor A</FullName>"), std::string::npos);
  EXPECT_NE(qb.requests[0].find("<Amount>25.00</Amount>"), std::string::npos);
  EXPECT_NE(qb.requests[0].find("<Amount>5.50</Amount>"), std::string::npos);
  EXPECT_NE(qb.requests[1].find("<CheckAdd>\r\n<AccountRef>\r\n<FullName>Checking</FullName>\r\n</AccountRef>\r\n"
                                "<PayeeEntityRef>\r\n<FullName>Vendor B</FullName>"),
            std::string::npos);
  const auto reports = Reports();
  ASSERT_EQ(reports.size(), 2u);
  EXPECT_EQ(reports[0].QueryValue("EEIIDs"), "10,11");
  EXPECT_EQ(reports[0].QueryValue("TrnType"), "EXP");
  EXPECT_EQ(reports[0].QueryValue("BillOrCheck"), "True");
  EXPECT_EQ(reports[0].QueryValue("EEIDs"), "");
  EXPECT_EQ(reports[1].QueryValue("EEIIDs"), "12");
  EXPECT_EQ(reports[1].QueryValue("BillOrCheck"), "False");
  EXPECT_EQ(seen.total, "2");
  EXPECT_EQ(seen.success, "2");
  EXPECT_TRUE(c.Closed());
}

TEST_F(PostingTest, ExpenseReasonsFollowTheServicesMarking) {
  service.WriteFile("pending-expenses.txt", kExpenseLines);
  service.QueueAnswers("kalvorupdatestatus.asp", {"Failed|12|Vendor A is inactive", "ERROR|3|Account missing"});
  KVRDowloadctl& c = Site(Params(false));
  ResultsSeen seen;
  ExpectResults(ui, seen);
  c.cmdStartDownload.Click();
  ASSERT_EQ(seen.rows.size(), 2u);
  EXPECT_EQ(seen.rows[0],
            (std::vector<std::string>{"Vendor A", "Trip", "", "5/2/2006", "Expense", "30.5", "Vendor A is inactive"}));
  EXPECT_EQ(seen.rows[1][0], "Vendor B");
  EXPECT_EQ(seen.rows[1][5], "12");
  EXPECT_EQ(seen.rows[1][6], "ERROR|3|Account missing");
  EXPECT_EQ(seen.failure, "2");
}

TEST_F(PostingTest, AnExpenseThatCannotBeBuiltFailsWithItsReasonAndIsNotReported) {
  service.WriteFile(
      "pending-expenses.txt",
      "EXP1|Vendor A|31/2/2006|Trip|True|\r\n10|5/1/2006|Taxi||25.00||Travel|Expense|False|False||\r\n"
      "EXP2|Vendor B|5/3/2006|Lunch|False|Checking\r\n12|5/3/2006|Lunch||twelve||Meals|Expense|False|"
      "False||\r\nEXP3|Vendor C|5/3/2006||True|\r\n13|5/3/2006|Pens||3||Office|Expense|False|False||\r\n");
  ui.ExpectBox("The date '31/2/2006' cannot be read; dates are M/D/YYYY or YYYY-MM-DD.");
  ui.ExpectBox("The amount 'twelve' is not a number.");
  KVRDowloadctl& c = Site(Params(false));
  ResultsSeen seen;
  ExpectResults(ui, seen);
  c.cmdStartDownload.Click();
  EXPECT_EQ(ui.Boxes()[0].buttons, vbOKOnly);
  ASSERT_EQ(qb.requests.size(), 1u);  // only Vendor C's bill
  ASSERT_EQ(Reports().size(), 1u);
  EXPECT_EQ(Reports()[0].QueryValue("EEIIDs"), "13");
  EXPECT_EQ(seen.total, "3");
  EXPECT_EQ(seen.success, "1");
  EXPECT_EQ(seen.failure, "2");
  ASSERT_EQ(seen.rows.size(), 2u);
  EXPECT_EQ(seen.rows[0][0], "Vendor A");
  EXPECT_EQ(seen.rows[0][3], "");  // a date that could not be read is not shown as another one
  EXPECT_EQ(seen.rows[1][0], "Vendor B");
}

TEST_F(PostingTest, ATimeRecordWhoseRequestFailedIsStillReportedWithItsOwnError) {
  service.WriteFile("pending-time.txt",
                    "TA1\r\n4/3/2006|Ann|Acme|C|1|||n|True\r\nx\r\n"
                    "TA2\r\n4/3/2006|Ann|Acme|C|x|||n|True\r\nx\r\n");
  qb.FailOn("ProcessRequest", platform::qb::kErrCannotReachQuickBooks, "QuickBooks went away", 0, 1);
  ui.ExpectBox("QuickBooks went away");
  ui.ExpectBox("The hours 'x' is not a number.");
  KVRDowloadctl& c = Site(Params(true));
  ResultsSeen seen;
  ExpectResults(ui, seen);
  c.cmdStartDownload.Click();
  EXPECT_EQ(ui.Boxes()[1].buttons, vbOKOnly);
  const auto reports = Reports();
  ASSERT_EQ(reports.size(), 2u);
  EXPECT_EQ(reports[0].QueryValue("TAIDs"), "1");
  EXPECT_EQ(reports[0].body, "");
  EXPECT_EQ(reports[1].body, "");
  // The failed request's session and connection were ended and closed.
  EXPECT_EQ(qb.OpenSessions(), 0);
  EXPECT_EQ(qb.OpenConnections(), 0);
  EXPECT_EQ(qb.ObjectsAlive(), 0);
}

TEST_F(PostingTest, NoAnswerFromQuickBooksStopsThePostingWhenNothingCanTellWhatItDid) {
  service.WriteFile("pending-time.txt",
                    "TA1\r\n4/3/2006|Ann|Acme|C|1|||n|True\r\nx\r\nTA2\r\n4/3/2006|Ann|Acme|C|2|||n|True\r\nx\r\n");
  qb.responder = [](const std::string&) { return std::string(); };
  ui.ExpectBoxContaining("qbXML: no response!\r\nWhether QuickBooks added the time record 1 cannot be told now");
  KVRDowloadctl& c = Site(Params(true));
  ResultsSeen seen;
  ExpectResults(ui, seen);
  c.cmdStartDownload.Click();
  // Not reported, not followed by the next add: the next download settles it first.
  EXPECT_EQ(Reports().size(), 0u);
  size_t adds = 0;
  for (const auto& request : qb.requests) adds += request.find("AddRq") != std::string::npos ? 1 : 0;
  EXPECT_EQ(adds, 1u);
}

TEST_F(PostingTest, AStalledServiceFailsTheRecordInsteadOfHangingTheRun) {
  service.WriteFile("pending-time.txt", "TA1\r\n4/3/2006|Ann|Acme|C|1|||n|True\r\nx\r\n");
  KVRDowloadctl& c = Site(Params(true));
  service.SetFault("kalvorupdatestatus.asp", "delay-ms 4000");
  const char* old_stall = std::getenv("KV_WEB_STALL_TIMEOUT_MS");
  const std::string saved = old_stall != nullptr ? old_stall : "";
  setenv("KV_WEB_STALL_TIMEOUT_MS", "300", 1);
  ResultsSeen seen;
  ExpectResults(ui, seen);
  const auto start = std::chrono::steady_clock::now();
  c.cmdStartDownload.Click();
  const auto took = std::chrono::steady_clock::now() - start;
  if (old_stall != nullptr) {
    setenv("KV_WEB_STALL_TIMEOUT_MS", saved.c_str(), 1);
  } else {
    unsetenv("KV_WEB_STALL_TIMEOUT_MS");
  }
  EXPECT_LT(took, std::chrono::milliseconds(3000));
  EXPECT_EQ(seen.success, "0");
  EXPECT_EQ(seen.failure, "1");
  ASSERT_EQ(seen.rows.size(), 1u);
  // QuickBooks took the record, so the reason says it is there and the service was not told.
  EXPECT_EQ(seen.rows[0][6].rfind("Posted into QuickBooks, but the Kalvor service could not be told", 0), 0u)
      << seen.rows[0][6];
  EXPECT_NE(seen.rows[0][6].find("\r\nThe page cannot be displayed"), std::string::npos) << seen.rows[0][6];
  EXPECT_TRUE(c.Closed());
}

TEST_F(PostingTest, CancelTakesEffectAfterTheCurrentRecordAndClearsTheCounts) {
  service.WriteFile("pending-time.txt", kTimeLines);
  KVRDowloadctl& c = Site(Params(true));
  // Pressed while the first status report waits for the service.
  platform::forms::EventLoop::Current().Post([&c] { c.Command1.Click(); });
  c.cmdStartDownload.Click();
  EXPECT_EQ(qb.requests.size(), 1u);
  EXPECT_EQ(Reports().size(), 1u);
  EXPECT_EQ(c.lblGather.Caption(), kCollectingText);
  EXPECT_TRUE(c.cmdStartDownload.Enabled());
  EXPECT_FALSE(c.lblTransfer1.Visible());
  EXPECT_FALSE(c.lblTransfer2.Visible());
  EXPECT_FALSE(c.Timer1.Running());
  EXPECT_EQ(c.ProgressBar1.Value(), 0);
  EXPECT_EQ(Module().varTARecordCount + Module().varLARecordCount, 0);
  EXPECT_FALSE(c.Closed());
  EXPECT_EQ(qb.OpenSessions(), 0);
  EXPECT_TRUE(ui.ModalForms().empty());
  ui.ExpectBox("No time/leave data available for download.");
  c.cmdStartDownload.Click();
  EXPECT_EQ(ui.Boxes().back().buttons, vbInformation);
  EXPECT_TRUE(c.Closed());
}

TEST_F(PostingTest, PreconditionsAndTheirMessages) {
  service.WriteFile("pending-time.txt", kTimeLines);
  platform::activex::PropertyBag bag = Params(true);
  platform::activex::PropertyBag no_file;
  for (const auto& item : bag.Items()) no_file.Add(item.name, item.name == "QBFilePath" ? "   " : item.value);
  KVRDowloadctl& c = Site(std::move(no_file));
  ui.ExpectBox("You need to provide location of your Quickbooks file before proceeding for download..");
  c.cmdStartDownload.Click();
  EXPECT_TRUE(c.Closed());
  EXPECT_EQ(qb.processorsCreated, 0);
}

TEST_F(PostingTest, AMissingCompanyFileKeepsTheWindowOpen) {
  service.WriteFile("pending-time.txt", kTimeLines);
  company_file = "/nonexistent/Gone.QBW";
  KVRDowloadctl& c = Site(Params(true));
  ui.ExpectBox("Cannot find '/nonexistent/Gone.QBW'");
  c.cmdStartDownload.Click();
  EXPECT_EQ(ui.Boxes()[0].buttons, vbCritical);
  EXPECT_TRUE(c.cmdStartDownload.Enabled());
  EXPECT_FALSE(c.Closed());
}

TEST_F(PostingTest, NothingToPostClosesTheWindow) {
  service.WriteFile("pending-expenses.txt", "");
  KVRDowloadctl& c = Site(Params(false));
  ui.ExpectBox("No expenses available for download.");
  c.cmdStartDownload.Click();
  EXPECT_TRUE(c.Closed());
  EXPECT_EQ(qb.processorsCreated, 0);
}

TEST_F(PostingTest, AFailedQuickBooksCheckClosesWhatItOpenedAndKeepsTheWindow) {
  service.WriteFile("pending-time.txt", kTimeLines);
  qb.companyFile = "/qb/Other.QBW";
  KVRDowloadctl& c = Site(Params(true));
  ui.QueueAnswer(platform::forms::vbOK);
  c.cmdStartDownload.Click();
  EXPECT_EQ(ui.Boxes()[0].buttons, vbCritical);
  EXPECT_NE(ui.Boxes()[0].prompt.find("does not match"), std::string::npos);
  EXPECT_EQ(qb.OpenSessions(), 0);
  EXPECT_EQ(qb.OpenConnections(), 0);
  EXPECT_TRUE(c.cmdStartDownload.Enabled());
  EXPECT_FALSE(c.lblTransfer2.Visible());
  EXPECT_FALSE(c.Closed());
  EXPECT_TRUE(Reports().empty());
  // With the right file open, Continue now runs.
  qb.companyFile = company_file;
  ResultsSeen seen;
  ExpectResults(ui, seen);
  c.cmdStartDownload.Click();
  EXPECT_EQ(seen.success, "4");
}

TEST_F(PostingTest, QuickBooksNotRunningAndAnEmptyTicketAreReportedAlike) {
  service.WriteFile("pending-time.txt", kTimeLines);
  qb.ticket = "";
  KVRDowloadctl& c = Site(Params(true));
  ui.ExpectBox("Your Quickbooks file is not open, please open your Quickbooks file and try again.");
  c.cmdStartDownload.Click();
  EXPECT_EQ(ui.Boxes()[0].buttons, vbCritical);
  EXPECT_TRUE(qb.requests.empty());
  qb.ticket = "T";
  qb.SetNotRunning();
  ui.ExpectBox("Your Quickbooks file is not open, please open your Quickbooks file and try again.");
  c.cmdStartDownload.Click();
  EXPECT_TRUE(qb.requests.empty());
}

TEST_F(PostingTest, ARunTimeErrorEndsTheRunCleanlyWithTheRecordsSoFar) {
  service.WriteFile("pending-time.txt",
                    "TA1\r\n4/3/2006|Ann|Acme|C|1|||n|True\r\nx\r\n"
                    "TAbad\r\nd\r\nx\r\nTA3\r\n4/3/2006|Ann|Acme|C|1|||n|True\r\nx\r\n");
  KVRDowloadctl& c = Site(Params(true));
  ui.ExpectBox("Type mismatch: the record header 'TAbad' carries no numeric id");
  ResultsSeen seen;
  ExpectResults(ui, seen);
  c.cmdStartDownload.Click();
  EXPECT_EQ(ui.Boxes()[0].buttons, vbInformation);
  EXPECT_EQ(seen.total, "1");
  EXPECT_EQ(seen.success, "1");
  EXPECT_TRUE(c.Closed());
  EXPECT_FALSE(c.Timer1.Running());
  EXPECT_FALSE(c.lblTransfer2.Visible());
  EXPECT_EQ(qb.OpenSessions(), 0);
  EXPECT_EQ(qb.requests.size(), 1u);
}

TEST_F(PostingTest, ThePleaseWaitLabelBlinksWhileARunWaits) {
  service.WriteFile("pending-time.txt", "TA1\r\n4/3/2006|Ann|Acme|C|1|||n|True\r\nx\r\n");
  service.SetFault("kalvorupdatestatus.asp", "delay-ms 1200");
  KVRDowloadctl& c = Site(Params(true));
  int changes = 0;
  bool last = c.lblTransfer2.Visible();
  const auto id = platform::forms::EventLoop::Current().StartTimer(std::chrono::milliseconds(100), [&] {
    if (c.lblTransfer2.Visible() != last) ++changes;
    last = c.lblTransfer2.Visible();
  });
  ResultsSeen seen;
  ExpectResults(ui, seen);
  c.cmdStartDownload.Click();
  platform::forms::EventLoop::Current().StopTimer(id);
  EXPECT_GE(changes, 2);
  EXPECT_EQ(c.Timer1.Interval(), 500);
}

}  // namespace
}  // namespace tessarine::test
