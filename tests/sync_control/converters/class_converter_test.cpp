// The class converter: the update-alone form of an inactive class, the insert-or-update form of an active one, and
// the uploads and status report of a list.

#include <gtest/gtest.h>

#include "sync_control/converters/list_converters.h"
#include "sync_control/converters/record_sets.h"
#include "sync_control/module_state.h"
#include "tests/sync_control/converters/converter_fixture.h"

namespace brintavel::testing {
namespace {

using kv::test_support::sql::Number;
using kv::test_support::sql::Text;

Record OverheadClass(const std::string& is_active) {
  Record r{"ClassRet", {}};
  r.Set("ListID", "AB-1")
      .Set("TimeCreated", "2005-03-15T09:00:00-08:00")
      .Set("TimeModified", "2005-03-16T14:22:33-08:00")
      .Set("EditSequence", "7")
      .Set("Name", "Overhead")
      .Set("FullName", "Overhead")
      .Set("IsActive", is_active)
      .Set("Sublevel", "0");
  return r;
}

using ClassConverterTest = ConverterTest;

TEST_F(ClassConverterTest, InactiveClassIsTheUpdateLineAlone) {
  Module().sQBXMLResponse = Response({OverheadClass("false")});
  GetClassesFromQB(*ctl);

  const auto uploads = Uploads();
  ASSERT_EQ(uploads.size(), 1u);
  EXPECT_EQ(uploads[0].body,
            "UPDATE ClassInfo SET [ClassName]='Overhead',[ClassFullName]='Overhead',[Status]=0,[SubLevel]=1,"
            "[QBEditSequence]='7',[QBModifiedDate]='3/16/2005 2:22:33 PM',[QBListID]='AB-1',[UpdatedBy]='syncuser',"
            "[UpdatedDate]='03/16/2005 14:22:33' WHERE [QBListId] = 'AB-1'\r\n");
  EXPECT_EQ(uploads[0].QueryValue("options"), "C");
  const auto reports = StatusReports();
  ASSERT_EQ(reports.size(), 1u);
  EXPECT_EQ(reports[0].QueryValue("options"), "C");
  EXPECT_EQ(Module().varClassCount, 1);
  EXPECT_EQ(ctl->lngUploadResult, kvurSuccess);
  EXPECT_FALSE(ctl->fraProgress.Visible());
}

TEST_F(ClassConverterTest, ActiveClassIsTheIfInsertElseUpdateForm) {
  Module().sQBXMLResponse = Response({OverheadClass("true")});
  GetClassesFromQB(*ctl);

  const auto uploads = Uploads();
  ASSERT_EQ(uploads.size(), 1u);
  EXPECT_EQ(uploads[0].body,
            "IF (SELECT Count(ClassRowID) FROM [ClassInfo] WHERE [QBListID] = 'AB-1') <= 0\r\n"
            "\tINSERT INTO ClassInfo ([ClassRowID],[ClassID],[ClassName],[ClassCode],[ClassFullCode],[ClassFullName],"
            "[ClassFullRefID],[ParentFullRefID],[ParentFullName],[Status],[ParentRefID],[SubLevel],[QBEditSequence],"
            "[QBModifiedDate],[QBListID],[CreatedDate],[CreatedBy],[UpdatedBy],[UpdatedDate]) VALUES (9000000,'',"
            "'Overhead','','','Overhead','','','',-1,'',1,'7','3/16/2005 2:22:33 PM','AB-1','03/15/2005 09:00:00',"
            "'syncuser','syncuser','03/16/2005 14:22:33')\r\n"
            "Else\r\n"
            "\tUPDATE ClassInfo SET [ClassName]='Overhead',[ClassFullName]='Overhead',[SubLevel]=1,"
            "[QBEditSequence]='7',[QBModifiedDate]='3/16/2005 2:22:33 PM',[QBListID]='AB-1',[UpdatedBy]='syncuser',"
            "[UpdatedDate]='03/16/2005 14:22:33' WHERE [QBListId] = 'AB-1'\r\n");
  EXPECT_EQ(ClassColumns().size(), 19u);
}

TEST_F(ClassConverterTest, ThreeClassesSecondInactiveGiveOneUploadAndTheReport) {
  Record second = OverheadClass("false");
  second.Set("ListID", "AB-2");
  Record third = OverheadClass("1");
  third.Set("ListID", "AB-3");
  Module().sQBXMLResponse = Response({OverheadClass("true"), second, third});
  // Classes have no last-sync filter: a date after every record changes nothing.
  Module().ClassLastSyncDate = kv::DateTime::FromParts(2030, 1, 1);
  GetClassesFromQB(*ctl);

  const auto statements = AllStatements();
  ASSERT_EQ(statements.size(), 3u);
  EXPECT_TRUE(statements[0].has_insert);
  EXPECT_FALSE(statements[1].has_insert);
  EXPECT_TRUE(statements[2].has_insert);
  EXPECT_EQ(statements[0].InsertValue("[ClassRowID]"), Number("9000000"));
  EXPECT_EQ(statements[2].InsertValue("[ClassRowID]"), Number("9000002"));
  EXPECT_EQ(statements[1].where_list_id, Text("AB-2"));
  EXPECT_EQ(Uploads().size(), 1u);
  EXPECT_EQ(StatusReports().size(), 1u);
  EXPECT_EQ(ctl->lblProcess.Caption(), "Getting Classes from QB (3)");
  EXPECT_EQ(Module().varClassCount, 3);
  // Max is n - 1 and the last record's position is its value.
  EXPECT_EQ(ctl->ProgressBar1.Max(), 2);
  EXPECT_EQ(ctl->ProgressBar1.Value(), 2);
  EXPECT_EQ(ModuleRecordSets().ClassRecords[2].ListID(), "AB-2");
  EXPECT_FALSE(ModuleRecordSets().ClassRecords[2].Flag(7));
  EXPECT_TRUE(ModuleRecordSets().ClassRecords[3].Flag(7));
}

TEST_F(ClassConverterTest, WidthsQuotesSubLevelsAndLetterCase) {
  Record r = OverheadClass("True");                    // capital T is not active
  r.Set("Name", std::string(29, 'n') + "'x" + "tail")  // the apostrophe is the 30th character: kept, doubled
      .Set("FullName", std::string(200, 'f'))
      .Set("Sublevel", "2");
  ctl->KalvorUser = std::string(40, 'u');
  Module().sQBXMLResponse = Response({r});
  GetClassesFromQB(*ctl);

  const auto statements = AllStatements();
  ASSERT_EQ(statements.size(), 1u);
  const auto& s = statements[0];
  EXPECT_FALSE(s.has_insert);
  EXPECT_EQ(s.SetValue("[ClassName]"), Text(std::string(29, 'n') + "'x"));
  EXPECT_EQ(s.SetValue("[ClassFullName]"), Text(std::string(159, 'f')));
  EXPECT_EQ(s.SetValue("[Status]"), Number("0"));
  EXPECT_EQ(s.SetValue("[SubLevel]"), Number("3"));
  EXPECT_EQ(s.SetValue("[UpdatedBy]"), Text(std::string(40, 'u')));
  EXPECT_NE(Uploads()[0].body.find("[ClassName]='" + std::string(29, 'n') + "''x',"), std::string::npos);

  // The INSERT of an active class shows the 30-character cut of the creator.
  ResetModule();
  Module().sQBXMLResponse = Response({OverheadClass("true").Set("Name", "Bob's").Remove("Sublevel")});
  GetClassesFromQB(*ctl);
  const auto again = AllStatements();
  ASSERT_EQ(again.size(), 2u);
  EXPECT_EQ(again[1].InsertValue("[CreatedBy]"), Text(std::string(30, 'u')));
  EXPECT_EQ(again[1].InsertValue("[SubLevel]"), Number("1"));
  EXPECT_NE(Uploads()[1].body.find("'Bob''s'"), std::string::npos);
}

TEST_F(ClassConverterTest, MissingTimeStampsGiveTheZeroDateTexts) {
  Record r = OverheadClass("true");
  r.Remove("TimeCreated").Remove("TimeModified");
  Module().sQBXMLResponse = Response({r});
  GetClassesFromQB(*ctl);

  const auto statements = AllStatements();
  ASSERT_EQ(statements.size(), 1u);
  EXPECT_EQ(statements[0].InsertValue("[QBModifiedDate]"), Text("12:00:00 AM"));
  EXPECT_EQ(statements[0].InsertValue("[UpdatedDate]"), Text("12/30/1899 00:00:00"));
  EXPECT_EQ(statements[0].InsertValue("[CreatedDate]"), Text("12/30/1899 00:00:00"));
}

// A value that cannot be formed takes its column's own fallback, never the literal of the column before it.
TEST_F(ClassConverterTest, UnreadableStampsAndSubLevelsTakeTheirFallbacks) {
  Record r = OverheadClass("true");
  r.Set("TimeCreated", "2005-02-30T09:00:00")
      .Set("TimeModified", "16/03/2005 14:22:33")
      .Set("Sublevel", std::string(400, '9'));
  Module().sQBXMLResponse = Response({r});
  GetClassesFromQB(*ctl);

  const auto statements = AllStatements();
  ASSERT_EQ(statements.size(), 1u);
  const auto& s = statements[0];
  EXPECT_EQ(s.InsertValue("[CreatedDate]"), Text("12/30/1899 00:00:00"));
  EXPECT_EQ(s.InsertValue("[QBModifiedDate]"), Text("12:00:00 AM"));
  EXPECT_EQ(s.SetValue("[UpdatedDate]"), Text("12/30/1899 00:00:00"));
  EXPECT_EQ(s.SetValue("[SubLevel]"), Number("1"));
  EXPECT_EQ(s.SetValue("[QBEditSequence]"), Text("7"));
}

TEST_F(ClassConverterTest, ClassWithoutListIdIsSkippedButKeepsItsPosition) {
  Record missing = OverheadClass("true");
  missing.Remove("ListID");
  Record empty = OverheadClass("false");
  empty.Set("ListID", "");
  Record kept = OverheadClass("true");
  Module().sQBXMLResponse = Response({missing, empty, kept});
  GetClassesFromQB(*ctl);

  const auto statements = AllStatements();
  ASSERT_EQ(statements.size(), 1u);
  EXPECT_EQ(statements[0].InsertValue("[ClassRowID]"), Number("9000002"));
  EXPECT_EQ(Module().varClassCount, 1);
  EXPECT_EQ(ctl->lblProcess.Caption(), "Getting Classes from QB (1)");
}

TEST_F(ClassConverterTest, NoClassesEmptiesTheSetAndSendsNothing) {
  ModuleRecordSets().ClassRecords.Resize(4, "");
  Module().varClassCount = 7;
  Module().sQBXMLResponse = Response({});
  GetClassesFromQB(*ctl);

  EXPECT_FALSE(ModuleRecordSets().ClassRecords.HasArrays());
  EXPECT_EQ(service->ReceivedCount(), 0u);
  EXPECT_EQ(Module().varClassCount, 7);  // untouched: nothing ran
  EXPECT_FALSE(ctl->fraProgress.Visible());
  EXPECT_FALSE(Module().bSyncError);
}

}  // namespace
}  // namespace brintavel::testing
