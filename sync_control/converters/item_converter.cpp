// The item converter: the four item kinds' answers walked in turn, with one progress caption each.

#include "sync_control/converters/item_converter.h"

#include <optional>
#include <string>
#include <vector>

#include "platform/base/error.h"
#include "sync_control/brintavel_ctl.h"
#include "sync_control/converters/list_converter.h"
#include "sync_control/module_state.h"
#include "sync_control/response_index.h"

namespace brintavel {
namespace {

constexpr std::string_view kItemLetter = "T";
constexpr TableLiterals kTaskInfo{"TaskInfo", "TaskID"};

// What sets one item kind apart from the others.
struct ItemKind {
  std::string_view element;
  RecordSet RecordSets::*record_set;
  std::span<const Column> columns;
  std::string start_caption;
  std::string count_caption;  // the count and ")" follow
  // Service, non-inventory and other-charge items carry a sales part and a tax code; payroll wage items a wage
  // type that decides whether they are sent at all.
  bool sales_item = true;
  // The payroll wage kind sends all its statements in one upload at its end and leaves the label's visibility
  // as the earlier kinds left it.
  bool payroll = false;
};

// The progress display of a kind with n elements.
void BeginKindProgress(BrintavelCtl& ctl, size_t n, const ItemKind& kind) {
  const bool label_was_visible = ctl.lblProcess.Visible();
  BeginProgress(ctl, n, kind.start_caption, ProgressStyle::FromZero);
  if (kind.payroll) ctl.lblProcess.SetVisible(label_was_visible);
}

// The record elements of the kinds, in the order they are converted.
const std::vector<std::string> kItemElements{"ItemServiceRet", "ItemNonInventoryRet", "ItemOtherChargeRet",
                                             "PayrollItemWageRet"};

// One kind's walk, over the checked response whose index `response` holds. `first_task`
// is the TaskID of its first converted item less 9000000. Returns false when an upload ended the run (bAbortSync
// is set); varTaskCount then holds this kind's count so far.
bool ConvertKind(BrintavelCtl& ctl, const platform::xml::ElementIndex& response, const ItemKind& kind,
                 int64_t first_task) {
  ModWizard& m = Module();
  const size_t n = response.Count(kind.element);
  RecordSet& records = ModuleRecordSets().*kind.record_set;
  if (n < 1) {
    records.Resize(10, "Empty");
    return true;
  }
  records.Resize(static_cast<int32_t>(n), "");

  BeginKindProgress(ctl, n, kind);
  ctl.lngBatchCount = 0;

  platform::xml::ElementStream stream(response, {std::string(kind.element)});
  StatementBuilder builder = ControlStatementBuilder(ctl);
  StatementUploader uploader(ctl, std::string(kItemLetter), &BrintavelCtl::lngFailedItemCnt);
  uploader.upload_full_batches = !kind.payroll;
  uploader.statements_expected = n;
  uploader.rows = &records;
  uploader.converted = &m.varTaskCount;
  const bool ran = uploader.ForEachRecord(n, ProgressStyle::FromZero, [&](size_t i) {
    builder.Clear();
    const ElementChildren children(stream.NextRecord());
    RecordRow& record = records[static_cast<int32_t>(i + 1)];
    FillTimesAndActive(children, record, kItemActive);
    if (!PassesLastSync(record, m.TasksLastSyncDate)) return true;
    if (kind.payroll && !IsTimeWageType(children)) return true;
    // An item without a ListID cannot be matched on the service: its UPDATE would compare with the empty id and
    // overwrite every row that has none. It is skipped like one the filters leave out, and takes no TaskID.
    const std::optional<std::string_view> list_id = children.ChildView("ListID");
    if (!list_id || list_id->empty()) return true;

    if (kind.sales_item) ReadSalesItemFields(ctl, children, record);
    const ColumnContext context{children, record, first_task + m.varTaskCount, ctl.KalvorUser};
    AppendColumns(builder, kind.columns, context);
    ++m.varTaskCount;
    uploader.ShowCount(kind.count_caption, m.varTaskCount);
    return uploader.Write(FinishStatement(builder, kTaskInfo, record, record.Flag(kItemActive)));
  });
  if (!ran || !uploader.Flush()) return false;
  // The payroll wage kind ends the run, which hides the frame after the status report.
  if (!kind.payroll) ctl.fraProgress.SetVisible(false);
  return true;
}

// The kind's count, taken at the joint after it; the next kind counts from 0 again.
int64_t TakeKindCount() {
  ModWizard& m = Module();
  const int64_t count = static_cast<int32_t>(m.varTaskCount);
  m.varTaskCount = 0;
  return count;
}

}  // namespace

void GetTasksFromQB(BrintavelCtl& ctl) {
  ModWizard& m = Module();
  const platform::xml::ElementIndex index = ResponseIndex(kItemElements);
  // A response that does not parse keeps the earlier sales-tax codes.
  if (index.parsed()) ctl.LoadSalesTaxCodes();
  ctl.lngFailedItemCnt = 0;
  if (!CheckResponseParsed(platform::xml::ElementStream(index, kItemElements))) return;

  // The wizard clears the count before a run; a converter called again without it still numbers from 9000000.
  m.varTaskCount = 0;

  const std::string service_caption = "Getting " + ctl.SILexicon + "s from QB";
  const ItemKind service{"ItemServiceRet", &RecordSets::ServiceItemRecords, ServiceItemColumns(), service_caption,
                         service_caption + " ("};
  const ItemKind non_inventory{"ItemNonInventoryRet", &RecordSets::NonInventoryItemRecords, NonInventoryItemColumns(),
                               "Getting Non-inventory items from QB", "Getting Non-inventory items from QB ("};
  const ItemKind other_charge{"ItemOtherChargeRet", &RecordSets::OtherChargeItemRecords, OtherChargeItemColumns(),
                              "Getting Other charge items from QB", "Getting Other charge items from QB ("};
  const ItemKind payroll{.element = "PayrollItemWageRet",
                         .record_set = &RecordSets::PayrollItemRecords,
                         .columns = PayrollItemColumns(),
                         .start_caption = "Getting Payroll Items from QB",
                         .count_caption = "Getting Payroll Items from QB (",
                         .sales_item = false,
                         .payroll = true};

  // TaskIDs run on over the kinds, except that the number after the last non-inventory item is given to none;
  // the service has always numbered the other-charge items from there.
  if (!ConvertKind(ctl, index, service, 0)) return;
  const int64_t s = TakeKindCount();
  if (!ConvertKind(ctl, index, non_inventory, s)) return;
  const int64_t n = TakeKindCount();
  if (!ConvertKind(ctl, index, other_charge, s + n + 1)) return;
  const int64_t o = TakeKindCount();
  if (!ConvertKind(ctl, index, payroll, s + n + o + 1)) return;

  m.varTaskCount += s + n + o;
  EndList(ctl, kItemLetter, ctl.lngFailedItemCnt == 0 && m.varTaskCount > 0);
}

}  // namespace brintavel
