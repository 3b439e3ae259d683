// The chart-of-accounts converter: each account's statement, the inactive flag between the balances, and which
// account types allow expenses.

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

Record Account(const std::string& list_id, const std::string& type) {
  Record r{"AccountRet", {}};
  r.Set("ListID", list_id)
      .Set("TimeCreated", "2005-03-15T09:00:00")
      .Set("TimeModified", "2005-03-16T14:22:33")
      .Set("EditSequence", "3")
      .Set("Name", "Travel")
      .Set("FullName", "Expenses:Travel")
      .Set("IsActive", "true")
      .Set("Sublevel", "1")
      .Set("AccountType", type)
      .Set("AccountNumber", "6100")
      .Set("Desc", "Trips")
      .Set("Balance", "-12.50")
      .Set("TotalBalance", "1500.25");
  return r;
}

std::vector<std::string> SetNames(const Statement& s) {
  std::vector<std::string> out;
  for (const auto& entry : s.set) out.push_back(entry.first);
  return out;
}

using AccountConverterTest = ConverterTest;

TEST_F(AccountConverterTest, ActiveAccountWholeStatement) {
  Module().sQBXMLResponse = Response({Account("80000001-1", "Expense")});
  GetGLAccountsFromQB(*ctl);
  const auto uploads = Uploads();
  ASSERT_EQ(uploads.size(), 1u);
  EXPECT_EQ(uploads[0].body,
            "IF (SELECT Count(AccRowID) FROM [GLChartOfAccounts] WHERE [QBListID] = '80000001-1') <= 0\r\n"
            "\tINSERT INTO GLChartOfAccounts ([AccRowID],[AccountNumber],[AccountName],[AssetType],[BalanceType],"
            "[Notes],[ReportLevel],[ReportingLevel],[AccountBalance],[InActiveYN],[BeginningBalance],"
            "[QBModifiedDate],[QBEditSequence],[QBListID],[Description],[CreatedBy],[CreatedDate],[UpdatedBy],"
            "[UpdatedDate],[ClassFullRefID],[AllowExpense],[InvoiceItemCode],[ShowQty],[DefaultRate],"
            "[LockDefaultRate],[DefaultBillRate],[LockDefaultBillRate],[MinQty],[MaxQty]) VALUES (9000000,'6100',"
            "'Expenses:Travel','Expense','','',0,1,1500.25,-1,-12.50,'3/16/2005 2:22:33 PM','3','80000001-1',"
            "'Trips','syncuser','03/15/2005 09:00:00','syncuser','03/16/2005 14:22:33','',-1,'',0,0,0,0,0,0,0)\r\n"
            "Else\r\n"
            "\tUPDATE GLChartOfAccounts SET [AccountNumber]='6100',[AccountName]='Expenses:Travel',"
            "[AssetType]='Expense',[ReportingLevel]=1,[AccountBalance]=1500.25,[BeginningBalance]=-12.50,"
            "[QBModifiedDate]='3/16/2005 2:22:33 PM',[QBEditSequence]='3',[QBListID]='80000001-1',"
            "[Description]='Trips',[UpdatedBy]='syncuser',[UpdatedDate]='03/16/2005 14:22:33' "
            "WHERE [QBListId] = '80000001-1'\r\n");
  EXPECT_EQ(uploads[0].QueryValue("options"), "G");
  EXPECT_EQ(StatusReports().size(), 1u);
  EXPECT_EQ(ModuleRecordSets().GLAccountRecords[1].Text(8), "Expense");
  EXPECT_EQ(GLAccountColumns().size(), 29u);
}

TEST_F(AccountConverterTest, InactiveAccountSetsInActiveYnBetweenTheBalances) {
  Record r = Account("A-1", "Bank");
  r.Set("IsActive", "True");
  Module().sQBXMLResponse = Response({r});
  GetGLAccountsFromQB(*ctl);
  const auto statements = AllStatements();
  ASSERT_EQ(statements.size(), 1u);
  EXPECT_FALSE(statements[0].has_insert);
  EXPECT_EQ(
      SetNames(statements[0]),
      (std::vector<std::string>{"[AccountNumber]", "[AccountName]", "[AssetType]", "[ReportingLevel]",
                                "[AccountBalance]", "[InActiveYN]", "[BeginningBalance]", "[QBModifiedDate]",
                                "[QBEditSequence]", "[QBListID]", "[Description]", "[UpdatedBy]", "[UpdatedDate]"}));
  EXPECT_EQ(statements[0].SetValue("[InActiveYN]"), Number("0"));
}

