// The employee list converter: its column table, status and dates.

#include "sync_control/brintavel_ctl.h"
#include "sync_control/converters/list_converter.h"
#include "sync_control/converters/list_converters.h"
#include "sync_control/module_state.h"

namespace brintavel {
namespace {

// 'In Active' (with the blank) is the service's own word; an employee without IsActive counts as active here,
// though the statement form treats it as inactive.
std::string EmployeeStatus(const std::optional<std::string>& is_active, const ColumnContext&) {
  return !is_active || IsActiveText(*is_active) ? "'Active'" : "'In Active'";
}

// A QuickBooks date read as a date: missing gives the zero time, a text that is no date the empty text.
constexpr Column DateColumn(std::string_view name, std::string_view child) {
  return {.name = name,
          .kind = ColumnKind::ChildDate,
          .source = child,
          .missing = kZeroTimeLiteral,
          .in_set = InSet::Yes,
          .unformed = kEmptyTextLiteral};
}

constexpr Column kEmployeeColumns[] = {
    KeyColumn("[EmployeeID]"),
    TextColumn("[Salutation]", "Salutation", 15),
    TextColumn("[FirstName]", "FirstName", 25),
    TextColumn("[MI]", "MiddleName", 5),
    TextColumn("[LastName]", "LastName", 25),
    TextColumn("[EmployeeName]", "Name", 41),
    EmptyTextColumn("[Title]"),
    EmptyTextColumn("[Supervisor]"),
    ConstantColumn("[EmployeeType]", "3"),  // whatever the record's EmployeeType says
    {.name = "[Status]",
     .kind = ColumnKind::Custom,
     .source = "IsActive",
     .in_set = InSet::WhenValueIs,
     .set_when = "'In Active'",
     .custom = EmployeeStatus},
    EmptyTextColumn("[OfficePhone]"),
    EmptyTextColumn("[OfficePhoneExtn]"),
    EmptyTextColumn("[CellPhone]"),
    EmptyTextColumn("[HomePhone]"),
    EmptyTextColumn("[AlternateHomePhone]"),
    EmptyTextColumn("[FaxNumber]"),
    TextColumn("[EmailAddress]", "Email", 99),
    EmptyTextColumn("[HomeLine1]"),
    EmptyTextColumn("[HomeLine2]"),
    EmptyTextColumn("[HomeLine3]"),
    EmptyTextColumn("[HomeLine4]"),
    EmptyTextColumn("[HomeCity]"),
    EmptyTextColumn("[HomeState]"),
    EmptyTextColumn("[HomeZipCode]"),
    EmptyTextColumn("[HomeCountry]"),
    EmptyTextColumn("[OfficeLine1]"),
    EmptyTextColumn("[OfficeLine2]"),
    EmptyTextColumn("[OfficeLine3]"),
    EmptyTextColumn("[OfficeLine4]"),
    EmptyTextColumn("[OfficeCity]"),
    EmptyTextColumn("[OfficeState]"),
    EmptyTextColumn("[OfficeZipCode]"),
    EmptyTextColumn("[OfficeCountry]"),
    EmptyTextColumn("[Birthday]"),
    DateColumn("[TerminationDate]", "ReleasedDate"),
    EmptyTextColumn("[Refferedby]"),
    EmptyTextColumn("[ContactName]"),
    EmptyTextColumn("[ContactRelationship]"),
    EmptyTextColumn("[ContactHomeNumber]"),
    EmptyTextColumn("[ContactEmailAddress]"),
    ConstantColumn("[CustomDate1]", kZeroTimeLiteral),
    ConstantColumn("[CustomDate2]", kZeroTimeLiteral),
    EmptyTextColumn("[CustomText1]"),
    EmptyTextColumn("[CustomText2]"),
    DateColumn("[HireDate]", "HiredDate"),
    ConstantColumn("[AnnualBeginDate]", kZeroTimeLiteral),
    ConstantColumn("[HourlyBeginDate]", kZeroTimeLiteral),
    ConstantColumn("[BenchPayBeginDate]", kZeroTimeLiteral),
    ConstantColumn("[BenchPlusBeginDate]", kZeroTimeLiteral),
    ConstantColumn("[SalaryPerYear]", "0"),
    ConstantColumn("[SalaryPerHour]", "0"),
    ConstantColumn("[BenchPay]", "0"),
    ConstantColumn("[BenchPlus]", "0"),
    ConstantColumn("[HolidaysCarriedForward]", "0"),
    ConstantColumn("[HolidaysPerYear]", "0"),
    ConstantColumn("[YTDHolidays]", "0"),
    ConstantColumn("[HolidaysRemaining]", "0"),
    ConstantColumn("[VacationsCarriedForward]", "0"),
    ConstantColumn("[VacationsPerYear]", "0"),
    ConstantColumn("[YTDVacations]", "0"),
    ConstantColumn("[VacationsRemaining]", "0"),
    ConstantColumn("[SickLeavesCarriedForward]", "0"),
    ConstantColumn("[SickLeavesPerYear]", "0"),
    ConstantColumn("[YTDSickLeaves]", "0"),
    ConstantColumn("[SickLeavesRemaining]", "0"),
    ConstantColumn("[GetPaidForHolidays]", "0"),
    ConstantColumn("[VendorID]", "0"),
    {.name = "[QBModifiedDate]", .kind = ColumnKind::ModifiedGeneral, .width = 50, .in_set = InSet::Yes},
    {.name = "[QBListID]",
     .kind = ColumnKind::ChildText,
     .source = "ListID",
     .width = 50,
     .in_set = InSet::Yes,
     .keep_in = 1},
    TextColumn("[QBEditSequence]", "EditSequence", 50),
    TextColumn("[PrintAs]", "PrintAs", 41),
    TextColumn("[AccountNumber]", "AccountNumber", 99),
    {.name = "[CreateBy]", .kind = ColumnKind::UserName, .width = 50},
    {.name = "[CreateDate]", .kind = ColumnKind::CreatedFormatted, .in_set = InSet::Yes},
    {.name = "[UpdateBy]", .kind = ColumnKind::UserName, .width = 50, .in_set = InSet::Yes},
    {.name = "[UpdateDate]", .kind = ColumnKind::ModifiedFormatted, .in_set = InSet::Yes},
    {.name = "[Gender]",
     .kind = ColumnKind::ChildText,
     .source = "Gender",
     .width = 20,
     .missing = "'Male'",
     .in_set = InSet::Yes},
    EmptyTextColumn("[WebUserID]"),
    EmptyTextColumn("[WebPassword]"),
    ConstantColumn("[AllowWebAccess]", "0"),
    ConstantColumn("[IsSalaried]", "0"),
    ConstantColumn("[OtherFlag1]", "0"),
    ConstantColumn("[OtherFlag2]", "0"),
    EmptyTextColumn("[EmployeeCode]"),
    EmptyTextColumn("[ClassFullRefID]"),
    ConstantColumn("[RatesheetHeaderID]", "0"),
};

}  // namespace

std::span<const Column> EmployeeColumns() {
  return kEmployeeColumns;
}

void GetEmployeesFromQB(BrintavelCtl& ctl) {
  ListConverterSpec list{
      .record_element = "EmployeeRet",
      .table = {"EmployeeInfo", "EmployeeID"},
      .columns = kEmployeeColumns,
      .letter = "E",
      .start_caption = "Getting " + ctl.EmpLexicon + "s from QB",
      .count_caption = "Getting " + ctl.EmpLexicon + "s from QB (",
      .record_set = &RecordSets::EmployeeRecords,
      .last_sync = Module().EmployeeLastSyncDate,
      .failure_counter = &BrintavelCtl::lngFailedEmpCnt,
      .converted_counter = &ModWizard::varEmployeeCount,
      .progress = ProgressStyle::FromOne,
  };
  RunListConverter(ctl, list);
}

}  // namespace brintavel
