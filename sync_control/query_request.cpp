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
  std::string_view filter;  // empty: the message has no filter line
};

// The order QuickBooks answers in is the order the converters expect; keep it.
constexpr QueryMessage kMessages[] = {
    {&ModWizard::bSyncCustomers, "CustomerQueryRq", kActiveFilter},
    {&ModWizard::bSyncEmployees, "EmployeeQueryRq", kActiveFilter},
    {&ModWizard::bSyncVendors, "VendorQueryRq", kActiveFilter},
    {&ModWizard::bSyncPaymentTerms, "StandardTermsQueryRq", kActiveFilter},
    {&ModWizard::bSyncGLAccounts, "AccountQueryRq", kActiveFilter},
    {&ModWizard::bSyncTasks, "ItemServiceQueryRq", kActiveFilter},
    {&ModWizard::bSyncTasks, "ItemNonInventoryQueryRq", kActiveFilter},
    {&ModWizard::bSyncTasks, "ItemOtherChargeQueryRq", kActiveFilter},
    {&ModWizard::bSyncTasks, "PayrollItemWageQueryRq", kActiveFilter},
    {&ModWizard::bSyncClasses, "ClassQueryRq", kActiveFilter},
    {&ModWizard::bSyncSalesReps, "SalesRepQueryRq", kActiveFilter},
    {&ModWizard::bSyncTime, "TimeTrackingQueryRq", ""},
    {&ModWizard::bSyncExpense, "CheckQueryRq", kLineItemsFilter},
    {&ModWizard::bSyncExpense, "BillQueryRq", kLineItemsFilter},
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

}  // namespace brintavel
