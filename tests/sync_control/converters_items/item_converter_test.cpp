// The item converter: service, non-inventory, other-charge and payroll-wage items in their active and inactive
// forms, with the constants each kind carries.

#include <gtest/gtest.h>

#include "sync_control/converters/item_converter.h"
#include "sync_control/converters/list_converter.h"
#include "sync_control/converters/record_sets.h"
#include "sync_control/module_state.h"
#include "tests/sync_control/converters_items/item_records.h"

namespace brintavel::testing {
namespace {

using kv::test_support::sql::Number;
using kv::test_support::sql::Statement;
using kv::test_support::sql::Text;

constexpr std::string_view kInsertColumns =
    "[TaskID],[Name],[Description],[IsActive],[TaskType],[GLAccount],[Billable],[BillRate],[Taxable],[TaxRate],"
    "[DiscountPercentage],[SortOrder],[QBListID],[QBEditSequence],[QBModifiedDate],[CreatedBy],[CreatedDate],"
    "[UpdatedBy],[UpdatedDate],[TaskGroup],[SubLevel],[QBFullName],[ClassFullRefID],[BillAccount],[AllowExpense],"
    "[PurchaseDescription],[IsExpenseAccountAnItem],[BillingArrangement]";

class ItemConverterTest : public ConverterTest {
 protected:
  void SetUp() override {
    ConverterTest::SetUp();
    Module().TasksLastSyncDate = kv::DateTime::FromParts(2000, 1, 1, 1, 1, 1);
    ctl->SILexicon = "Service Item";
  }

  void Run(const std::vector<Record>& records) {
    Module().sQBXMLResponse = ItemResponse(records);
    GetTasksFromQB(*ctl);
  }

  std::vector<size_t> StatementsPerUpload() const {
    std::vector<size_t> out;
    for (const auto& upload : Uploads()) {
      EXPECT_EQ(upload.QueryValue("options"), "T");
      out.push_back(kv::test_support::sql::ParseScript(upload.body).size());
    }
    return out;
  }

