#pragma once

// The names the synthetic company gives its records. The company generator writes them and the pending-data
// writer refers to them, so a downloaded record always names something the company file holds.

#include <string>

namespace kvbench {

// "Employee 000001" for i = 0.
std::string NumberedName(const char* prefix, long i);
// Every thirteenth name holds an apostrophe, as real names do.
std::string PersonName(const char* first, long i);
// Customers come in threes: a top-level customer, its job, then the job's sub-job.
std::string CustomerFullName(long i);
// Accounts cycle through these types by index; index 0 is a bank account, index 1 an expense account.
const char* AccountType(long i);

}  // namespace kvbench
