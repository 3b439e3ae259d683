// The vendor list converter: its column table and active flag.

#include "sync_control/brintavel_ctl.h"
#include "sync_control/converters/list_converter.h"
#include "sync_control/converters/transaction_converters.h"
#include "sync_control/module_state.h"

namespace brintavel {
namespace {

// A vendor that QuickBooks sends without IsActive has always been written as active in the value list, while
// its record keeps the flag False and so gets the UPDATE form only, with no [Active] entry in the SET list.
std::string VendorActive(const std::optional<std::string>& is_active, const ColumnContext&) {
  if (!is_active) return "-1";
  return IsActiveText(*is_active) ? "-1" : "0";
}

constexpr Column kVendorColumns[] = {
    KeyColumn("[VendorID]"),
    EmptyTextColumn("[VendorCode]"),
    TextColumn("[VendorName]", "Name", 41),
    TextColumn("[VendorCompanyName]", "CompanyName", 41),
    TextColumn("[Salutation]", "Salutation", 15),
    TextColumn("[FirstName]", "FirstName", 25),
    TextColumn("[MI]", "MiddleName", 5),
    TextColumn("[LastName]", "LastName", 25),
    ConstantColumn("[SubLevel]", "0"),
    TextColumn("[EditSequence]", "EditSequence", 50),
    // The time stamp as QuickBooks wrote it, not the parsed value.
    TextColumn("[QBModifiedDate]", "TimeModified", 50),
    {.name = "[QBListID]",
     .kind = ColumnKind::ChildText,
     .source = "ListID",
     .width = 50,
     .in_set = InSet::Yes,
     .keep_in = 1},
    {.name = "[Active]",
     .kind = ColumnKind::Custom,
     .source = "IsActive",
     .in_set = InSet::WhenValueIs,
     .set_when = "0",
     .custom = VendorActive},
    ConstantColumn("[VendorGroup]", "0"),
    TextColumn("[ContactName]", "Contact", 41),
    EmptyTextColumn("[PhoneNo]"),
    ConstantColumn("[PExt]", "0"),
    EmptyTextColumn("[AltPhoneNo]"),
    ConstantColumn("[AltExt]", "0"),
    EmptyTextColumn("[FaxNo]"),
    EmptyTextColumn("[Email]"),
    EmptyTextColumn("[Website]"),
    TextColumn("[Reference]", "AltContact", 41),
    EmptyTextColumn("[BSA_Manager]"),
    EmptyTextColumn("[VendorAddress1]"),
    EmptyTextColumn("[VendorAddress2]"),
    EmptyTextColumn("[VendorAddress3]"),
    EmptyTextColumn("[VendorAddress4]"),
    EmptyTextColumn("[VendorCity]"),
    EmptyTextColumn("[VendorState]"),
    EmptyTextColumn("[VendorZipCode]"),
    EmptyTextColumn("[VendorCountry]"),
    EmptyTextColumn("[RemitAddress1]"),
    EmptyTextColumn("[RemitAddress2]"),
    EmptyTextColumn("[RemitAddress3]"),
    EmptyTextColumn("[RemitAddress4]"),
    EmptyTextColumn("[RemitCity]"),
    EmptyTextColumn("[RemitState]"),
    EmptyTextColumn("[RemitZipCode]"),
    EmptyTextColumn("[RemitCountry]"),
    EmptyTextColumn("[BankName]"),
    TextColumn("[AccountNumber]", "AccountNumber", 99),
    TextColumn("[NameOnCheck]", "NameOnCheck", 41),
    EmptyTextColumn("[PaymentMode]"),
    EmptyTextColumn("[PaymentTerms]"),
    ConstantColumn("[CreditLimit]", "0"),
    ConstantColumn("[CreditUsed]", "0"),
    EmptyTextColumn("[TaxID]"),
    ConstantColumn("[Vendor1099]", "0"),
    EmptyTextColumn("[FederalID]"),
    EmptyTextColumn("[DBNumber]"),
    EmptyTextColumn("[CreditRating]"),
    ConstantColumn("[OverdueInvoices]", "0"),
    ConstantColumn("[ChargeFinance]", "0"),
    ConstantColumn("[MonthlyInterestRate]", "0"),
    ConstantColumn("[DiscountPercentage]", "0"),
    EmptyTextColumn("[GLAccount]"),
    ConstantColumn("[InvoicingTerms]", "0"),
    EmptyTextColumn("[Notes]"),
    {.name = "[CreatedDate]", .kind = ColumnKind::CreatedFormatted, .in_set = InSet::Yes},
    {.name = "[CreatedBy]", .kind = ColumnKind::UserName, .width = 50, .in_set = InSet::Yes},
    {.name = "[UpdatedDate]", .kind = ColumnKind::ModifiedFormatted, .in_set = InSet::Yes},
    {.name = "[UpdatedBy]", .kind = ColumnKind::UserName, .width = 50, .in_set = InSet::Yes},
    ConstantColumn("[EmployeeID]", "0"),
};

}  // namespace

std::span<const Column> VendorColumns() {
  return kVendorColumns;
}

void GetVendorsFromQB(BrintavelCtl& ctl) {
  ListConverterSpec list{
      .record_element = "VendorRet",
      .table = {"Vendors", "VendorID"},
      .columns = kVendorColumns,
      .letter = "V",
      .start_caption = "Getting Vendors from QB",
      .count_caption = "Getting Vendors from QB (",
      .record_set = &RecordSets::VendorRecords,
      .last_sync = Module().VendorsLastSyncDate,
      .failure_counter = &BrintavelCtl::lngFailedVendCnt,
      .converted_counter = &ModWizard::varVendorCount,
  };
  RunListConverter(ctl, list);
}

}  // namespace brintavel
