// The time-tracking converter: durations read exactly, records sent as "|" lines.

#include <cctype>

#include "platform/base/error.h"
#include "platform/base/text.h"
#include "sync_control/brintavel_ctl.h"
#include "sync_control/converters/list_converter.h"
#include "sync_control/converters/pipe_line.h"
#include "sync_control/converters/qb_date_time.h"
#include "sync_control/converters/transaction_converters.h"
#include "sync_control/module_state.h"

namespace brintavel {
namespace {

constexpr std::string_view kTimeLetter = "H";

// Durations are added up exactly in billionths of a second, so that the rounding to thousandths of an hour sees
// the true value and its ties; digits beyond the ninth decimal are dropped.
__extension__ typedef __int128 Exact;
constexpr int kFractionDigits = 9;
constexpr Exact kPerUnit = 1'000'000'000;

bool IsDigit(char c) {
  return std::isdigit(static_cast<unsigned char>(c)) != 0;
}

// Reads "digits[.digits]" from pos on, in billionths; false when there is no digit or the whole part is longer
// than any duration QuickBooks keeps.
bool ReadDecimal(std::string_view text, size_t& pos, Exact& out) {
  Exact whole = 0;
  int whole_digits = 0;
  while (pos < text.size() && IsDigit(text[pos])) {
    if (++whole_digits > 18) return false;
    whole = whole * 10 + (text[pos++] - '0');
  }
  Exact fraction = 0;
  int fraction_digits = 0;
  bool any_fraction_digit = false;
  if (pos < text.size() && text[pos] == '.') {
    ++pos;
    while (pos < text.size() && IsDigit(text[pos])) {
      any_fraction_digit = true;
      if (fraction_digits < kFractionDigits) {
        fraction = fraction * 10 + (text[pos] - '0');
        ++fraction_digits;
      }
      ++pos;
    }
  }
  if (whole_digits == 0 && !any_fraction_digit) return false;
  for (; fraction_digits < kFractionDigits; ++fraction_digits) fraction *= 10;
  out = whole * kPerUnit + fraction;
  return true;
}

// Fields 1 to 15 of one entry, each only when its child is present; a text that does not convert leaves its
// field at the fresh value.
void FillTimeRecord(const RecordChildren& children, RecordRow& record) {
  FillTimesAndActive(children, record, 0);
  if (auto text = children.ChildView("TxnID")) record.SetText(1, *text);
  if (auto text = children.ChildView("EditSequence")) record.SetText(kTimeEditSequence, *text);
  if (auto text = children.ChildView("TxnDate")) {
    try {
      record.Date(kTimeTxnDate) = ParseQBDate(*text);
    } catch (const kv::Error&) {
    }
  }
  // The entity's name goes only with its id, so the service never gets a name it cannot match.
  if (auto id = children.ChildView("EntityRef/ListID")) {
    record.SetText(kTimeEntityId, *id);
    record.SetText(kTimeEntityName, children.ChildView("EntityRef/FullName").value_or(std::string_view()));
  }
  if (auto id = children.ChildView("CustomerRef/ListID")) record.SetText(7, *id);
  if (auto id = children.ChildView("ItemServiceRef/ListID")) record.SetText(8, *id);
  if (auto text = children.ChildView("Duration")) record.Double(kTimeHours) = DurationToHours(*text);
  if (auto id = children.ChildView("ClassRef/ListID")) record.SetText(10, *id);
  if (auto id = children.ChildView("PayrollItemWageRef/ListID")) record.SetText(11, *id);
  if (auto text = children.ChildView("Notes")) record.SetText(12, *text);
  for (const auto& [name, member] : {std::pair{"IsBillable", kTimeBillable}, std::pair{"IsBilled", kTimeBilled}}) {
    if (auto text = children.ChildView(name)) {
      try {
        record.Flag(member) = ParseQBBoolean(*text);
      } catch (const kv::Error&) {
      }
    }
  }
}

std::string FlagText(bool value) {
  return value ? "True" : "False";
}

void BuildTimeLine(RecordRow& record, PipeLine& line) {
  line.Add(record.Text(1))
      .Add(kv::GeneralDateText(record.Date(2)))
      .Add(kv::GeneralDateText(record.Date(3)))
      .Add(record.Text(kTimeEditSequence))
      .Add(kv::GeneralDateText(record.Date(kTimeTxnDate)))
      .Add(record.Text(kTimeEntityId))
      .Add(record.Text(7))
      .Add(record.Text(8))
      .Add(kv::NumberText(record.Double(kTimeHours)))
      .Add(record.Text(10))
      .Add(record.Text(11))
      .Add(record.Text(12))
      .Add(FlagText(record.Flag(kTimeBillable)))
      .Add(FlagText(record.Flag(kTimeBilled)))
      .Add(record.Text(kTimeEntityName));
}

}  // namespace

double DurationToHours(std::string_view duration) {
  if (!duration.starts_with("PT") || duration.size() == 2) return 0;
  // Hours, minutes and seconds, each at most once and in that order.
  constexpr std::string_view kUnits = "HMS";
  constexpr Exact kSecondsPerUnit[] = {3600, 60, 1};
  Exact seconds = 0;
  size_t next_unit = 0;
  size_t pos = 2;
  while (pos < duration.size()) {
    Exact value = 0;
    if (!ReadDecimal(duration, pos, value) || pos >= duration.size()) return 0;
    const size_t unit = kUnits.find(duration[pos++]);
    if (unit == std::string_view::npos || unit < next_unit) return 0;
    seconds += value * kSecondsPerUnit[unit];
    next_unit = unit + 1;
  }
  // Thousandths of an hour = seconds / 3.6, that is seconds * 10 / 36.
  const Exact numerator = seconds * 10;
  const Exact denominator = 36 * kPerUnit;
  Exact thousandths = numerator / denominator;
  const Exact twice_rest = 2 * (numerator % denominator);
  if (twice_rest > denominator || (twice_rest == denominator && thousandths % 2 != 0)) ++thousandths;
  return static_cast<double>(thousandths) / 1000.0;
}

bool ParseQBBoolean(std::string_view text) {
  const std::string_view trimmed = kv::TrimBlanks(text);
  if (kv::EqualsIgnoreCase(trimmed, "true")) return true;
  if (kv::EqualsIgnoreCase(trimmed, "false")) return false;
  double number = 0;
  if (!kv::TryParseNumber(trimmed, number)) throw kv::TypeMismatch();
  return number != 0;
}

void GetTimeFromQB(BrintavelCtl& ctl) {
  ModWizard& m = Module();
  ctl.mDisplayTSError = false;
  ctl.lngFailedTimeCnt = 0;
  std::optional<platform::xml::ElementStream> stream = OpenResponseStream("TimeTrackingRet");
  if (!stream) return;

  const size_t n = stream->Count("TimeTrackingRet");
  RecordSet& records = ModuleRecordSets().TimeRecords;
  if (n < 1) {
    records.Resize(0, "Empty");
    return;
  }
  records.Resize(static_cast<int32_t>(n), "");

  BeginProgress(ctl, n, "Getting Time Information from QB", ProgressStyle::FromZero);
  ctl.lngBatchCount = 0;
  m.varTimeCount = 0;

  StatementBuilder pieces = ControlStatementBuilder(ctl);
  StatementUploader uploader =
      LineUploader(ctl, std::string(kTimeLetter), &BrintavelCtl::lngFailedTimeCnt, &BrintavelCtl::mDisplayTSError);
  uploader.rows = &records;
  uploader.converted = &m.varTimeCount;
  const std::string count_caption = "Getting Time Info from QB (";
  const bool ran = uploader.ForEachRecord(n, ProgressStyle::FromZero, [&](size_t i) {
    pieces.Clear();
    const ElementChildren children(stream->NextRecord());
    RecordRow& record = records[static_cast<int32_t>(i + 1)];
    FillTimeRecord(children, record);
    if (!PassesLastSync(record, m.TimeLastSyncDate)) return true;

    PipeLine line(ctl.sValueList);
    BuildTimeLine(record, line);
    ++m.varTimeCount;
    uploader.ShowCount(count_caption, m.varTimeCount);
    ctl.sStatement.assign(ctl.sValueList).append("\r\n");
    return uploader.Write(ctl.sStatement);
  });
  if (!ran || !uploader.Flush()) return;
  EndList(ctl, kTimeLetter, ctl.lngFailedTimeCnt == 0 && m.varTimeCount > 0);
}

}  // namespace brintavel
