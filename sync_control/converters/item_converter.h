#pragma once

// The item converter: QuickBooks service, non-inventory, other-charge and payroll wage items, one kind after the
// other, into the service's TaskInfo table, with one TaskID numbering over the four kinds.

#include <span>

#include "sync_control/converters/column_table.h"
#include "sync_control/converters/record_sets.h"

namespace brintavel {

class BrintavelCtl;

// ItemServiceRet, ItemNonInventoryRet, ItemOtherChargeRet and PayrollItemWageRet -> TaskInfo, options letter
// "T"; the first three kinds upload every 100 statements, the payroll wage kind once at its end.
void GetTasksFromQB(BrintavelCtl& ctl);

// Members of the item record sets that the converter fills besides ListID and the two time stamps.
inline constexpr int kItemFullName = 5;     // FullName (Name for payroll wage items)
inline constexpr int kItemActive = 6;       // IsActive
inline constexpr int kItemSubLevel = 7;     // Sublevel, 16-bit
inline constexpr int kItemTaxable = 8;      // "True" or "False"
inline constexpr int kItemDescription = 9;  // sales description, or the full name
inline constexpr int kItemRate = 10;        // sales price, double
inline constexpr int kItemAccount = 11;     // income account

// The TaskInfo columns of each kind, in INSERT order. The [TaskID] of a kind is written from the context's
// position, which the converter sets to the item's TaskID less 9000000.
std::span<const Column> ServiceItemColumns();
std::span<const Column> NonInventoryItemColumns();
std::span<const Column> OtherChargeItemColumns();
std::span<const Column> PayrollItemColumns();

// Fields 5 and 8 to 11 of a sales item (service, non-inventory, other-charge) from its element: the full name,
// whether its sales-tax code is taxable, and the description, rate and account of its sales part.
void ReadSalesItemFields(const BrintavelCtl& ctl, const RecordChildren& children, RecordRow& record);

// Whether a payroll wage item is one the service bills time against: no WageType, or one that begins with
// SALARY or HOURLY in any letter case.
bool IsTimeWageType(const RecordChildren& children);

}  // namespace brintavel
