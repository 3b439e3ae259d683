#pragma once

// The service's pending lines for the download benchmark, naming records of the synthetic company (company_names.h)
// so that every add the download control sends can succeed.

#include <string>

namespace kvbench {

// `records` time records in the three-line layout the download page answers with (header, data line, time stamp),
// referring to the first `company_n` records of each list. Ids start at 100001.
std::string PendingTimeText(long records, long company_n);
// `expenses` expenses, bills and checks in turn, each with an expense line and an item line. Ids start at 200001
// for headers and 300001 for item lines.
std::string PendingExpenseText(long expenses, long company_n);

}  // namespace kvbench
