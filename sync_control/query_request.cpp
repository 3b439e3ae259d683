// The run's qbXML query document, one message per ticked list; apart from the dispatcher because tests compare
// it with what QuickBooks accepts.

#include "sync_control/query_request.h"

#include <string_view>

#include "common/qbxml_version.h"

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

}  // namespace

std::string BuildQueryRequestText(const ModWizard& state) {
  std::string messages;
  int request_id = 0;
  for (const QueryMessage& message : kMessages) {
    if (!(state.*message.flag)) continue;
    messages.append("<").append(message.element).append(" requestID = \"").append(std::to_string(++request_id));
    messages.append("\">").append(kCrLf);
    if (!message.filter.empty()) messages.append(message.filter).append(kCrLf);
    messages.append("</").append(message.element).append(">").append(kCrLf);
  }
  return kv::qb::QBXMLDocumentHeader(state.lngQBXMLVersion) + kv::qb::QBXMLBody(messages);
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
