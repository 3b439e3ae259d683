// The vendor converter on the shared template: the Vendors statement of active and inactive vendors, the filter,
// widths, hostile texts and batching, read back from what the service stand-in received.

#include <gtest/gtest.h>

#include "platform/base/text.h"
#include "sync_control/converters/record_sets.h"
#include "sync_control/converters/transaction_converters.h"
#include "sync_control/module_state.h"
#include "tests/sync_control/converters_transactions/transaction_fixture.h"

namespace brintavel::testing {
namespace {

using kv::test_support::sql::Number;
using kv::test_support::sql::Text;

Record Vendor(int i, const std::string& is_active = "true") {
  Record r{"VendorRet", {}};
  const std::string n = std::to_string(i);
  r.Set("ListID", "V-" + n).Set("TimeCreated", "2005-03-15T14:22:33-08:00").Set("TimeModified", "2005-04-01T08:05:09");
  r.Set("EditSequence", "11" + n).Set("Name", "Vendor " + n).Set("IsActive", is_active);
  r.Set("CompanyName", "Vendor Co").Set("Salutation", "Ms").Set("FirstName", "Ann").Set("MiddleName", "B");
  r.Set("LastName", "Lee").Set("Contact", "Ann Lee").Set("AltContact", "Bob").Set("AccountNumber", "ACC-9");
  r.Set("NameOnCheck", "Vendor Co Ltd");
  return r;
}

const std::string kVendorColumnList =
    "[VendorID],[VendorCode],[VendorName],[VendorCompanyName],[Salutation],[FirstName],[MI],[LastName],[SubLevel],"
    "[EditSequence],[QBModifiedDate],[QBListID],[Active],[VendorGroup],[ContactName],[PhoneNo],[PExt],"
    "[AltPhoneNo],[AltExt],[FaxNo],[Email],[Website],[Reference],[BSA_Manager],[VendorAddress1],[VendorAddress2],"
    "[VendorAddress3],[VendorAddress4],[VendorCity],[VendorState],[VendorZipCode],[VendorCountry],"
    "[RemitAddress1],[RemitAddress2],[RemitAddress3],[RemitAddress4],[RemitCity],[RemitState],[RemitZipCode],"
    "[RemitCountry],[BankName],[AccountNumber],[NameOnCheck],[PaymentMode],[PaymentTerms],[CreditLimit],"
    "[CreditUsed],[TaxID],[Vendor1099],[FederalID],[DBNumber],[CreditRating],[OverdueInvoices],[ChargeFinance],"
    "[MonthlyInterestRate],[DiscountPercentage],[GLAccount],[InvoicingTerms],[Notes],[CreatedDate],[CreatedBy],"
    "[UpdatedDate],[UpdatedBy],[EmployeeID]";

// The SET list of Vendor(0), split where an inactive vendor's [Active]=0 goes.
const std::string kVendorSetHead =
    "[VendorName]='Vendor 0',[VendorCompanyName]='Vendor Co',[Salutation]='Ms',[FirstName]='Ann',[MI]='B',"
    "[LastName]='Lee',[EditSequence]='110',[QBModifiedDate]='2005-04-01T08:05:09',[QBListID]='V-0'";
const std::string kVendorSetTail =
    "[ContactName]='Ann Lee',[Reference]='Bob',[AccountNumber]='ACC-9',[NameOnCheck]='Vendor Co Ltd',"
    "[CreatedDate]='03/15/2005 14:22:33',[CreatedBy]='syncuser',[UpdatedDate]='04/01/2005 08:05:09',"
    "[UpdatedBy]='syncuser'";

using VendorConverterTest = TransactionTest;

TEST_F(VendorConverterTest, ActiveVendorInsertsOrUpdates) {
  Module().sQBXMLResponse = Response({Vendor(0)});
  GetVendorsFromQB(*ctl);

  const auto uploads = Uploads();
  ASSERT_EQ(uploads.size(), 1u);
  EXPECT_EQ(uploads[0].QueryValue("options"), "V");
  EXPECT_EQ(uploads[0].body,
            "IF (SELECT Count(VendorID) FROM [Vendors] WHERE [QBListID] = 'V-0') <= 0\r\n"
            "\tINSERT INTO Vendors (" +
                kVendorColumnList +
                ") VALUES (9000000,'','Vendor 0','Vendor Co','Ms','Ann','B','Lee',0,'110','2005-04-01T08:05:09',"
                "'V-0',-1,0,'Ann Lee','',0,'',0,'','','','Bob'," +
                Repeat("''", 18) +
                ",'ACC-9','Vendor Co Ltd','','',0,0,'',0,'','','',0,0,0,0,'',0,'','03/15/2005 14:22:33','syncuser',"
                "'04/01/2005 08:05:09','syncuser',0)\r\n"
                "Else\r\n"
                "\tUPDATE Vendors SET " +
                kVendorSetHead + "," + kVendorSetTail + " WHERE [QBListId] = 'V-0'\r\n");

  const auto statements = AllStatements();
  ASSERT_EQ(statements.size(), 1u);
  const auto& s = statements[0];
  EXPECT_TRUE(s.has_insert);
  ASSERT_EQ(s.columns.size(), 64u);
  for (size_t c = 0; c < s.columns.size(); ++c) EXPECT_EQ(s.columns[c], VendorColumns()[c].name);
  EXPECT_EQ(s.InsertValue("[VendorID]"), Number("9000000"));
  EXPECT_EQ(s.InsertValue("[VendorName]"), Text("Vendor 0"));
  EXPECT_EQ(s.InsertValue("[MI]"), Text("B"));
  EXPECT_EQ(s.InsertValue("[Reference]"), Text("Bob"));
  EXPECT_EQ(s.InsertValue("[QBModifiedDate]"), Text("2005-04-01T08:05:09"));
  EXPECT_EQ(s.InsertValue("[Active]"), Number("-1"));
  EXPECT_EQ(s.InsertValue("[CreatedDate]"), Text("03/15/2005 14:22:33"));
  EXPECT_EQ(s.InsertValue("[UpdatedDate]"), Text("04/01/2005 08:05:09"));
  EXPECT_EQ(s.InsertValue("[EmployeeID]"), Number("0"));

  std::vector<std::string> set_columns;
  for (const auto& [column, value] : s.set) set_columns.push_back(column);
  EXPECT_EQ(set_columns,
            (std::vector<std::string>{"[VendorName]", "[VendorCompanyName]", "[Salutation]", "[FirstName]", "[MI]",
                                      "[LastName]", "[EditSequence]", "[QBModifiedDate]", "[QBListID]", "[ContactName]",
                                      "[Reference]", "[AccountNumber]", "[NameOnCheck]", "[CreatedDate]", "[CreatedBy]",
                                      "[UpdatedDate]", "[UpdatedBy]"}));
  const auto reports = StatusReports();
  ASSERT_EQ(reports.size(), 1u);
  EXPECT_EQ(reports[0].QueryValue("options"), "V");
  EXPECT_EQ(ctl->lblProcess.Caption(), "Getting Vendors from QB (1)");
  EXPECT_EQ(ModuleRecordSets().VendorRecords[1].Text(1), "V-0");
  EXPECT_FALSE(ctl->fraProgress.Visible());
}

TEST_F(VendorConverterTest, InactiveOrUnflaggedVendorsAreOnlyUpdated) {
  Module().sQBXMLResponse = Response({Vendor(0, "false"), Vendor(1, "True"), Vendor(2).Remove("IsActive")});
  GetVendorsFromQB(*ctl);

  const auto statements = AllStatements();
  ASSERT_EQ(statements.size(), 3u);
  for (const auto& s : statements) EXPECT_FALSE(s.has_insert);
  EXPECT_EQ(statements[0].SetValue("[Active]"), Number("0"));
  EXPECT_EQ(statements[1].SetValue("[Active]"), Number("0"));
  // Without IsActive the vendor is written as active but its record is not, so the UPDATE has no [Active].
  EXPECT_FALSE(statements[2].InSet("[Active]"));
  EXPECT_EQ(statements[2].where_list_id, Text("V-2"));
  const std::string body = Uploads()[0].body;
  EXPECT_EQ(body.substr(0, body.find("\r\n") + 2),
            "UPDATE Vendors SET " + kVendorSetHead + ",[Active]=0," + kVendorSetTail + " WHERE [QBListId] = 'V-0'\r\n");
}

TEST_F(VendorConverterTest, OnlyChangedVendorsKeepTheirPositionAsKey) {
  Module().VendorsLastSyncDate = kv::DateTime::FromParts(2010, 6, 1, 12, 0, 0);
  Record before = Vendor(0).Set("TimeCreated", "2009-01-01T00:00:00").Set("TimeModified", "2010-06-01T11:59:59");
  Record at = Vendor(1).Set("TimeCreated", "2009-01-01T00:00:00").Set("TimeModified", "2010-06-01T12:00:00");
  Record no_times = Vendor(2).Remove("TimeCreated").Remove("TimeModified");
  Record after = Vendor(3).Set("TimeCreated", "2011-01-01T00:00:00");
  Module().sQBXMLResponse = Response({before, at, no_times, after});
  GetVendorsFromQB(*ctl);

  const auto statements = AllStatements();
  ASSERT_EQ(statements.size(), 2u);
  EXPECT_EQ(statements[0].InsertValue("[VendorID]"), Number("9000001"));
  EXPECT_EQ(statements[1].where_list_id, Text("V-3"));
  EXPECT_EQ(Module().varVendorCount, 2);
  EXPECT_EQ(StatusReports().size(), 1u);
}

TEST_F(VendorConverterTest, NothingChangedShowsProgressButSendsNothing) {
  Module().VendorsLastSyncDate = kv::DateTime::FromParts(2030, 1, 1);
  Module().sQBXMLResponse = Response({Vendor(0), Vendor(1)});
  GetVendorsFromQB(*ctl);
  EXPECT_EQ(service->ReceivedCount(), 0u);
  EXPECT_EQ(Module().varVendorCount, 0);
  EXPECT_EQ(ctl->lblProcess.Caption(), "Getting Vendors from QB");
  EXPECT_FALSE(ctl->fraProgress.Visible());
}

TEST_F(VendorConverterTest, NoVendorsAndUnreadableResponses) {
  Module().varVendorCount = 5;
  ctl->lngFailedVendCnt = 2;
  Module().sQBXMLResponse = Response({});
  GetVendorsFromQB(*ctl);
  EXPECT_EQ(Module().varVendorCount, 5);
  EXPECT_EQ(ctl->lngFailedVendCnt, 0);
  EXPECT_FALSE(ModuleRecordSets().VendorRecords.HasArrays());

  Module().sQBXMLResponse = "<QBXML><VendorRet><Name>x</VendorRet>";
  GetVendorsFromQB(*ctl);
  EXPECT_TRUE(Module().bSyncError);
  EXPECT_TRUE(Module().sSyncErrorText.starts_with("qbXML response could not be read: "));
  EXPECT_GT(Module().sSyncErrorText.size(), std::string("qbXML response could not be read: ").size());
  EXPECT_EQ(service->ReceivedCount(), 0u);
}

TEST_F(VendorConverterTest, TextsAreCutBeforeTheirApostrophesAreDoubled) {
  const std::string fifty(50, 'n');
  const std::string with_apostrophe = std::string(10, 'a') + "'" + std::string(39, 'b');
  Module().sQBXMLResponse = Response({Vendor(0).Set("Name", fifty), Vendor(1).Set("Name", with_apostrophe)});
  GetVendorsFromQB(*ctl);
  const auto statements = AllStatements();
  ASSERT_EQ(statements.size(), 2u);
  EXPECT_EQ(statements[0].InsertValue("[VendorName]"), Text(std::string(41, 'n')));
  EXPECT_EQ(statements[1].InsertValue("[VendorName]"), Text(with_apostrophe.substr(0, 41)));
}

TEST_F(VendorConverterTest, HostileVendorsGiveWellFormedStatements) {
  ctl->KalvorUser = "o'neil | admin";
  const std::string huge = "x'|\n" + std::string(40000, 'y');
  Record hostile = Vendor(0);
  hostile.Set("ListID", "80000001-'; DROP TABLE Vendors; --|").Set("Name", "O'Hara | Sons\nLtd caf\xC3\xA9");
  hostile.Set("Contact", huge).Set("AccountNumber", std::string(120, '\'')).Set("NameOnCheck", "'");
  Record no_list_id = Vendor(1).Remove("ListID");
  Record empty_list_id = Vendor(2).Set("ListID", "");
  Module().sQBXMLResponse = Response({hostile, no_list_id, empty_list_id, Vendor(3, "false")});
  GetVendorsFromQB(*ctl);

  for (const auto& upload : Uploads()) {
    for (char c : upload.body) ASSERT_LT(static_cast<unsigned char>(c), 0x80);
  }
  std::vector<kv::test_support::sql::Statement> statements;
  ASSERT_NO_THROW(statements = AllStatements());
  // A vendor without a ListID cannot be matched on the service and is not sent.
  ASSERT_EQ(statements.size(), 2u);
  const auto& s = statements[0];
  EXPECT_EQ(s.if_list_id, Text("80000001-'; DROP TABLE Vendors; --|"));
  EXPECT_EQ(s.where_list_id, s.if_list_id);
  EXPECT_EQ(s.InsertValue("[VendorName]"), Text("O'Hara | Sons\nLtd caf?"));
  EXPECT_EQ(s.InsertValue("[ContactName]"), Text(huge.substr(0, 41)));
  EXPECT_EQ(s.InsertValue("[AccountNumber]"), Text(std::string(99, '\'')));
  EXPECT_EQ(s.InsertValue("[CreatedBy]"), Text("o'neil | admin"));
  EXPECT_EQ(s.SetValue("[UpdatedBy]"), Text("o'neil | admin"));
  EXPECT_EQ(statements[1].where_list_id, Text("V-3"));
  EXPECT_EQ(Module().varVendorCount, 2);
}

}  // namespace
}  // namespace brintavel::testing
