#pragma once

// The vendor converter and the two converters that send QuickBooks transactions as "|"-separated lines instead of
// SQL: time-tracking entries and the expense and item lines of checks and bills.

#include <cstdint>
#include <span>
#include <string_view>

#include "platform/base/date_time.h"
#include "sync_control/converters/column_table.h"

namespace brintavel {

class BrintavelCtl;

// VendorRet -> Vendors, options letter "V".
void GetVendorsFromQB(BrintavelCtl& ctl);
std::span<const Column> VendorColumns();

// TimeTrackingRet -> one line of 15 fields each, options letter "H".
void GetTimeFromQB(BrintavelCtl& ctl);

// Pass 1: CheckRet, options letter "X"; any other pass: BillRet, letter "B". One line per expense line and item
// line. The dispatcher reports "X" once after both passes.
void GetExpensesFromQB(BrintavelCtl& ctl, int16_t pass);

// A qbXML duration "PT[nH][nM][nS]" (each part optional, decimals allowed) in hours, rounded to thousandths with a
// tie going to the even digit. A text of any other form gives 0.
double DurationToHours(std::string_view duration);

// A qbXML boolean as the platform converts a text to a flag: "true" or "false" in any letter case, or a number
// (non-zero is true). Throws a type-mismatch kv::Error for anything else.
bool ParseQBBoolean(std::string_view text);

// Members of TimeRecords, field k of the record being field k of the line.
inline constexpr int kTimeEditSequence = 4;
inline constexpr int kTimeTxnDate = 5;
inline constexpr int kTimeEntityId = 6;
inline constexpr int kTimeHours = 9;
inline constexpr int kTimeBillable = 13;
inline constexpr int kTimeBilled = 14;
inline constexpr int kTimeEntityName = 15;

// Member of ExpenseRecords besides TxnID and the two time stamps.
inline constexpr int kExpenseEditSequence = 4;

}  // namespace brintavel
