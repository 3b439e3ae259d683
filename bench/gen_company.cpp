// kv-gen-company N OUT: writes a synthetic company file for the QuickBooks stand-in with N records in each list
// the sync asks for (customers with jobs and sub-jobs, employees, vendors, terms, accounts, the four item kinds,
// classes, sales reps, time-tracking entries, checks and bills with expense and item lines). The output depends
// on N alone, so benchmark runs are comparable. With --changed the same company has since been worked on: 1% of
// the records of every list, and one customer with its job and sub-job, were modified in 2007, after every time
// stamp of the unchanged company, so that a sync with a last-sync date of 1 January 2007 is the incremental one.

#include <CLI/CLI.hpp>
#include <cstdio>
#include <string>
#include <string_view>

#include "bench/company_names.h"
#include "platform/xml/escape.h"

namespace {

class Writer {
 public:
  explicit Writer(std::FILE* out) : out_(out) { buffer_.reserve(1 << 20); }
  ~Writer() { Flush(); }

  void Raw(std::string_view text) {
    buffer_.append(text);
    if (buffer_.size() >= (1 << 20)) Flush();
  }
  void Open(std::string_view name, int depth) {
    Indent(depth);
    Raw("<");
    Raw(name);
    Raw(">\n");
  }
  void Close(std::string_view name, int depth) {
    Indent(depth);
    Raw("</");
    Raw(name);
    Raw(">\n");
  }
  void Leaf(std::string_view name, std::string_view value, int depth) {
    Indent(depth);
    Raw("<");
    Raw(name);
    Raw(">");
    // The stand-in reads the file with an XML parser; its names hold no quote or line break.
    platform::xml::AppendEscaped(buffer_, value, platform::xml::kMarkupOnly);
    Raw("</");
    Raw(name);
    Raw(">\n");
  }
  void Ref(std::string_view name, const std::string& listID, const std::string& fullName, int depth) {
    Open(name, depth);
    Leaf("ListID", listID, depth + 1);
    Leaf("FullName", fullName, depth + 1);
    Close(name, depth);
  }
  bool Flush() {
    bool ok = std::fwrite(buffer_.data(), 1, buffer_.size(), out_) == buffer_.size();
    buffer_.clear();
    return ok;
  }

