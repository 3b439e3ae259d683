// The names of the synthetic company's records, numbered so that runs of one size are alike.

#include "bench/company_names.h"

#include <cstdio>

namespace kvbench {

std::string NumberedName(const char* prefix, long i) {
  char text[64];
  std::snprintf(text, sizeof text, "%s %06ld", prefix, i + 1);
  return text;
}

std::string PersonName(const char* first, long i) {
  std::string name = i % 13 == 5 ? "O'" : "";
  return name + NumberedName(first, i);
}

std::string CustomerFullName(long i) {
  long top = i - i % 3;
  std::string name = PersonName("Customer", top);
  if (i % 3 >= 1) name.append(":").append(NumberedName("Job", top + 1));
  if (i % 3 == 2) name.append(":").append(NumberedName("Phase", i));
  return name;
}

const char* AccountType(long i) {
  static const char* kTypes[] = {"Bank", "Expense", "OtherExpense", "CostOfGoodsSold", "Income", "AccountsPayable"};
  return kTypes[i % 6];
}

}  // namespace kvbench
