// The template every list converter runs: open the response, walk its records, fill the record set, build and
// send the statements, report progress. Each list adds only its columns and rules.

#include "sync_control/converters/list_converter.h"

#include <array>
#include <chrono>
#include <exception>

#include "platform/base/error.h"
#include "platform/forms/event_loop.h"
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

namespace {

// How often, while a batch is answered, the records converted meanwhile let the loop's events through: often
// enough for the transfer to move and the progress to show, seldom beside the records.
constexpr std::chrono::microseconds kLookEvery{250};

// The control's statement pieces, which a batch given back restores.
std::array<std::string*, 7> ControlPieces(BrintavelCtl& ctl) {
  return {&ctl.sStatement,   &ctl.sInsertSQL,  &ctl.sUpdateSQL, &ctl.sColumnName,
          &ctl.sColumnValue, &ctl.sColumnList, &ctl.sValueList};
}

}  // namespace

// A progress step: the bar's value, or a caption of the label.
struct StatementUploader::Shown {
  bool caption = false;
  double value = 0;
  std::string text;
};

// A batch sent whose answer has not been judged yet, and what the records converted since changed.
struct StatementUploader::Awaited {
  std::unique_ptr<StatementStream> sent_stream;  // the stream as the upload left it
  int32_t batch_count = 0;
  int64_t converted = 0;
  std::array<std::string, 7> pieces;
  size_t first_record = 0;  // the first record converted ahead
  std::vector<Shown> held_back;
  std::chrono::steady_clock::time_point next_look;
};

StatementUploader::StatementUploader(BrintavelCtl& ctl, std::string letter, int32_t BrintavelCtl::*failure_counter)
    : ctl_(ctl), letter_(std::move(letter)), failure_counter_(failure_counter) {}

StatementUploader::StatementUploader(StatementUploader&&) noexcept = default;

StatementUploader::~StatementUploader() {
  // Every converter flushes or returns on a failure; an answer still awaited here is judged all the same, so that
  // the upload's result is the control's.
  if (awaiting_) IgnoringErrors([&] { Resolve(); });
}

bool StatementUploader::ForEachRecord(size_t n, ProgressStyle style, const std::function<bool(size_t)>& convert) {
  in_loop_ = true;
  struct LoopEnd {
    bool& in_loop;
    ~LoopEnd() { in_loop = false; }
  } loop_end{in_loop_};
  for (size_t i = 0; i < n; ++i) {
    position_ = i;
    if (awaiting_ && !LookForAnswer()) return false;
    Show({false, static_cast<double>(style == ProgressStyle::FromOne ? i + 1 : i), {}});
    bool go_on = false;
    try {
      go_on = convert(i);
    } catch (...) {
      if (!awaiting_) throw;
      // The converter reaches this record only if the batch before it is accepted.
      const std::exception_ptr error = std::current_exception();
      if (!Resolve()) return false;
      std::rethrow_exception(error);
    }
    if (!go_on) return false;
  }
  return true;
}

void StatementUploader::ShowCount(const std::string& count_caption, int64_t count) {
  Show({true, 0, count_caption + std::to_string(count) + ")"});
}

void StatementUploader::Show(Shown shown) {
  if (awaiting_) {
    awaited_->held_back.push_back(std::move(shown));
  } else if (shown.caption) {
    ctl_.lblProcess.SetCaption(shown.text);
    ctl_.lblProcess.Refresh();
  } else {
    IgnoringErrors([&] { ctl_.ProgressBar1.SetValue(shown.value); });
  }
}

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
  if (awaiting_ && !Resolve()) return false;
  if (ctl_.DebugMode || ctl_.lngBatchCount <= 0) return true;
  return UploadBatch();
}

