// Telling the downloaded lines apart, counting them and walking them record by record.

#include "download_control/line_walk.h"

#include <algorithm>

#include "download_control/qbxml_text.h"
#include "platform/base/error.h"
#include "platform/base/text.h"

namespace tessarine {
namespace {

std::string UpperPrefix(std::string_view line, size_t n) {
  return kv::ToUpperAscii(line.substr(0, n));
}

}  // namespace

LineKind ClassifyLine(std::string_view line) {
  if (line.empty()) return LineKind::kEmpty;
  const std::string two = UpperPrefix(line, 2);
  if (two == "TA") return LineKind::kTimeHeader;
  if (two == "LA") return LineKind::kLeaveHeader;
  if (UpperPrefix(line, 3) == "EXP") return LineKind::kExpenseHeader;
  return LineKind::kItemLine;
}

std::vector<std::string> SplitDownloadLines(std::string_view answer) {
  if (answer.empty()) return {};
  return kv::Split(answer, "\r\n");
}

PendingCounts CountPendingRecords(const std::vector<std::string>& lines, bool time_mode) {
  PendingCounts counts;
  const int64_t last = static_cast<int64_t>(lines.size()) - 1;
  int64_t i = 0;
  while (i < last) {
    const std::string& line = lines[static_cast<size_t>(i)];
    if (time_mode) {
      i += 3;
      const std::string two = UpperPrefix(line, 2);
      if (two == "TA") ++counts.time;
      if (two == "LA") ++counts.leave;
    } else {
      i += 1;
      if (UpperPrefix(line, 3) == "EXP") ++counts.expenses;
    }
  }
  return counts;
}

PostingWalk::PostingWalk(const std::vector<std::string>& lines, bool time_mode)
    : lines_(lines), time_mode_(time_mode), upper_(static_cast<int32_t>(lines.size()) - 1) {}

const std::string& PostingWalk::At(int64_t index) const {
  static const std::string kNone;
  if (index < 0 || index >= static_cast<int64_t>(lines_.size())) return kNone;
  return lines_[static_cast<size_t>(index)];
}

WalkStep PostingWalk::Next() {
  while (ready_.empty() && !done_) Pass();
  if (ready_.empty()) return WalkEnd{};
  WalkStep step = std::move(ready_.front());
  ready_.pop_front();
  return step;
}

void PostingWalk::Pass() {
  if (upper_ < 0) {
    done_ = true;
    return;
  }
  const std::string& header = At(index_);
  switch (ClassifyLine(header)) {
    case LineKind::kTimeHeader:
    case LineKind::kLeaveHeader: {
      TimeStep step;
      step.type = ClassifyLine(header) == LineKind::kTimeHeader ? RecordType::kTime : RecordType::kLeave;
      try {
        step.id = ReadLongText(std::string_view(header).substr(2));
      } catch (const kv::Error& error) {
        throw kv::Error(error.number(),
                        error.description() + ": the record header '" + header + "' carries no numeric id");
      }
      step.data = At(static_cast<int64_t>(index_) + 1);
      ready_.emplace_back(std::move(step));
      index_ += 3;
      break;
    }
    case LineKind::kExpenseHeader:
      StartExpense(header);
      index_ += 1;
      break;
    case LineKind::kItemLine:
      AddItemLine(header);
      index_ += 1;
      break;
    case LineKind::kEmpty:
      index_ += 1;
      break;
  }
  if (index_ < upper_) return;
  done_ = true;
  if (time_mode_) return;
  // The last line of an expense answer closes the walk: read it like any other, then hand out what is pending.
  if (index_ == upper_) {
    const std::string& last = At(index_);
    switch (ClassifyLine(last)) {
      case LineKind::kEmpty:
        break;
      case LineKind::kExpenseHeader:
        StartExpense(last);
        break;
      default:
        AddItemLine(last);
        break;
    }
  }
  FlushExpense();
}

void PostingWalk::StartExpense(std::string_view header) {
  FlushExpense();
  pending_ = ExpenseStep{};
  const std::vector<std::string> f = kv::Split(header, "|");
  if (f.size() < 6) {
    pending_.failure = "The expense header has " + std::to_string(f.size()) + " field(s) where 6 are needed: '" +
                       std::string(header) + "'";
  }
  auto field = [&f](size_t i) { return i < f.size() ? f[i] : std::string(); };
  CurrentExpense& e = pending_.expense;
  // "EXP7001": the expense's own id follows the type.
  pending_.record_id = std::string(kv::TrimBlanks(field(0).substr(std::min<size_t>(3, field(0).size()))));
  e.sCurExpPayee = field(1);
  e.sCurExpDate = field(2);
  e.sCurExpMemo = field(3);
  e.sCurExpBankAccount = field(5);
  if (pending_.failure.empty()) {
    try {
      e.bCurExpIsBill = ReadFlagText(field(4), "bill flag");
    } catch (const kv::Error& error) {
      pending_.failure = error.description();
    }
  }
}

void PostingWalk::AddItemLine(const std::string& line) {
  const std::vector<std::string> f = kv::Split(line, "|");
  pending_.expense.sExpenseItemLines.push_back(line);
  if (!pending_.ids.empty()) pending_.ids += ",";
  pending_.ids += f[0];
  // The status report names the expense by its lines' ids. A line without one could never be reported, so the
  // service would hand the expense out again and it would be posted a second time.
  if (kv::TrimBlanks(f[0]).empty() && pending_.failure.empty()) {
    pending_.failure = "The expense line '" + line +
                       "' carries no id, so the Kalvor service could not be told that it was posted. The expense "
                       "was not posted.";
  }
  // A wrong total would be reported to the service as this expense's amount; fail the expense instead.
  if (f.size() < 5) {
    if (pending_.failure.empty()) pending_.failure = "The expense line '" + line + "' has no amount.";
    return;
  }
  try {
    pending_.expense.dblCurExpTotal += ReadNumberText(f[4], "amount");
  } catch (const kv::Error& error) {
    if (pending_.failure.empty()) pending_.failure = error.description();
  }
}

void PostingWalk::FlushExpense() {
  if (pending_.expense.sExpenseItemLines.empty()) return;
  ready_.emplace_back(std::move(pending_));
  // The next expense starts clean, but an item line that arrives before any header still collects into one.
  pending_ = ExpenseStep{};
}

}  // namespace tessarine
