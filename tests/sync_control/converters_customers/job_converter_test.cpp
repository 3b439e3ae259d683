// The job converter: its statement byte for byte, the parent rule, the keys it shares with the customer
// converter, the fixed values, and the one "P" report for customers and jobs.

#include <gtest/gtest.h>

#include "sync_control/converters/customer_list.h"
#include "sync_control/converters/record_sets.h"
#include "sync_control/module_state.h"
#include "tests/sync_control/converters_customers/customer_fixture.h"

namespace brintavel::testing {
namespace {

using kv::test_support::sql::Literal;
using kv::test_support::sql::Number;
using kv::test_support::sql::Text;

const std::string kJobColumnList =
    "[ProjID],[CustomerID],[ProjectID],[ProjectName],[ProjectManager],[Title],[PONumber],[BeginDate],[EndDate],"
    "[Status],[Address1],[Address2],[Address3],[Address4],[City],[State],[ZipCode],[Country],[Email],[Phone],"
    "[AltPhone],[FaxNumber],[UpdateDate],[CreatedDate],[CreatedBy],[UpdatedBy],[QBModifiedDate],[QBListID],"
    "[QBEditSequence],[InvoiceDetailLevel],[InvoiceTemplate],[SubLevel],[QBFullName],[Description],[ActualEndDate],"
    "[ProjectType],[InvoiceTemplateID],[RatesheetHeaderID],[AllowBillableExpense],[MarkupValue],[UseBillAddress],"
    "[BillAddress1],[BillAddress2],[BillAddress3],[BillAddress4],[BillCity],[BillState],[BillZipCode],"
    "[BillCountry],[BudgetID],[ProjectCode],[ContractAmount],[StopAtContractAmount],[MinBillAmount],"
    "[BilledAmount],[ProjectStage],[ClassFullRefID],[TimeApprover],[AssignmentOptional],[ParentID],"
    "[ProjectPercentage],[LockRateSheet],[SalesRepID],[SalesTaxCode],[Custom1],[Custom2],[BillType],"
    "[SalesTaxItem],[ContractInclExp],[CloseReason],[Custom3],[Custom4],[Custom5]";

// Customer C, its changed job J (Kitchen), J's unchanged sub-job S, and C's unchanged job T.
std::vector<Record> KitchenList() {
  Record j = Job("J2-B8", "Kitchen", 1, "C1");
  j.Set("FullName", "Smith:Kitchen").Set("JobStartDate", "2005-03-15");
  Record s = Job("S3", "Sink", 2, "J2-B8");
  Record t = Job("T4", "Porch", 1, "C1");
  return {Customer("C1", "Smith"), j, Unchanged(s), Unchanged(t)};
}

using JobConverterTest = CustomerListTest;

TEST_F(JobConverterTest, ChangedJobGivesTheIfFormByteForByte) {
  Module().sQBXMLResponse = CustomerResponse({Customer("C1", "Smith"), KitchenList()[1]});
  GetProjectsFromQB(*ctl);

  const std::string values = "9000001,0,2,'Kitchen','','','','03/15/2005 00:00:00','12:00:00 AM',-1," +
                             Repeat("''", 12) +
                             ",'01/02/2011 10:30:00','01/01/2011 10:00:00','syncuser','syncuser',"
                             "'1/2/2011 10:30:00 AM','J2-B8','77',0,'',1,'Smith:Kitchen','','12:00:00AM'," +
                             Repeat("0", 4) + ",'',-1," + Repeat("''", 8) + ",0,''," + Repeat("0", 5) +
                             ",'','',1,0,0,0," + Repeat("''", 4) + ",0,'',0," + Repeat("''", 4);
  const std::string set =
      "[ProjectName]='Kitchen',[ProjectManager]='',[BeginDate]='03/15/2005 00:00:00',[EndDate]='12:00:00 AM',"
      "[UpdateDate]='01/02/2011 10:30:00',[UpdatedBy]='syncuser',[QBModifiedDate]='1/2/2011 10:30:00 AM',"
      "[QBListID]='J2-B8',[QBEditSequence]='77',[SubLevel]=1,[QBFullName]='Smith:Kitchen',[Description]='',"
      "[ActualEndDate]='12:00:00AM'";
  const auto uploads = Uploads();
  ASSERT_EQ(uploads.size(), 1u);
  EXPECT_EQ(uploads[0].QueryValue("options"), "P");
  EXPECT_EQ(uploads[0].body,
            "IF (SELECT Count(ProjID) FROM [CustProjInfo] WHERE [QBListID] = 'J2-B8') <= 0\r\n"
            "\tINSERT INTO CustProjInfo (" +
                kJobColumnList + ") VALUES (" + values +
                ")\r\n"
                "Else\r\n"
                "\tUPDATE CustProjInfo SET " +
                set + " WHERE [QBListId] = 'J2-B8'\r\n");
  EXPECT_EQ(ctl->lblProcess.Caption(), "Getting Projects from QB (1)");
  ASSERT_EQ(StatusReports().size(), 1u);
  EXPECT_EQ(StatusReports()[0].QueryValue("options"), "P");
}

TEST_F(JobConverterTest, UnchangedSubJobGoesWithItsChangedParent) {
  RunBoth(KitchenList());

  const auto jobs = StatementsFor("CustProjInfo");
  ASSERT_EQ(jobs.size(), 2u);
  EXPECT_EQ(jobs[0].InsertValue("[ProjID]"), Number("9000001"));
  EXPECT_EQ(jobs[0].InsertValue("[ProjectID]"), Number("2"));
  EXPECT_EQ(jobs[1].InsertValue("[ProjID]"), Number("9000002"));
  EXPECT_EQ(jobs[1].InsertValue("[ProjectID]"), Number("3"));
  EXPECT_EQ(jobs[1].SetValue("[SubLevel]"), Number("2"));
  EXPECT_EQ(jobs[1].where_list_id, Text("S3"));
  EXPECT_EQ(StatementsFor("Customers").size(), 1u);
  EXPECT_EQ(Module().varProjectCount, 2);
  ASSERT_EQ(StatusReports().size(), 1u);
  // The customers' statements went first, and the report after the last upload.
  const auto received = service->Received();
  EXPECT_EQ(received.back().Page(), "brintavelupdatestatus.asp");
}

TEST_F(JobConverterTest, UnchangedParentTakesNoSubJobAndAParentListedLaterTakesNone) {
  auto list = KitchenList();
  Unchanged(list[1]);
  RunBoth(list);
  EXPECT_TRUE(StatementsFor("CustProjInfo").empty());
  // Customers changed and none failed: the report is made all the same.
  EXPECT_EQ(StatusReports().size(), 1u);

  ResetRecordSets();
  Record sub = Job("S3", "Sink", 2, "J2-B8");
  Unchanged(sub);
  Module().sQBXMLResponse = CustomerResponse({sub, Job("J2-B8", "Kitchen", 1, "C1")});
  GetProjectsFromQB(*ctl);
  const auto jobs = StatementsFor("CustProjInfo");
  ASSERT_EQ(jobs.size(), 1u);
  EXPECT_EQ(jobs[0].where_list_id, Text("J2-B8"));
}

TEST_F(JobConverterTest, ParentIsMatchedOnTheParentRefListIdOnly) {
  // The job's ParentRef holds both ListID and FullName; only the ListID (up to a blank) counts.
  Record child = Job("S3", "Sink", 2, "J2-B8 trailing");
  Unchanged(child);
  Record stranger = Job("X9", "Other", 2, "Smith:Kitchen");
  Unchanged(stranger);
  Module().sQBXMLResponse = CustomerResponse({Job("J2-B8", "Kitchen", 1, "C1"), child, stranger});
  GetProjectsFromQB(*ctl);
  const auto jobs = StatementsFor("CustProjInfo");
  ASSERT_EQ(jobs.size(), 2u);
  EXPECT_EQ(jobs[1].where_list_id, Text("S3"));
}

TEST_F(JobConverterTest, KeysCountEveryPosition) {
  Module().sQBXMLResponse =
      CustomerResponse({Customer("A", "A"), Customer("B", "B"), Customer("C", "C"), Job("J", "J", 1, "A")});
  GetProjectsFromQB(*ctl);
  const auto jobs = AllStatements();
  ASSERT_EQ(jobs.size(), 1u);
  EXPECT_EQ(jobs[0].InsertValue("[ProjID]"), Number("9000003"));
  EXPECT_EQ(jobs[0].InsertValue("[ProjectID]"), Number("4"));
}

TEST_F(JobConverterTest, BeginDateDescriptionAndFixedValues) {
  Record none = Job("N", "No start", 1, "C");
  Record marker = Job("M", "Marker start", 1, "C");
  marker.Set("JobStartDate", "12:00:00AM").Set("JobDesc", "   ");
  Record dated = Job("D", "Dated", 1, "C");
  dated.Set("JobStartDate", "2005-03-15").Set("JobDesc", "  lead'ing").Set("IsActive", "false");
  Record unreadable = Job("U", "Unreadable", 3, "C");
  unreadable.Set("JobStartDate", "sometime");
  Module().sQBXMLResponse = CustomerResponse({none, marker, dated, unreadable});
  GetProjectsFromQB(*ctl);

  const auto jobs = AllStatements();
  ASSERT_EQ(jobs.size(), 4u);
  const Literal january = Text("01/01/" + std::to_string(kv::DateTime::Now().Year()) + " 00:00:00");
  EXPECT_EQ(jobs[0].InsertValue("[BeginDate]"), january);
  EXPECT_FALSE(jobs[0].InSet("[BeginDate]"));
  EXPECT_EQ(jobs[1].InsertValue("[BeginDate]"), january);
  EXPECT_FALSE(jobs[1].InSet("[BeginDate]"));
  EXPECT_EQ(jobs[1].SetValue("[Description]"), Text(""));
  EXPECT_EQ(jobs[0].set.size(), 12u);

  // Inactive: the UPDATE alone, with its own start date and [Status]=0 right after [EndDate].
  EXPECT_FALSE(jobs[2].has_insert);
  ASSERT_EQ(jobs[2].set.size(), 14u);
  EXPECT_EQ(jobs[2].set[2], std::make_pair(std::string("[BeginDate]"), Text("03/15/2005 00:00:00")));
  EXPECT_EQ(jobs[2].set[3].first, "[EndDate]");
  EXPECT_EQ(jobs[2].set[4], std::make_pair(std::string("[Status]"), Number("0")));
  EXPECT_EQ(jobs[2].SetValue("[Description]"), Text("  lead'ing"));

  // A start date that cannot be read still enters the SET list, with the 1 January default.
  EXPECT_EQ(jobs[3].SetValue("[BeginDate]"), january);
  EXPECT_EQ(jobs[3].SetValue("[SubLevel]"), Number("3"));

  for (const auto& job : jobs) {
    EXPECT_EQ(job.SetValue("[EndDate]"), Text("12:00:00 AM"));
    EXPECT_EQ(job.SetValue("[ActualEndDate]"), Text("12:00:00AM"));
    if (!job.has_insert) continue;
    EXPECT_EQ(job.InsertValue("[UseBillAddress]"), Number("-1"));
    EXPECT_EQ(job.InsertValue("[AssignmentOptional]"), Number("1"));
  }
  const RecordSet& set = ModuleRecordSets().ProjectRecords;
  EXPECT_EQ(set[3].Date(31), kv::DateTime::FromParts(2005, 3, 15));
  EXPECT_TRUE(set[1].Date(31).IsZero());
}

TEST_F(JobConverterTest, UserNameCutToFifty) {
  ctl->KalvorUser = std::string(49, 'u') + "'" + std::string(10, 'v');
  Module().sQBXMLResponse = CustomerResponse({Job("J", "J", 1, "C")});
  GetProjectsFromQB(*ctl);
  const auto jobs = AllStatements();
  ASSERT_EQ(jobs.size(), 1u);
  EXPECT_EQ(jobs[0].InsertValue("[CreatedBy]"), Text(std::string(49, 'u') + "'"));
  EXPECT_EQ(jobs[0].SetValue("[UpdatedBy]"), Text(std::string(49, 'u') + "'"));
}

TEST_F(JobConverterTest, ReportOnlyWhenNeitherHalfFailed) {
  ctl->DebugMode = true;
  ctl->optContinue.SetValue(true);
  // No customer changed; two jobs, the second upload fails.
  Record c = Customer("C", "C");
  service->QueueAnswers("brintavel.asp", {"SUCCESS", "Bad"});
  RunBoth({Unchanged(c), Job("J1", "J1", 1, "C"), Job("J2", "J2", 1, "C")});
  EXPECT_EQ(ctl->lngFailedProjCnt, 1);
  EXPECT_EQ(Module().varProjectCount, 2);
  EXPECT_TRUE(StatusReports().empty());
}

TEST_F(JobConverterTest, FailedCustomerUploadWithholdsTheReportEvenWhenJobsWent) {
  ctl->DebugMode = true;
  ctl->optContinue.SetValue(true);
  service->QueueAnswers("brintavel.asp", {"Bad", "SUCCESS"});
  RunBoth({Customer("C", "C"), Job("J1", "J1", 1, "C")});
  EXPECT_EQ(ctl->lngFailedCustCnt, 1);
  EXPECT_EQ(ctl->lngFailedProjCnt, 0);
  EXPECT_EQ(Module().varProjectCount, 1);
  EXPECT_TRUE(StatusReports().empty());
}

TEST_F(JobConverterTest, NothingConvertedGivesNoReport) {
  Record c = Customer("C", "C");
  Record j = Job("J", "J", 1, "C");
  RunBoth({Unchanged(c), Unchanged(j)});
  EXPECT_EQ(ctl->lblProcess.Caption(), "Getting Projects from QB ");  // the start caption, blank and all
  EXPECT_TRUE(Uploads().empty());
  EXPECT_TRUE(StatusReports().empty());
  EXPECT_FALSE(ctl->fraProgress.Visible());
}

TEST_F(JobConverterTest, FailedUploadStopsBeforeTheReport) {
  service->SetAnswer("brintavel.asp", "Database is busy");
  Module().sQBXMLResponse = CustomerResponse({Job("J", "J", 1, "C")});
  GetProjectsFromQB(*ctl);
  EXPECT_TRUE(ctl->bAbortSync);
  EXPECT_TRUE(StatusReports().empty());
  EXPECT_TRUE(ctl->fraProgress.Visible());
  EXPECT_EQ(ModuleRecordSets().ProjectRecords[1].Text(1), "J");
}

TEST_F(JobConverterTest, RecordSetIsKeptWithEveryValue) {
  Record j = Job("J", "J", 1, "C");
  j.Set("JobStatus", "InProgress").Set("JobStartDate", "2005-03-15");
  Module().sQBXMLResponse = CustomerResponse({Customer("C", "C"), j});
  GetProjectsFromQB(*ctl);

  RecordSet& set = ModuleRecordSets().ProjectRecords;
  ASSERT_EQ(set.UpperBound(), 2);
  EXPECT_EQ(set[1].Text(1), "");  // the customer's element untouched
  EXPECT_EQ(set[2].Text(1), "J");
  EXPECT_EQ(set[2].Text(4), "77");
  EXPECT_TRUE(set[2].Flag(7));
  EXPECT_EQ(set[2].Int32(8), 1);
  EXPECT_EQ(set[2].Text(30), "InProgress");
  EXPECT_EQ(set[2].TimeModified(), kv::DateTime::FromParts(2011, 1, 2, 10, 30, 0));
}

TEST_F(JobConverterTest, ListIdLookup) {
  EXPECT_FALSE(IsProjectListIDKnown("J"));  // no arrays
  Module().sQBXMLResponse = CustomerResponse({Job("Jx", "J", 1, "C"), Customer("C", "C")});
  GetProjectsFromQB(*ctl);
  EXPECT_TRUE(IsProjectListIDKnown("Jx"));
  EXPECT_FALSE(IsProjectListIDKnown("jx"));
  EXPECT_FALSE(IsProjectListIDKnown(""));  // the customer's empty element is never a match
}

TEST_F(JobConverterTest, UnreadableResponseEmptiesTheSetAndReportsNothing) {
  Module().sQBXMLResponse = CustomerResponse({Job("J", "J", 1, "C")});
  GetProjectsFromQB(*ctl);
  const size_t reports = StatusReports().size();
  Module().sQBXMLResponse = "not xml";
  GetProjectsFromQB(*ctl);
  EXPECT_TRUE(Module().bSyncError);
  EXPECT_FALSE(ModuleRecordSets().ProjectRecords.HasArrays());
  EXPECT_EQ(StatusReports().size(), reports);
}

}  // namespace
}  // namespace brintavel::testing
