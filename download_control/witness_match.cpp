// Reading back what an add request asked for, and comparing it with a transaction QuickBooks holds the way
// QuickBooks itself tells names, amounts and durations apart.

#include <algorithm>
#include <cmath>
#include <cstdlib>

#include "download_control/witness_queries.h"
#include "platform/base/error.h"
#include "platform/base/text.h"
#include "platform/xml/prolog.h"

namespace tessarine {

namespace {

using platform::xml::Node;

std::string Trimmed(std::string_view text) {
  return std::string(kv::TrimXmlSpace(text));
}

std::string FullNameOf(const Node& parent, std::string_view ref) {
  return Trimmed(parent.selectSingleNode(std::string(ref) + "/FullName").text());
}

std::string LeafOf(const Node& parent, std::string_view name) {
  return Trimmed(parent.selectSingleNode(name).text());
}

// QuickBooks keeps names without regard to letter case: "acme" and "ACME" are one customer.
bool SameName(std::string_view a, std::string_view b) {
  return kv::EqualsIgnoreCase(a, b);
}

// Free text as QuickBooks keeps it: its line ends may come back as LF where CR LF went in.
std::string FreeText(std::string_view text) {
  return Trimmed(kv::ReplaceAll(text, "\r\n", "\n"));
}

int64_t Cents(std::string_view text) {
  const std::string value = Trimmed(text);
  return std::llround(std::strtod(value.c_str(), nullptr) * 100.0);
}

double Number(std::string_view text) {
  const std::string value = Trimmed(text);
  return std::strtod(value.c_str(), nullptr);
}

// "PT7H30M", "PT7H30M0S", "PT7.5H" and "PT450M" are all seven and a half hours. -1 when it is no duration.
int64_t DurationSeconds(std::string_view text) {
  const std::string value = Trimmed(text);
  if (value.size() < 3 || value.compare(0, 2, "PT") != 0) return -1;
  double seconds = 0;
  const char* p = value.c_str() + 2;
  while (*p != '\0') {
    char* end = nullptr;
    const double amount = std::strtod(p, &end);
    if (end == p) return -1;
    switch (*end) {
      case 'H':
        seconds += amount * 3600;
        break;
      case 'M':
        seconds += amount * 60;
        break;
      case 'S':
        seconds += amount;
        break;
      default:
        return -1;
    }
    p = end + 1;
  }
  return std::llround(seconds);
}

std::vector<AskedRecord::Line> LinesOf(const Node& parent, std::string_view expense_tag, std::string_view item_tag) {
  std::vector<AskedRecord::Line> lines;
  for (Node child = parent.firstChild(); child; child = child.nextSibling()) {
    const std::string name = child.nodeName();
    if (name == expense_tag) {
      lines.push_back({false, FullNameOf(child, "AccountRef"), Cents(LeafOf(child, "Amount"))});
    } else if (name == item_tag) {
      AskedRecord::Line line{true, FullNameOf(child, "ItemRef"), 0};
      if (Node amount = child.selectSingleNode("Amount")) {
        line.cents = Cents(amount.text());
      } else {
        line.cents = std::llround(Number(LeafOf(child, "Quantity")) * Number(LeafOf(child, "Cost")) * 100.0);
        line.computed = true;
      }
      lines.push_back(std::move(line));
    }
  }
  return lines;
}

bool SameLines(std::vector<AskedRecord::Line> asked, const std::vector<AskedRecord::Line>& held) {
  if (asked.size() != held.size()) return false;
  // Every held line takes one asked line of its own, so two equal lines need two.
  for (const AskedRecord::Line& line : held) {
    const auto found = std::find_if(asked.begin(), asked.end(), [&](const AskedRecord::Line& a) {
      const int64_t off = a.cents > line.cents ? a.cents - line.cents : line.cents - a.cents;
      return a.item == line.item && off <= (a.computed || line.computed ? 1 : 0) && SameName(a.ref, line.ref);
    });
    if (found == asked.end()) return false;
    asked.erase(found);
  }
  return true;
}

}  // namespace

AskedRecord ReadAddRequest(std::string_view request) {
  // The DOCTYPE line of the 1.0 and 2.0 headers names a public id without a system id, which QuickBooks reads
  // and XML does not: the request is read without it.
  std::string text(request);
  const platform::xml::Prolog prolog = platform::xml::ReadProlog(text, true);
  if (prolog.doctype) text.erase(prolog.doctype->begin, prolog.doctype->end - prolog.doctype->begin);
  platform::xml::Document doc;
  if (!doc.LoadXml(text)) throw kv::Error(1, "The add request noted for the record cannot be read.");
  const Node messages = doc.documentElement().selectSingleNode("QBXMLMsgsRq");
  AskedRecord asked;
  asked.message_set_id = messages.getAttribute("newMessageSetID");
  Node rq;
  for (TxnKind kind : {TxnKind::kTimeTracking, TxnKind::kBill, TxnKind::kCheck}) {
    const std::string name(TxnName(kind));
    rq = messages.selectSingleNode(name + "AddRq");
    if (!rq) continue;
    asked.kind = kind;
    asked.request_id = rq.getAttribute("requestID");
    rq = rq.selectSingleNode(name + "Add");
    break;
  }
  if (!rq) throw kv::Error(1, "The request noted for the record is not an add of time, a bill or a check.");
  asked.date = LeafOf(rq, "TxnDate");
  switch (asked.kind) {
    case TxnKind::kTimeTracking:
      asked.entity = FullNameOf(rq, "EntityRef");
      asked.customer = FullNameOf(rq, "CustomerRef");
      asked.item = FullNameOf(rq, "ItemServiceRef");
      asked.class_name = FullNameOf(rq, "ClassRef");
      asked.payroll_item = FullNameOf(rq, "PayrollItemWageRef");
      asked.duration_seconds = DurationSeconds(rq.selectSingleNode("Duration").text());
      if (Node notes = rq.selectSingleNode("Notes")) asked.notes = notes.text();
      break;
    case TxnKind::kBill:
      asked.entity = FullNameOf(rq, "VendorRef");
      break;
    case TxnKind::kCheck:
      asked.entity = FullNameOf(rq, "PayeeEntityRef");
      break;
  }
  if (asked.kind != TxnKind::kTimeTracking) {
    asked.memo = rq.selectSingleNode("Memo").text();
    asked.lines = LinesOf(rq, "ExpenseLineAdd", "ItemLineAdd");
  }
  return asked;
}

bool RetMatches(const AskedRecord& asked, const Node& ret) {
  if (LeafOf(ret, "TxnDate") != asked.date) return false;
  if (asked.kind == TxnKind::kTimeTracking) {
    if (!SameName(FullNameOf(ret, "EntityRef"), asked.entity)) return false;
    if (!SameName(FullNameOf(ret, "CustomerRef"), asked.customer)) return false;
    if (!SameName(FullNameOf(ret, "ItemServiceRef"), asked.item)) return false;
    // Class and payroll item only where the add named them: QuickBooks may fill them in from the employee.
    if (!asked.class_name.empty() && !SameName(FullNameOf(ret, "ClassRef"), asked.class_name)) return false;
    if (!asked.payroll_item.empty() && !SameName(FullNameOf(ret, "PayrollItemWageRef"), asked.payroll_item)) {
      return false;
    }
    if (DurationSeconds(ret.selectSingleNode("Duration").text()) != asked.duration_seconds) return false;
    return FreeText(ret.selectSingleNode("Notes").text()) == FreeText(asked.notes.value_or(""));
  }
  const std::string_view entity_ref = asked.kind == TxnKind::kBill ? "VendorRef" : "PayeeEntityRef";
  if (!SameName(FullNameOf(ret, entity_ref), asked.entity)) return false;
  if (FreeText(ret.selectSingleNode("Memo").text()) != FreeText(asked.memo)) return false;
  return SameLines(asked.lines, LinesOf(ret, "ExpenseLineRet", "ItemLineRet"));
}

}  // namespace tessarine
