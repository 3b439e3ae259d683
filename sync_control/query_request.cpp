// The run's qbXML query document, one message per ticked list; apart from the dispatcher because tests compare
// it with what QuickBooks accepts.

#include "sync_control/query_request.h"

#include <string_view>

namespace brintavel {
namespace {

constexpr std::string_view kCrLf = "\r\n";
constexpr std::string_view kActiveFilter = "<ActiveStatus>All</ActiveStatus>";
constexpr std::string_view kLineItemsFilter = "<IncludeLineItems>true</IncludeLineItems>";

struct QueryMessage {
  bool ModWizard::*flag;
  std::string_view element;
  std::string_view filter;   // empty: the message has no filter line
  std::string_view records;  // the record element of its answer that a converter reads; empty: none reads it
};

// The order QuickBooks answers in is the order the converters expect; keep it.
constexpr QueryMessage kMessages[] = {
    {&ModWizard::bSyncCustomers, "CustomerQueryRq", kActiveFilter, "CustomerRet"},
    {&ModWizard::bSyncEmployees, "EmployeeQueryRq", kActiveFilter, "EmployeeRet"},
    {&ModWizard::bSyncVendors, "VendorQueryRq", kActiveFilter, "VendorRet"},
    {&ModWizard::bSyncPaymentTerms, "StandardTermsQueryRq", kActiveFilter, ""},
    {&ModWizard::bSyncGLAccounts, "AccountQueryRq", kActiveFilter, "AccountRet"},
    {&ModWizard::bSyncTasks, "ItemServiceQueryRq", kActiveFilter, "ItemServiceRet"},
    {&ModWizard::bSyncTasks, "ItemNonInventoryQueryRq", kActiveFilter, "ItemNonInventoryRet"},
    {&ModWizard::bSyncTasks, "ItemOtherChargeQueryRq", kActiveFilter, "ItemOtherChargeRet"},
    {&ModWizard::bSyncTasks, "PayrollItemWageQueryRq", kActiveFilter, "PayrollItemWageRet"},
    {&ModWizard::bSyncClasses, "ClassQueryRq", kActiveFilter, "ClassRet"},
    {&ModWizard::bSyncSalesReps, "SalesRepQueryRq", kActiveFilter, ""},
    {&ModWizard::bSyncTime, "TimeTrackingQueryRq", "", "TimeTrackingRet"},
    {&ModWizard::bSyncExpense, "CheckQueryRq", kLineItemsFilter, "CheckRet"},
    {&ModWizard::bSyncExpense, "BillQueryRq", kLineItemsFilter, "BillRet"},
};

std::string Header(int32_t version) {
  // The country editions take the qbxml processing instruction; the US editions a DOCTYPE line.
  std::string_view edition;
  switch (version) {
    case 6:
      edition = "CA1.0";
      break;
    case 7:
      edition = "CA1.1";
      break;
    case 8:
      edition = "CA2.0";
      break;
    case 9:
      edition = "UK1.0";
      break;
    case 10:
      edition = "UK1.1";
      break;
    case 11:
      edition = "UK2.0";
      break;
    default:
      break;
  }
  if (!edition.empty()) {
    return std::string("<?xml version=\"1.0\" ?><?qbxml version=\"").append(edition).append("\"?>");
  }
  std::string header = "<?xml version = \"1.0\"?>\r\n";
  header += version < 2 ? "<!DOCTYPE QBXML PUBLIC '-//INTUIT//DTD QBXML QBD 1.0//EN'>\r\n"
                        : "<!DOCTYPE QBXML PUBLIC '-//INTUIT//DTD QBXML QBD 2.0//EN'>\r\n";
  return header;
}

}  // namespace

std::string BuildQueryRequestText(const ModWizard& state) {
  std::string body = "<QBXML>\r\n<QBXMLMsgsRq onError = \"continueOnError\">\r\n";
  int request_id = 0;
  for (const QueryMessage& message : kMessages) {
    if (!(state.*message.flag)) continue;
    body.append("<").append(message.element).append(" requestID = \"").append(std::to_string(++request_id));
    body.append("\">").append(kCrLf);
    if (!message.filter.empty()) body.append(message.filter).append(kCrLf);
    body.append("</").append(message.element).append(">").append(kCrLf);
  }
  body += "</QBXMLMsgsRq>\r\n</QBXML>";
  return Header(state.lngQBXMLVersion) + body;
}

std::vector<std::string> ConvertedRecordElements(const ModWizard& state) {
  std::vector<std::string> names;
  for (const QueryMessage& message : kMessages) {
    if (state.*message.flag && !message.records.empty()) names.emplace_back(message.records);
  }
  // The item converter looks up each item's sales-tax code among the response's codes.
  if (state.bSyncTasks) names.emplace_back("SalesTaxCodeRet");
  return names;
}

}  // namespace brintavel
