#include "sync_control/converters/customer_list.h"

#include <charconv>

#include "common/error.h"
#include "common/text.h"
#include "sync_control/brintavel_ctl.h"
#include "sync_control/converters/record_sets.h"
#include "sync_control/module_state.h"

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
  const std::optional<std::string> text = children.Child("Sublevel");
  if (!text) return 0;
  return WholeNumber(*text).value_or(0);
}

void RunCustomerListHalf(BrintavelCtl& ctl, const ListConverterSpec& list, const CustomerListHalf& half) {
  int32_t& failures = ctl.*list.failure_counter;
  int64_t& converted = Module().*list.converted_counter;
  RecordSet& records = ModuleRecordSets().*list.record_set;

  failures = 0;
  std::optional<platform::xml::ElementStream> stream = OpenResponseStream(list.record_element);
  if (!stream) {
    // No values of an earlier run may stand in for a response that could not be read.
    records.Resize(0, "Empty");
    return;
  }

  const size_t n = stream->Count(list.record_element);
  if (n < 1) {
    records.Resize(0, "Empty");
    return;
  }
  records.Resize(static_cast<int32_t>(n), "");

  BeginProgress(ctl, n, list.start_caption, list.progress);
  ctl.lngBatchCount = 0;
  converted = 0;

  StatementBuilder builder = ControlStatementBuilder(ctl);
  StatementUploader uploader(ctl, std::string(list.letter), list.failure_counter);
  for (size_t i = 0; i < n; ++i) {
    builder.Clear();
    ShowRecordProgress(ctl, i, list.progress);
    const ElementChildren children(stream->NextRecord());
    // The other half's records are left untouched, defaults and all; their positions still count for the keys.
    const int32_t sublevel = CustomerSubLevel(children);
    if (!half.takes(sublevel)) continue;

    RecordRow& record = records[static_cast<int32_t>(i + 1)];
    record.Int32(8) = sublevel;
    FillTimesAndActive(children, record, records.active_member());
    if (list.last_sync && !PassesLastSync(record, *list.last_sync)) {
      if (!half.send_unchanged || !half.send_unchanged(children)) continue;
    }
    // A record without a ListID cannot be matched on the service: its UPDATE would compare with the empty id and
    // overwrite every row that has none.
    const std::optional<std::string> list_id = children.Child("ListID");
    if (!list_id || list_id->empty()) continue;

    const ColumnContext context{children, record, static_cast<int64_t>(i), ctl.KalvorUser};
    if (half.append_columns) {
      half.append_columns(builder, context);
    } else {
      AppendColumns(builder, list.columns, context);
    }
    if (half.after_columns) half.after_columns(children, record);
    if (!builder.HasColumns()) continue;

    ++converted;
    ShowCountCaption(ctl, list.count_caption, converted);
    const bool active = record.Flag(records.active_member());
    const std::string& statement = FinishStatement(builder, list.table, record, active, list.list_id_width);
    if (!uploader.Write(statement)) return;
  }
  if (!uploader.Flush()) return;
  EndList(ctl, list.letter, half.report_status && half.report_status());
  // The values stay for the rest of the run.
  records.Resize(static_cast<int32_t>(n), "Preserve");
}

}  // namespace brintavel
