// The customer list converter: its columns, and the tax and sales-rep references it keeps for the jobs after it.

#include <utility>

#include "sync_control/brintavel_ctl.h"
#include "sync_control/converters/customer_list.h"
#include "sync_control/converters/list_converter.h"
#include "sync_control/module_state.h"

namespace brintavel {
namespace {

// Members of CustomerRecords the customer converter fills beyond the template's.
constexpr int kEditSequenceMember = 4;
constexpr int kFullNameMember = 6;
constexpr int kAltContactMember = 19;
constexpr int kSalesRepListIdMember = 37;
constexpr int kSalesRepNameMember = 38;
constexpr int kSalesTaxCodeListIdMember = 39;
constexpr int kSalesTaxCodeNameMember = 40;
constexpr int kItemSalesTaxListIdMember = 41;
constexpr int kItemSalesTaxNameMember = 42;

// A reference (SalesTaxCodeRef, ItemSalesTaxRef, SalesRepRef) keeps its ListID and FullName in two members,
// each when present.
void KeepReference(const ColumnContext& context, std::string_view ref, int list_id_member, int name_member) {
  const std::string prefix(ref);
  if (const auto list_id = context.children.ChildView(prefix + "/ListID")) {
    context.record.SetText(list_id_member, *list_id);
  }
  if (const auto name = context.children.ChildView(prefix + "/FullName")) context.record.SetText(name_member, *name);
}

std::string TaxId(const std::optional<std::string>& name, const ColumnContext& context) {
  KeepReference(context, "SalesTaxCodeRef", kSalesTaxCodeListIdMember, kSalesTaxCodeNameMember);
  return name ? TextLiteral(*name, 31) : std::string(kEmptyTextLiteral);
}

std::string TaxGroup(const std::optional<std::string>& name, const ColumnContext& context) {
  KeepReference(context, "ItemSalesTaxRef", kItemSalesTaxListIdMember, kItemSalesTaxNameMember);
  return name ? TextLiteral(*name, 31) : std::string(kEmptyTextLiteral);
}

// The sales representative's ListID goes in like any other text: an apostrophe in it must not end the literal.
std::string SalesRepId(const std::optional<std::string>& list_id, const ColumnContext& context) {
  KeepReference(context, "SalesRepRef", kSalesRepListIdMember, kSalesRepNameMember);
  return list_id ? TextLiteral(*list_id, 24) : std::string(kEmptyTextLiteral);
}

constexpr Column kCustomerColumns[] = {
    KeyColumn("[CustomerID]"),
    EmptyTextColumn("[CustID]"),
    TextColumn("[Customer]", "Name", 41),
    TextColumn("[CompanyName]", "CompanyName", 41),
    TextColumn("[Salutation]", "Salutation", 15),
    TextColumn("[FirstName]", "FirstName", 25),
    TextColumn("[MI]", "MiddleName", 5),
    TextColumn("[LastName]", "LastName", 25),
    {.name = "[Active]",
     .kind = ColumnKind::ActiveFlag,
     .source = "IsActive",
     .in_set = InSet::WhenValueIs,
     .set_when = "0"},
    ConstantColumn("[SubLevel]", "0"),
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
    EmptyTextColumn("[CustomerGroup]"),
    TextColumn("[ContactName]", "Contact", 41),
    EmptyTextColumn("[PhoneNumber]"),
    EmptyTextColumn("[PExtno]"),
    EmptyTextColumn("[AltPhoneNumber]"),
    EmptyTextColumn("[AltExtno]"),
    EmptyTextColumn("[FaxNumber]"),
    EmptyTextColumn("[Email]"),
    EmptyTextColumn("[WebSite]"),
    EmptyTextColumn("[Reference]"),
    EmptyTextColumn("[BSAManager]"),
    EmptyTextColumn("[SiteAddress1]"),
    EmptyTextColumn("[SiteAddress2]"),
    EmptyTextColumn("[SiteAddress3]"),
    EmptyTextColumn("[SiteAddress4]"),
    EmptyTextColumn("[SiteCity]"),
    EmptyTextColumn("[SiteState]"),
    EmptyTextColumn("[SiteZipCode]"),
    EmptyTextColumn("[SiteCountry]"),
    EmptyTextColumn("[BillAddress1]"),
    EmptyTextColumn("[BillAddress2]"),
    EmptyTextColumn("[BillAddress3]"),
    EmptyTextColumn("[BillAddress4]"),
    EmptyTextColumn("[BillCity]"),
    EmptyTextColumn("[BillState]"),
    EmptyTextColumn("[BillZipCode]"),
    EmptyTextColumn("[BillCountry]"),
    EmptyTextColumn("[BankName]"),
    TextColumn("[AccountNumber]", "AccountNumber", 99),
    EmptyTextColumn("[PaymentMode]"),
    EmptyTextColumn("[PaymentTerms]"),
    ConstantColumn("[CreditLimit]", "0"),
    ConstantColumn("[CreditUsed]", "0"),
    ConstantColumn("[AvgDaysToPay]", "0"),
    {.name = "[TaxID]",
     .kind = ColumnKind::Custom,
     .source = "SalesTaxCodeRef/FullName",
     .width = 31,
     .in_set = InSet::Yes,
     .custom = TaxId},
    {.name = "[TaxGroup]",
     .kind = ColumnKind::Custom,
     .source = "ItemSalesTaxRef/FullName",
     .width = 31,
     .in_set = InSet::Yes,
     .custom = TaxGroup},
    EmptyTextColumn("[FederalID]"),
    EmptyTextColumn("[DBNumber]"),
    EmptyTextColumn("[CreditRating]"),
    ConstantColumn("[OverdueInvoices]", "0"),
    ConstantColumn("[FinanceChargeYN]", "0"),
    ConstantColumn("[MonthlyInterestRate]", "0"),
    ConstantColumn("[DiscountPercentage]", "0"),
    EmptyTextColumn("[GLAccount]"),
    ConstantColumn("[TimesheetFrequency]", "0"),
    ConstantColumn("[LastDayOfWeek]", "0"),
    ConstantColumn("[CombinedOrSeperate]", "0"),
    ConstantColumn("[InvoicingTerms]", "0"),
    ConstantColumn("[GroupingType]", "0"),
    EmptyTextColumn("[Notes]"),
    {.name = "[CreatedDate]", .kind = ColumnKind::CreatedFormatted},
    {.name = "[CreatedBy]", .kind = ColumnKind::UserName},
    {.name = "[UpdatedDate]", .kind = ColumnKind::ModifiedFormatted, .in_set = InSet::Yes},
    {.name = "[UpdatedBy]", .kind = ColumnKind::UserName, .in_set = InSet::Yes},
    ConstantColumn("[InvoiceDetailLevel]", "0"),
    ConstantColumn("[InvoiceTemplate]", "0"),
    ConstantColumn("[CombineProjects]", "0"),
    EmptyTextColumn("[BwTsStDate]"),
    ConstantColumn("[ExpenseGrouping]", "0"),
    ConstantColumn("[InvoiceTemplateID]", "0"),
    ConstantColumn("[RatesheetHeaderID]", "0"),
    {.name = "[SalesRepID]",
     .kind = ColumnKind::Custom,
     .source = "SalesRepRef/ListID",
     .width = 24,
     .in_set = InSet::Yes,
     .custom = SalesRepId},
};
static_assert(std::size(kCustomerColumns) == 75);

void KeepNames(const RecordChildren& children, RecordRow& record) {
  if (const auto full_name = children.ChildView("FullName")) record.SetText(kFullNameMember, *full_name);
  if (const auto alt_contact = children.ChildView("AltContact")) record.SetText(kAltContactMember, *alt_contact);
}

}  // namespace

std::span<const Column> CustomerColumns() {
  return kCustomerColumns;
}

void GetCustomersFromQB(BrintavelCtl& ctl) {
  const ListConverterSpec list{
      .record_element = "CustomerRet",
      .table = {"Customers", "CustomerID"},
      .columns = kCustomerColumns,
      .letter = "P",
      .start_caption = "Getting " + ctl.CustLexicon + "s from QB",
      .count_caption = "Getting " + ctl.CustLexicon + "s from QB (",
      .record_set = &RecordSets::CustomerRecords,
      .last_sync = Module().CustomerLastSyncDate,
      .failure_counter = &BrintavelCtl::lngFailedCustCnt,
      .converted_counter = &ModWizard::varCustomerCount,
  };
  CustomerListHalf customers{
      .takes = [](int32_t sublevel) { return sublevel == 0; },
      .steps =
          {
              .after_columns = KeepNames,
              // The job converter reports "P" for customers and jobs together.
              .report_status = [] { return false; },
          },
  };
  RunCustomerListHalf(ctl, list, std::move(customers));
}

}  // namespace brintavel