 private:
  void Indent(int depth) { buffer_.append(static_cast<size_t>(depth) * 2, ' '); }
  std::FILE* out_;
  std::string buffer_;
};

std::string Hex(long value) {
  char text[24];
  std::snprintf(text, sizeof text, "%lX", value);
  return text;
}

// ListIDs carry the list's number so that ids of different lists never meet.
std::string ListID(int list, long i) {
  char text[32];
  std::snprintf(text, sizeof text, "%02X%06lX-1104190000", list, i + 1);
  return text;
}

// Deterministic spread of time stamps over 2004-2006, with modifications after creation for most records.
std::string Stamp(long i, long salt, bool modified) {
  long minutes = (i * 7919 + salt * 104729) % (3L * 365 * 24 * 60);
  if (modified && (i + salt) % 3 != 0) minutes += ((i * 31 + salt) % (200L * 24 * 60));
  long days = minutes / (24 * 60);
  int year = 2004 + static_cast<int>(days / 365);
  if (year > 2006) year = 2006;
  long dayOfYear = days % 365;
  int month = static_cast<int>(dayOfYear / 31) + 1;
  if (month > 12) month = 12;
  int day = static_cast<int>(dayOfYear % 28) + 1;
  char text[40];
  std::snprintf(text, sizeof text, "%04d-%02d-%02dT%02ld:%02ld:%02ld-05:00", year, month, day, (minutes / 60) % 24,
                minutes % 60, (i * 17 + salt) % 60);
  return text;
}

// The company after the last sync (--changed).
bool g_changed = false;
constexpr int kCustomerList = 3;

bool Changed(int list, long i) {
  if (!g_changed) return false;
  // The first customer, its job and the job's sub-job; elsewhere one record in a hundred.
  return list == kCustomerList ? i < 3 : i % 100 == 0;
}

std::string Modified(long i, long list) {
  return Changed(static_cast<int>(list), i) ? "2007-03-15T10:00:00-05:00" : Stamp(i, list, true);
}

using kvbench::CustomerFullName;
using kvbench::PersonName;

std::string Number(const char* prefix, long i) {
  return kvbench::NumberedName(prefix, i);
}

void Header(Writer& w, int list, long i, const std::string& name, const std::string& fullName, bool active) {
  w.Leaf("ListID", ListID(list, i), 2);
  w.Leaf("TimeCreated", Stamp(i, list, false), 2);
  w.Leaf("TimeModified", Modified(i, list), 2);
  w.Leaf("EditSequence", std::to_string(1100000000 + i), 2);
  w.Leaf("Name", name, 2);
  if (!fullName.empty()) w.Leaf("FullName", fullName, 2);
  w.Leaf("IsActive", active ? "true" : "false", 2);
}

bool Active(long i) {
  return i % 10 != 9;
}

void Generate(Writer& w, long n) {
  w.Raw("<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<QBStandinCompany qbxmlVersions=\"1.0 1.1 2.0\">\n");
  const std::string taxListID = ListID(99, 0);
  w.Open("SalesTaxCodeRet", 1);
  Header(w, 99, 0, "Tax", "", true);
  w.Leaf("IsTaxable", "true", 2);
  w.Close("SalesTaxCodeRet", 1);

  for (long i = 0; i < n; ++i) {
    w.Open("EmployeeRet", 1);
    Header(w, 1, i, PersonName("Employee", i), "", Active(i));
    w.Leaf("FirstName", "First", 2);
    w.Leaf("LastName", Number("Last", i), 2);
    w.Leaf("Email", "employee" + std::to_string(i + 1) + "@example.com", 2);
    w.Leaf("HiredDate", Stamp(i, 1, false).substr(0, 10), 2);
    w.Close("EmployeeRet", 1);
  }
  for (long i = 0; i < n; ++i) {
    w.Open("SalesRepRet", 1);
    w.Leaf("ListID", ListID(2, i), 2);
    w.Leaf("TimeCreated", Stamp(i, 2, false), 2);
    w.Leaf("TimeModified", Stamp(i, 2, true), 2);
    w.Leaf("EditSequence", std::to_string(1100000000 + i), 2);
    w.Leaf("Initial", "R" + Hex(i), 2);
    w.Leaf("IsActive", Active(i) ? "true" : "false", 2);
    w.Ref("SalesRepEntityRef", ListID(1, i), PersonName("Employee", i), 2);
    w.Close("SalesRepRet", 1);
  }
  for (long i = 0; i < n; ++i) {
    w.Open("CustomerRet", 1);
    std::string full = CustomerFullName(i);
    Header(w, kCustomerList, i, full.substr(full.rfind(':') == std::string::npos ? 0 : full.rfind(':') + 1), full,
           Active(i));
    if (i % 3 >= 1) w.Ref("ParentRef", ListID(3, i - 1), CustomerFullName(i - 1), 2);
    w.Leaf("Sublevel", std::to_string(i % 3), 2);
    w.Leaf("CompanyName", Number("Company", i - i % 3), 2);
    w.Leaf("Contact", Number("Contact", i), 2);
    w.Ref("SalesRepRef", ListID(2, i % n), "R" + Hex(i % n), 2);
    w.Ref("SalesTaxCodeRef", taxListID, "Tax", 2);
    if (i % 3 >= 1) {
      w.Leaf("JobStatus", "InProgress", 2);
      w.Leaf("JobStartDate", Stamp(i, 3, false).substr(0, 10), 2);
      w.Leaf("JobDesc", Number("Job description", i), 2);
    }
    w.Close("CustomerRet", 1);
  }
  for (long i = 0; i < n; ++i) {
    w.Open("VendorRet", 1);
    Header(w, 4, i, PersonName("Vendor", i), "", Active(i));
    w.Leaf("CompanyName", Number("Vendor company", i), 2);
    w.Leaf("Contact", Number("Vendor contact", i), 2);
    w.Leaf("NameOnCheck", PersonName("Vendor", i), 2);
    w.Close("VendorRet", 1);
  }
  for (long i = 0; i < n; ++i) {
    w.Open("StandardTermsRet", 1);
    Header(w, 5, i, Number("Net", i), "", Active(i));
    w.Leaf("StdDueDays", std::to_string(i % 90), 2);
    w.Close("StandardTermsRet", 1);
  }
  for (long i = 0; i < n; ++i) {
    w.Open("AccountRet", 1);
    std::string name = Number("Account", i);
    Header(w, 6, i, name, name, Active(i));
    w.Leaf("Sublevel", "0", 2);
    w.Leaf("AccountType", kvbench::AccountType(i), 2);
    w.Leaf("AccountNumber", std::to_string(1000 + i), 2);
    w.Leaf("Balance", std::to_string(i % 5000) + ".25", 2);
    w.Leaf("TotalBalance", std::to_string(i % 5000) + ".25", 2);
    w.Close("AccountRet", 1);
  }
  const char* itemKinds[] = {"ItemServiceRet", "ItemNonInventoryRet", "ItemOtherChargeRet"};
  for (int k = 0; k < 3; ++k) {
    for (long i = 0; i < n; ++i) {
      w.Open(itemKinds[k], 1);
      std::string name = Number(k == 0 ? "Service" : k == 1 ? "Part" : "Charge", i);
      Header(w, 7 + k, i, name, name, Active(i));
      w.Leaf("Sublevel", "0", 2);
      w.Ref("SalesTaxCodeRef", taxListID, "Tax", 2);
      w.Open("SalesOrPurchase", 2);
      w.Leaf("Desc", "Description of " + name, 3);
      w.Leaf("Price", std::to_string(50 + i % 150) + ".00", 3);
      w.Ref("AccountRef", ListID(6, (i * 6 + 4) % n), Number("Account", (i * 6 + 4) % n), 3);
      w.Close("SalesOrPurchase", 2);
      w.Close(itemKinds[k], 1);
    }
  }
  for (long i = 0; i < n; ++i) {
    w.Open("PayrollItemWageRet", 1);
    Header(w, 10, i, Number("Wage", i), "", Active(i));
    w.Leaf("WageType", i % 2 == 0 ? "HourlyRegular" : "HourlyOvertime", 2);
    w.Close("PayrollItemWageRet", 1);
  }
  for (long i = 0; i < n; ++i) {
    w.Open("ClassRet", 1);
    std::string name = Number("Class", i);
    Header(w, 11, i, name, name, Active(i));
    w.Leaf("Sublevel", "0", 2);
    w.Close("ClassRet", 1);
  }
  for (long i = 0; i < n; ++i) {
    w.Open("TimeTrackingRet", 1);
    w.Leaf("TxnID", Hex(i + 1) + "-1104190000", 2);
    w.Leaf("TimeCreated", Stamp(i, 12, false), 2);
    w.Leaf("TimeModified", Modified(i, 12), 2);
    w.Leaf("EditSequence", std::to_string(1100000000 + i), 2);
    w.Leaf("TxnDate", Stamp(i, 12, false).substr(0, 10), 2);
    w.Ref("EntityRef", ListID(1, i), PersonName("Employee", i), 2);
    w.Ref("CustomerRef", ListID(3, i), CustomerFullName(i), 2);
    w.Ref("ItemServiceRef", ListID(7, i), Number("Service", i), 2);
    w.Leaf("Duration", "PT" + std::to_string(1 + i % 9) + "H" + std::to_string((i * 15) % 60) + "M", 2);
    w.Ref("ClassRef", ListID(11, i), Number("Class", i), 2);
    w.Ref("PayrollItemWageRef", ListID(10, i), Number("Wage", i), 2);
    w.Leaf("Notes", Number("Worked on task", i), 2);
    w.Leaf("IsBillable", i % 2 == 0 ? "true" : "false", 2);
    w.Leaf("IsBilled", "false", 2);
    w.Close("TimeTrackingRet", 1);
  }
  for (int kind = 0; kind < 2; ++kind) {
    const char* element = kind == 0 ? "CheckRet" : "BillRet";
    int list = 13 + kind;
    for (long i = 0; i < n; ++i) {
      w.Open(element, 1);
      std::string prefix = Hex(static_cast<long>(n) * (kind + 1) + i + 1);
      w.Leaf("TxnID", prefix + "-1104190000", 2);
      w.Leaf("TimeCreated", Stamp(i, list, false), 2);
      w.Leaf("TimeModified", Modified(i, list), 2);
      w.Leaf("EditSequence", std::to_string(1100000000 + i), 2);
      if (kind == 0) {
        w.Ref("AccountRef", ListID(6, (i * 6) % n), Number("Account", (i * 6) % n), 2);
        w.Ref("PayeeEntityRef", ListID(4, i), PersonName("Vendor", i), 2);
      } else {
        w.Ref("VendorRef", ListID(4, i), PersonName("Vendor", i), 2);
      }
      w.Leaf("TxnDate", Stamp(i, list, false).substr(0, 10), 2);
      long cents = 1250 + (i % 400) * 25;
      w.Leaf(kind == 0 ? "Amount" : "AmountDue",
             std::to_string((cents + 2000) / 100) + "." + (cents % 100 < 10 ? "0" : "") + std::to_string(cents % 100),
             2);
      w.Leaf("Memo", Number("Expense", i), 2);
      w.Open("ExpenseLineRet", 2);
      w.Leaf("TxnLineID", prefix + "-1", 3);
      w.Ref("AccountRef", ListID(6, (i * 6 + 1) % n), Number("Account", (i * 6 + 1) % n), 3);
      w.Leaf("Amount", std::to_string(cents / 100) + "." + (cents % 100 < 10 ? "0" : "") + std::to_string(cents % 100),
             3);
      w.Leaf("Memo", Number("Line memo", i), 3);
      w.Ref("CustomerRef", ListID(3, i), CustomerFullName(i), 3);
      w.Ref("ClassRef", ListID(11, i), Number("Class", i), 3);
      w.Leaf("BillableStatus", i % 2 == 0 ? "Billable" : "NotBillable", 3);
      w.Close("ExpenseLineRet", 2);
      w.Open("ItemLineRet", 2);
      w.Leaf("TxnLineID", prefix + "-2", 3);
      w.Ref("ItemRef", ListID(8, i), Number("Part", i), 3);
      w.Leaf("Desc", "Description of " + Number("Part", i), 3);
      w.Leaf("Quantity", "2", 3);
      w.Leaf("Cost", "10.00", 3);
      w.Leaf("Amount", "20.00", 3);
      w.Close("ItemLineRet", 2);
      w.Close(element, 1);
    }
  }
  w.Raw("</QBStandinCompany>\n");
}

}  // namespace

int main(int argc, char** argv) {
  CLI::App app{"kv-gen-company: writes a synthetic company file with N records in every list"};
  long n = 0;
  std::string out;
  app.add_option("N", n, "Records per list")->required()->check(CLI::Range(1L, 10000000L));
  app.add_option("OUT", out, "The company file to write (- for standard output)")->required();
  app.add_flag("--changed", g_changed, "The same company after work since a last sync on 1 January 2007");
  CLI11_PARSE(app, argc, argv);

  std::FILE* file = out == "-" ? stdout : std::fopen(out.c_str(), "wb");
  if (file == nullptr) {
    std::perror(("kv-gen-company: " + out).c_str());
    return 1;
  }
  bool ok;
  {
    Writer writer(file);
    Generate(writer, n);
    ok = writer.Flush();
  }
  ok = (file == stdout ? std::fflush(file) : std::fclose(file)) == 0 && ok;
  if (!ok) {
    std::fprintf(stderr, "kv-gen-company: cannot write %s\n", out.c_str());
    return 1;
  }
  return 0;
}
