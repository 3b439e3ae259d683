// The add messages of the QuickBooks stand-in (time tracking, bill, check): each add is read and its references
// resolved as QuickBooks does, then written into the company file as the Ret a later query returns.

#include <cmath>
#include <ctime>
#include <set>

#include "platform/base/date_time.h"
#include "platform/base/text.h"
#include "platform/xml/escape.h"
#include "standins/quickbooks/handlers.h"

namespace standins::quickbooks {

namespace {

const std::vector<std::string> kEntityKinds = {"EmployeeRet", "VendorRet", "OtherNameRet"};
const std::vector<std::string> kPayeeKinds = {"VendorRet", "EmployeeRet", "CustomerRet", "OtherNameRet"};
const std::vector<std::string> kCustomerKinds = {"CustomerRet"};
const std::vector<std::string> kVendorKinds = {"VendorRet"};
const std::vector<std::string> kAccountKinds = {"AccountRet"};
const std::vector<std::string> kClassKinds = {"ClassRet"};
const std::vector<std::string> kServiceItemKinds = {"ItemServiceRet"};
const std::vector<std::string> kWageItemKinds = {"PayrollItemWageRet"};
const std::vector<std::string> kItemKinds = {"ItemServiceRet",   "ItemNonInventoryRet",      "ItemOtherChargeRet",
                                             "ItemInventoryRet", "ItemInventoryAssemblyRet", "ItemFixedAssetRet",
                                             "ItemGroupRet",     "ItemDiscountRet",          "ItemSubtotalRet"};

// Raised inside a handler to end it with an error status.
struct Refusal {
  Status status;
};

[[noreturn]] void Refuse(int code, std::string message) {
  throw Refusal{Status::Error(code, std::move(message))};
}

std::string Trimmed(std::string_view text) {
  return std::string(kv::TrimXmlSpace(text));
}

// Writes a record element at column 0, two blanks per level.
class RecordWriter {
 public:
  void Open(std::string_view name) {
    Indent();
    out_.append("<").append(name).append(">\n");
    ++depth_;
  }
  void Close(std::string_view name) {
    --depth_;
    Indent();
    out_.append("</").append(name).append(">\n");
  }
  // Line breaks and tabs in a value are written as character references, so the record's indentation never
  // reaches its text.
  void Leaf(std::string_view name, std::string_view text) {
    Indent();
    out_.append("<").append(name).append(">");
    platform::xml::AppendEscaped(out_, text, {.carriage_return = true, .line_feed_and_tab = true});
    out_.append("</").append(name).append(">\n");
  }
  void Ref(std::string_view name, const ListEntry& entry) {
    Open(name);
    Leaf("ListID", entry.listID);
    Leaf("FullName", entry.fullName);
    Close(name);
  }
  const std::string& text() const { return out_; }

 private:
  void Indent() { out_.append(static_cast<size_t>(depth_) * 2, ' '); }
  std::string out_;
  int depth_ = 0;
};

// Reads one add element: checks that it holds only known elements and resolves its references.
class AddReader {
 public:
  AddReader(Workspace& workspace, std::string transactionLabel)
      : workspace_(workspace), label_(std::move(transactionLabel)) {}

  void Allow(const Node& element, const std::string& where, std::initializer_list<const char*> names) const {
    for (const Node& child : ElementChildren(element)) {
      std::string name = child.nodeName();
      bool known = false;
      for (const char* allowed : names) known = known || name == allowed;
      if (!known) Refuse(kStatusInvalidValue, "QuickBooks does not accept the element " + name + " in " + where + ".");
    }
  }

  Node Required(const Node& element, const std::string& where, const char* name) const {
    Node child = element.selectSingleNode(name);
    if (!child) Refuse(kStatusInvalidValue, where + " needs a " + name + " element.");
    return child;
  }

