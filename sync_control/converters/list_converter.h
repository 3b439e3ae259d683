#pragma once

// The converter template every SQL list converter follows, as reusable pieces and as one complete run.
//
// A converter with no deviations from the template describes itself with a ListConverterSpec and calls
// RunListConverter; one whose records are not all taken alike (the customer list's two halves) also gives the
// steps that differ as a ListPassSteps. A converter that walks its records differently (several record kinds one after
// the other, keys counted otherwise, lines instead of statements) drives the pieces itself: LoadResponseStream,
// BeginProgress, FillTimesAndActive, PassesLastSync, AppendColumns, FinishStatement, StatementUploader and EndList.

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "common/utility_result.h"
#include "platform/base/date_time.h"
#include "platform/xml/dom.h"
#include "platform/xml/element_stream.h"
#include "sync_control/converters/column_table.h"
#include "sync_control/converters/record_sets.h"
#include "sync_control/converters/statement_script.h"
#include "sync_control/statement_stream.h"

namespace brintavel {

class BrintavelCtl;
struct ModWizard;

// The progress bar of the template counts Max n - 1 (at least 1) with Value i; the employee converter's counts
// Max n with Value i + 1, so that its bar reaches Max at the last record.
enum class ProgressStyle { FromZero, FromOne };

// When a list's failure counter starts again from zero: before its response is loaded (a response that cannot be
// loaded leaves zero), right after loading (it leaves the count of the run before), or only after the other
// counters, as the chart of accounts does (a response that does not parse or holds no record leaves it as it was).
enum class FailureReset { BeforeLoading, AfterLoading, AfterCounters };

// The particulars of one SQL list converter.
struct ListConverterSpec {
  std::string_view record_element;  // "ClassRet"
  TableLiterals table;              // {"ClassInfo", "ClassRowID"}
  std::span<const Column> columns;  // in INSERT order
  std::string_view letter;          // options letter of its uploads and status report
  std::string start_caption;        // "Getting Classes from QB"
  std::string count_caption;        // "Getting Classes from QB (": the count and ")" follow
  RecordSet RecordSets::*record_set = nullptr;
  // The list's last-sync date; none for a list whose every record is sent.
  std::optional<kv::DateTime> last_sync;
  int32_t BrintavelCtl::*failure_counter = nullptr;
  int64_t ModWizard::*converted_counter = nullptr;
  ProgressStyle progress = ProgressStyle::FromZero;
  // When the failure counter starts again from zero.
  FailureReset reset_failures = FailureReset::AfterLoading;
  // The chart of accounts lets a failure to create or load the document reach the dispatcher.
  bool load_errors_to_caller = false;
  // The record set emptied when the response cannot be read, so that no values of an earlier run stand in for it.
  bool empty_records_when_unreadable = false;
  // Width of the ListID literal in the IF head and the WHERE clause: that of the [QBListID] column it matches.
  size_t list_id_width = 50;
};

// The steps of a pass whose records are not all taken alike; a step left empty does what the template does.
struct ListPassSteps {
  // Whether the record belongs to this pass, asked before anything else of it is read; it may fill members of the
  // row. A record left out keeps its row untouched, defaults and all; its position still counts for the keys.
  std::function<bool(const RecordChildren&, RecordRow&)> takes = nullptr;
  // Asked for a record the last-sync filter left out: true sends it all the same.
  std::function<bool(const RecordChildren&)> send_unchanged = nullptr;
  // Appends the columns of a taken record; by default every column of the list as its table says.
  std::function<void(StatementBuilder&, const ColumnContext&)> append_columns = nullptr;
  // After the last column of a taken record: the members kept beyond those the columns fill.
  std::function<void(const RecordChildren&, RecordRow&)> after_columns = nullptr;
  // Whether the list's status report follows the remainder upload; by default when no upload of the list failed
  // and something was sent.
  std::function<bool()> report_status = nullptr;
};

// One pass of the template over the list's records. True when it ran to its end, remainder upload and status
// report included; false when the response was unreadable or empty or an upload ended the converter.
bool RunListConverter(BrintavelCtl& ctl, const ListConverterSpec& list, const ListPassSteps& steps = {});

// ---- The pieces.

// The response as a stream over the record elements named, checked (ResponseIndex), reading each record from its
// place. Loading happens apart from the parsed test, since converters set their failure counter between the two.
platform::xml::ElementStream LoadResponseStream(std::vector<std::string> names);
// True when the response parsed; otherwise sets bSyncError and sSyncErrorText (the parser's reason after
// kResponseUnreadablePrefix) and returns false.
bool CheckResponseParsed(const platform::xml::ElementStream& stream);
inline constexpr std::string_view kResponseUnreadablePrefix = "qbXML response could not be read: ";
// LoadResponseStream with an error of the load (not a parse error) put in bSyncError and sSyncErrorText, after
// kResponseUnreadablePrefix: nothing then.
std::optional<platform::xml::ElementStream> TryLoadResponseStream(std::vector<std::string> names);
// TryLoadResponseStream of one record element, checked: nothing also when the response does not parse.
std::optional<platform::xml::ElementStream> OpenResponseStream(std::string_view record_element);

// The children of one record element, read through its first child of each name or path.
class ElementChildren : public RecordChildren {
 public:
  explicit ElementChildren(platform::xml::Node element) : record_(std::move(element)) {}
  explicit ElementChildren(platform::xml::RecordView record) : record_(std::move(record)) {}
  std::optional<std::string_view> ChildView(std::string_view path) const override;
  bool HasChild(std::string_view path) const override;

