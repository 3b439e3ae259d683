// The column table of the four item kinds, apart from the pass that walks them because it is most of the rules.

#include <array>
#include <charconv>

#include "platform/base/date_time.h"
#include "platform/base/error.h"
#include "platform/base/text.h"
#include "sync_control/brintavel_ctl.h"
#include "sync_control/converters/item_converter.h"

namespace brintavel {
namespace {

std::string DescriptionValue(const std::optional<std::string>&, const ColumnContext& context) {
  return TextLiteral(context.record.Text(kItemDescription), kNoWidth);
}

std::string AccountValue(const std::optional<std::string>&, const ColumnContext& context) {
  return TextLiteral(context.record.Text(kItemAccount), 159);
}

// Written in the fixed regional model: a comma decimal sign would add a value to the VALUES list.
std::string RateValue(const std::optional<std::string>&, const ColumnContext& context) {
  return kv::NumberText(context.record.Double(kItemRate));
}

std::string TaxableValue(const std::optional<std::string>&, const ColumnContext& context) {
  return context.record.Text(kItemTaxable) == "True" ? "-1" : "0";
}

// The sub-level stands unquoted in the statement, so only a whole number may go there; any other text is
// treated as if the item had none.
std::string SubLevelValue(const std::optional<std::string>& sublevel, const ColumnContext& context) {
  if (!sublevel) return "1";
  const std::string& text = *sublevel;
  const size_t digits_from = !text.empty() && text[0] == '-' ? 1 : 0;
  if (text.size() == digits_from) return "1";
  for (size_t i = digits_from; i < text.size(); ++i) {
    if (text[i] < '0' || text[i] > '9') return "1";
  }
  int16_t value = 0;
  const auto r = std::from_chars(text.data(), text.data() + text.size(), value);
  if (r.ec != std::errc() || r.ptr != text.data() + text.size()) return "1";
  context.record.Int16(kItemSubLevel) = value;
  return text;
}

constexpr Column Number(std::string_view name, std::string_view literal) {
  return ConstantColumn(name, literal);
}

// A value worked out from the record's fields; `fallback` stands when it cannot be formed.
constexpr Column Derived(std::string_view name, CustomValue value, std::string_view fallback) {
  return {.name = name, .kind = ColumnKind::Custom, .missing = fallback, .in_set = InSet::Yes, .custom = value};
}

constexpr Column ActiveColumn() {
  return {.name = "[IsActive]",
          .kind = ColumnKind::ActiveFlag,
          .source = "IsActive",
          .in_set = InSet::WhenValueIs,
          .set_when = "0"};
}

constexpr Column ListIdColumn() {
  return {.name = "[QBListID]",
          .kind = ColumnKind::ChildText,
          .source = "ListID",
          .width = 50,
          .in_set = InSet::Yes,
          .keep_in = 1};
}

constexpr Column ModifiedGeneralColumn() {
  return {.name = "[QBModifiedDate]", .kind = ColumnKind::ModifiedGeneral, .width = 50, .in_set = InSet::Yes};
}

constexpr Column UserColumn(std::string_view name, bool in_set) {
  return {.name = name, .kind = ColumnKind::UserName, .width = 50, .in_set = in_set ? InSet::Yes : InSet::No};
}

using ItemTable = std::array<Column, 28>;

// Service, non-inventory and other-charge items share one table; they differ in the task type and in whether
// an update touches [Billable].
constexpr ItemTable SalesItemTable(std::string_view task_type, bool billable_in_set) {
  return {{
      KeyColumn("[TaskID]"),
      {.name = "[Name]",
       .kind = ColumnKind::ChildText,
       .source = "FullName",
       .width = 159,
       .in_set = InSet::Yes,
       .keep_in = kItemFullName},
      Derived("[Description]", DescriptionValue, kEmptyTextLiteral),
      ActiveColumn(),
      Number("[TaskType]", task_type),
      Derived("[GLAccount]", AccountValue, kEmptyTextLiteral),
      {.name = "[Billable]",
       .kind = ColumnKind::Literal,
       .source = "-1",
       .in_set = billable_in_set ? InSet::Yes : InSet::No},
      Derived("[BillRate]", RateValue, "0"),
      Derived("[Taxable]", TaxableValue, "0"),
      Number("[TaxRate]", "0"),
      Number("[DiscountPercentage]", "0"),
      Number("[SortOrder]", "0"),
      ListIdColumn(),
      TextColumn("[QBEditSequence]", "EditSequence", 50),
      ModifiedGeneralColumn(),
      UserColumn("[CreatedBy]", false),
      {.name = "[CreatedDate]", .kind = ColumnKind::CreatedFormatted},
      UserColumn("[UpdatedBy]", true),
      {.name = "[UpdatedDate]", .kind = ColumnKind::ModifiedFormatted, .in_set = InSet::Yes},
      EmptyTextColumn("[TaskGroup]"),
      {.name = "[SubLevel]",
       .kind = ColumnKind::Custom,
       .source = "Sublevel",
       .missing = "1",
       .in_set = InSet::Yes,
       .custom = SubLevelValue},
      TextColumn("[QBFullName]", "FullName", 250),
      EmptyTextColumn("[ClassFullRefID]"),
      EmptyTextColumn("[BillAccount]"),
      Number("[AllowExpense]", "0"),
      EmptyTextColumn("[PurchaseDescription]"),
      Number("[IsExpenseAccountAnItem]", "0"),
      Number("[BillingArrangement]", "0"),
  }};
}

constexpr ItemTable kServiceItemColumns = SalesItemTable("1", false);
constexpr ItemTable kNonInventoryItemColumns = SalesItemTable("3", true);
constexpr ItemTable kOtherChargeItemColumns = SalesItemTable("4", true);

// Payroll wage items have no price, account, tax code or sub-level: those columns are constants that an update
// leaves alone.
constexpr ItemTable kPayrollItemColumns = {{
    KeyColumn("[TaskID]"),
    {.name = "[Name]",
     .kind = ColumnKind::ChildText,
     .source = "Name",
     .width = 159,
     .in_set = InSet::Yes,
     .keep_in = kItemFullName},
    TextColumn("[Description]", "WageType", kNoWidth),
    ActiveColumn(),
    Number("[TaskType]", "5"),
    EmptyTextColumn("[GLAccount]"),
    Number("[Billable]", "0"),
    Number("[BillRate]", "0"),
    Number("[Taxable]", "0"),
    Number("[TaxRate]", "0"),
    Number("[DiscountPercentage]", "0"),
    Number("[SortOrder]", "0"),
    ListIdColumn(),
    TextColumn("[QBEditSequence]", "EditSequence", 50),
    ModifiedGeneralColumn(),
    UserColumn("[CreatedBy]", false),
    {.name = "[CreatedDate]", .kind = ColumnKind::CreatedFormatted},
    UserColumn("[UpdatedBy]", true),
    {.name = "[UpdatedDate]", .kind = ColumnKind::ModifiedFormatted, .in_set = InSet::Yes},
    EmptyTextColumn("[TaskGroup]"),
    Number("[SubLevel]", "1"),
    TextColumn("[QBFullName]", "Name", 250),
    EmptyTextColumn("[ClassFullRefID]"),
    EmptyTextColumn("[BillAccount]"),
    Number("[AllowExpense]", "0"),
    EmptyTextColumn("[PurchaseDescription]"),
    Number("[IsExpenseAccountAnItem]", "0"),
    Number("[BillingArrangement]", "0"),
}};

// A present rate text that the number conversion cannot read leaves the rate where it was.
void ReadRate(const std::optional<std::string_view>& text, RecordRow& record) {
  if (!text) return;
  double value = 0;
  if (kv::TryParseNumber(kv::TrimBlanks(*text), value)) record.Double(kItemRate) = value;
}

// A description of blanks only says nothing; the item's full name stands in for it.
std::string_view DescriptionOr(const std::optional<std::string_view>& text, const RecordRow& record) {
  if (text && !kv::TrimBlanks(*text).empty()) return *text;
  return record.Text(kItemFullName);
}

}  // namespace

std::span<const Column> ServiceItemColumns() {
  return kServiceItemColumns;
}
std::span<const Column> NonInventoryItemColumns() {
  return kNonInventoryItemColumns;
}
std::span<const Column> OtherChargeItemColumns() {
  return kOtherChargeItemColumns;
}
std::span<const Column> PayrollItemColumns() {
  return kPayrollItemColumns;
}

void ReadSalesItemFields(const BrintavelCtl& ctl, const RecordChildren& children, RecordRow& record) {
  if (const auto full_name = children.ChildView("FullName")) record.SetText(kItemFullName, *full_name);

  if (children.HasChild("SalesOrPurchase")) {
    // The description is kept apart first: the full name it may fall back to is a text of the same row.
    const std::string description(DescriptionOr(children.ChildView("SalesOrPurchase/Desc"), record));
    record.SetText(kItemDescription, description);
    // A price wins over a percentage; with neither the rate stays 0.
    if (auto price = children.ChildView("SalesOrPurchase/Price")) {
      ReadRate(price, record);
    } else {
      ReadRate(children.ChildView("SalesOrPurchase/PricePercent"), record);
    }
    if (const auto account = children.ChildView("SalesOrPurchase/AccountRef/FullName")) {
      record.SetText(kItemAccount, *account);
    }
  } else if (children.HasChild("SalesAndPurchase")) {
    const std::string description(DescriptionOr(children.ChildView("SalesAndPurchase/SalesDesc"), record));
    record.SetText(kItemDescription, description);
    ReadRate(children.ChildView("SalesAndPurchase/SalesPrice"), record);
    if (const auto account = children.ChildView("SalesAndPurchase/IncomeAccountRef/FullName")) {
      record.SetText(kItemAccount, *account);
    }
  }

  // A tax-code reference without a name cannot be looked up: the field keeps its fresh empty text, which is not
  // taxable either.
  if (!children.HasChild("SalesTaxCodeRef")) {
    record.SetText(kItemTaxable, "False");
  } else if (const auto code = children.Child("SalesTaxCodeRef/FullName")) {
    try {
      record.SetText(kItemTaxable, ctl.IsSalesTaxCodeTaxable(*code) ? "True" : "False");
    } catch (const kv::Error&) {
    }
  }
}

bool IsTimeWageType(const RecordChildren& children) {
  const auto wage_type = children.ChildView("WageType");
  if (!wage_type) return true;
  const std::string head = kv::ToUpperAscii(kv::LeftChars(*wage_type, 6));
  return head == "SALARY" || head == "HOURLY";
}

}  // namespace brintavel
