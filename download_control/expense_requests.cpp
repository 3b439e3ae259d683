// The bill and check add requests: the header of one expense and a line group per item line.

#include "download_control/expense_requests.h"

#include "download_control/qbxml_text.h"
#include "platform/base/error.h"
#include "platform/base/text.h"

namespace tessarine {
namespace {

// One item line as a line group of the request: an amount booked to an account, or a quantity of an item at
// a cost.
struct ExpenseLineGroup {
  bool item_line = false;
  std::string text;
};

ExpenseLineGroup LineGroup(std::string_view line, kv::qb::QBXMLVersion version) {
  const std::vector<std::string> f = kv::Split(line, "|");
  if (f.size() < kExpenseItemFields) {
    throw kv::Error(9, "The expense line has " + std::to_string(f.size()) + " field(s) where " +
                           std::to_string(kExpenseItemFields) + " are needed: '" + std::string(line) + "'");
  }
  ReadServiceDate(f[1]);  // only checked; the transaction date comes from the header
  const std::string memo = EscapeXMLText(f[2]);
  const std::string customer = EscapeXMLText(f[3]);
  const std::string class_name = EscapeXMLText(f[5]);
  const std::string account_or_item = EscapeXMLText(f[6]);
  const std::string account_type = EscapeXMLText(f[7]);
  const bool billable = ReadFlagText(f[8], "billable flag");
  const bool item_line = ReadFlagText(f[9], "item-line flag");

  std::string group;
  if (item_line) {
    const double quantity = ReadNumberText(f[10], "quantity");
    const double cost = ReadNumberText(f[11], "cost");
    group += "<ItemLineAdd>\r\n";
    group += FullNameElement("ItemRef", account_or_item);
    group += "<Desc>" + memo + "</Desc>\r\n";
    group += "<Quantity>" + AmountText(quantity) + "</Quantity>\r\n";
    group += "<Cost>" + AmountText(cost) + "</Cost>\r\n";
  } else {
    const double amount = ReadNumberText(f[4], "amount");
    group += "<ExpenseLineAdd>\r\n";
    group += FullNameElement("AccountRef", account_or_item);
    group += "<Amount>" + AmountText(amount) + "</Amount>\r\n";
    group += "<Memo>" + memo + "</Memo>\r\n";
  }
  if (!customer.empty()) group += FullNameElement("CustomerRef", customer);
  if (!class_name.empty() && class_name != "0") group += FullNameElement("ClassRef", class_name);
  // Billable status goes with a line charged to a customer on every version but US 1.0 and 1.1 (the Canadian
  // and UK 1.x editions take it too); cost of goods sold is never billed on.
  if (account_type != "CostOfGoodsSold" && !customer.empty() && kv::qb::HasBillableStatus(version)) {
    group +=
        billable ? "<BillableStatus>Billable</BillableStatus>\r\n" : "<BillableStatus>NotBillable</BillableStatus>\r\n";
  }
  group += item_line ? "</ItemLineAdd>\r\n" : "</ExpenseLineAdd>\r\n";
  return {item_line, std::move(group)};
}

std::string BuildExpenseAddRq(const CurrentExpense& e, kv::qb::QBXMLVersion version, bool bill,
                              std::string_view message_set_id) {
  const std::string kind = bill ? "Bill" : "Check";
  std::string rq = "<" + kind + "AddRq requestID = \"1\">\r\n";
  rq += "<" + kind + "Add>\r\n";
  if (bill) {
    rq += FullNameElement("VendorRef", EscapeXMLText(e.sCurExpPayee));
  } else {
    rq += FullNameElement("AccountRef", EscapeXMLText(e.sCurExpBankAccount));
    rq += FullNameElement("PayeeEntityRef", EscapeXMLText(e.sCurExpPayee));
  }
  rq += "<TxnDate>" + QBDateText(ReadServiceDate(e.sCurExpDate)) + "</TxnDate>\r\n";
  if (!kv::TrimBlanks(e.sCurExpMemo).empty()) rq += "<Memo>" + EscapeXMLText(e.sCurExpMemo) + "</Memo>\r\n";
  // QuickBooks takes every expense line before the first item line; each kind keeps the service's order.
  std::string expense_groups;
  std::string item_groups;
  for (const std::string& line : e.sExpenseItemLines) {
    const ExpenseLineGroup group = LineGroup(line, version);
    (group.item_line ? item_groups : expense_groups) += group.text;
  }
  rq += expense_groups;
  rq += item_groups;
  rq += "</" + kind + "Add>\r\n</" + kind + "AddRq>\r\n";
  return kv::qb::QBXMLDocumentHeader(version) + kv::qb::QBXMLBody(rq, message_set_id);
}

}  // namespace

std::string BuildBillAddRq(const CurrentExpense& expense, kv::qb::QBXMLVersion version,
                           std::string_view message_set_id) {
  return BuildExpenseAddRq(expense, version, true, message_set_id);
}

std::string BuildCheckAddRq(const CurrentExpense& expense, kv::qb::QBXMLVersion version,
                            std::string_view message_set_id) {
  return BuildExpenseAddRq(expense, version, false, message_set_id);
}

}  // namespace tessarine
