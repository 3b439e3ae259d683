// The pending time and expense lines the service stand-in hands the benchmark's downloads.

#include "bench/pending_data.h"

#include <cstdio>

#include "bench/company_names.h"

namespace kvbench {
namespace {

// Dates spread over one month of 2006 in the service's month/day/year form.
std::string ServiceDate(long k) {
  char text[16];
  std::snprintf(text, sizeof text, "05/%02ld/2006", 1 + k % 28);
  return text;
}

std::string Hours(long k) {
  char text[16];
  std::snprintf(text, sizeof text, "%.2f", 1.0 + static_cast<double>(k % 8) * 0.25);
  return text;
}

std::string Amount(long k) {
  char text[16];
  std::snprintf(text, sizeof text, "%ld.%02ld", 10 + k % 90, (k * 7) % 100);
  return text;
}

}  // namespace

std::string PendingTimeText(long records, long company_n) {
  std::string text;
  text.reserve(static_cast<size_t>(records) * 200);
  for (long k = 0; k < records; ++k) {
    const long i = k % company_n;
    text += "TA" + std::to_string(100001 + k) + "\r\n";
    text += ServiceDate(k) + "|" + PersonName("Employee", i) + "|" + CustomerFullName(i) + "|" +
            NumberedName("Service", i) + "|" + Hours(k) + "|" + NumberedName("Class", i) + "|" +
            NumberedName("Wage", i) + "|" + "Benchmark entry " + std::to_string(k + 1) + "|" +
            (k % 2 == 0 ? "True" : "False") + "\r\n";
    text += ServiceDate(k) + " 10:15:00 AM\r\n";
  }
  return text;
}

std::string PendingExpenseText(long expenses, long company_n) {
  std::string text;
  text.reserve(static_cast<size_t>(expenses) * 400);
  for (long k = 0; k < expenses; ++k) {
    const long i = k % company_n;
    const bool bill = k % 2 == 0;
    const std::string date = ServiceDate(k);
    const std::string customer = CustomerFullName(i);
    const std::string klass = NumberedName("Class", i);
    // Account 1 is a bank account (checks are drawn on it), account 2 an expense account.
    text += "EXP" + std::to_string(200001 + k) + "|" + PersonName("Vendor", i) + "|" + date + "|Benchmark expense " +
            std::to_string(k + 1) + "|" + (bill ? "True" : "False") + "|" + (bill ? "" : NumberedName("Account", 0)) +
            "\r\n";
    text += std::to_string(300001 + 2 * k) + "|" + date + "|Travel|" + customer + "|" + Amount(k) + "|" + klass + "|" +
            NumberedName("Account", 1) + "|" + AccountType(1) + "|True|False|0|0\r\n";
    text += std::to_string(300002 + 2 * k) + "|" + date + "|Parts|" + customer + "|20|" + klass + "|" +
            NumberedName("Part", i) + "|Expense|False|True|2|10\r\n";
  }
  return text;
}

}  // namespace kvbench
