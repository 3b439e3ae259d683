#pragma once

// The table of list converters the control is built with, kept apart so the control compiles without the
// converters library and tests can build it with some lists left out.

#include <cstdint>
#include <functional>

namespace brintavel {

class BrintavelCtl;

// The list converters, as the dispatcher reaches them. Each converter is a free function of the converters
// library that works on the control it is given (its public members and Module()); an empty entry is a list
// whose converter is not part of this build, which the dispatcher skips as if the list had nothing to send.
struct ConverterSet {
  using Converter = std::function<void(BrintavelCtl&)>;

  Converter GetEmployeesFromQB;
  Converter GetCustomersFromQB;
  Converter GetProjectsFromQB;
  Converter GetClassesFromQB;
  Converter GetGLAccountsFromQB;
  Converter GetTasksFromQB;
  Converter GetVendorsFromQB;
  Converter GetTimeFromQB;
  // pass 1: checks (options letter "X"), any other value: bills ("B").
  std::function<void(BrintavelCtl&, int16_t pass)> GetExpensesFromQB;
};

}  // namespace brintavel
