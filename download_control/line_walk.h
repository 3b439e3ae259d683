#pragma once

// The downloaded lines: how they are told apart, counted after the download and walked record by record
// when the user posts them.

#include <cstdint>
#include <deque>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

#include "download_control/expense_requests.h"
#include "download_control/record_type.h"

namespace tessarine {

enum class LineKind { kEmpty, kTimeHeader, kLeaveHeader, kExpenseHeader, kItemLine };

// By the first letters in any case: "TA" time, "LA" leave, "EXP" expense header; "" empty; anything else is an
// item line of the current expense.
LineKind ClassifyLine(std::string_view line);

// The answer split at every CR LF; an empty answer has no lines at all.
std::vector<std::string> SplitDownloadLines(std::string_view answer);

struct PendingCounts {
  int32_t time = 0;
  int32_t leave = 0;
  int32_t expenses = 0;
};

// Counts the records the way the service lays them out: in time mode three lines per record from the first
// line on, in expense mode each "EXP" header. The last line is never looked at: with the usual trailing CR LF
// it is empty.
PendingCounts CountPendingRecords(const std::vector<std::string>& lines, bool time_mode);

// One record to post, as the walk hands it out.
struct TimeStep {
  RecordType type = RecordType::kTime;  // time or leave
  int32_t id = 0;
  std::string data;  // the data line; "" when the answer ended early
};
struct ExpenseStep {
  CurrentExpense expense;
  std::string record_id;  // the id of its header line ("EXP7001" gives "7001"); "" when it has none
  std::string ids;        // the item lines' ids joined by ","
  std::string failure;    // why the expense cannot be posted (a bad header, amount or line id); "" when it can
};
struct WalkEnd {};

using WalkStep = std::variant<WalkEnd, TimeStep, ExpenseStep>;

// Walks the lines in the order the service sent them. A time or leave record takes its header, data line and
// one more line; an expense is handed out when the next header or the end of the lines closes it. Reads
// never leave the array, and in expense mode the last line is classified like any other before the pending
// expense is handed out. A time header whose id is not a number throws kv::Error.
class PostingWalk {
 public:
  PostingWalk(const std::vector<std::string>& lines, bool time_mode);

  // The next record, or WalkEnd.
  WalkStep Next();
  // Whether the next call to Next starts reading lines again (no record of the last pass is waiting). A
  // cancel is honoured only there, so that the records one pass closes are posted together.
  bool NeedsPass() const { return ready_.empty() && !done_; }
  int32_t LineIndex() const { return index_; }

 private:
  void Pass();
  const std::string& At(int64_t index) const;
  void StartExpense(std::string_view header);
  void AddItemLine(const std::string& line);
  void FlushExpense();

  const std::vector<std::string>& lines_;
  bool time_mode_;
  int32_t index_ = 0;
  int32_t upper_;
  bool done_ = false;
  std::deque<WalkStep> ready_;
  ExpenseStep pending_;
};

}  // namespace tessarine
