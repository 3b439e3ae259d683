// The customer converter: its statements byte for byte, the split by sub-level, the filter, the references and
// the record set it leaves.

#include <gtest/gtest.h>

#include "sync_control/converters/customer_list.h"
#include "sync_control/converters/record_sets.h"
#include "sync_control/module_state.h"
#include "tests/sync_control/converters_customers/customer_fixture.h"

namespace brintavel::testing {
namespace {

using kv::test_support::sql::Number;
using kv::test_support::sql::Text;

const std::string kCustomerColumnList =
    "[CustomerID],[CustID],[Customer],[CompanyName],[Salutation],[FirstName],[MI],[LastName],[Active],[SubLevel],"
    "[QBModifiedDate],[QBListID],[QBEditSequence],[CustomerGroup],[ContactName],[PhoneNumber],[PExtno],"
    "[AltPhoneNumber],[AltExtno],[FaxNumber],[Email],[WebSite],[Reference],[BSAManager],[SiteAddress1],"
    "[SiteAddress2],[SiteAddress3],[SiteAddress4],[SiteCity],[SiteState],[SiteZipCode],[SiteCountry],"
    "[BillAddress1],[BillAddress2],[BillAddress3],[BillAddress4],[BillCity],[BillState],[BillZipCode],"
    "[BillCountry],[BankName],[AccountNumber],[PaymentMode],[PaymentTerms],[CreditLimit],[CreditUsed],"
    "[AvgDaysToPay],[TaxID],[TaxGroup],[FederalID],[DBNumber],[CreditRating],[OverdueInvoices],[FinanceChargeYN],"
    "[MonthlyInterestRate],[DiscountPercentage],[GLAccount],[TimesheetFrequency],[LastDayOfWeek],"
    "[CombinedOrSeperate],[InvoicingTerms],[GroupingType],[Notes],[CreatedDate],[CreatedBy],[UpdatedDate],"
    "[UpdatedBy],[InvoiceDetailLevel],[InvoiceTemplate],[CombineProjects],[BwTsStDate],[ExpenseGrouping],"
    "[InvoiceTemplateID],[RatesheetHeaderID],[SalesRepID]";

// Every value of the O'Brien Supply example after its key.
std::string ObrienValues(const std::string& active) {
  return ",'','O''Brien Supply'," + Repeat("''", 5) + "," + active + ",0,'1/2/2011 10:30:00 AM','C1-A7','123','',''," +
         Repeat("''", 26) + ",'','',''," + Repeat("0", 3) + "," + Repeat("''", 5) + "," + Repeat("0", 4) + ",''," +
         Repeat("0", 5) + ",'','01/01/2011 10:00:00','syncuser','01/02/2011 10:30:00','syncuser'," + Repeat("0", 3) +
         ",''," + Repeat("0", 3) + ",''";
}

const std::string kObrienSetHead =
    "[Customer]='O''Brien Supply',[CompanyName]='',[Salutation]='',[FirstName]='',[MI]='',[LastName]=''";
const std::string kObrienSetTail =
    "[QBModifiedDate]='1/2/2011 10:30:00 AM',[QBListID]='C1-A7',[QBEditSequence]='123',[ContactName]='',"
    "[AccountNumber]='',[TaxID]='',[TaxGroup]='',[UpdatedDate]='01/02/2011 10:30:00',[UpdatedBy]='syncuser',"
    "[SalesRepID]=''";

using CustomerConverterTest = CustomerListTest;

TEST_F(CustomerConverterTest, ActiveCustomerGivesTheIfFormByteForByte) {
  Module().sQBXMLResponse = CustomerResponse({Customer("C1-A7", "O'Brien Supply")});
  GetCustomersFromQB(*ctl);

  const auto uploads = Uploads();
  ASSERT_EQ(uploads.size(), 1u);
  EXPECT_EQ(uploads[0].QueryValue("options"), "P");
  EXPECT_EQ(uploads[0].body,
            "IF (SELECT Count(CustomerID) FROM [Customers] WHERE [QBListID] = 'C1-A7') <= 0\r\n"
            "\tINSERT INTO Customers (" +
                kCustomerColumnList + ") VALUES (9000000" + ObrienValues("-1") +
                ")\r\n"
                "Else\r\n"
                "\tUPDATE Customers SET " +
                kObrienSetHead + "," + kObrienSetTail + " WHERE [QBListId] = 'C1-A7'\r\n");
  EXPECT_EQ(Module().varCustomerCount, 1);
  EXPECT_EQ(ctl->lblProcess.Caption(), "Getting Customers from QB (1)");
  EXPECT_FALSE(ctl->fraProgress.Visible());
  EXPECT_TRUE(StatusReports().empty());  // the job converter reports for both
}

TEST_F(CustomerConverterTest, InactiveCustomerGivesTheUpdateAloneWithActiveZero) {
  Record r = Customer("C1-A7", "O'Brien Supply");
  r.Set("IsActive", "false");
  Module().sQBXMLResponse = CustomerResponse({r});
  GetCustomersFromQB(*ctl);

  ASSERT_EQ(Uploads().size(), 1u);
  EXPECT_EQ(Uploads()[0].body, "UPDATE Customers SET " + kObrienSetHead + ",[Active]=0," + kObrienSetTail +
                                   " WHERE [QBListId] = 'C1-A7'\r\n");
}

TEST_F(CustomerConverterTest, MissingIsActiveCountsAsInactive) {
  Record r = Customer("C1", "Plain");
  r.Remove("IsActive");
  Module().sQBXMLResponse = CustomerResponse({r});
  GetCustomersFromQB(*ctl);
  const auto statements = AllStatements();
  ASSERT_EQ(statements.size(), 1u);
  EXPECT_FALSE(statements[0].has_insert);
  EXPECT_EQ(statements[0].SetValue("[Active]"), Number("0"));
  EXPECT_EQ(statements[0].set.size(), 17u);
}

TEST_F(CustomerConverterTest, JobsAreLeftOutButKeepTheirPositions) {
  Module().sQBXMLResponse =
      CustomerResponse({Customer("A", "Alpha"), Job("A-J", "Job", 1, "A"), Customer("B", "Beta")});
  GetCustomersFromQB(*ctl);

  const auto statements = AllStatements();
  ASSERT_EQ(statements.size(), 2u);
  EXPECT_EQ(statements[0].InsertValue("[CustomerID]"), Number("9000000"));
  EXPECT_EQ(statements[1].InsertValue("[CustomerID]"), Number("9000002"));
  EXPECT_EQ(statements[1].InsertValue("[Customer]"), Text("Beta"));

  RecordSet& set = ModuleRecordSets().CustomerRecords;
  ASSERT_EQ(set.UpperBound(), 3);
  EXPECT_EQ(set[1].Text(1), "A");
  EXPECT_EQ(set[2].Text(1), "");  // the job's element stays at its defaults
  EXPECT_TRUE(set[2].TimeModified().IsZero());
  EXPECT_FALSE(set[2].Flag(7));
  EXPECT_EQ(set[2].Int32(8), 0);
  EXPECT_EQ(set[3].Text(1), "B");
  EXPECT_EQ(set[3].Text(6), "Beta");
}

TEST_F(CustomerConverterTest, MissingOrUnreadableSublevelIsACustomer) {
  Record none = Customer("N", "No level");
  none.Remove("Sublevel");
  Record garbage = Customer("G", "Garbage level");
  garbage.Set("Sublevel", "1; DROP TABLE x");
  // A job right before each: its level must not carry over.
  RunBoth({Job("J1", "J1", 1, "X"), none, Job("J2", "J2", 2, "X"), garbage});

  const auto customers = StatementsFor("Customers");
  ASSERT_EQ(customers.size(), 2u);
  EXPECT_EQ(customers[0].where_list_id, Text("N"));
  EXPECT_EQ(customers[1].where_list_id, Text("G"));
  const auto jobs = StatementsFor("CustProjInfo");
  ASSERT_EQ(jobs.size(), 2u);
  EXPECT_EQ(jobs[0].where_list_id, Text("J1"));
  EXPECT_EQ(jobs[1].where_list_id, Text("J2"));
}

TEST_F(CustomerConverterTest, LastSyncFilterToTheSecond) {
  Record old = Customer("OLD", "Old");
  Unchanged(old);
  Record exact = Customer("EXACT", "Exact");
  exact.Set("TimeCreated", kUnchanged).Set("TimeModified", "2011-01-02T00:00:00");
  Record before = Customer("BEFORE", "Before");
  before.Set("TimeCreated", kUnchanged).Set("TimeModified", "2011-01-01T23:59:59");
  Module().sQBXMLResponse = CustomerResponse({old, exact, before});
  GetCustomersFromQB(*ctl);

  const auto statements = AllStatements();
  ASSERT_EQ(statements.size(), 1u);
  EXPECT_EQ(statements[0].InsertValue("[CustomerID]"), Number("9000001"));
  EXPECT_EQ(ModuleRecordSets().CustomerRecords[1].Text(1), "");  // filtered out before its columns
}

TEST_F(CustomerConverterTest, ReferencesGoToTheirColumnsAndMembers) {
  Record r = Customer("C", "Refs");
  r.Set("SalesTaxCodeRef/ListID", "T1").Set("SalesTaxCodeRef/FullName", "Tax'able code name longer than 31 chars");
  r.Set("ItemSalesTaxRef/ListID", "I1").Set("ItemSalesTaxRef/FullName", "County");
  r.Set("SalesRepRef/ListID", "R'1-" + std::string(30, '9')).Set("SalesRepRef/FullName", "Rep");
  r.Set("AltContact", "Alt").Set("AccountNumber", "ACC-9");
  Record bare = Customer("D", "Bare");
  Module().sQBXMLResponse = CustomerResponse({r, bare});
  GetCustomersFromQB(*ctl);

  const auto statements = AllStatements();
  ASSERT_EQ(statements.size(), 2u);
  EXPECT_EQ(statements[0].SetValue("[TaxID]"), Text("Tax'able code name longer than "));
  EXPECT_EQ(statements[0].SetValue("[TaxGroup]"), Text("County"));
  // Cut to 24 first, then the apostrophe doubled, so the literal stays one literal.
  EXPECT_EQ(statements[0].SetValue("[SalesRepID]"), Text("R'1-" + std::string(20, '9')));
  EXPECT_EQ(statements[0].SetValue("[AccountNumber]"), Text("ACC-9"));
  for (const char* column : {"[TaxID]", "[TaxGroup]", "[SalesRepID]"}) {
    EXPECT_EQ(statements[1].SetValue(column), Text("")) << column;
  }

  const RecordRow& row = ModuleRecordSets().CustomerRecords[1];
  EXPECT_EQ(row.Text(37), "R'1-" + std::string(30, '9'));  // kept whole and unescaped
  EXPECT_EQ(row.Text(38), "Rep");
  EXPECT_EQ(row.Text(39), "T1");
  EXPECT_EQ(row.Text(40), "Tax'able code name longer than 31 chars");
  EXPECT_EQ(row.Text(41), "I1");
  EXPECT_EQ(row.Text(42), "County");
  EXPECT_EQ(row.Text(19), "Alt");
  EXPECT_EQ(row.Text(4), "123");
  EXPECT_EQ(ModuleRecordSets().CustomerRecords[2].Text(37), "");
}

TEST_F(CustomerConverterTest, UserNameAtAnyLengthAndARecordWithoutListIdSkipped) {
  ctl->KalvorUser = "O'" + std::string(80, 'u');
  Record nolist = Customer("", "No id");
  nolist.Remove("ListID");
  Module().sQBXMLResponse = CustomerResponse({nolist, Customer("C", "With id")});
  GetCustomersFromQB(*ctl);

  const auto statements = AllStatements();
  ASSERT_EQ(statements.size(), 1u);
  EXPECT_EQ(statements[0].InsertValue("[CustomerID]"), Number("9000001"));
  EXPECT_EQ(statements[0].InsertValue("[CreatedBy]"), Text(ctl->KalvorUser));
  EXPECT_EQ(statements[0].SetValue("[UpdatedBy]"), Text(ctl->KalvorUser));
  EXPECT_EQ(Module().varCustomerCount, 1);
}

TEST_F(CustomerConverterTest, TwoHundredFiftyGoInBatchesOfOneHundred) {
  std::vector<Record> records;
  for (int i = 0; i < 250; ++i) records.push_back(Customer("C-" + std::to_string(i), "Customer"));
  Module().sQBXMLResponse = CustomerResponse(records);
  GetCustomersFromQB(*ctl);

  const auto uploads = Uploads();
  ASSERT_EQ(uploads.size(), 3u);
  const size_t sizes[] = {100, 100, 50};
  for (size_t i = 0; i < 3; ++i) {
    EXPECT_EQ(kv::test_support::sql::ParseScript(uploads[i].body).size(), sizes[i]);
    EXPECT_EQ(uploads[i].QueryValue("options"), "P");
  }
  EXPECT_EQ(ctl->lblProcess.Caption(), "Getting Customers from QB (250)");
  EXPECT_EQ(ctl->ProgressBar1.Max(), 249);
  EXPECT_EQ(ModuleRecordSets().CustomerRecords.UpperBound(), 250);  // kept by the Preserve resize
  EXPECT_EQ(ModuleRecordSets().CustomerRecords[250].Text(1), "C-249");
}

TEST_F(CustomerConverterTest, DebugModeContinueCountsEachFailure) {
  ctl->DebugMode = true;
  ctl->optContinue.SetValue(true);
  service->QueueAnswers("brintavel.asp", {"Bad", "SUCCESS", "No data to upload. ", "Bad"});
  Module().sQBXMLResponse =
      CustomerResponse({Customer("A", "A"), Customer("B", "B"), Customer("C", "C"), Customer("D", "D")});
  GetCustomersFromQB(*ctl);
  EXPECT_EQ(Uploads().size(), 4u);
  EXPECT_EQ(ctl->lngFailedCustCnt, 3);
  EXPECT_FALSE(ctl->bAbortSync);
  EXPECT_EQ(Module().varCustomerCount, 4);
}

TEST_F(CustomerConverterTest, FailedUploadStopsWithTheFrameShownAndTheSetKept) {
  service->SetAnswer("brintavel.asp", "Database is busy");
  Module().sQBXMLResponse = CustomerResponse({Customer("A", "A")});
  GetCustomersFromQB(*ctl);
  EXPECT_TRUE(ctl->bAbortSync);
  EXPECT_TRUE(ctl->fraProgress.Visible());
  EXPECT_EQ(ModuleRecordSets().CustomerRecords[1].Text(1), "A");
}

TEST_F(CustomerConverterTest, UnreadableOrEmptyResponseEmptiesTheSet) {
  Module().sQBXMLResponse = CustomerResponse({Customer("A", "A")});
  GetCustomersFromQB(*ctl);
  ASSERT_TRUE(ModuleRecordSets().CustomerRecords.HasArrays());

  Module().sQBXMLResponse = "<QBXML><CustomerRet>";
  ctl->lngFailedCustCnt = 5;
  GetCustomersFromQB(*ctl);
  EXPECT_TRUE(Module().bSyncError);
  EXPECT_FALSE(Module().sSyncErrorText.empty());
  EXPECT_EQ(ctl->lngFailedCustCnt, 0);
  EXPECT_FALSE(ModuleRecordSets().CustomerRecords.HasArrays());

  Module().bSyncError = false;
  Module().sQBXMLResponse = CustomerResponse({Customer("A", "A")});
  GetCustomersFromQB(*ctl);
  const size_t uploads = Uploads().size();
  Module().sQBXMLResponse = CustomerResponse({});
  GetCustomersFromQB(*ctl);
  EXPECT_FALSE(Module().bSyncError);
  EXPECT_FALSE(ModuleRecordSets().CustomerRecords.HasArrays());
  EXPECT_EQ(Uploads().size(), uploads);
  EXPECT_EQ(Module().varCustomerCount, 1);  // kept from the run before
}

}  // namespace
}  // namespace brintavel::testing
