#include <array>
#include <charconv>

#include "standins/quickbooks/handlers.h"
#include "standins/quickbooks/xml_scan.h"

namespace standins::quickbooks {

namespace {

enum class Shape { kList, kTransaction, kTransactionWithLines };

struct QueryKind {
  const char* request;
  const char* record;
  Shape shape;
};

constexpr std::array<QueryKind, 15> kQueries = {{
    {"CustomerQueryRq", "CustomerRet", Shape::kList},
    {"EmployeeQueryRq", "EmployeeRet", Shape::kList},
    {"VendorQueryRq", "VendorRet", Shape::kList},
    {"StandardTermsQueryRq", "StandardTermsRet", Shape::kList},
    {"AccountQueryRq", "AccountRet", Shape::kList},
    {"ItemServiceQueryRq", "ItemServiceRet", Shape::kList},
    {"ItemNonInventoryQueryRq", "ItemNonInventoryRet", Shape::kList},
    {"ItemOtherChargeQueryRq", "ItemOtherChargeRet", Shape::kList},
    {"PayrollItemWageQueryRq", "PayrollItemWageRet", Shape::kList},
    {"ClassQueryRq", "ClassRet", Shape::kList},
    {"SalesRepQueryRq", "SalesRepRet", Shape::kList},
    {"SalesTaxCodeQueryRq", "SalesTaxCodeRet", Shape::kList},
    {"TimeTrackingQueryRq", "TimeTrackingRet", Shape::kTransaction},
    {"CheckQueryRq", "CheckRet", Shape::kTransactionWithLines},
    {"BillQueryRq", "BillRet", Shape::kTransactionWithLines},
}};

constexpr std::string_view kNewline = "\n";

// The line elements a transaction loses when its lines are not asked for.
bool IsLineElement(std::string_view name) {
  return name == "ExpenseLineRet" || name == "ItemLineRet" || name == "ItemGroupLineRet";
}

const QueryKind* FindQuery(const std::string& requestName) {
  for (const QueryKind& kind : kQueries) {
    if (requestName == kind.request) return &kind;
  }
  return nullptr;
}

std::string Trimmed(std::string text) {
  size_t start = text.find_first_not_of(" \t\r\n");
  if (start == std::string::npos) return "";
  size_t end = text.find_last_not_of(" \t\r\n");
  return text.substr(start, end - start + 1);
}

bool ParseBool(const std::string& text, bool& value) {
  if (text == "true" || text == "1")
    value = true;
  else if (text == "false" || text == "0")
    value = false;
  else
    return false;
  return true;
}

bool IsActive(std::string_view record) {
  ElementSpan element = ScanElement(record, 0);
  std::optional<std::string> active = ChildText(record, element, "IsActive");
  if (!active) return true;  // QuickBooks' default for a record that does not say
  std::string text = Trimmed(*active);
  return text == "true" || text == "1";
}

// Copies the record without its line elements and the blanks before each of them.
void AddWithoutLines(std::string_view record, ResponseText& out) {
  ElementSpan element = ScanElement(record, 0);
  ChildCursor cursor(record, element);
  size_t copied = 0;
  while (std::optional<ElementSpan> child = cursor.Next()) {
    if (!IsLineElement(child->name)) continue;
    size_t cut = child->begin;
    while (cut > copied &&
           (record[cut - 1] == ' ' || record[cut - 1] == '\t' || record[cut - 1] == '\n' || record[cut - 1] == '\r')) {
      --cut;
    }
    out.AddView(record.substr(copied, cut - copied));
    copied = child->end;
  }
  out.AddView(record.substr(copied));
}

}  // namespace

bool IsQuery(const std::string& requestName) {
  return FindQuery(requestName) != nullptr;
}

Status HandleQuery(const std::string& requestName, const XmlNode& request, const Workspace& workspace,
                   ResponseText& out) {
  const QueryKind& kind = *FindQuery(requestName);
  enum class Active { kActiveOnly, kInactiveOnly, kAll } active = Active::kActiveOnly;
  bool lines = false;
  long maxReturned = -1;
  for (const XmlNode& child : request.Children()) {
    std::string name = child.Name();
    std::string value = Trimmed(child.Text());
    if (name == "ActiveStatus" && kind.shape == Shape::kList) {
      if (value == "ActiveOnly")
        active = Active::kActiveOnly;
      else if (value == "InactiveOnly")
        active = Active::kInactiveOnly;
      else if (value == "All")
        active = Active::kAll;
      else {
        return Status::Error(kStatusInvalidValue, "The value \"" + value + "\" of ActiveStatus in " + requestName +
                                                      " is not one of ActiveOnly, InactiveOnly, All.");
      }
    } else if (name == "IncludeLineItems" && kind.shape == Shape::kTransactionWithLines) {
      if (!ParseBool(value, lines)) {
        return Status::Error(kStatusInvalidValue, "The value \"" + value + "\" of IncludeLineItems in " + requestName +
                                                      " is not a Boolean.");
      }
    } else if (name == "MaxReturned") {
      auto [end, ec] = std::from_chars(value.data(), value.data() + value.size(), maxReturned);
      if (ec != std::errc() || end != value.data() + value.size() || maxReturned < 0) {
        return Status::Error(kStatusInvalidValue,
                             "The value \"" + value + "\" of MaxReturned in " + requestName + " is not a count.");
      }
    } else {
      return Status::Error(kStatusInvalidValue,
                           "QuickBooks does not accept the element " + name + " in " + requestName + ".");
    }
  }

  long returned = 0;
  std::string_view recordKind = kind.record;
  workspace.ForEach([&](const Record& record) {
    if (record.kind != recordKind || (maxReturned >= 0 && returned >= maxReturned)) return;
    if (kind.shape == Shape::kList && active != Active::kAll) {
      if (IsActive(record.text) != (active == Active::kActiveOnly)) return;
    }
    out.AddView(record.indent);
    if (kind.shape == Shape::kTransactionWithLines && !lines) {
      AddWithoutLines(record.text, out);
    } else {
      out.AddView(record.text);
    }
    out.AddView(kNewline);
    ++returned;
  });
  if (returned == 0) return {kStatusNoMatch, "Warn", "A query request did not find a matching object in QuickBooks"};
  return {};
}

}  // namespace standins::quickbooks