  // [TaskID] and [TaskType] of every statement, as "id/type" (the statements must all be inserts).
  std::vector<std::string> IdsAndTypes() const {
    std::vector<std::string> out;
    for (const Statement& s : AllStatements()) {
      out.push_back(s.InsertValue("[TaskID]").text + "/" + s.InsertValue("[TaskType]").text);
    }
    return out;
  }
};

TEST_F(ItemConverterTest, ActiveServiceItemIsTheIfInsertElseUpdateForm) {
  Run({ServiceItem("80000001-1")});

  const auto uploads = Uploads();
  ASSERT_EQ(uploads.size(), 1u);
  EXPECT_EQ(uploads[0].body,
            "IF (SELECT Count(TaskID) FROM [TaskInfo] WHERE [QBListID] = '80000001-1') <= 0\r\n"
            "\tINSERT INTO TaskInfo (" +
                std::string(kInsertColumns) +
                ") VALUES (9000000,'Design','Design work',-1,1,'Consulting Income',-1,85.5,0,0,0,0,'80000001-1',"
                "'7','3/16/2005 2:22:33 PM','syncuser','03/15/2005 09:00:00','syncuser','03/16/2005 14:22:33','',0,"
                "'Design','','',0,'',0,0)\r\n"
                "Else\r\n"
                "\tUPDATE TaskInfo SET [Name]='Design',[Description]='Design work',[GLAccount]='Consulting Income',"
                "[BillRate]=85.5,[Taxable]=0,[QBListID]='80000001-1',[QBEditSequence]='7',"
                "[QBModifiedDate]='3/16/2005 2:22:33 PM',[UpdatedBy]='syncuser',[UpdatedDate]='03/16/2005 14:22:33',"
                "[SubLevel]=0,[QBFullName]='Design' WHERE [QBListId] = '80000001-1'\r\n");
  EXPECT_EQ(uploads[0].QueryValue("options"), "T");
  const auto reports = StatusReports();
  ASSERT_EQ(reports.size(), 1u);
  EXPECT_EQ(reports[0].QueryValue("options"), "T");
  EXPECT_EQ(Module().varTaskCount, 1);
  EXPECT_EQ(ctl->lblProcess.Caption(), "Getting Service Items from QB (1)");
  EXPECT_EQ(ctl->ProgressBar1.Max(), 1);
  EXPECT_FALSE(ctl->fraProgress.Visible());
}

TEST_F(ItemConverterTest, InactiveItemsOfEachKindAreTheUpdateAlone) {
  Record service = ServiceItem("S-1");
  service.Set("IsActive", "True");  // only "1" and "true" are active
  Record non_inventory = SalesItem("ItemNonInventoryRet", "N-1", "Paper");
  non_inventory.Remove("IsActive");
  Record payroll = PayrollItem("W-1", "Regular Pay", "Hourly");
  payroll.Set("IsActive", "0");
  Run({service, non_inventory, payroll});

  const auto uploads = Uploads();
  ASSERT_EQ(uploads.size(), 3u);
  EXPECT_EQ(uploads[0].body,
            "UPDATE TaskInfo SET [Name]='Design',[Description]='Design work',[IsActive]=0,"
            "[GLAccount]='Consulting Income',[BillRate]=85.5,[Taxable]=0,[QBListID]='S-1',[QBEditSequence]='7',"
            "[QBModifiedDate]='3/16/2005 2:22:33 PM',[UpdatedBy]='syncuser',[UpdatedDate]='03/16/2005 14:22:33',"
            "[SubLevel]=0,[QBFullName]='Design' WHERE [QBListId] = 'S-1'\r\n");
  // Non-inventory and other-charge updates also set [Billable].
  EXPECT_EQ(uploads[1].body,
            "UPDATE TaskInfo SET [Name]='Paper',[Description]='Design work',[IsActive]=0,"
            "[GLAccount]='Consulting Income',[Billable]=-1,[BillRate]=85.5,[Taxable]=0,[QBListID]='N-1',"
            "[QBEditSequence]='7',[QBModifiedDate]='3/16/2005 2:22:33 PM',[UpdatedBy]='syncuser',"
            "[UpdatedDate]='03/16/2005 14:22:33',[SubLevel]=0,[QBFullName]='Paper' WHERE [QBListId] = 'N-1'\r\n");
  // A payroll update leaves the constant columns of an existing row alone.
  EXPECT_EQ(uploads[2].body,
            "UPDATE TaskInfo SET [Name]='Regular Pay',[Description]='Hourly',[IsActive]=0,[QBListID]='W-1',"
            "[QBEditSequence]='3',[QBModifiedDate]='1/3/2006 5:45:10 PM',[UpdatedBy]='syncuser',"
            "[UpdatedDate]='01/03/2006 17:45:10',[QBFullName]='Regular Pay' WHERE [QBListId] = 'W-1'\r\n");
  EXPECT_EQ(Module().varTaskCount, 3);
}

TEST_F(ItemConverterTest, ActivePayrollItemCarriesItsConstants) {
  Run({PayrollItem("W-1", "O'Brien Salary", "Salary")});
  const auto statements = AllStatements();
  ASSERT_EQ(statements.size(), 1u);
  const Statement& s = statements[0];
  EXPECT_EQ(s.InsertValue("[TaskID]"), Number("9000001"));  // 9000001 + S + N + O
  EXPECT_EQ(s.InsertValue("[Name]"), Text("O'Brien Salary"));
  EXPECT_EQ(s.InsertValue("[QBFullName]"), Text("O'Brien Salary"));
  EXPECT_EQ(s.InsertValue("[Description]"), Text("Salary"));
  EXPECT_EQ(s.InsertValue("[TaskType]"), Number("5"));
  EXPECT_EQ(s.InsertValue("[GLAccount]"), Text(""));
  EXPECT_EQ(s.InsertValue("[Billable]"), Number("0"));
  EXPECT_EQ(s.InsertValue("[BillRate]"), Number("0"));
  EXPECT_EQ(s.InsertValue("[SubLevel]"), Number("1"));
  EXPECT_EQ(s.SetValue("[UpdatedDate]"), Text("01/03/2006 17:45:10"));
  EXPECT_EQ(s.SetValue("[QBModifiedDate]"), Text("1/3/2006 5:45:10 PM"));
  for (const char* column : {"[GLAccount]", "[Billable]", "[BillRate]", "[Taxable]", "[SubLevel]", "[IsActive]"}) {
    EXPECT_FALSE(s.InSet(column)) << column;
  }
  EXPECT_EQ(ctl->lblProcess.Caption(), "Getting Payroll Items from QB (1)");
}

// 3 service, 2 non-inventory, 1 other-charge and 1 payroll wage item: 9000005 goes to nobody.
TEST_F(ItemConverterTest, OneNumberingOverTheFourKinds) {
  Run(Concat(Items("ItemServiceRet", "S", 3), Items("ItemNonInventoryRet", "N", 2), Items("ItemOtherChargeRet", "O", 1),
             Items("PayrollItemWageRet", "W", 1)));
  EXPECT_EQ(IdsAndTypes(), (std::vector<std::string>{"9000000/1", "9000001/1", "9000002/1", "9000003/3", "9000004/3",
                                                     "9000006/4", "9000007/5"}));
  // Each kind's remainder goes before the next kind starts.
  EXPECT_EQ(StatementsPerUpload(), (std::vector<size_t>{3, 2, 1, 1}));
  EXPECT_EQ(Module().varTaskCount, 7);
  EXPECT_EQ(StatusReports().size(), 1u);
  EXPECT_EQ(ctl->lngFailedItemCnt, 0);
}

TEST_F(ItemConverterTest, EmptyKindsTakeNoNumbersAndShowNothing) {
  ctl->lblProcess.SetCaption("before");
  Run(Concat(Items("ItemNonInventoryRet", "N", 2), Items("PayrollItemWageRet", "W", 1)));
  EXPECT_EQ(IdsAndTypes(), (std::vector<std::string>{"9000000/3", "9000001/3", "9000003/5"}));
  EXPECT_FALSE(ModuleRecordSets().ServiceItemRecords.HasArrays());
  EXPECT_FALSE(ModuleRecordSets().OtherChargeItemRecords.HasArrays());
  EXPECT_EQ(ModuleRecordSets().NonInventoryItemRecords.UpperBound(), 2);

  // Only service items: the report still follows.
  TearDown();
  SetUp();
  Run(Items("ItemServiceRet", "S", 2));
  EXPECT_EQ(Module().varTaskCount, 2);
  EXPECT_EQ(StatusReports().size(), 1u);
  EXPECT_FALSE(ModuleRecordSets().PayrollItemRecords.HasArrays());

  // Nothing at all: no upload, no report.
  TearDown();
  SetUp();
  Module().varTaskCount = 5;  // a count left from an earlier run does not leak into the numbering
  Run({});
  EXPECT_EQ(service->ReceivedCount(), 0u);
  EXPECT_EQ(Module().varTaskCount, 0);
  EXPECT_FALSE(ctl->fraProgress.Visible());
}

TEST_F(ItemConverterTest, FiltersSkipWithoutUsingANumber) {
  Module().TasksLastSyncDate = kv::DateTime::FromParts(2006, 1, 3, 17, 45, 10);
  Record created_at_sync = PayrollItem("W-0", "At sync", "SALARY monthly");
  created_at_sync.Set("TimeCreated", "2006-01-03T17:45:10").Set("TimeModified", "2006-01-03T17:45:09");
  Record second_before = PayrollItem("W-1", "Before", "Hourly");
  second_before.Set("TimeCreated", "2006-01-03T17:45:09").Set("TimeModified", "2006-01-03T17:45:09");
  Record no_list_id = PayrollItem("", "No id", "Hourly");
  no_list_id.Remove("ListID");
  Record no_wage_type = PayrollItem("W-2", "Bonus", "");
  no_wage_type.Remove("WageType");
  std::vector<Record> records = {created_at_sync, second_before, no_list_id, no_wage_type};
  for (const char* wage_type : {"hOuRlY overtime", "Commission", "Sal", "SALAR", "Salaried", "salary"}) {
    records.push_back(PayrollItem(std::string("W-") + wage_type, wage_type, wage_type));
  }
  Run(records);

  const auto statements = AllStatements();
  ASSERT_EQ(statements.size(), 4u);
  EXPECT_EQ(statements[0].InsertValue("[Name]"), Text("At sync"));
  EXPECT_EQ(statements[1].InsertValue("[Name]"), Text("Bonus"));
  EXPECT_EQ(statements[1].InsertValue("[Description]"), Text(""));
  EXPECT_EQ(statements[2].InsertValue("[Description]"), Text("hOuRlY overtime"));
  EXPECT_EQ(statements[3].InsertValue("[Description]"), Text("salary"));
  EXPECT_EQ(IdsAndTypes(), (std::vector<std::string>{"9000001/5", "9000002/5", "9000003/5", "9000004/5"}));
}

TEST_F(ItemConverterTest, DescriptionRateAccountAndTaxable) {
  ctl->lblProcess.SetCaption("");
  auto item = [](const std::string& id) { return SalesItem("ItemOtherChargeRet", id, "Freight"); };
  Record blank_desc = item("O-0");
  blank_desc.Set("SalesOrPurchase/Desc", "   ").Set("SalesTaxCodeRef/FullName", "Tax");
  Record percent = item("O-1");
  percent.Remove("SalesOrPurchase/Price").Set("SalesOrPurchase/PricePercent", "12.5");
  percent.Set("SalesTaxCodeRef/FullName", "tax");  // letter case counts
  Record neither = item("O-2");
  neither.Remove("SalesOrPurchase/Price").Remove("SalesOrPurchase/AccountRef/FullName");
  neither.Set("SalesTaxCodeRef/FullName", "Non");
  Record both = item("O-3");
  both.Set("SalesOrPurchase/PricePercent", "12.5").Set("SalesOrPurchase/Price", "1234567.25");
  Record sales_and_purchase{"ItemOtherChargeRet", {}};
  for (const auto& child : item("O-4").children) {
    if (!child.first.starts_with("SalesOrPurchase")) sales_and_purchase.children.push_back(child);
  }
  sales_and_purchase.Set("SalesAndPurchase/SalesDesc", " Shipping ")
      .Set("SalesAndPurchase/SalesPrice", "12,5")  // not a number: the rate stays 0
      .Set("SalesAndPurchase/IncomeAccountRef/FullName", "Freight Income");
  Record bare = item("O-5");
  // A SalesOrPurchase part with nothing but an account reference that has no name.
  bare.Remove("SalesOrPurchase/Desc")
      .Remove("SalesOrPurchase/Price")
      .Remove("SalesOrPurchase/AccountRef/FullName")
      .Set("SalesAndPurchase/SalesPrice", "3");
  bare.Remove("Sublevel");
  Record sublevels[] = {item("O-6"), item("O-7")};
  sublevels[0].Set("Sublevel", "2");
  sublevels[1].Set("Sublevel", "1); DROP TABLE TaskInfo; --");
  Record old = item("O-8");
  old.Set("TimeCreated", "1999-01-01T00:00:00").Set("TimeModified", "1999-01-01T00:00:00");
  Run({blank_desc, percent, neither, both, sales_and_purchase, bare, sublevels[0], sublevels[1], old,
       SalesTaxCode("Tax", "true"), SalesTaxCode("Tax", "false"), SalesTaxCode("Non", "True")});

  const auto s = AllStatements();
  ASSERT_EQ(s.size(), 8u);
  EXPECT_EQ(s[0].InsertValue("[Description]"), Text("Freight"));
  EXPECT_EQ(s[0].InsertValue("[Taxable]"), Number("-1"));  // the first record of a name decides
  EXPECT_EQ(s[0].InsertValue("[BillRate]"), Number("85.5"));
  EXPECT_EQ(s[1].InsertValue("[BillRate]"), Number("12.5"));
  EXPECT_EQ(s[1].InsertValue("[Taxable]"), Number("0"));
  EXPECT_EQ(s[2].InsertValue("[BillRate]"), Number("0"));
  EXPECT_EQ(s[2].InsertValue("[GLAccount]"), Text(""));
  EXPECT_EQ(s[2].InsertValue("[Taxable]"), Number("0"));  // "True" is not "true"
  EXPECT_EQ(s[3].InsertValue("[BillRate]"), Number("1234567.25"));
  EXPECT_EQ(s[4].InsertValue("[Description]"), Text(" Shipping "));
  EXPECT_EQ(s[4].InsertValue("[BillRate]"), Number("0"));
  EXPECT_EQ(s[4].InsertValue("[GLAccount]"), Text("Freight Income"));
  // With a SalesOrPurchase part, SalesAndPurchase is not read.
  EXPECT_EQ(s[5].InsertValue("[Description]"), Text("Freight"));
  EXPECT_EQ(s[5].InsertValue("[BillRate]"), Number("0"));
  EXPECT_EQ(s[5].InsertValue("[SubLevel]"), Number("1"));
  EXPECT_EQ(s[6].InsertValue("[SubLevel]"), Number("2"));
  EXPECT_EQ(s[7].InsertValue("[SubLevel]"), Number("1"));
  EXPECT_EQ(s[0].InsertValue("[TaskID]"), Number("9000001"));
  EXPECT_EQ(s[7].InsertValue("[TaskID]"), Number("9000008"));
  EXPECT_EQ(ModuleRecordSets().OtherChargeItemRecords[7].Int16(kItemSubLevel), 2);
  EXPECT_EQ(ctl->lblProcess.Caption(), "Getting Other charge items from QB (8)");
  EXPECT_EQ(ctl->ProgressBar1.Max(), 8);
  EXPECT_EQ(ctl->ProgressBar1.Value(), 8);
}

TEST_F(ItemConverterTest, WidthsAndApostrophes) {
  const std::string long_name = std::string(157, 'n') + "'s" + std::string(141, 'm');  // 300 characters
  Record item = ServiceItem("80'01", long_name);
  item.Set("SalesOrPurchase/Desc", std::string(40000, 'd') + "'");
  ctl->KalvorUser = "o'neil";
  Run({item});
  const auto s = AllStatements();
  ASSERT_EQ(s.size(), 1u);
  EXPECT_EQ(s[0].InsertValue("[Name]"), Text(long_name.substr(0, 159)));
  EXPECT_EQ(s[0].InsertValue("[QBFullName]"), Text(long_name.substr(0, 250)));
  EXPECT_EQ(s[0].InsertValue("[Description]"), Text(std::string(40000, 'd') + "'"));
  EXPECT_EQ(s[0].InsertValue("[QBListID]"), Text("80'01"));
  EXPECT_EQ(s[0].if_list_id, Text("80'01"));
  EXPECT_EQ(s[0].where_list_id, Text("80'01"));
  EXPECT_EQ(s[0].InsertValue("[CreatedBy]"), Text("o'neil"));
  EXPECT_EQ(s[0].SetValue("[UpdatedBy]"), Text("o'neil"));
}

TEST_F(ItemConverterTest, BatchesOfAHundredAndThePayrollKindsSingleUpload) {
  Run(Concat(Items("ItemServiceRet", "S", 250), Items("ItemNonInventoryRet", "N", 100),
             Items("ItemOtherChargeRet", "O", 30), Items("PayrollItemWageRet", "W", 150)));
  EXPECT_EQ(StatementsPerUpload(), (std::vector<size_t>{100, 100, 50, 100, 30, 150}));
  EXPECT_EQ(Module().varTaskCount, 530);
  const auto ids = IdsAndTypes();
  EXPECT_EQ(ids[380], "9000381/5");  // 9000001 + 250 + 100 + 30
  EXPECT_EQ(StatusReports().size(), 1u);
  EXPECT_EQ(ctl->lngBatchCount, 0);
}

TEST_F(ItemConverterTest, NoDataToUploadGoesOnAFailedBatchEndsTheRun) {
  service->QueueAnswers("brintavel.asp", {"No data to upload. ", "SUCCESS", "Database is busy"});
  Run(Concat(Items("ItemServiceRet", "S", 1), Items("ItemNonInventoryRet", "N", 1), Items("ItemOtherChargeRet", "O", 3),
             Items("PayrollItemWageRet", "W", 1)));
  EXPECT_EQ(Uploads().size(), 3u);
  EXPECT_TRUE(ctl->bAbortSync);
  EXPECT_EQ(ctl->lngUploadResult, kvurAspFailed);
  EXPECT_TRUE(StatusReports().empty());
  EXPECT_TRUE(ctl->fraProgress.Visible());
  EXPECT_EQ(ctl->lblProcess.Caption(), "Getting Other charge items from QB (3)");
  EXPECT_FALSE(ModuleRecordSets().PayrollItemRecords.HasArrays());  // the payroll kind never ran
}

TEST_F(ItemConverterTest, DebugModeUploadsEachStatementAndCountsFailures) {
  ctl->DebugMode = true;
  ctl->optContinue.SetValue(true);
  service->QueueAnswers("brintavel.asp", {"SUCCESS", "No data to upload. ", "SUCCESS", "SUCCESS"});
  Run(Concat(Items("ItemServiceRet", "S", 2), Items("PayrollItemWageRet", "W", 2)));
  EXPECT_EQ(StatementsPerUpload(), (std::vector<size_t>{1, 1, 1, 1}));
  EXPECT_EQ(ctl->lngFailedItemCnt, 1);
  EXPECT_FALSE(ctl->bAbortSync);
  EXPECT_TRUE(StatusReports().empty());
  EXPECT_EQ(Module().varTaskCount, 4);

  TearDown();
  SetUp();
  ctl->DebugMode = true;
  ctl->optStop.SetValue(true);
  service->QueueAnswers("brintavel.asp", {"SUCCESS", "Bad statement"});
  Run(Concat(Items("ItemServiceRet", "S", 1), Items("ItemNonInventoryRet", "N", 3)));
  EXPECT_EQ(Uploads().size(), 2u);
  EXPECT_EQ(ctl->lngFailedItemCnt, 1);
  EXPECT_TRUE(ctl->bAbortSync);
  EXPECT_EQ(ctl->lblProcess.Caption(), "Getting Non-inventory items from QB (1)");
}

TEST_F(ItemConverterTest, ResponseThatDoesNotParse) {
  ctl->lngFailedItemCnt = 4;
  Module().sQBXMLResponse = "<QBXML><ItemServiceRet></QBXML>";
  GetTasksFromQB(*ctl);
  EXPECT_TRUE(Module().bSyncError);
  EXPECT_TRUE(Module().sSyncErrorText.starts_with(kResponseUnreadablePrefix)) << Module().sSyncErrorText;
  EXPECT_GT(Module().sSyncErrorText.size(), kResponseUnreadablePrefix.size());
  EXPECT_EQ(ctl->lngFailedItemCnt, 0);
  EXPECT_FALSE(ctl->fraProgress.Visible());
  EXPECT_EQ(service->ReceivedCount(), 0u);
}

}  // namespace
}  // namespace brintavel::testing
