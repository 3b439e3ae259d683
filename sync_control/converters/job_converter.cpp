// The job list converter: the customers' records below the top level, with their parent, status and dates.

#include <utility>

#include "platform/base/text.h"
#include "sync_control/brintavel_ctl.h"
#include "sync_control/converters/customer_list.h"
#include "sync_control/converters/list_converter.h"
#include "sync_control/module_state.h"

namespace brintavel {
namespace {

// Members of ProjectRecords the job converter fills beyond the template's.
constexpr int kEditSequenceMember = 4;
constexpr int kJobStatusMember = 30;
constexpr int kStartDateMember = 31;

// QuickBooks' way of saying a job has no start date.
constexpr std::string_view kNoStartDate = "12:00:00AM";

bool HasStartDate(const std::optional<std::string>& start) {
  return start && *start != kNoStartDate;
}

std::string ProjectId(const std::optional<std::string>&, const ColumnContext& context) {
  return std::to_string(context.position + 1);
}

// A job without a start date begins on 1 January of the current year. A start date that cannot be read is
// treated the same, rather than sending the zero date of 1899.
std::string BeginDate(const std::optional<std::string>& start, const ColumnContext& context) {
  if (HasStartDate(start)) {
    kv::DateTime date;
    if (kv::TryParseDateTime(*start, date)) {
      context.record.Date(kStartDateMember) = date;
      return FormattedDateLiteral(date);
    }
  }
  return FormattedDateLiteral(kv::DateTime::FromParts(kv::DateTime::Now().Year(), 1, 1));
}

// The sub-level stands unquoted in the statement, so only a whole number may go there.
std::string SubLevel(const std::optional<std::string>& sublevel, const ColumnContext&) {
  if (!sublevel) return "0";
  return WholeNumberText(*sublevel).value_or("0");
}

std::string Description(const std::optional<std::string>& description, const ColumnContext&) {
  if (!description || kv::TrimBlanks(*description).empty()) return std::string(kEmptyTextLiteral);
  return TextLiteral(*description, 99);
}

constexpr std::string_view kBeginDateColumn = "[BeginDate]";

constexpr Column kJobColumns[] = {
    KeyColumn("[ProjID]"),
    ConstantColumn("[CustomerID]", "0"),
    {.name = "[ProjectID]", .kind = ColumnKind::Custom, .custom = ProjectId},
    TextColumn("[ProjectName]", "Name", 41),
    TextColumn("[ProjectManager]", "Contact", 50),
    EmptyTextColumn("[Title]"),
    EmptyTextColumn("[PONumber]"),
    // Enters the SET list only with a start date of the job's own (AppendJobColumns).
    {.name = kBeginDateColumn,
     .kind = ColumnKind::Custom,
     .source = "JobStartDate",
     .in_set = InSet::Yes,
     .custom = BeginDate},
    {.name = "[EndDate]", .kind = ColumnKind::Literal, .source = "'12:00:00 AM'", .in_set = InSet::Yes},
    {.name = "[Status]",
     .kind = ColumnKind::ActiveFlag,
     .source = "IsActive",
     .in_set = InSet::WhenValueIs,
     .set_when = "0"},
    EmptyTextColumn("[Address1]"),
    EmptyTextColumn("[Address2]"),
    EmptyTextColumn("[Address3]"),
    EmptyTextColumn("[Address4]"),
    EmptyTextColumn("[City]"),
    EmptyTextColumn("[State]"),
    EmptyTextColumn("[ZipCode]"),
    EmptyTextColumn("[Country]"),
    EmptyTextColumn("[Email]"),
    EmptyTextColumn("[Phone]"),
    EmptyTextColumn("[AltPhone]"),
    EmptyTextColumn("[FaxNumber]"),
    {.name = "[UpdateDate]", .kind = ColumnKind::ModifiedFormatted, .in_set = InSet::Yes},
    {.name = "[CreatedDate]", .kind = ColumnKind::CreatedFormatted},
    {.name = "[CreatedBy]", .kind = ColumnKind::UserName, .width = 50},
    {.name = "[UpdatedBy]", .kind = ColumnKind::UserName, .width = 50, .in_set = InSet::Yes},
    {.name = "[QBModifiedDate]", .kind = ColumnKind::ModifiedGeneral, .width = 50, .in_set = InSet::Yes},
    {.name = "[QBListID]",
     .kind = ColumnKind::ChildText,
     .source = "ListID",
     .width = 50,
     .in_set = InSet::Yes,
     .keep_in = 1},
    {.name = "[QBEditSequence]",
     .kind = ColumnKind::ChildText,
     .source = "EditSequence",
     .width = 50,
     .in_set = InSet::Yes,
     .keep_in = kEditSequenceMember},
    ConstantColumn("[InvoiceDetailLevel]", "0"),
    EmptyTextColumn("[InvoiceTemplate]"),
    {.name = "[SubLevel]", .kind = ColumnKind::Custom, .source = "Sublevel", .in_set = InSet::Yes, .custom = SubLevel},
    TextColumn("[QBFullName]", "FullName", 250),
    {.name = "[Description]",
     .kind = ColumnKind::Custom,
     .source = "JobDesc",
     .width = 99,
     .in_set = InSet::Yes,
     .custom = Description},
    {.name = "[ActualEndDate]", .kind = ColumnKind::Literal, .source = "'12:00:00AM'", .in_set = InSet::Yes},
    ConstantColumn("[ProjectType]", "0"),
    ConstantColumn("[InvoiceTemplateID]", "0"),
    ConstantColumn("[RatesheetHeaderID]", "0"),
    ConstantColumn("[AllowBillableExpense]", "0"),
    EmptyTextColumn("[MarkupValue]"),
    ConstantColumn("[UseBillAddress]", "-1"),
    EmptyTextColumn("[BillAddress1]"),
    EmptyTextColumn("[BillAddress2]"),
    EmptyTextColumn("[BillAddress3]"),
    EmptyTextColumn("[BillAddress4]"),
    EmptyTextColumn("[BillCity]"),
    EmptyTextColumn("[BillState]"),
    EmptyTextColumn("[BillZipCode]"),
    EmptyTextColumn("[BillCountry]"),
    ConstantColumn("[BudgetID]", "0"),
    EmptyTextColumn("[ProjectCode]"),
    ConstantColumn("[ContractAmount]", "0"),
    ConstantColumn("[StopAtContractAmount]", "0"),
    ConstantColumn("[MinBillAmount]", "0"),
    ConstantColumn("[BilledAmount]", "0"),
    ConstantColumn("[ProjectStage]", "0"),
    EmptyTextColumn("[ClassFullRefID]"),
    EmptyTextColumn("[TimeApprover]"),
    ConstantColumn("[AssignmentOptional]", "1"),
    ConstantColumn("[ParentID]", "0"),
    ConstantColumn("[ProjectPercentage]", "0"),
    ConstantColumn("[LockRateSheet]", "0"),
    EmptyTextColumn("[SalesRepID]"),
    EmptyTextColumn("[SalesTaxCode]"),
    EmptyTextColumn("[Custom1]"),
    EmptyTextColumn("[Custom2]"),
    ConstantColumn("[BillType]", "0"),
    EmptyTextColumn("[SalesTaxItem]"),
    ConstantColumn("[ContractInclExp]", "0"),
    EmptyTextColumn("[CloseReason]"),
    EmptyTextColumn("[Custom3]"),
    EmptyTextColumn("[Custom4]"),
    EmptyTextColumn("[Custom5]"),
};
static_assert(std::size(kJobColumns) == 73);

// The begin date goes into the SET list only when the job has a start date of its own, so the service keeps
// the one it holds rather than taking the 1 January default.
void AppendJobColumns(StatementBuilder& builder, const ColumnContext& context) {
  for (const Column& column : kJobColumns) {
    ColumnValue value = EvaluateColumn(column, context);
    if (column.name == kBeginDateColumn) value.in_set = HasStartDate(context.children.Child(column.source));
    builder.AppendColumn(column.name, value.literal, value.in_set);
  }
}

// The parent's ListID is what ParentRef/ListID holds, up to its first blank.
std::string ParentListId(const RecordChildren& children) {
  const std::string_view list_id = children.ChildView("ParentRef/ListID").value_or("");
  return std::string(list_id.substr(0, list_id.find(' ')));
}

void KeepJobStatus(const RecordChildren& children, RecordRow& record) {
  if (const auto status = children.ChildView("JobStatus")) record.SetText(kJobStatusMember, *status);
}

}  // namespace

std::span<const Column> JobColumns() {
  return kJobColumns;
}

bool IsProjectListIDKnown(const std::string& list_id) {
  // Asked for every unchanged job of a list that may hold a hundred thousand: a walk of the rows each time
  // would make the pass quadratic.
  return ModuleRecordSets().ProjectRecords.HoldsListID(list_id);
}

void GetProjectsFromQB(BrintavelCtl& ctl) {
  const ListConverterSpec list{
      .record_element = "CustomerRet",
      .table = {"CustProjInfo", "ProjID"},
      .columns = kJobColumns,
      .letter = "P",
      .start_caption = "Getting " + ctl.ProjLexicon + "s from QB ",
      .count_caption = "Getting " + ctl.ProjLexicon + "s from QB (",
      .record_set = &RecordSets::ProjectRecords,
      .last_sync = Module().CustomerLastSyncDate,
      .failure_counter = &BrintavelCtl::lngFailedProjCnt,
      .converted_counter = &ModWizard::varProjectCount,
  };
  CustomerListHalf jobs{
      .takes = [](int32_t sublevel) { return sublevel > 0; },
      .steps = {
          // An unchanged job goes along with a parent job sent earlier in this pass, so a changed branch
          // reaches the service whole.
          .send_unchanged = [](const RecordChildren& children) { return IsProjectListIDKnown(ParentListId(children)); },
          .append_columns = AppendJobColumns,
          .after_columns = KeepJobStatus,
          // One report for customers and jobs: only when neither half had a failed upload and something was
          // sent.
          .report_status =
              [&ctl] {
                const ModWizard& m = Module();
                return ctl.lngFailedCustCnt == 0 && ctl.lngFailedProjCnt == 0 &&
                       (m.varCustomerCount > 0 || m.varProjectCount > 0);
              },
      },
  };
  RunCustomerListHalf(ctl, list, std::move(jobs));
}

}  // namespace brintavel
