// The template every list converter runs: open the response, walk its records, fill the record set, build and
// send the statements, report progress. Each list adds only its columns and rules.

#include "sync_control/converters/list_converter.h"

#include "platform/base/error.h"
#include "sync_control/brintavel_ctl.h"
#include "sync_control/converters/qb_date_time.h"
#include "sync_control/converters/sql_literal.h"
#include "sync_control/module_state.h"
#include "sync_control/response_index.h"

namespace brintavel {
namespace {

// A step whose failure the template ignores: the converter goes on with the next step, and the target of the
// failed step keeps what it held.
template <class Step>
void IgnoringErrors(Step&& step) {
  try {
    step();
  } catch (const kv::Error&) {
  }
}

void ReadTimeStamp(const RecordChildren& children, std::string_view name, kv::DateTime& target) {
  const std::optional<std::string_view> text = children.ChildView(name);
  if (!text) return;
  try {
    target = ParseQBDateTime(*text);
  } catch (const kv::Error&) {
    target = kv::DateTime();
  }
}

}  // namespace

platform::xml::ElementStream LoadResponseStream(std::vector<std::string> names) {
  const platform::xml::ElementIndex index = ResponseIndex(names);
  return platform::xml::ElementStream(index, std::move(names));
}

bool CheckResponseParsed(const platform::xml::ElementStream& stream) {
  if (stream.parsed()) return true;
  ModWizard& m = Module();
  m.bSyncError = true;
  m.sSyncErrorText = std::string(kResponseUnreadablePrefix) + stream.parseError().reason;
  return false;
}

std::optional<platform::xml::ElementStream> TryLoadResponseStream(std::vector<std::string> names) {
  try {
    return LoadResponseStream(std::move(names));
  } catch (const kv::Error& e) {
    ModWizard& m = Module();
    m.bSyncError = true;
    m.sSyncErrorText = std::string(kResponseUnreadablePrefix) + e.description();
    return std::nullopt;
  }
}

std::optional<platform::xml::ElementStream> OpenResponseStream(std::string_view record_element) {
  std::optional<platform::xml::ElementStream> stream = TryLoadResponseStream({std::string(record_element)});
  if (!stream || !CheckResponseParsed(*stream)) return std::nullopt;
  return stream;
}

std::optional<std::string_view> ElementChildren::ChildView(std::string_view path) const {
  return record_.ChildView(path);
}

bool ElementChildren::HasChild(std::string_view path) const {
  return record_.HasChild(path);
}

void BeginProgress(BrintavelCtl& ctl, size_t n, const std::string& caption, ProgressStyle style) {
  IgnoringErrors([&] {
    ctl.ProgressBar1.SetVisible(true);
    const size_t max = style == ProgressStyle::FromOne ? n : (n < 2 ? 1 : n - 1);
    ctl.ProgressBar1.SetMax(static_cast<double>(max));
    ctl.ProgressBar1.SetValue(0);
  });
  ctl.fraProgress.SetVisible(true);
  ctl.fraProgress.Refresh();
  ctl.lblProcess.SetVisible(true);
  ctl.lblProcess.SetCaption(caption);
  ctl.lblProcess.Refresh();
}

void ShowRecordProgress(BrintavelCtl& ctl, size_t position, ProgressStyle style) {
  const size_t value = style == ProgressStyle::FromOne ? position + 1 : position;
  IgnoringErrors([&] { ctl.ProgressBar1.SetValue(static_cast<double>(value)); });
}

void ShowCountCaption(BrintavelCtl& ctl, const std::string& count_caption, int64_t count) {
  ctl.lblProcess.SetCaption(count_caption + std::to_string(count) + ")");
  ctl.lblProcess.Refresh();
}

void FillTimesAndActive(const RecordChildren& children, RecordRow& record, int active_member) {
  ReadTimeStamp(children, "TimeCreated", record.TimeCreated());
  ReadTimeStamp(children, "TimeModified", record.TimeModified());
  if (active_member == 0) return;
  if (const std::optional<std::string_view> active = children.ChildView("IsActive")) {
    record.Flag(active_member) = IsActiveText(*active);
  }
}

bool PassesLastSync(RecordRow& record, kv::DateTime last_sync) {
  return record.TimeCreated() >= last_sync || record.TimeModified() >= last_sync;
}

StatementBuilder ControlStatementBuilder(BrintavelCtl& ctl) {
  return StatementBuilder(ctl.sStatement, ctl.sInsertSQL, ctl.sUpdateSQL, ctl.sColumnName, ctl.sColumnValue,
                          ctl.sColumnList, ctl.sValueList);
}

void AppendColumns(StatementBuilder& builder, std::span<const Column> columns, const ColumnContext& context) {
  for (const Column& column : columns) {
    const bool in_set = AppendColumnLiteral(column, context, builder.BeginColumn(column.name));
    builder.EndColumn(in_set);
  }
}

const std::string& FinishStatement(StatementBuilder& builder, const TableLiterals& table, const RecordRow& record,
                                   bool active, size_t list_id_width) {
  std::string& list_id = builder.ListIdScratch();
  list_id.clear();
  AppendTextLiteral(list_id, record.Text(1), list_id_width);
  return builder.Finish(table, list_id, active);
}

StatementUploader::StatementUploader(BrintavelCtl& ctl, std::string letter, int32_t BrintavelCtl::*failure_counter)
    : ctl_(ctl), letter_(std::move(letter)), failure_counter_(failure_counter) {}

bool StatementUploader::Write(const std::string& statement) {
  if (!ctl_.objUploadStream) FreshStream();
  IgnoringErrors([&] { ctl_.objUploadStream->WriteText(statement); });
  ++ctl_.lngBatchCount;

  if (!ctl_.DebugMode && !upload_full_batches && statements_expected > 1 && ctl_.lngBatchCount == 1) {
    // Statements of one kind are of a size: room for all of them, and a quarter more. Room not written to takes no
    // memory of the machine's.
    IgnoringErrors([&] {
      const auto first = static_cast<size_t>(ctl_.objUploadStream->Size());
      ctl_.objUploadStream->Reserve(first * statements_expected + first * statements_expected / 4);
    });
  }
  if (!ctl_.DebugMode) {
    if (upload_full_batches && ctl_.lngBatchCount == 100) return UploadBatch();
    return true;
  }

  // Debug mode: each statement on its own. A failed statement is dropped with its stream; the batch count is
  // not reset here, it only counts.
  ctl_.lngUploadResult = Upload();
  if (ctl_.lngUploadResult == kvurProcessInterrupted) {
    ctl_.bAbortSync = true;
    return false;
  }
  if (ctl_.lngUploadResult != kvurSuccess) {
    ++(ctl_.*failure_counter_);
    if (ctl_.optStop.Value()) {
      ctl_.bAbortSync = true;
      return false;
    }
  }
  if (after_upload) after_upload();
  FreshStream();
  return true;
}

bool StatementUploader::Flush() {
  if (ctl_.DebugMode || ctl_.lngBatchCount <= 0) return true;
  return UploadBatch();
}

bool StatementUploader::UploadBatch() {
  ctl_.lngUploadResult = Upload();
  if (ctl_.lngUploadResult != kvurSuccess && ctl_.lngUploadResult != kvurNoDataToUpload) {
    ctl_.bAbortSync = true;
    return false;
  }
  if (after_upload) after_upload();
  ctl_.lngBatchCount = 0;
  FreshStream();
  return true;
}

PLKVUtilityResult StatementUploader::Upload() {
  ResetMousePointer();
  ctl_.nOptions = letter_;
  if (!ctl_.objUploadStream) FreshStream();
  IgnoringErrors([&] { last_batch_bytes_ = static_cast<size_t>(ctl_.objUploadStream->Size()); });
  return ctl_.UploadNow(*ctl_.objUploadStream);
}

void StatementUploader::FreshStream() {
  ctl_.objUploadStream = NewStatementStream();
  // The batches of a list are alike: room for the last one and a little more, rather than doubling up to it.
  if (last_batch_bytes_ > 0) {
    IgnoringErrors([&] { ctl_.objUploadStream->Reserve(last_batch_bytes_ + last_batch_bytes_ / 8); });
  }
}

void EndList(BrintavelCtl& ctl, std::string_view letter, bool report_status) {
  // The report's result is kept for the wizard and ends nothing; a report that fails outright leaves the
  // previous result, as any ignored step does.
  if (report_status) IgnoringErrors([&] { ctl.lngUploadResult = ctl.SendSyncStatus(std::string(letter)); });
  ctl.fraProgress.SetVisible(false);
}

namespace {

std::optional<platform::xml::ElementStream> LoadListResponse(BrintavelCtl& ctl, const ListConverterSpec& list) {
  int32_t& failures = ctl.*list.failure_counter;
  if (list.reset_failures == FailureReset::BeforeLoading) failures = 0;
  std::vector<std::string> names{std::string(list.record_element)};
  std::optional<platform::xml::ElementStream> stream =
      list.load_errors_to_caller ? LoadResponseStream(std::move(names)) : TryLoadResponseStream(std::move(names));
  if (!stream) return std::nullopt;
  if (list.reset_failures == FailureReset::AfterLoading) failures = 0;
  if (!CheckResponseParsed(*stream)) return std::nullopt;
  return stream;
}

}  // namespace

bool RunListConverter(BrintavelCtl& ctl, const ListConverterSpec& list, const ListPassSteps& steps) {
  int32_t& failures = ctl.*list.failure_counter;
  int64_t& converted = Module().*list.converted_counter;
  RecordSet& records = ModuleRecordSets().*list.record_set;

  std::optional<platform::xml::ElementStream> stream = LoadListResponse(ctl, list);
  if (!stream) {
    if (list.empty_records_when_unreadable) records.Resize(0, "Empty");
    return false;
  }
  const size_t n = stream->Count(list.record_element);
  if (n < 1) {
    records.Resize(0, "Empty");
    return false;
  }
  records.Resize(static_cast<int32_t>(n), "");

  BeginProgress(ctl, n, list.start_caption, list.progress);
  ctl.lngBatchCount = 0;
  converted = 0;
  if (list.reset_failures == FailureReset::AfterCounters) failures = 0;

  StatementBuilder builder = ControlStatementBuilder(ctl);
  StatementUploader uploader(ctl, std::string(list.letter), list.failure_counter);
  for (size_t i = 0; i < n; ++i) {
    builder.Clear();
    ShowRecordProgress(ctl, i, list.progress);
    const ElementChildren children(stream->NextRecord());
    RecordRow& record = records[static_cast<int32_t>(i + 1)];
    if (steps.takes && !steps.takes(children, record)) continue;
    FillTimesAndActive(children, record, records.active_member());
    if (list.last_sync && !PassesLastSync(record, *list.last_sync)) {
      if (!steps.send_unchanged || !steps.send_unchanged(children)) continue;
    }
    // A record without a ListID cannot be matched on the service: its UPDATE would compare with the empty id and
    // overwrite every row that has none. It is skipped like a record the filter leaves out.
    const std::optional<std::string_view> list_id = children.ChildView("ListID");
    if (!list_id || list_id->empty()) continue;

    const ColumnContext context{children, record, static_cast<int64_t>(i), ctl.KalvorUser};
    if (steps.append_columns) {
      steps.append_columns(builder, context);
    } else {
      AppendColumns(builder, list.columns, context);
    }
    if (steps.after_columns) steps.after_columns(children, record);
    if (!builder.HasColumns()) continue;

    ++converted;
    ShowCountCaption(ctl, list.count_caption, converted);
    const bool active = records.active_member() != 0 && record.Flag(records.active_member());
    const std::string& statement = FinishStatement(builder, list.table, record, active, list.list_id_width);
    if (!uploader.Write(statement)) return false;
  }
  if (!uploader.Flush()) return false;
  EndList(ctl, list.letter, steps.report_status ? steps.report_status() : failures == 0 && converted > 0);
  return true;
}

}  // namespace brintavel
