// SQL literals: texts cut to their width before apostrophes are doubled, keys, flags, dates and plain decimals.

#include "sync_control/converters/sql_literal.h"

#include <gtest/gtest.h>

#include "platform/base/date_time.h"
#include "platform/base/error.h"

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
}

}  // namespace
}  // namespace brintavel
