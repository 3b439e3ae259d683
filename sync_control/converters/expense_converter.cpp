// The expense converter: checks, then bills, read line by line into records and sent as "|" lines.

#include "platform/base/error.h"
#include "sync_control/brintavel_ctl.h"
#include "sync_control/converters/list_converter.h"
#include "sync_control/converters/pipe_line.h"
#include "sync_control/converters/transaction_converters.h"
#include "sync_control/module_state.h"

namespace brintavel {
namespace {

// What sets the two passes apart.
struct ExpenseKind {
  std::string_view element;  // "CheckRet"
  std::string_view letter;   // options letter of its uploads
  std::string_view name;     // field 2 of its lines
  // A check line carries one empty field more than a bill line, before the item line's quantity and cost.
  bool check = false;
};

constexpr ExpenseKind kChecks{"CheckRet", "X", "Check", true};
constexpr ExpenseKind kBills{"BillRet", "B", "Bill", false};

// One expense line (ExpenseLineRet) or item line (ItemLineRet) of a transaction.
class ExpenseLine {
 public:
  ExpenseLine(const RecordChildren& children, bool item) : children_(children), item_(item) {}

  // The line into `line`; false when the line is to be dropped: an expense line whose amount, or an item line
  // whose cost, is below 0.
  bool Build(PipeLine& line, const ExpenseKind& kind, const RecordRow& record, int64_t number,
             bool billable_status_known) {
    line.Add(std::string(record.Text(1)).append(", ").append(std::to_string(number)));
    line.Add(kind.name).Add(item_ ? "Item" : "Expense");
    line.AddChild(children_, "CustomerRef/ListID").AddChild(children_, "ClassRef/ListID");
    // Versions before 2.0 do not send the status; "9" tells the service it is not known.
    std::optional<std::string_view> billable;
    if (billable_status_known) billable = children_.ChildView("BillableStatus");
    line.Add(billable.value_or("9"));
    line.Add(Number("Amount", !item_));
    if (item_) {
      line.AddChild(children_, "Desc").AddChild(children_, "ItemRef/FullName").AddChild(children_, "ItemRef/ListID");
    } else {
      line.AddChild(children_, "Memo")
          .AddChild(children_, "AccountRef/FullName")
          .AddChild(children_, "AccountRef/ListID");
    }
    line.Add("").Add("");
    line.Add(kv::GeneralDateText(record.Date(2))).Add(kv::GeneralDateText(record.Date(3)));
    line.Add(record.Text(kExpenseEditSequence));
    line.Add("");
    if (kind.check) line.Add("");
    if (item_) line.Add(Number("Quantity", false)).Add(Number("Cost", true));
    return !negative_;
  }

 private:
  // A number written back in the standard form; a missing one, or one that does not read as a number, gives the
  // same "0.00", so that the line keeps all its fields.
  std::string Number(std::string_view child, bool negative_drops_line) {
    const std::optional<std::string_view> text = children_.ChildView(child);
    if (!text) return "0.00";
    try {
      const double value = ParseQBNumber(*text);
      if (negative_drops_line && value < 0) negative_ = true;
      return kv::NumberText(value);
    } catch (const kv::Error&) {
      return "0.00";
    }
  }

  const RecordChildren& children_;
  bool item_;
  bool negative_ = false;
};

void FillExpenseRecord(const RecordChildren& children, RecordRow& record) {
  FillTimesAndActive(children, record, 0);
  if (auto text = children.ChildView("TxnID")) record.SetText(1, *text);
  if (auto text = children.ChildView("EditSequence")) record.SetText(kExpenseEditSequence, *text);
}

}  // namespace

void GetExpensesFromQB(BrintavelCtl& ctl, int16_t pass) {
  ModWizard& m = Module();
  const ExpenseKind& kind = pass == 1 ? kChecks : kBills;
  // The checks pass starts the failure count and the warning for both passes; the bills pass adds to them, so
  // that a failed check upload still withholds the "X" report and the warning still shows.
  if (kind.check) {
    ctl.lngFailedExpCnt = 0;
    ctl.mDisplayEXPError = false;
  }
  // The dispatcher adds the count of each pass; a pass that finds nothing must not leave the previous pass's.
  m.varExpenseCount = 0;
  std::optional<platform::xml::ElementStream> stream = OpenResponseStream(kind.element);
  if (!stream) return;

  const size_t n = stream->Count(kind.element);
  RecordSet& records = ModuleRecordSets().ExpenseRecords;
  if (n < 1) {
    records.Resize(0, "Empty");
    return;
  }
  records.Resize(static_cast<int32_t>(n), "");

  BeginProgress(ctl, n, "Getting Expenses from QB", ProgressStyle::FromZero);
  ctl.lngBatchCount = 0;

  const bool billable_status_known = kv::qb::HasBillableStatus(m.lngQBXMLVersion);
  StatementBuilder pieces = ControlStatementBuilder(ctl);
  StatementUploader uploader =
      LineUploader(ctl, std::string(kind.letter), &BrintavelCtl::lngFailedExpCnt, &BrintavelCtl::mDisplayEXPError);
  uploader.rows = &records;
  uploader.converted = &m.varExpenseCount;
  const std::string count_caption = "Getting Expenses from QB (";
  const bool ran = uploader.ForEachRecord(n, ProgressStyle::FromZero, [&](size_t i) {
    pieces.Clear();
    const platform::xml::RecordView expense = stream->NextRecord();
    RecordRow& record = records[static_cast<int32_t>(i + 1)];
    FillExpenseRecord(ElementChildren(expense), record);
    if (!PassesLastSync(record, m.ExpenseLastSyncDate)) return true;
    // Lines are numbered within their transaction as they are sent; a dropped line takes no number.
    int64_t number = 0;
    for (platform::xml::RecordView::Element& child : expense.ChildElements()) {
      const bool item = child.name == "ItemLineRet";
      if (!item && child.name != "ExpenseLineRet") continue;
      const ElementChildren line_children(std::move(child.view));
      ExpenseLine expense_line(line_children, item);
      PipeLine line(ctl.sValueList);
      if (!expense_line.Build(line, kind, record, number, billable_status_known)) continue;

      ++m.varExpenseCount;
      uploader.ShowCount(count_caption, m.varExpenseCount);
      ctl.sStatement.assign(ctl.sValueList).append("\r\n");
      if (!uploader.Write(ctl.sStatement)) return false;
      ++number;
    }
    return true;
  });
  if (!ran) return;
  // No status report and the frame stays: the dispatcher reports "X" and hides it after both passes.
  uploader.Flush();
}

}  // namespace brintavel