bool StatementUploader::UploadBatch() {
  if (awaiting_ && !Resolve()) return false;
  if (in_loop_ && rows != nullptr && converted != nullptr) return BeginBatch();
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

bool StatementUploader::BeginBatch() {
  if (!ctl_.BeginUpload(StreamToSend())) {
    ctl_.lngUploadResult = kvurSystemError;
    ctl_.bAbortSync = true;
    return false;
  }
  // One record of what a batch leaves, kept from batch to batch with the room its texts took.
  if (!awaited_) awaited_ = std::make_unique<Awaited>();
  Awaited& awaited = *awaited_;
  awaited.sent_stream = std::move(ctl_.objUploadStream);
  awaited.batch_count = ctl_.lngBatchCount;
  awaited.converted = *converted;
  const std::array<std::string*, 7> pieces = ControlPieces(ctl_);
  for (size_t p = 0; p < pieces.size(); ++p) awaited.pieces[p] = *pieces[p];
  awaited.first_record = position_ + 1;
  awaited.held_back.clear();
  // The request goes out now rather than at the first look.
  platform::forms::DoEvents();
  awaited.next_look = std::chrono::steady_clock::now() + kLookEvery;
  awaiting_ = true;
  ctl_.lngBatchCount = 0;
  FreshStream();
  return true;
}

bool StatementUploader::LookForAnswer() {
  const auto now = std::chrono::steady_clock::now();
  if (now < awaited_->next_look) return true;
  awaited_->next_look = now + kLookEvery;
  platform::forms::DoEvents();
  if (!ctl_.UploadAnswered()) return true;
  return Resolve();
}

bool StatementUploader::Resolve() {
  awaiting_ = false;
  Awaited& awaited = *awaited_;
  ctl_.lngUploadResult = ctl_.AwaitUpload();
  if (ctl_.lngUploadResult != kvurSuccess && ctl_.lngUploadResult != kvurNoDataToUpload) {
    for (size_t i = awaited.first_record; i <= position_; ++i) rows->ResetRow(static_cast<int32_t>(i + 1));
    *converted = awaited.converted;
    ctl_.lngBatchCount = awaited.batch_count;
    ctl_.objUploadStream = std::move(awaited.sent_stream);
    const std::array<std::string*, 7> pieces = ControlPieces(ctl_);
    for (size_t p = 0; p < pieces.size(); ++p) pieces[p]->swap(awaited.pieces[p]);
    ctl_.bAbortSync = true;
    return false;
  }
  awaited.sent_stream.reset();
  if (after_upload) after_upload();
  for (Shown& shown : awaited.held_back) Show(std::move(shown));
  return true;
}

PLKVUtilityResult StatementUploader::Upload() {
  return ctl_.UploadNow(StreamToSend());
}

StatementStream& StatementUploader::StreamToSend() {
  ResetMousePointer();
  ctl_.nOptions = letter_;
  if (!ctl_.objUploadStream) FreshStream();
  IgnoringErrors([&] { last_batch_bytes_ = static_cast<size_t>(ctl_.objUploadStream->Size()); });
  return *ctl_.objUploadStream;
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
  uploader.rows = &records;
  uploader.converted = &converted;
  const bool ran = uploader.ForEachRecord(n, list.progress, [&](size_t i) {
    builder.Clear();
    const ElementChildren children(stream->NextRecord());
    RecordRow& record = records[static_cast<int32_t>(i + 1)];
    if (steps.takes && !steps.takes(children, record)) return true;
    FillTimesAndActive(children, record, records.active_member());
    if (list.last_sync && !PassesLastSync(record, *list.last_sync)) {
      if (!steps.send_unchanged || !steps.send_unchanged(children)) return true;
    }
    // A record without a ListID cannot be matched on the service: its UPDATE would compare with the empty id and
    // overwrite every row that has none. It is skipped like a record the filter leaves out.
    const std::optional<std::string_view> list_id = children.ChildView("ListID");
    if (!list_id || list_id->empty()) return true;

    const ColumnContext context{children, record, static_cast<int64_t>(i), ctl.KalvorUser};
    if (steps.append_columns) {
      steps.append_columns(builder, context);
    } else {
      AppendColumns(builder, list.columns, context);
    }
    if (steps.after_columns) steps.after_columns(children, record);
    if (!builder.HasColumns()) return true;

    ++converted;
    uploader.ShowCount(list.count_caption, converted);
    const bool active = records.active_member() != 0 && record.Flag(records.active_member());
    return uploader.Write(FinishStatement(builder, list.table, record, active, list.list_id_width));
  });
  if (!ran || !uploader.Flush()) return false;
  EndList(ctl, list.letter, steps.report_status ? steps.report_status() : failures == 0 && converted > 0);
  return true;
}

}  // namespace brintavel
