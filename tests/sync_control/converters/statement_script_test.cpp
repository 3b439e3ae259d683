#include <gtest/gtest.h>

#include <map>

#include "common/date_time.h"
#include "common/error.h"
#include "sync_control/converters/column_table.h"
#include "sync_control/converters/sql_literal.h"
#include "sync_control/converters/statement_script.h"

namespace brintavel {
namespace {

using kv::DateTime;

TEST(SqlLiteralTest, CutsToTheWidthBeforeDoublingSoNoPairIsSplit) {
  EXPECT_EQ(TextLiteral("Bob's", 31), "'Bob''s'");
  EXPECT_EQ(TextLiteral("", 31), "''");
  // An apostrophe as the last character inside the width stays whole; one just past it is cut away.
  EXPECT_EQ(TextLiteral("abc'", 4), "'abc'''");
  EXPECT_EQ(TextLiteral("abcd'", 4), "'abcd'");
  EXPECT_EQ(TextLiteral("''''''", 3), "''''''''");
  // Widths count characters, not bytes: five accented letters fit a width of 5.
  EXPECT_EQ(TextLiteral("\xC3\xA9\xC3\xA9\xC3\xA9\xC3\xA9\xC3\xA9\xC3\xA9", 5),
            "'\xC3\xA9\xC3\xA9\xC3\xA9\xC3\xA9\xC3\xA9'");
  EXPECT_EQ(TextLiteral(std::string(200, 'x'), kNoWidth), "'" + std::string(200, 'x') + "'");
}

TEST(SqlLiteralTest, KeysFlagsAndDates) {
  EXPECT_EQ(KeyLiteral(0), "9000000");
  EXPECT_EQ(KeyLiteral(249), "9000249");
  EXPECT_EQ(ActiveFlagLiteral(std::string("true")), "-1");
  EXPECT_EQ(ActiveFlagLiteral(std::string("1")), "-1");
  EXPECT_EQ(ActiveFlagLiteral(std::string("True")), "0");
  EXPECT_EQ(ActiveFlagLiteral(std::string("false")), "0");
  EXPECT_EQ(ActiveFlagLiteral(std::nullopt), "0");
  const DateTime t = DateTime::FromParts(2005, 3, 16, 14, 22, 33);
  EXPECT_EQ(FormattedDateLiteral(t), "'03/16/2005 14:22:33'");
  EXPECT_EQ(GeneralDateLiteral(t, 50), "'3/16/2005 2:22:33 PM'");
  EXPECT_EQ(FormattedDateLiteral(DateTime()), "'12/30/1899 00:00:00'");
  EXPECT_EQ(GeneralDateLiteral(DateTime(), 50), "'12:00:00 AM'");
}

TEST(SqlLiteralTest, OnlyPlainDecimalsStandUnquoted) {
  for (const char* good : {"0", "-1", "+2", "1234.56", "-0.5", "007"}) EXPECT_TRUE(IsPlainDecimal(good)) << good;
  for (const char* bad : {"", " 1", "1 ", "1.", ".5", "1e5", "0x10", "1,5", "--1", "1;DROP", "NaN", "-", "1.2.3"}) {
    EXPECT_FALSE(IsPlainDecimal(bad)) << bad;
  }
  EXPECT_EQ(LeadingNumber("2"), 2);
  EXPECT_EQ(LeadingNumber("  3abc"), 3);
  EXPECT_EQ(LeadingNumber("-1.5x"), -1.5);
  EXPECT_EQ(LeadingNumber("abc"), 0);
  EXPECT_EQ(LeadingNumber(""), 0);
  EXPECT_THROW(LeadingNumber(std::string(400, '9')), kv::Error);
}

TEST(StatementBuilderTest, ActiveFormWithCrLfAndTab) {
  StatementPieces pieces;
  StatementBuilder b = pieces.Builder();
  b.Clear();
  b.AppendColumn("[K]", "9000000", false);
  b.AppendColumn("[Name]", "'Overhead'", true);
  b.AppendColumn("[Status]", "-1", false);
  b.AppendColumn("[By]", "'syncuser'", true);
  EXPECT_EQ(pieces.sColumnName, "[By]");
  EXPECT_EQ(pieces.sColumnValue, "'syncuser'");
  EXPECT_EQ(pieces.sUpdateSQL, "[Name]='Overhead',[By]='syncuser'");
  const std::string& s = b.Finish({"ClassInfo", "ClassRowID"}, "'AB-1'", true);
  EXPECT_EQ(s,
            "IF (SELECT Count(ClassRowID) FROM [ClassInfo] WHERE [QBListID] = 'AB-1') <= 0\r\n"
            "\tINSERT INTO ClassInfo ([K],[Name],[Status],[By]) VALUES (9000000,'Overhead',-1,'syncuser')\r\n"
            "Else\r\n"
            "\tUPDATE ClassInfo SET [Name]='Overhead',[By]='syncuser' WHERE [QBListId] = 'AB-1'\r\n");
  EXPECT_EQ(pieces.sStatement, s);
  EXPECT_EQ(pieces.sInsertSQL,
            "INSERT INTO ClassInfo ([K],[Name],[Status],[By]) VALUES (9000000,'Overhead',-1,'syncuser')");
}

class MapChildren : public RecordChildren {
 public:
  explicit MapChildren(std::map<std::string, std::string> children) : children_(std::move(children)) {}
  std::optional<std::string> Child(std::string_view path) const override {
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
