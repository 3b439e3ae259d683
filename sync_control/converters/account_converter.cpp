// The chart of accounts converter: its column table and the rule for which accounts may take expenses.

#include "sync_control/brintavel_ctl.h"
#include "sync_control/converters/list_converter.h"
#include "sync_control/converters/list_converters.h"
#include "sync_control/module_state.h"

namespace brintavel {
namespace {

// Member 8 holds the account type that [AssetType] kept; only the type "Expense" itself allows expenses.
std::string AllowExpense(const std::optional<std::string>&, const ColumnContext& context) {
  return context.record.Text(8) == "Expense" ? "-1" : "0";
}

// An unquoted number that comes from the record's text: written only when the text is a plain decimal number.
constexpr Column NumberColumn(std::string_view name, std::string_view child, std::string_view missing) {
  return {.name = name, .kind = ColumnKind::ChildNumber, .source = child, .missing = missing, .in_set = InSet::Yes};
}

constexpr Column kGLAccountColumns[] = {
    KeyColumn("[AccRowID]"),
    TextColumn("[AccountNumber]", "AccountNumber", 50),
    TextColumn("[AccountName]", "FullName", 159),
    {.name = "[AssetType]",
     .kind = ColumnKind::ChildText,
     .source = "AccountType",
     .width = 30,
     .in_set = InSet::Yes,
     .keep_in = 8},
    EmptyTextColumn("[BalanceType]"),
    EmptyTextColumn("[Notes]"),
    ConstantColumn("[ReportLevel]", "0"),
    NumberColumn("[ReportingLevel]", "Sublevel", "1"),
    NumberColumn("[AccountBalance]", "TotalBalance", "0"),
    {.name = "[InActiveYN]",
     .kind = ColumnKind::ActiveFlag,
     .source = "IsActive",
     .in_set = InSet::WhenValueIs,
     .set_when = "0"},
    NumberColumn("[BeginningBalance]", "Balance", "0"),
    {.name = "[QBModifiedDate]", .kind = ColumnKind::ModifiedGeneral, .width = 50, .in_set = InSet::Yes},
    TextColumn("[QBEditSequence]", "EditSequence", 50),
    {.name = "[QBListID]",
     .kind = ColumnKind::ChildText,
     .source = "ListID",
     .width = 50,
     .in_set = InSet::Yes,
     .keep_in = 1},
    TextColumn("[Description]", "Desc", 50),
    {.name = "[CreatedBy]", .kind = ColumnKind::UserName, .width = 50},
    {.name = "[CreatedDate]", .kind = ColumnKind::CreatedFormatted},
    {.name = "[UpdatedBy]", .kind = ColumnKind::UserName, .width = 50, .in_set = InSet::Yes},
    {.name = "[UpdatedDate]", .kind = ColumnKind::ModifiedFormatted, .in_set = InSet::Yes},
    EmptyTextColumn("[ClassFullRefID]"),
    {.name = "[AllowExpense]", .kind = ColumnKind::Custom, .missing = "0", .custom = AllowExpense},
    EmptyTextColumn("[InvoiceItemCode]"),
    ConstantColumn("[ShowQty]", "0"),
    ConstantColumn("[DefaultRate]", "0"),
    ConstantColumn("[LockDefaultRate]", "0"),
    ConstantColumn("[DefaultBillRate]", "0"),
    ConstantColumn("[LockDefaultBillRate]", "0"),
    ConstantColumn("[MinQty]", "0"),
    ConstantColumn("[MaxQty]", "0"),
};

}  // namespace

std::span<const Column> GLAccountColumns() {
  return kGLAccountColumns;
}

void GetGLAccountsFromQB(BrintavelCtl& ctl) {
  ListConverterSpec list{
      .record_element = "AccountRet",
      .table = {"GLChartOfAccounts", "AccRowID"},
      .columns = kGLAccountColumns,
      .letter = "G",
      .start_caption = "Getting Chart of Accounts from QB",
      .count_caption = "Getting GLs from QB (",
      .record_set = &RecordSets::GLAccountRecords,
      .last_sync = Module().GLAccountsLastSyncDate,
      .failure_counter = &BrintavelCtl::lngFailedGLCnt,
      .converted_counter = &ModWizard::varGLAccountCount,
      .reset_failures = FailureReset::AfterCounters,
      .load_errors_to_caller = true,
  };
  RunListConverter(ctl, list);
}

}  // namespace brintavel
