// The converters' column tables: a missing or unformed value takes its column's fallback.

#include "sync_control/converters/column_table.h"

#include <gtest/gtest.h>

#include <map>

#include "sync_control/converters/record_sets.h"

namespace brintavel {
namespace {

class MapChildren : public RecordChildren {
 public:
  explicit MapChildren(std::map<std::string, std::string> children) : children_(std::move(children)) {}
  std::optional<std::string_view> ChildView(std::string_view path) const override {
    auto it = children_.find(std::string(path));
    if (it == children_.end()) return std::nullopt;
    return it->second;
  }

 private:
  std::map<std::string, std::string> children_;
};

TEST(ColumnTest, MissingAndUnformedValuesTakeTheirColumnsFallback) {
  RecordSets sets;
  sets.EmployeeRecords.Resize(1, "");
  MapChildren children(
      {{"Sublevel", "1; DROP TABLE x; --"}, {"Hired", "2005-13-40"}, {"Released", "2005-03-15"}, {"ListID", "L'1"}});
  const ColumnContext ctx{children, sets.EmployeeRecords[1], 4, "me"};

  const Column number{.name = "[N]", .kind = ColumnKind::ChildNumber, .source = "Sublevel", .missing = "1"};
  EXPECT_EQ(EvaluateColumn(number, ctx).literal, "1");
  const Column absent_number{.name = "[N]", .kind = ColumnKind::ChildNumber, .source = "Balance", .missing = "0"};
  EXPECT_EQ(EvaluateColumn(absent_number, ctx).literal, "0");

  const Column date{.name = "[D]",
                    .kind = ColumnKind::ChildDate,
                    .source = "Hired",
                    .missing = kZeroTimeLiteral,
                    .in_set = InSet::Yes,
                    .unformed = kEmptyTextLiteral};
  EXPECT_EQ(EvaluateColumn(date, ctx).literal, "''");
  Column released = date;
  released.source = "Released";
  EXPECT_EQ(EvaluateColumn(released, ctx).literal, "'03/15/2005 00:00:00'");
  released.source = "Gone";
  EXPECT_EQ(EvaluateColumn(released, ctx).literal, "'12:00:00 AM'");

  const Column key = KeyColumn("[K]");
  EXPECT_EQ(EvaluateColumn(key, ctx).literal, "9000004");

  Column list_id = TextColumn("[QBListID]", "ListID", 50);
  list_id.keep_in = 1;
  const ColumnValue v = EvaluateColumn(list_id, ctx);
  EXPECT_EQ(v.literal, "'L''1'");
  EXPECT_TRUE(v.in_set);
  EXPECT_EQ(sets.EmployeeRecords[1].ListID(), "L'1");  // kept raw

  const Column flag{.name = "[S]",
                    .kind = ColumnKind::ActiveFlag,
                    .source = "IsActive",
                    .in_set = InSet::WhenValueIs,
                    .set_when = "0"};
  const ColumnValue inactive = EvaluateColumn(flag, ctx);
  EXPECT_EQ(inactive.literal, "0");
  EXPECT_TRUE(inactive.in_set);
}

}  // namespace
}  // namespace brintavel