TEST_F(AccountConverterTest, OnlyTheTypeExpenseItselfAllowsExpenses) {
  Module().sQBXMLResponse =
      Response({Account("A-1", "Expense"), Account("A-2", "OtherExpense"), Account("A-3", "CostOfGoodsSold"),
                Account("A-4", "expense"), Account("A-5", "Expense").Remove("AccountType")});
  GetGLAccountsFromQB(*ctl);
  const auto statements = AllStatements();
  ASSERT_EQ(statements.size(), 5u);
  EXPECT_EQ(statements[0].InsertValue("[AllowExpense]"), Number("-1"));
  for (size_t i = 1; i < 5; ++i) EXPECT_EQ(statements[i].InsertValue("[AllowExpense]"), Number("0")) << i;
  EXPECT_EQ(statements[4].InsertValue("[AssetType]"), Text(""));
}

TEST_F(AccountConverterTest, WidthsAndMissingNumbers) {
  Record r = Account("A-1", std::string(40, 't'));
  r.Set("FullName", std::string(170, 'f')).Remove("Sublevel").Remove("TotalBalance").Remove("Balance");
  Module().sQBXMLResponse = Response({r});
  GetGLAccountsFromQB(*ctl);
  const auto statements = AllStatements();
  ASSERT_EQ(statements.size(), 1u);
  const Statement& s = statements[0];
  EXPECT_EQ(s.InsertValue("[AccountName]"), Text(std::string(159, 'f')));
  EXPECT_EQ(s.InsertValue("[AssetType]"), Text(std::string(30, 't')));
  EXPECT_EQ(s.InsertValue("[ReportingLevel]"), Number("1"));
  EXPECT_EQ(s.InsertValue("[AccountBalance]"), Number("0"));
  EXPECT_EQ(s.InsertValue("[BeginningBalance]"), Number("0"));
  // Member 8 keeps the whole type, as QuickBooks gave it.
  EXPECT_EQ(ModuleRecordSets().GLAccountRecords[1].Text(8), std::string(40, 't'));
}

TEST_F(AccountConverterTest, NumbersThatAreNotPlainDecimalsTakeTheMissingValue) {
  Record r = Account("A-1", "Bank");
  r.Set("Sublevel", "1; DELETE FROM GLChartOfAccounts").Set("TotalBalance", "").Set("Balance", "1,234.00");
  Module().sQBXMLResponse = Response({r});
  GetGLAccountsFromQB(*ctl);
  const auto statements = AllStatements();
  ASSERT_EQ(statements.size(), 1u);
  EXPECT_EQ(statements[0].SetValue("[ReportingLevel]"), Number("1"));
  EXPECT_EQ(statements[0].SetValue("[AccountBalance]"), Number("0"));
  EXPECT_EQ(statements[0].SetValue("[BeginningBalance]"), Number("0"));
}

TEST_F(AccountConverterTest, NoAccountsLeaveTheFailureCounterAlone) {
  ModuleRecordSets().GLAccountRecords.Resize(2, "");
  ctl->lngFailedGLCnt = 4;
  Module().sQBXMLResponse = Response({});
  GetGLAccountsFromQB(*ctl);
  EXPECT_EQ(ctl->lngFailedGLCnt, 4);
  EXPECT_FALSE(ModuleRecordSets().GLAccountRecords.HasArrays());
  EXPECT_EQ(service->ReceivedCount(), 0u);

  // With accounts it is reset after the other counters, and a clean run reports.
  Module().sQBXMLResponse = Response({Account("A-1", "Bank")});
  GetGLAccountsFromQB(*ctl);
  EXPECT_EQ(ctl->lngFailedGLCnt, 0);
  EXPECT_EQ(StatusReports().size(), 1u);
}

}  // namespace
}  // namespace brintavel::testing
