// The query messages: the lists by active status, the transactions through txn_selection.cpp.

#include <algorithm>
#include <array>
#include <charconv>

#include "platform/base/text.h"
#include "standins/quickbooks/handlers.h"

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
constexpr std::string_view kLineElements[] = {"ExpenseLineRet", "ItemLineRet", "ItemGroupLineRet"};

const QueryKind* FindQuery(const std::string& requestName) {
  for (const QueryKind& kind : kQueries) {
    if (requestName == kind.request) return &kind;
  }
  return nullptr;
}

std::string Trimmed(std::string_view text) {
  return std::string(kv::TrimXmlSpace(text));
}

Status NoMatch() {
  return {kStatusNoMatch, "Warn", "A query request did not find a matching object in QuickBooks"};
}

bool IsActive(const Record& record) {
  std::optional<std::string_view> active = FieldText(record, "IsActive");
  if (!active) return true;  // QuickBooks' default for a record that does not say
  std::string text = Trimmed(std::string(*active));
  return text == "true" || text == "1";
}

// Copies the record without its line elements and the blanks before each of them.
void AddWithoutLines(const Record& record, ResponseText& out) {
  std::vector<platform::xml::ChildPlaces::Span> lines;
  for (std::string_view name : kLineElements) {
    for (const platform::xml::ChildPlaces::Span& span : FieldSpans(record, name)) lines.push_back(span);
  }
  std::sort(lines.begin(), lines.end(), [](const auto& a, const auto& b) { return a.start < b.start; });
  std::string_view text = record.text;
  size_t copied = 0;
  for (const platform::xml::ChildPlaces::Span& line : lines) {
    size_t cut = line.start;
    while (cut > copied &&
           (text[cut - 1] == ' ' || text[cut - 1] == '\t' || text[cut - 1] == '\n' || text[cut - 1] == '\r')) {
      --cut;
    }
    out.AddView(text.substr(copied, cut - copied));
    copied = line.start + line.length;
  }
  out.AddView(text.substr(copied));
}

}  // namespace

bool IsQuery(const std::string& requestName) {
  return FindQuery(requestName) != nullptr;
}

Status HandleQuery(const std::string& requestName, const Node& request, Workspace& workspace, ResponseText& out) {
  const QueryKind& kind = *FindQuery(requestName);
  auto add = [&](const Record& record, bool lines) {
    out.AddView(record.indent);
    if (kind.shape == Shape::kTransactionWithLines && !lines) {
      AddWithoutLines(record, out);
    } else {
      out.AddView(record.text);
    }
    out.AddView(kNewline);
  };
  if (kind.shape != Shape::kList) {
    TxnSelection selection;
    Status status = SelectTransactions(requestName, kind.record, request, workspace, selection);
    if (status.IsError()) return status;
    for (const Record* record : selection.records) add(*record, selection.lines);
    if (status.code == kStatusOk && selection.records.empty()) return NoMatch();
    return status;
  }

  enum class Active { kActiveOnly, kInactiveOnly, kAll } active = Active::kActiveOnly;
  long maxReturned = -1;
  for (const Node& child : ElementChildren(request)) {
    std::string name = child.nodeName();
    std::string value = Trimmed(child.text());
    if (name == "ActiveStatus") {
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
    if (active != Active::kAll && IsActive(record) != (active == Active::kActiveOnly)) return;
    add(record, true);
    ++returned;
  });
  if (returned == 0) return NoMatch();
  return {};
}

}  // namespace standins::quickbooks