 private:
  platform::xml::RecordView record_;
};

// Shows the progress frame, bar and label for a list of n records.
void BeginProgress(BrintavelCtl& ctl, size_t n, const std::string& caption, ProgressStyle style);

// Members 2 and 3 from TimeCreated and TimeModified, the active member from IsActive, each only when its child
// is present. A time stamp that cannot be read leaves its member at the zero date-time.
void FillTimesAndActive(const RecordChildren& children, RecordRow& record, int active_member);
// Created or modified at or after the last sync, to the second.
bool PassesLastSync(RecordRow& record, kv::DateTime last_sync);

// A statement builder over the control's pieces (sStatement, sInsertSQL, ...).
StatementBuilder ControlStatementBuilder(BrintavelCtl& ctl);
// Appends every column of the table in order, with its SET entry where the column says so.
void AppendColumns(StatementBuilder& builder, std::span<const Column> columns, const ColumnContext& context);
// The statement from the lists built; the record's ListID (member 1) gives the literal of the IF head and the
// WHERE clause, cut to the width of the [QBListID] column it is compared with.
const std::string& FinishStatement(StatementBuilder& builder, const TableLiterals& table, const RecordRow& record,
                                   bool active, size_t list_id_width = 50);

// Writes statements or lines into the control's stream and uploads them by the template's rules: every 100
// outside debug mode, each one by itself in debug mode, failures in debug mode counted and, with optStop,
// ending the list. Write and Flush return false when the converter must return at once (bAbortSync is set).
//
// Outside debug mode the records after a full batch are converted while the service answers it, on this thread,
// with the loop's events let through now and then. Everything a user or a caller sees keeps its order: the next
// batch goes out only after the answer to this one has been judged, the progress shown meanwhile is held back
// until then, and when the batch fails or is cancelled the records converted ahead are given back (their rows
// blank again, the count, the batch count, the stream and the statement pieces as the batch left them), as if the
// converter had stopped at that batch.
class StatementUploader {
 public:
  StatementUploader(BrintavelCtl& ctl, std::string letter, int32_t BrintavelCtl::*failure_counter);
  StatementUploader(StatementUploader&&) noexcept;
  ~StatementUploader();

  // Called after every upload that does not end the converter (the time and expense converters read the
  // service's answer here).
  std::function<void()> after_upload;
  // False for a kind whose statements all go in the one upload at its end.
  bool upload_full_batches = true;
  // For such a kind: how many statements it may write at most, so that the one body is made room for once, after
  // its first statement, instead of growing by doubling (0: not known).
  size_t statements_expected = 0;
  // What converting a record changes beyond the stream: its row (record i is row i + 1) and the count of records
  // converted. Without both, every batch is answered before the next record is converted.
  RecordSet* rows = nullptr;
  int64_t* converted = nullptr;

  // Shows record i (0..n-1, in order) on the progress bar, then converts it; false when a record or an upload
  // ended the converter. Only here are records converted while a batch is answered.
  bool ForEachRecord(size_t n, ProgressStyle style, const std::function<bool(size_t)>& convert);
  // The count caption, "Getting Classes from QB (" then the count and ")".
  void ShowCount(const std::string& count_caption, int64_t count);

  bool Write(const std::string& statement);
  // The remainder outside debug mode; nothing in debug mode or when nothing waits.
  bool Flush();

 private:
  struct Awaited;
  struct Shown;

  PLKVUtilityResult Upload();
  // The stream about to go out, with the options letter set and its size kept for the next batch's room.
  StatementStream& StreamToSend();
  bool UploadBatch();
  // Sends the full batch and goes on converting; false when it could not go out.
  bool BeginBatch();
  // Waits for the awaited batch's answer and judges it: true when the converter goes on (what was held back is
  // shown), false when the records converted ahead were given back and the converter must return.
  bool Resolve();
  // Lets the loop's events through when it is time to, and resolves an answer that has come.
  bool LookForAnswer();
  void Show(Shown shown);
  void FreshStream();

  BrintavelCtl& ctl_;
  std::string letter_;
  int32_t BrintavelCtl::*failure_counter_;
  size_t last_batch_bytes_ = 0;       // the size of the batch sent last, which the next one is made room for
  bool in_loop_ = false;              // inside ForEachRecord
  size_t position_ = 0;               // the record ForEachRecord is at
  bool awaiting_ = false;             // a batch's answer is awaited
  std::unique_ptr<Awaited> awaited_;  // what it left, kept with its room from batch to batch
};

// The end of a list that ran to its end: the status report when nothing failed and something was sent, then the
// progress frame hidden.
void EndList(BrintavelCtl& ctl, std::string_view letter, bool report_status);

}  // namespace brintavel
