// The pass over the customer answer that customers and jobs share: each takes its half of the records by level.

#include "sync_control/converters/customer_list.h"

#include <charconv>

#include "platform/base/text.h"
#include "sync_control/converters/record_sets.h"

namespace brintavel {
namespace {

std::optional<int32_t> WholeNumber(std::string_view text) {
  text = kv::TrimBlanks(text);
  if (text.empty()) return std::nullopt;
  for (char c : text) {
    if (c < '0' || c > '9') return std::nullopt;
  }
  int32_t value = 0;
  const auto r = std::from_chars(text.data(), text.data() + text.size(), value);
  if (r.ec != std::errc() || r.ptr != text.data() + text.size()) return std::nullopt;
  return value;
}

}  // namespace

std::optional<std::string> WholeNumberText(std::string_view text) {
  if (!WholeNumber(text)) return std::nullopt;
  return std::string(kv::TrimBlanks(text));
}

int32_t CustomerSubLevel(const RecordChildren& children) {
  const std::optional<std::string_view> text = children.ChildView("Sublevel");
  if (!text) return 0;
  return WholeNumber(*text).value_or(0);
}

void RunCustomerListHalf(BrintavelCtl& ctl, ListConverterSpec list, CustomerListHalf half) {
  list.reset_failures = FailureReset::BeforeLoading;
  list.empty_records_when_unreadable = true;
  half.steps.takes = [&takes = half.takes](const RecordChildren& children, RecordRow& record) {
    const int32_t sublevel = CustomerSubLevel(children);
    if (!takes(sublevel)) return false;
    record.Int32(8) = sublevel;
    return true;
  };
  if (!RunListConverter(ctl, list, half.steps)) return;
  // The values stay for the rest of the run.
  RecordSet& records = ModuleRecordSets().*list.record_set;
  records.Resize(records.UpperBound(), "Preserve");
}

}  // namespace brintavel
