#pragma once

// What the service keeps of its records between requests: which of the pending records a site has transferred to
// QuickBooks (its status report accepted), and the pending lines a download lists once those are left out.

#include <set>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace standins::service {

// A record as the status report names it: the kind ("TA" time, "LA" leave, "EI" an expense's item line) and its id
// as the pending lines write it.
using RecordKey = std::pair<std::string, std::string>;

// The ids of a status report's query values (comma-separated; blanks around an id do not count).
std::vector<RecordKey> ReportedRecords(std::string_view ta_ids, std::string_view la_ids, std::string_view item_ids);

// Every record the pending files hold, transferred or not: the time and leave headers, the expense item lines.
std::set<RecordKey> ListedRecords(std::string_view pending_time, std::string_view pending_expenses);

// The pending lines without the transferred records, every other byte as the file has it. Time: records of three
// lines, the header first. Expenses: a header ("EXP...") and its item lines; an item line that was transferred is
// left out, and a header with it once none of its item lines is left.
std::string PendingTimeLines(std::string_view text, const std::set<RecordKey>& transferred);
std::string PendingExpenseLines(std::string_view text, const std::set<RecordKey>& transferred);

// transferred.txt: one line per transferred record, "SITE <TAB> KIND <TAB> ID", the site code as CanonicalSite
// writes it.
std::set<RecordKey> TransferredOf(std::string_view file_text, std::string_view site);
std::string WithTransferred(std::string_view file_text, std::string_view site, const std::vector<RecordKey>& records);

// The site code as the service compares it: blanks around it and letter case do not count.
std::string CanonicalSite(std::string_view code);

}  // namespace standins::service
