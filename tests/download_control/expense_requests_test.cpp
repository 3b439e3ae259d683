// Bill and check add requests of one expense.

#include "download_control/expense_requests.h"
#include "common/qbxml_version.h"

#include <gtest/gtest.h>

#include "platform/base/error.h"

namespace tessarine {
namespace {

CurrentExpense Expense(std::vector<std::string> lines, bool bill = true) {
  CurrentExpense e;
  e.sCurExpPayee = "Vendor A";
  e.sCurExpDate = "5/2/2006";
  e.sCurExpMemo = "Trip";
  e.sCurExpBankAccount = "Checking";
  e.bCurExpIsBill = bill;
  e.sExpenseItemLines = std::move(lines);
  return e;
}

TEST(ExpenseRequestsTest, BillWithAnExpenseLineAndAnItemLine) {
  const CurrentExpense e = Expense({"10|5/1/2006|Taxi|Acme:Roof|1234.5|Admin|Travel|Expense|True|False||",
                                    "11|5/1/2006|Nails|Acme:Roof|5.5|0|Hardware|Expense|False|True|2|2.75"});
  EXPECT_EQ(BuildBillAddRq(e, kv::qb::QBXMLVersion::kUS2_0),
            "<?xml version = \"1.0\"?>\r\n<!DOCTYPE QBXML PUBLIC '-//INTUIT//DTD QBXML QBD 2.0//EN'>\r\n"
            "<QBXML>\r\n<QBXMLMsgsRq onError = \"continueOnError\">\r\n"
            "<BillAddRq requestID = \"1\">\r\n"
            "<BillAdd>\r\n"
            "<VendorRef>\r\n<FullName>Vendor A</FullName>\r\n</VendorRef>\r\n"
            "<TxnDate>2006-05-02</TxnDate>\r\n"
            "<Memo>Trip</Memo>\r\n"
            "<ExpenseLineAdd>\r\n"
            "<AccountRef>\r\n<FullName>Travel</FullName>\r\n</AccountRef>\r\n"
            "<Amount>1234.50</Amount>\r\n"
            "<Memo>Taxi</Memo>\r\n"
            "<CustomerRef>\r\n<FullName>Acme:Roof</FullName>\r\n</CustomerRef>\r\n"
            "<ClassRef>\r\n<FullName>Admin</FullName>\r\n</ClassRef>\r\n"
            "<BillableStatus>Billable</BillableStatus>\r\n"
            "</ExpenseLineAdd>\r\n"
            "<ItemLineAdd>\r\n"
            "<ItemRef>\r\n<FullName>Hardware</FullName>\r\n</ItemRef>\r\n"
            "<Desc>Nails</Desc>\r\n"
            "<Quantity>2.00</Quantity>\r\n"
            "<Cost>2.75</Cost>\r\n"
            "<CustomerRef>\r\n<FullName>Acme:Roof</FullName>\r\n</CustomerRef>\r\n"
            "<BillableStatus>NotBillable</BillableStatus>\r\n"
            "</ItemLineAdd>\r\n"
            "</BillAdd>\r\n</BillAddRq>\r\n</QBXMLMsgsRq>\r\n</QBXML>");
}

TEST(ExpenseRequestsTest, CheckDrawsOnTheBankAccountAndNamesThePayee) {
  CurrentExpense e = Expense({"12|5/1/2006|Lunch||0.5||Meals|Expense|True|False||"}, false);
  e.sCurExpPayee = "O'Brien";
  e.sCurExpMemo = "  ";
  EXPECT_EQ(BuildCheckAddRq(e, kv::qb::QBXMLVersion::kCA1_0),
            "<?xml version=\"1.0\" ?><?qbxml version=\"CA1.0\"?>"
            "<QBXML>\r\n<QBXMLMsgsRq onError = \"continueOnError\">\r\n"
            "<CheckAddRq requestID = \"1\">\r\n"
            "<CheckAdd>\r\n"
            "<AccountRef>\r\n<FullName>Checking</FullName>\r\n</AccountRef>\r\n"
            "<PayeeEntityRef>\r\n<FullName>O&apos;Brien</FullName>\r\n</PayeeEntityRef>\r\n"
            "<TxnDate>2006-05-02</TxnDate>\r\n"
            "<ExpenseLineAdd>\r\n"
            "<AccountRef>\r\n<FullName>Meals</FullName>\r\n</AccountRef>\r\n"
            "<Amount>0.50</Amount>\r\n"
            "<Memo>Lunch</Memo>\r\n"
            "</ExpenseLineAdd>\r\n"
            "</CheckAdd>\r\n</CheckAddRq>\r\n</QBXMLMsgsRq>\r\n</QBXML>");
}

TEST(ExpenseRequestsTest, BillableStatusOnlyWithCustomerNotCostOfGoodsAndFromVersionTwo) {
  const std::string customer_line = "1|5/1/2006|m|Acme|1|||Expense|True|False||";
  EXPECT_NE(BuildBillAddRq(Expense({customer_line}), kv::qb::QBXMLVersion::kUS2_0).find("<BillableStatus>"),
            std::string::npos);
  EXPECT_EQ(BuildBillAddRq(Expense({customer_line}), kv::qb::QBXMLVersion::kUS1_1).find("<BillableStatus>"),
            std::string::npos);
  EXPECT_NE(BuildBillAddRq(Expense({customer_line}), kv::qb::QBXMLVersion::kUK2_0).find("<BillableStatus>"),
            std::string::npos);
  EXPECT_EQ(
      BuildBillAddRq(Expense({"1|5/1/2006|m|Acme|1|||CostOfGoodsSold|True|False||"}), kv::qb::QBXMLVersion::kUS2_0)
          .find("<Billable"),
      std::string::npos);
  EXPECT_EQ(BuildBillAddRq(Expense({"1|5/1/2006|m||1|||Expense|True|False||"}), kv::qb::QBXMLVersion::kUS2_0)
                .find("<Billable"),
            std::string::npos);
}

TEST(ExpenseRequestsTest, OnlyItemLinesGiveOnlyItemGroupsAndEscapedTexts) {
  const std::string rq = BuildBillAddRq(Expense({"1|5/1/2006|a<b|Acme & Co|3|C&D|Bolts \"M8\"|Expense|False|True|3|1"}),
                                        kv::qb::QBXMLVersion::kUS2_0);
  EXPECT_EQ(rq.find("<ExpenseLineAdd>"), std::string::npos);
  EXPECT_EQ(rq.find("<Amount>"), std::string::npos);
  EXPECT_NE(rq.find("<Desc>a&lt;b</Desc>"), std::string::npos);
  EXPECT_NE(rq.find("<FullName>Acme &amp; Co</FullName>"), std::string::npos);
  EXPECT_NE(rq.find("<FullName>C&amp;D</FullName>"), std::string::npos);
  EXPECT_NE(rq.find("<FullName>Bolts &quot;M8&quot;</FullName>"), std::string::npos);
  EXPECT_NE(rq.find("<Quantity>3.00</Quantity>\r\n<Cost>1.00</Cost>"), std::string::npos);
}

TEST(ExpenseRequestsTest, BadLinesAndDatesRaiseWithTheirReason) {
  EXPECT_THROW(BuildBillAddRq(Expense({"1|5/1/2006|m|Acme|1"}), kv::qb::QBXMLVersion::kUS2_0), kv::Error);
  EXPECT_THROW(BuildBillAddRq(Expense({"1|5/1/2006|m|Acme|x|||Expense|True|False||"}), kv::qb::QBXMLVersion::kUS2_0),
               kv::Error);
  EXPECT_THROW(BuildBillAddRq(Expense({"1|31/1/2006|m|Acme|1|||Expense|True|False||"}), kv::qb::QBXMLVersion::kUS2_0),
               kv::Error);
  EXPECT_THROW(BuildBillAddRq(Expense({"1|5/1/2006|m|Acme|1|||Expense|True|True|two|1"}), kv::qb::QBXMLVersion::kUS2_0),
               kv::Error);
  CurrentExpense e = Expense({"1|5/1/2006|m|Acme|1|||Expense|True|False||"});
  e.sCurExpDate = "soon";
  try {
    BuildCheckAddRq(e, kv::qb::QBXMLVersion::kUS2_0);
    FAIL();
  } catch (const kv::Error& error) {
    EXPECT_NE(error.description().find("'soon'"), std::string::npos);
  }
}

}  // namespace
}  // namespace tessarine
