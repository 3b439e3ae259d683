// The class list converter: its column table and the level of a sub-class.

#include "platform/base/date_time.h"
#include "platform/base/text.h"
#include "sync_control/brintavel_ctl.h"
#include "sync_control/converters/list_converter.h"
#include "sync_control/converters/list_converters.h"
#include "sync_control/module_state.h"

namespace brintavel {
namespace {

// QuickBooks counts top-level classes from 0, the service from 1.
std::string ClassSubLevel(const std::optional<std::string>& sublevel, const ColumnContext&) {
  if (!sublevel) return "1";
  return kv::NumberText(kv::LeadingNumber(*sublevel) + 1);
}

constexpr Column kClassColumns[] = {
    KeyColumn("[ClassRowID]"),
    EmptyTextColumn("[ClassID]"),
    TextColumn("[ClassName]", "Name", 31),
    EmptyTextColumn("[ClassCode]"),
    EmptyTextColumn("[ClassFullCode]"),
    TextColumn("[ClassFullName]", "FullName", 159),
    EmptyTextColumn("[ClassFullRefID]"),
    EmptyTextColumn("[ParentFullRefID]"),
    EmptyTextColumn("[ParentFullName]"),
    {.name = "[Status]",
     .kind = ColumnKind::ActiveFlag,
     .source = "IsActive",
     .in_set = InSet::WhenValueIs,
     .set_when = "0"},
    EmptyTextColumn("[ParentRefID]"),
    {.name = "[SubLevel]",
     .kind = ColumnKind::Custom,
     .source = "Sublevel",
     .missing = "1",
     .in_set = InSet::Yes,
     .custom = ClassSubLevel},
    TextColumn("[QBEditSequence]", "EditSequence", 50),
    {.name = "[QBModifiedDate]", .kind = ColumnKind::ModifiedGeneral, .width = 50, .in_set = InSet::Yes},
    {.name = "[QBListID]",
     .kind = ColumnKind::ChildText,
     .source = "ListID",
     .width = 50,
     .in_set = InSet::Yes,
     .keep_in = 1},
    {.name = "[CreatedDate]", .kind = ColumnKind::CreatedFormatted},
    {.name = "[CreatedBy]", .kind = ColumnKind::UserName, .width = 30},
    {.name = "[UpdatedBy]", .kind = ColumnKind::UserName, .width = 50, .in_set = InSet::Yes},
    {.name = "[UpdatedDate]", .kind = ColumnKind::ModifiedFormatted, .in_set = InSet::Yes},
};

}  // namespace

std::span<const Column> ClassColumns() {
  return kClassColumns;
}

void GetClassesFromQB(BrintavelCtl& ctl) {
  ListConverterSpec list{
      .record_element = "ClassRet",
      .table = {"ClassInfo", "ClassRowID"},
      .columns = kClassColumns,
      .letter = "C",
      .start_caption = "Getting Classes from QB",
      .count_caption = "Getting Classes from QB (",
      .record_set = &RecordSets::ClassRecords,
      .last_sync = std::nullopt,  // every class goes on every run; ClassLastSyncDate is not read
      .failure_counter = &BrintavelCtl::lngFailedClassCnt,
      .converted_counter = &ModWizard::varClassCount,
  };
  RunListConverter(ctl, list);
}

}  // namespace brintavel
