// Every list converter in one set, the one the hosts build the control with.

#include "sync_control/converters/customer_list.h"
#include "sync_control/converters/item_converter.h"
#include "sync_control/converters/list_converters.h"
#include "sync_control/converters/transaction_converters.h"

namespace brintavel {

ConverterSet AllConverters() {
  ConverterSet set;
  set.GetEmployeesFromQB = GetEmployeesFromQB;
  set.GetCustomersFromQB = GetCustomersFromQB;
  set.GetProjectsFromQB = GetProjectsFromQB;
  set.GetClassesFromQB = GetClassesFromQB;
  set.GetGLAccountsFromQB = GetGLAccountsFromQB;
  set.GetTasksFromQB = GetTasksFromQB;
  set.GetVendorsFromQB = GetVendorsFromQB;
  set.GetTimeFromQB = GetTimeFromQB;
  set.GetExpensesFromQB = GetExpensesFromQB;
  return set;
}

}  // namespace brintavel
