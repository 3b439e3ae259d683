// The employee converter: batches of 100 and the progress bar, the active and inactive forms and the status column.

#include <gtest/gtest.h>

#include "sync_control/converters/list_converters.h"
#include "sync_control/converters/record_sets.h"
#include "sync_control/module_state.h"
#include "tests/sync_control/converters/converter_fixture.h"

namespace brintavel::testing {
namespace {

using kv::test_support::sql::Number;
using kv::test_support::sql::Statement;
using kv::test_support::sql::Text;

Record Employee(int i, const std::string& is_active = "true") {
  Record r{"EmployeeRet", {}};
  r.Set("ListID", "E-" + std::to_string(i))
      .Set("TimeCreated", "2005-03-15T09:00:00")
      .Set("TimeModified", "2005-03-16T14:22:33")
      .Set("EditSequence", "11")
      .Set("Name", "Ann Lee " + std::to_string(i))
      .Set("IsActive", is_active)
      .Set("FirstName", "Ann")
      .Set("LastName", "Lee")
      .Set("Email", "ann@example.com")
      .Set("EmployeeType", "Officer")
      .Set("Gender", "Female")
      .Set("HiredDate", "2005-03-15");
  return r;
}

Statement OnlyStatement(const std::vector<Statement>& statements) {
  EXPECT_EQ(statements.size(), 1u);
  return statements.empty() ? Statement{} : statements[0];
}

using EmployeeConverterTest = ConverterTest;

TEST_F(EmployeeConverterTest, TwoHundredFiftyGoInThreeUploadsAndTheBarReachesItsMax) {
  std::vector<Record> records;
  for (int i = 0; i < 250; ++i) records.push_back(Employee(i));
  Module().sQBXMLResponse = Response(records);
  GetEmployeesFromQB(*ctl);

  const auto uploads = Uploads();
  ASSERT_EQ(uploads.size(), 3u);
  EXPECT_EQ(kv::test_support::sql::ParseScript(uploads[0].body).size(), 100u);
  EXPECT_EQ(kv::test_support::sql::ParseScript(uploads[1].body).size(), 100u);
  EXPECT_EQ(kv::test_support::sql::ParseScript(uploads[2].body).size(), 50u);
  for (const auto& upload : uploads) EXPECT_EQ(upload.QueryValue("options"), "E");
  ASSERT_EQ(StatusReports().size(), 1u);
  EXPECT_EQ(StatusReports()[0].QueryValue("options"), "E");
  EXPECT_EQ(ctl->ProgressBar1.Max(), 250);
  EXPECT_EQ(ctl->ProgressBar1.Value(), 250);
  EXPECT_EQ(ctl->lblProcess.Caption(), "Getting Employees from QB (250)");
  EXPECT_EQ(Module().varEmployeeCount, 250);
}

TEST_F(EmployeeConverterTest, OneRecordGivesMaxOneAndValueOne) {
  Module().sQBXMLResponse = Response({Employee(0)});
  ctl->EmpLexicon = "Worker";
  GetEmployeesFromQB(*ctl);
  EXPECT_EQ(ctl->ProgressBar1.Max(), 1);
  EXPECT_EQ(ctl->ProgressBar1.Value(), 1);
  EXPECT_EQ(ctl->lblProcess.Caption(), "Getting Workers from QB (1)");
}

TEST_F(EmployeeConverterTest, ActiveAndInactiveFormsAndTheStatusColumn) {
  Module().sQBXMLResponse = Response({Employee(0, "true"), Employee(1, "false"), Employee(2, "True")});
  GetEmployeesFromQB(*ctl);
  const auto statements = AllStatements();
  ASSERT_EQ(statements.size(), 3u);

  const Statement& active = statements[0];
  EXPECT_TRUE(active.has_insert);
  EXPECT_EQ(active.key_column, "EmployeeID");
  EXPECT_EQ(active.table, "EmployeeInfo");
  EXPECT_EQ(active.columns.size(), 86u);
  EXPECT_EQ(active.set.size(), 17u);
  EXPECT_EQ(active.InsertValue("[Status]"), Text("Active"));
  EXPECT_FALSE(active.InSet("[Status]"));
  EXPECT_FALSE(active.InSet("[CreateBy]"));
  EXPECT_TRUE(active.InSet("[UpdateBy]"));

  for (const Statement* inactive : {&statements[1], &statements[2]}) {
    EXPECT_FALSE(inactive->has_insert);
    EXPECT_EQ(inactive->set.size(), 18u);
    EXPECT_EQ(inactive->SetValue("[Status]"), Text("In Active"));
  }
  EXPECT_EQ(statements[1].where_list_id, Text("E-1"));
  // The whole statement text of the inactive record, from its first SET entry to its end.
  const std::string body = Uploads()[0].body;
  EXPECT_NE(body.find("UPDATE EmployeeInfo SET [Salutation]='',[FirstName]='Ann',[MI]='',[LastName]='Lee',"
                      "[EmployeeName]='Ann Lee 1',[Status]='In Active',[EmailAddress]='ann@example.com',"
                      "[TerminationDate]='12:00:00 AM',[HireDate]='03/15/2005 00:00:00',"
                      "[QBModifiedDate]='3/16/2005 2:22:33 PM',[QBListID]='E-1',[QBEditSequence]='11',[PrintAs]='',"
                      "[AccountNumber]='',[CreateDate]='03/15/2005 09:00:00',[UpdateBy]='syncuser',"
                      "[UpdateDate]='03/16/2005 14:22:33',[Gender]='Female' WHERE [QBListId] = 'E-1'\r\n"),
            std::string::npos)
      << body;
}

TEST_F(EmployeeConverterTest, ColumnValuesFromTheRecord) {
  Record r = Employee(0);
  r.Set("LastName", std::string(30, 'L'))
      .Set("FirstName", "O'Neil")
      .Remove("Gender")
      .Remove("HiredDate")
      .Set("ReleasedDate", "2006-07-31")
      .Set("Salutation", "Dr.")
      .Set("MiddleName", "Quentin")
      .Set("AccountNumber", "77-1")
      .Set("PrintAs", "A. Lee");
  Module().sQBXMLResponse = Response({r});
  GetEmployeesFromQB(*ctl);
  const Statement s = OnlyStatement(AllStatements());
  EXPECT_EQ(s.InsertValue("[EmployeeID]"), Number("9000000"));
  EXPECT_EQ(s.InsertValue("[LastName]"), Text(std::string(25, 'L')));
  EXPECT_EQ(s.InsertValue("[FirstName]"), Text("O'Neil"));
  EXPECT_EQ(s.InsertValue("[MI]"), Text("Quent"));
  EXPECT_EQ(s.InsertValue("[Salutation]"), Text("Dr."));
  EXPECT_EQ(s.InsertValue("[Gender]"), Text("Male"));
  EXPECT_EQ(s.InsertValue("[HireDate]"), Text("12:00:00 AM"));
  EXPECT_EQ(s.InsertValue("[TerminationDate]"), Text("07/31/2006 00:00:00"));
  EXPECT_EQ(s.InsertValue("[EmployeeType]"), Number("3"));
  EXPECT_EQ(s.InsertValue("[AccountNumber]"), Text("77-1"));
  EXPECT_EQ(s.InsertValue("[PrintAs]"), Text("A. Lee"));
  EXPECT_EQ(s.InsertValue("[CustomDate1]"), Text("12:00:00 AM"));
  EXPECT_EQ(s.InsertValue("[RatesheetHeaderID]"), Number("0"));
  EXPECT_EQ(s.InsertValue("[Refferedby]"), Text(""));
  EXPECT_NE(Uploads()[0].body.find("'O''Neil'"), std::string::npos);
}

TEST_F(EmployeeConverterTest, UnreadableDatesGiveTheEmptyTextNotTheColumnBefore) {
  Record r = Employee(0);
  r.Set("ReleasedDate", "someday").Set("HiredDate", "2005-02-30");
  Module().sQBXMLResponse = Response({r});
  GetEmployeesFromQB(*ctl);
  const Statement s = OnlyStatement(AllStatements());
  EXPECT_EQ(s.InsertValue("[TerminationDate]"), Text(""));
  EXPECT_EQ(s.InsertValue("[HireDate]"), Text(""));
  EXPECT_EQ(s.SetValue("[HireDate]"), Text(""));
}

TEST_F(EmployeeConverterTest, KeysCountFilteredRecordsAndMemberOneOnlyForKeptOnes) {
  Module().EmployeeLastSyncDate = kv::DateTime::FromParts(2006, 1, 1);
  std::vector<Record> records;
  for (int i = 0; i < 5; ++i) records.push_back(Employee(i));
  records[4].Set("TimeModified", "2006-01-01T00:00:00");
  Module().sQBXMLResponse = Response(records);
  GetEmployeesFromQB(*ctl);

  const Statement s = OnlyStatement(AllStatements());
  EXPECT_EQ(s.InsertValue("[EmployeeID]"), Number("9000004"));
  RecordSet& set = ModuleRecordSets().EmployeeRecords;
  EXPECT_EQ(set[1].ListID(), "");  // filtered out before its columns
  EXPECT_TRUE(set[1].Flag(6));     // filled before the filter
  EXPECT_EQ(set[1].TimeModified(), kv::DateTime::FromParts(2005, 3, 16, 14, 22, 33));
  EXPECT_EQ(set[5].ListID(), "E-4");
}

TEST_F(EmployeeConverterTest, RecordWithoutTimeStampsPassesOnlyAZeroLastSync) {
  Record r = Employee(0);
  r.Remove("TimeCreated").Remove("TimeModified");
  Module().sQBXMLResponse = Response({r});
  GetEmployeesFromQB(*ctl);
  EXPECT_TRUE(Uploads().empty());
  EXPECT_TRUE(StatusReports().empty());
  EXPECT_EQ(Module().varEmployeeCount, 0);
  EXPECT_FALSE(ctl->fraProgress.Visible());

  Module().EmployeeLastSyncDate = kv::DateTime();
  GetEmployeesFromQB(*ctl);
  const Statement s = OnlyStatement(AllStatements());
  EXPECT_EQ(s.InsertValue("[CreateDate]"), Text("12/30/1899 00:00:00"));
  EXPECT_EQ(s.InsertValue("[UpdateDate]"), Text("12/30/1899 00:00:00"));
  EXPECT_EQ(s.InsertValue("[QBModifiedDate]"), Text("12:00:00 AM"));
}

TEST_F(EmployeeConverterTest, NoEmployeesSendNothing) {
  ModuleRecordSets().EmployeeRecords.Resize(3, "");
  ctl->lngFailedEmpCnt = 2;
  Module().sQBXMLResponse = Response({Record{"ClassRet", {{"ListID", "C"}}}});
  GetEmployeesFromQB(*ctl);
  EXPECT_FALSE(ModuleRecordSets().EmployeeRecords.HasArrays());
  EXPECT_EQ(service->ReceivedCount(), 0u);
  EXPECT_EQ(ctl->lngFailedEmpCnt, 0);
}

}  // namespace
}  // namespace brintavel::testing
