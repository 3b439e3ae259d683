// Every add request the download control writes fits the qbXML message set of its version, as the QuickBooks
// stand-in checks it, with each optional element present and absent.

#include <gtest/gtest.h>

#include "common/qbxml_version.h"
#include "download_control/expense_requests.h"
#include "download_control/qbxml_text.h"
#include "download_control/time_requests.h"
#include "platform/base/error.h"
#include "standins/quickbooks/qbxml_schema.h"

namespace tessarine {
namespace {

const std::vector<std::string> kEveryVersion = {"1.0",   "1.1",   "2.0",   "CA1.0", "CA1.1",
                                                "CA2.0", "UK1.0", "UK1.1", "UK2.0"};
constexpr int32_t kVersionCodes[] = {0, 1, 2, 6, 7, 8, 9, 10, 11};

void ExpectFits(const std::string& request) {
  try {
    EXPECT_TRUE(standins::quickbooks::CheckQBXMLRequest(request, kEveryVersion).empty()) << request;
  } catch (const kv::Error& e) {
    ADD_FAILURE() << e.description() << "\n" << request;
  }
}

// Time and leave lines: date|employee|customer|service item|hours|class|payroll item|notes|billable.
const char* const kTimeLines[] = {
    "5/1/2006|Ann Lee|Acme:Roof|Consulting|7.5|Admin|Regular Pay|Site visit|True",
    "5/1/2006|Ann Lee|||8||||True",                     // no customer, no service item: an internal hour
    "5/1/2006|Ann Lee|Acme:Roof||1.25| | |x|False",     // a customer without a service item
    "5/1/2006|Ann Lee||Consulting|2|Admin||note|True",  // a service item without a customer
    "5/1/2006|O'Brien & Sons|Acme \"Roof\"|A<B>|0.5|C&D|Wage's|line1&#10line2\rcr|True",
};

TEST(RequestsFitTest, TimeAndLeaveRequestsFitEveryVersion) {
  for (int32_t code : kVersionCodes) {
    for (const char* line : kTimeLines) {
      SCOPED_TRACE(std::to_string(code) + " " + line);
      CurrentTimeRecord record;
      ExpectFits(kv::qb::QBXMLDocumentHeader(kv::qb::QBXMLVersion{code}) +
                 kv::qb::QBXMLBody(BuildTimeTrackingAddRq(line, 1, record)));
      ExpectFits(kv::qb::QBXMLDocumentHeader(kv::qb::QBXMLVersion{code}) +
                 kv::qb::QBXMLBody(BuildLeaveTrackingAddRq(line, 1, record)));
    }
  }
}

// Item lines: id|date|memo|customer|amount|class|account or item|account type|billable|item line|quantity|cost.
const char* const kExpenseLine = "10|5/1/2006|Taxi|Acme:Roof|12.5|Admin|Travel|Expense|True|False||";
const char* const kBareExpenseLine = "11|5/1/2006|||3|0|Meals|CostOfGoodsSold|False|False||";
const char* const kItemLine = "12|5/1/2006|Nails|Acme:Roof|5.5|Admin|Hardware|Expense|False|True|2|2.75";
const char* const kBareItemLine = "13|5/1/2006|||0||Paper|Expense|True|True|1|3";

TEST(RequestsFitTest, BillsAndChecksFitEveryVersionWhateverTheOrderOfTheirLines) {
  const std::vector<std::vector<std::string>> expenses = {
      {kExpenseLine},
      {kBareExpenseLine},
      {kItemLine},
      {kBareItemLine, kItemLine},
      {kItemLine, kExpenseLine},  // an item line first
      {kItemLine, kBareExpenseLine, kBareItemLine, kExpenseLine},
  };
  for (int32_t code : kVersionCodes) {
    for (const std::vector<std::string>& lines : expenses) {
      for (const char* memo : {"Trip & stay", ""}) {
        SCOPED_TRACE(std::to_string(code) + " " + lines.front() + " memo '" + memo + "'");
        CurrentExpense e;
        e.sCurExpPayee = "Lee's Catering";
        e.sCurExpDate = "5/2/2006";
        e.sCurExpMemo = memo;
        e.sCurExpBankAccount = "Checking";
        e.sExpenseItemLines = lines;
        ExpectFits(BuildBillAddRq(e, kv::qb::QBXMLVersion{code}));
        ExpectFits(BuildCheckAddRq(e, kv::qb::QBXMLVersion{code}));
      }
    }
  }
}

TEST(RequestsFitTest, ExpenseLinesAreWrittenBeforeItemLinesEachKindInTheServicesOrder) {
  CurrentExpense e;
  e.sCurExpPayee = "Vendor A";
  e.sCurExpDate = "5/2/2006";
  e.sExpenseItemLines = {
      "1|5/1/2006|item one||0|||Expense|False|True|1|1", "2|5/1/2006|expense two||2|||Expense|False|False||",
      "3|5/1/2006|item three||0|||Expense|False|True|1|1", "4|5/1/2006|expense four||4|||Expense|False|False||"};
  const std::string rq = BuildBillAddRq(e, kv::qb::QBXMLVersion::kUS2_0);
  const size_t two = rq.find("expense two");
  const size_t four = rq.find("expense four");
  const size_t one = rq.find("item one");
  const size_t three = rq.find("item three");
  ASSERT_NE(three, std::string::npos);
  EXPECT_LT(two, four);
  EXPECT_LT(four, one);
  EXPECT_LT(one, three);
  EXPECT_EQ(rq.find("<ExpenseLineAdd>", four), std::string::npos);
}

}  // namespace
}  // namespace tessarine
