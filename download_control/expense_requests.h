#pragma once

// The BillAddRq or CheckAddRq of one downloaded expense and its item lines.

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "common/qbxml_version.h"

namespace tessarine {

// The expense being collected by the posting walk: header fields 1, 2, 3 and 5, the bill flag of field 4,
// the sum of field 4 of its item lines and the raw item lines.
struct CurrentExpense {
  std::string sCurExpPayee;
  std::string sCurExpDate;
  std::string sCurExpMemo;
  std::string sCurExpBankAccount;
  bool bCurExpIsBill = false;
  double dblCurExpTotal = 0;
  std::vector<std::string> sExpenseItemLines;
};

// Fields of an item line: 0 id, 1 date, 2 memo or description, 3 customer:job, 4 amount, 5 class, 6 account or
// item, 7 account type, 8 billable, 9 item-line flag, 10 quantity, 11 cost.
inline constexpr size_t kExpenseItemFields = 12;

// The complete request texts (version header and body). Throw kv::Error with a reason when an item line is
// short or one of its values does not convert, or when the expense's date cannot be read. A message set id, when
// given, goes on the message set (see kv::qb::QBXMLBody).
std::string BuildBillAddRq(const CurrentExpense& expense, kv::qb::QBXMLVersion version,
                           std::string_view message_set_id = {});
std::string BuildCheckAddRq(const CurrentExpense& expense, kv::qb::QBXMLVersion version,
                            std::string_view message_set_id = {});

}  // namespace tessarine
