#pragma once

// The list converters of the control, as the dispatcher calls them, and the column tables they write.

#include <span>

#include "sync_control/converter_hooks.h"
#include "sync_control/converters/column_table.h"

namespace brintavel {

class BrintavelCtl;

// Every converter this library has, for the control's constructor.
ConverterSet AllConverters();

// ClassRet -> ClassInfo, options letter "C"; every class on every run.
void GetClassesFromQB(BrintavelCtl& ctl);
// AccountRet -> GLChartOfAccounts, options letter "G".
void GetGLAccountsFromQB(BrintavelCtl& ctl);
// EmployeeRet -> EmployeeInfo, options letter "E".
void GetEmployeesFromQB(BrintavelCtl& ctl);

std::span<const Column> ClassColumns();
std::span<const Column> GLAccountColumns();
std::span<const Column> EmployeeColumns();

}  // namespace brintavel