  // The list record a reference names by ListID or FullName, or the error status naming the missing one.
  ListEntry Resolve(const Node& ref, const std::string& kindLabel, const std::vector<std::string>& kinds) const {
    Allow(ref, ref.nodeName(), {"ListID", "FullName"});
    std::string listID = Trimmed(ref.selectSingleNode("ListID").text());
    std::string fullName = ref.selectSingleNode("FullName").text();
    std::optional<ListEntry> entry = workspace_.Find(kinds, listID, fullName);
    if (!entry) {
      Refuse(kStatusInvalidReference, "There is an invalid reference to QuickBooks " + kindLabel + " \"" +
                                          (listID.empty() ? fullName : listID) + "\" in the " + label_ + ".");
    }
    return *entry;
  }

  std::optional<ListEntry> Optional(const Node& element, const char* refName, const std::string& kindLabel,
                                    const std::vector<std::string>& kinds) const {
    Node ref = element.selectSingleNode(refName);
    if (!ref) return std::nullopt;
    return Resolve(ref, kindLabel, kinds);
  }

  std::string Date(const Node& element, const char* name) const {
    Node node = element.selectSingleNode(name);
    if (!node) {
      time_t now = time(nullptr);
      tm local{};
      localtime_r(&now, &local);
      char text[48];
      std::snprintf(text, sizeof text, "%04d-%02d-%02d", local.tm_year + 1900, local.tm_mon + 1, local.tm_mday);
      return text;
    }
    std::string text = Trimmed(node.text());
    int year = 0, month = 0, day = 0;
    char tail = 0;
    if (text.size() != 10 || std::sscanf(text.c_str(), "%4d-%2d-%2d%c", &year, &month, &day, &tail) != 3 ||
        text[4] != '-' || text[7] != '-' || !kv::DateTime::IsValidDate(year, month, day)) {
      Refuse(kStatusInvalidValue, "There was an error when converting the date value \"" + text + "\" in the field " +
                                      name + " of the " + label_ + "; QuickBooks reads dates as yyyy-mm-dd.");
    }
    return text;
  }

  bool Boolean(const Node& element, const char* name, bool fallback) const {
    Node node = element.selectSingleNode(name);
    if (!node) return fallback;
    std::string text = Trimmed(node.text());
    if (text == "true" || text == "1") return true;
    if (text == "false" || text == "0") return false;
    Refuse(kStatusInvalidValue, "The value \"" + text + "\" of " + name + " in the " + label_ + " is not a Boolean.");
  }

  // An amount or quantity: a plain decimal number.
  double Number(const Node& node, const std::string& where) const {
    std::string text = Trimmed(node.text());
    double value = 0;
    if (!kv::TryParseNumber(text, value) || !std::isfinite(value)) {
      Refuse(kStatusInvalidValue, "There was an error when converting the value \"" + text + "\" in the field " +
                                      node.nodeName() + " of " + where + " of the " + label_ + " to a number.");
    }
    return value;
  }

  std::string BillableStatus(const Node& line) const {
    Node node = line.selectSingleNode("BillableStatus");
    if (!node) return "";
    std::string text = Trimmed(node.text());
    if (text != "Billable" && text != "NotBillable" && text != "HasBeenBilled") {
      Refuse(kStatusInvalidValue, "The value \"" + text + "\" of BillableStatus in the " + label_ +
                                      " is not one of Billable, NotBillable, HasBeenBilled.");
    }
    return text;
  }

  const std::string& label() const { return label_; }
  Workspace& workspace() const { return workspace_; }

