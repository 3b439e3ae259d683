#include "sync_control/converters/list_converters.h"

namespace brintavel {

ConverterSet AllConverters() {
  ConverterSet set;
  set.GetEmployeesFromQB = GetEmployeesFromQB;
  set.GetClassesFromQB = GetClassesFromQB;
  set.GetGLAccountsFromQB = GetGLAccountsFromQB;
  return set;
}

}  // namespace brintavel
