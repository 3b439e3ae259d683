// The sync's one query request: its messages, their numbers, its header, and QuickBooks' acceptance of it.

#include "sync_control/query_request.h"

#include <gtest/gtest.h>

#include "platform/base/error.h"
#include "standins/quickbooks/qbxml_schema.h"

namespace brintavel {
namespace {

constexpr const char* kUsHeader10 =
    "<?xml version = \"1.0\"?>\r\n<!DOCTYPE QBXML PUBLIC '-//INTUIT//DTD QBXML QBD 1.0//EN'>\r\n";
constexpr const char* kUsHeader20 =
    "<?xml version = \"1.0\"?>\r\n<!DOCTYPE QBXML PUBLIC '-//INTUIT//DTD QBXML QBD 2.0//EN'>\r\n";

std::string Body(const std::string& messages) {
  return "<QBXML>\r\n<QBXMLMsgsRq onError = \"continueOnError\">\r\n" + messages + "</QBXMLMsgsRq>\r\n</QBXML>";
}

TEST(QueryRequest, EmployeesAndTimeAreNumberedOverTheMessagesPresent) {
  ModWizard m;
  m.bSyncEmployees = true;
  m.bSyncTime = true;
  EXPECT_EQ(BuildQueryRequestText(m), std::string(kUsHeader10) + Body("<EmployeeQueryRq requestID = \"1\">\r\n"
                                                                      "<ActiveStatus>All</ActiveStatus>\r\n"
                                                                      "</EmployeeQueryRq>\r\n"
                                                                      "<TimeTrackingQueryRq requestID = \"2\">\r\n"
                                                                      "</TimeTrackingQueryRq>\r\n"));
}

TEST(QueryRequest, ItemsGiveFourConsecutiveMessagesAndSalesRepsFollowClasses) {
  ModWizard m;
  m.bSyncCustomers = m.bSyncSalesReps = true;
  m.bSyncTasks = true;
  m.bSyncClasses = true;
  const std::string text = BuildQueryRequestText(m);
  const char* order[] = {"<CustomerQueryRq requestID = \"1\">",         "<ItemServiceQueryRq requestID = \"2\">",
                         "<ItemNonInventoryQueryRq requestID = \"3\">", "<ItemOtherChargeQueryRq requestID = \"4\">",
                         "<PayrollItemWageQueryRq requestID = \"5\">",  "<ClassQueryRq requestID = \"6\">",
                         "<SalesRepQueryRq requestID = \"7\">"};
  size_t at = 0;
  for (const char* opening : order) {
    const size_t found = text.find(opening, at);
    ASSERT_NE(found, std::string::npos) << opening;
    at = found;
  }
}

TEST(QueryRequest, ExpensesAskForLineItemsAndPaymentTermsForAllRecords) {
  ModWizard m;
  m.bSyncPaymentTerms = true;
  m.bSyncExpense = true;
  m.lngQBXMLVersion = kv::qb::QBXMLVersion::kUS2_0;
  EXPECT_EQ(BuildQueryRequestText(m),
            std::string(kUsHeader20) + Body("<StandardTermsQueryRq requestID = \"1\">\r\n"
                                            "<ActiveStatus>All</ActiveStatus>\r\n</StandardTermsQueryRq>\r\n"
                                            "<CheckQueryRq requestID = \"2\">\r\n"
                                            "<IncludeLineItems>true</IncludeLineItems>\r\n</CheckQueryRq>\r\n"
                                            "<BillQueryRq requestID = \"3\">\r\n"
                                            "<IncludeLineItems>true</IncludeLineItems>\r\n</BillQueryRq>\r\n"));
}

TEST(QueryRequest, HeaderFollowsTheVersionCode) {
  ModWizard m;
  m.bSyncVendors = true;
  const std::string body = Body(
      "<VendorQueryRq requestID = \"1\">\r\n<ActiveStatus>All</ActiveStatus>\r\n"
      "</VendorQueryRq>\r\n");
  const struct {
    int32_t code;
    std::string header;
  } cases[] = {
      {0, kUsHeader10},
      {1, kUsHeader10},
      {2, kUsHeader20},
      {3, kUsHeader20},
      {5, kUsHeader20},
      {6, "<?xml version=\"1.0\" ?><?qbxml version=\"CA1.0\"?>"},
      {7, "<?xml version=\"1.0\" ?><?qbxml version=\"CA1.1\"?>"},
      {8, "<?xml version=\"1.0\" ?><?qbxml version=\"CA2.0\"?>"},
      {9, "<?xml version=\"1.0\" ?><?qbxml version=\"UK1.0\"?>"},
      {10, "<?xml version=\"1.0\" ?><?qbxml version=\"UK1.1\"?>"},
      {11, "<?xml version=\"1.0\" ?><?qbxml version=\"UK2.0\"?>"},
  };
  for (const auto& c : cases) {
    m.lngQBXMLVersion = kv::qb::QBXMLVersion{c.code};
    EXPECT_EQ(BuildQueryRequestText(m), c.header + body) << "code " << c.code;
  }
}

// QuickBooks checks the request against the message set of its version before it answers any list.
TEST(QueryRequest, EveryListAloneAndAllTogetherFitTheMessageSetOfEveryVersion) {
  bool ModWizard::*const lists[] = {
      &ModWizard::bSyncCustomers,  &ModWizard::bSyncEmployees, &ModWizard::bSyncVendors, &ModWizard::bSyncPaymentTerms,
      &ModWizard::bSyncGLAccounts, &ModWizard::bSyncTasks,     &ModWizard::bSyncClasses, &ModWizard::bSyncSalesReps,
      &ModWizard::bSyncTime,       &ModWizard::bSyncExpense};
  const std::vector<std::string> versions = {"1.0", "1.1", "2.0", "CA1.0", "CA1.1", "CA2.0", "UK1.0", "UK1.1", "UK2.0"};
  for (int32_t code : {0, 1, 2, 6, 7, 8, 9, 10, 11}) {
    std::vector<ModWizard> runs(std::size(lists) + 1);
    for (size_t i = 0; i < std::size(lists); ++i) {
      runs[i].*lists[i] = true;
      runs.back().*lists[i] = true;
    }
    for (ModWizard& m : runs) {
      m.lngQBXMLVersion = kv::qb::QBXMLVersion{code};
      const std::string text = BuildQueryRequestText(m);
      try {
        EXPECT_TRUE(standins::quickbooks::CheckQBXMLRequest(text, versions).empty()) << text;
      } catch (const kv::Error& e) {
        ADD_FAILURE() << code << ": " << e.description() << "\n" << text;
      }
    }
  }
}

}  // namespace
}  // namespace brintavel