 private:
  Workspace& workspace_;
  std::string label_;
};

std::string Cents(long long cents) {
  char text[32];
  long long whole = std::llabs(cents);
  std::snprintf(text, sizeof text, "%s%lld.%02lld", cents < 0 ? "-" : "", whole / 100, whole % 100);
  return text;
}

long long ToCents(double value) {
  return std::llround(value * 100.0);
}

struct Header {
  std::string txnID;
  std::string now;
  std::string editSequence;
};

Header NewHeader(Workspace& workspace) {
  time_t now = time(nullptr);
  char id[48];
  std::snprintf(id, sizeof id, "%llX-%lld", static_cast<unsigned long long>(workspace.NextTxnNumber()),
                static_cast<long long>(now));
  return {id, QBDateTimeNow(), std::to_string(static_cast<long long>(now))};
}

void WriteHeader(RecordWriter& record, const Header& header) {
  record.Leaf("TxnID", header.txnID);
  record.Leaf("TimeCreated", header.now);
  record.Leaf("TimeModified", header.now);
  record.Leaf("EditSequence", header.editSequence);
}

bool IsValidDuration(const std::string& text) {
  if (text.size() < 4 || text.compare(0, 2, "PT") != 0) return false;
  size_t pos = 2;
  std::string order = "HMS";
  size_t nextUnit = 0;
  bool any = false;
  while (pos < text.size()) {
    size_t start = pos;
    while (pos < text.size() && (std::isdigit(static_cast<unsigned char>(text[pos])) || text[pos] == '.')) ++pos;
    if (pos == start || pos >= text.size()) return false;
    size_t unit = order.find(text[pos], nextUnit);
    if (unit == std::string::npos) return false;
    if (text.substr(start, pos - start).find('.') != std::string::npos && text[pos] != 'S') return false;
    nextUnit = unit + 1;
    any = true;
    ++pos;
  }
  return any;
}

// Expense and item lines of a bill or check; returns the total in cents.
long long WriteLines(const AddReader& reader, const Node& add, RecordWriter& record, uint64_t txnNumber) {
  long long total = 0;
  int lineNumber = 0;
  for (const Node& line : ElementChildren(add)) {
    std::string name = line.nodeName();
    if (name != "ExpenseLineAdd" && name != "ItemLineAdd") continue;
    std::string where = "an " + name;
    char lineID[48];
    std::snprintf(lineID, sizeof lineID, "%llX-%d", static_cast<unsigned long long>(txnNumber), ++lineNumber);
    if (name == "ExpenseLineAdd") {
      reader.Allow(line, name, {"AccountRef", "Amount", "Memo", "CustomerRef", "ClassRef", "BillableStatus"});
      ListEntry account = reader.Resolve(reader.Required(line, name, "AccountRef"), "Account", kAccountKinds);
      long long amount = 0;
      if (Node node = line.selectSingleNode("Amount")) amount = ToCents(reader.Number(node, where));
      std::optional<ListEntry> customer = reader.Optional(line, "CustomerRef", "Customer", kCustomerKinds);
      std::optional<ListEntry> klass = reader.Optional(line, "ClassRef", "Class", kClassKinds);
      std::string billable = reader.BillableStatus(line);
      record.Open("ExpenseLineRet");
      record.Leaf("TxnLineID", lineID);
      record.Ref("AccountRef", account);
      record.Leaf("Amount", Cents(amount));
      if (Node memo = line.selectSingleNode("Memo")) record.Leaf("Memo", memo.text());
      if (customer) record.Ref("CustomerRef", *customer);
      if (klass) record.Ref("ClassRef", *klass);
      if (!billable.empty()) record.Leaf("BillableStatus", billable);
      record.Close("ExpenseLineRet");
      total += amount;
    } else {
      reader.Allow(line, name,
                   {"ItemRef", "Desc", "Quantity", "Cost", "Amount", "CustomerRef", "ClassRef", "BillableStatus"});
      ListEntry item = reader.Resolve(reader.Required(line, name, "ItemRef"), "Item", kItemKinds);
      Node quantity = line.selectSingleNode("Quantity");
      Node cost = line.selectSingleNode("Cost");
      double quantityValue = quantity ? reader.Number(quantity, where) : 0;
      double costValue = cost ? reader.Number(cost, where) : 0;
      long long amount = ToCents(quantityValue * costValue);
      if (Node given = line.selectSingleNode("Amount")) amount = ToCents(reader.Number(given, where));
      std::optional<ListEntry> customer = reader.Optional(line, "CustomerRef", "Customer", kCustomerKinds);
      std::optional<ListEntry> klass = reader.Optional(line, "ClassRef", "Class", kClassKinds);
      std::string billable = reader.BillableStatus(line);
      record.Open("ItemLineRet");
      record.Leaf("TxnLineID", lineID);
      record.Ref("ItemRef", item);
      if (Node desc = line.selectSingleNode("Desc")) record.Leaf("Desc", desc.text());
      if (quantity) record.Leaf("Quantity", Trimmed(quantity.text()));
      if (cost) record.Leaf("Cost", Trimmed(cost.text()));
      record.Leaf("Amount", Cents(amount));
      if (customer) record.Ref("CustomerRef", *customer);
      if (klass) record.Ref("ClassRef", *klass);
      if (!billable.empty()) record.Leaf("BillableStatus", billable);
      record.Close("ItemLineRet");
      total += amount;
    }
  }
  if (lineNumber == 0)
    Refuse(kStatusInvalidValue, "The " + reader.label() + " needs at least one expense or item line.");
  return total;
}

std::string TimeTrackingAdd(const Node& add, Workspace& workspace) {
  AddReader reader(workspace, "Time Tracking");
  reader.Allow(add, "TimeTrackingAdd",
               {"TxnDate", "EntityRef", "CustomerRef", "ItemServiceRef", "Duration", "ClassRef", "PayrollItemWageRef",
                "Notes", "IsBillable"});
  std::string date = reader.Date(add, "TxnDate");
  ListEntry entity = reader.Resolve(reader.Required(add, "TimeTrackingAdd", "EntityRef"), "Entity", kEntityKinds);
  std::optional<ListEntry> customer = reader.Optional(add, "CustomerRef", "Customer", kCustomerKinds);
  std::optional<ListEntry> item = reader.Optional(add, "ItemServiceRef", "Item Service", kServiceItemKinds);
  std::string duration = Trimmed(reader.Required(add, "TimeTrackingAdd", "Duration").text());
  if (!IsValidDuration(duration)) {
    Refuse(kStatusInvalidValue, "The duration \"" + duration + "\" of the Time Tracking is not of the form PT#H#M.");
  }
  std::optional<ListEntry> klass = reader.Optional(add, "ClassRef", "Class", kClassKinds);
  std::optional<ListEntry> wage = reader.Optional(add, "PayrollItemWageRef", "Payroll Item Wage", kWageItemKinds);
  bool billable = reader.Boolean(add, "IsBillable", false);

  Header header = NewHeader(workspace);
  RecordWriter record;
  record.Open("TimeTrackingRet");
  WriteHeader(record, header);
  record.Leaf("TxnDate", date);
  record.Ref("EntityRef", entity);
  if (customer) record.Ref("CustomerRef", *customer);
  if (item) record.Ref("ItemServiceRef", *item);
  record.Leaf("Duration", duration);
  if (klass) record.Ref("ClassRef", *klass);
  if (wage) record.Ref("PayrollItemWageRef", *wage);
  if (Node notes = add.selectSingleNode("Notes")) record.Leaf("Notes", notes.text());
  record.Leaf("IsBillable", billable ? "true" : "false");
  record.Leaf("IsBilled", "false");
  record.Close("TimeTrackingRet");
  workspace.Append("TimeTrackingRet", record.text());
  return header.txnID;
}

std::string BillAdd(const Node& add, Workspace& workspace) {
  AddReader reader(workspace, "Bill");
  reader.Allow(
      add, "BillAdd",
      {"VendorRef", "APAccountRef", "TxnDate", "DueDate", "RefNumber", "Memo", "ExpenseLineAdd", "ItemLineAdd"});
  ListEntry vendor = reader.Resolve(reader.Required(add, "BillAdd", "VendorRef"), "Vendor", kVendorKinds);
  std::optional<ListEntry> payable = reader.Optional(add, "APAccountRef", "Account", kAccountKinds);
  // QuickBooks books a bill to the company's accounts-payable account when the request names none.
  if (!payable) payable = workspace.FirstAccountOfType("AccountsPayable");
  std::string date = reader.Date(add, "TxnDate");
  std::string due = add.selectSingleNode("DueDate") ? reader.Date(add, "DueDate") : date;

  Header header = NewHeader(workspace);
  uint64_t number = std::stoull(header.txnID.substr(0, header.txnID.find('-')), nullptr, 16);
  RecordWriter lines;
  RecordWriter record;
  record.Open("BillRet");
  WriteHeader(record, header);
  record.Ref("VendorRef", vendor);
  if (payable) record.Ref("APAccountRef", *payable);
  record.Leaf("TxnDate", date);
  record.Leaf("DueDate", due);
  // The lines are written into a second writer at the record's depth, since the total goes before them.
  lines.Open("BillRet");
  long long total = WriteLines(reader, add, lines, number);
  record.Leaf("AmountDue", Cents(total));
  if (Node refNumber = add.selectSingleNode("RefNumber")) record.Leaf("RefNumber", refNumber.text());
  if (Node memo = add.selectSingleNode("Memo")) record.Leaf("Memo", memo.text());
  record.Leaf("IsPaid", "false");
  std::string text = record.text();
  std::string lineText = lines.text();
  text += lineText.substr(lineText.find('\n') + 1);
  text += "</BillRet>\n";
  workspace.Append("BillRet", text);
  return header.txnID;
}

std::string CheckAdd(const Node& add, Workspace& workspace) {
  AddReader reader(workspace, "Check");
  reader.Allow(add, "CheckAdd",
               {"AccountRef", "PayeeEntityRef", "RefNumber", "TxnDate", "Memo", "IsToBePrinted", "ExpenseLineAdd",
                "ItemLineAdd"});
  ListEntry bank = reader.Resolve(reader.Required(add, "CheckAdd", "AccountRef"), "Account", kAccountKinds);
  if (bank.accountType != "Bank") {
    Refuse(kStatusInvalidValue, "The account \"" + bank.fullName + "\" of the Check is of type " +
                                    (bank.accountType.empty() ? std::string("(none)") : bank.accountType) +
                                    "; QuickBooks draws checks on Bank accounts only.");
  }
  std::optional<ListEntry> payee = reader.Optional(add, "PayeeEntityRef", "Payee Entity", kPayeeKinds);
  std::string date = reader.Date(add, "TxnDate");
  bool toBePrinted = reader.Boolean(add, "IsToBePrinted", false);

  Header header = NewHeader(workspace);
  uint64_t number = std::stoull(header.txnID.substr(0, header.txnID.find('-')), nullptr, 16);
  RecordWriter lines;
  lines.Open("CheckRet");
  long long total = WriteLines(reader, add, lines, number);
  RecordWriter record;
  record.Open("CheckRet");
  WriteHeader(record, header);
  record.Ref("AccountRef", bank);
  if (payee) record.Ref("PayeeEntityRef", *payee);
  if (Node refNumber = add.selectSingleNode("RefNumber")) record.Leaf("RefNumber", refNumber.text());
  record.Leaf("TxnDate", date);
  record.Leaf("Amount", Cents(total));
  if (Node memo = add.selectSingleNode("Memo")) record.Leaf("Memo", memo.text());
  record.Leaf("IsToBePrinted", toBePrinted ? "true" : "false");
  std::string text = record.text();
  std::string lineText = lines.text();
  text += lineText.substr(lineText.find('\n') + 1);
  text += "</CheckRet>\n";
  workspace.Append("CheckRet", text);
  return header.txnID;
}

}  // namespace

bool IsAdd(const std::string& requestName) {
  return requestName == "TimeTrackingAddRq" || requestName == "BillAddRq" || requestName == "CheckAddRq";
}

Status HandleAdd(const std::string& requestName, const Node& request, Workspace& workspace, ResponseText& out,
                 std::vector<AddedTransaction>& added) {
  std::string kind = requestName.substr(0, requestName.size() - 5);  // "TimeTracking", "Bill", "Check"
  std::string addName = kind + "Add";
  try {
    std::vector<Node> children = ElementChildren(request);
    if (children.size() != 1 || children[0].nodeName() != addName) {
      Refuse(kStatusInvalidValue, requestName + " must hold exactly one " + addName + " element.");
    }
    std::string txnID;
    if (kind == "TimeTracking")
      txnID = TimeTrackingAdd(children[0], workspace);
    else if (kind == "Bill")
      txnID = BillAdd(children[0], workspace);
    else
      txnID = CheckAdd(children[0], workspace);
    out.AddView(workspace.LastAdded().indent);
    out.AddView(workspace.LastAdded().text);
    out.Add("\n");
    added.push_back({kind, txnID});
    return {};
  } catch (const Refusal& refusal) {
    return refusal.status;
  }
}

}  // namespace standins::quickbooks
