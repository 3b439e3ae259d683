#include "common/date_time.h"

#include <gtest/gtest.h>

#include <clocale>

#include "common/error.h"

namespace kv {
namespace {

TEST(DateTimeTest, ZeroDateIsTheEpochAndPrintsAsTimeAlone) {
  const DateTime zero;
  EXPECT_EQ(zero.Year(), 1899);
  EXPECT_EQ(zero.Month(), 12);
  EXPECT_EQ(zero.Day(), 30);
  EXPECT_EQ(GeneralDateText(zero), "12:00:00 AM");
  EXPECT_EQ(FixedDateTimeText(zero), "12/30/1899 00:00:00");
}

TEST(DateTimeTest, SecondsAreSixtyFourBit) {
  const DateTime y2000 = DateTime::FromParts(2000, 1, 1);
  EXPECT_EQ(y2000.seconds(), 36526LL * 86400);
  EXPECT_GT(y2000.seconds(), int64_t{3'000'000'000});
}

TEST(DateTimeTest, GeneralTextShowsDateAloneAtMidnightAndTwelveHourClock) {
  EXPECT_EQ(GeneralDateText(DateTime::FromParts(2000, 1, 1)), "1/1/2000");
  EXPECT_EQ(GeneralDateText(DateTime::FromParts(2000, 1, 1, 1, 1, 1)), "1/1/2000 1:01:01 AM");
  EXPECT_EQ(GeneralDateText(DateTime::FromParts(2024, 12, 31, 12, 0, 5)), "12/31/2024 12:00:05 PM");
  EXPECT_EQ(GeneralDateText(DateTime::FromParts(2024, 7, 4, 23, 59, 59)), "7/4/2024 11:59:59 PM");
  EXPECT_EQ(FixedDateTimeText(DateTime::FromParts(2024, 7, 4, 9, 5, 3)), "07/04/2024 09:05:03");
  EXPECT_EQ(IsoDateText(DateTime::FromParts(2024, 7, 4, 9, 5, 3)), "2024-07-04");
}

TEST(DateTimeTest, ParsesMonthFirstWithOptionalTimeAndMeridiem) {
  EXPECT_EQ(ParseDateTime("01/01/2000 01:01:01 AM"), DateTime::FromParts(2000, 1, 1, 1, 1, 1));
  EXPECT_EQ(ParseDateTime("8/2/1997"), DateTime::FromParts(1997, 8, 2));
  EXPECT_EQ(ParseDateTime("8/2/1997 14:30"), DateTime::FromParts(1997, 8, 2, 14, 30, 0));
  EXPECT_EQ(ParseDateTime("8/2/1997 13:00 PM"), DateTime::FromParts(1997, 8, 2, 13, 0, 0));
  EXPECT_EQ(ParseDateTime("8/2/1997 12:00:00 PM"), DateTime::FromParts(1997, 8, 2, 12, 0, 0));
  EXPECT_EQ(ParseDateTime("8/2/1997 12:00:00 am"), DateTime::FromParts(1997, 8, 2));
  EXPECT_EQ(ParseDateTime("8/2/1997 0:00 AM"), DateTime::FromParts(1997, 8, 2));
  EXPECT_EQ(ParseDateTime("12:00:00 AM"), DateTime());
}

TEST(DateTimeTest, ParsesIsoWithOptionalTime) {
  EXPECT_EQ(ParseDateTime("2024-02-29"), DateTime::FromParts(2024, 2, 29));
  EXPECT_EQ(ParseDateTime("2024-02-29T17:45:10"), DateTime::FromParts(2024, 2, 29, 17, 45, 10));
}

TEST(DateTimeTest, RejectsWhatIsNotADate) {
  for (const char* bad : {"", "   ", "2/30/2024", "13/1/2024", "2023-02-29", "1/1/24", "1/1/2000 24:00",
                          "1/1/2000 10:60", "1/1/2000 13:00 AM", "yesterday", "1/1/2000x", "2000-01-01T", "1.1.2000"}) {
    DateTime out;
    EXPECT_FALSE(TryParseDateTime(bad, out)) << bad;
  }
  try {
    ParseDateTime("31/12/2024");
    FAIL() << "a day-first date must not parse";
  } catch (const Error& e) {
    EXPECT_EQ(e.number(), kErrTypeMismatch);
  }
}

TEST(DateTimeTest, GeneralTextRoundTrips) {
  for (DateTime dt : {DateTime(), DateTime::FromParts(1999, 12, 31, 23, 59, 59), DateTime::FromParts(2030, 6, 15),
                      DateTime::FromParts(2000, 2, 29, 12, 0, 1), DateTime::FromParts(1900, 3, 1, 0, 0, 1)}) {
    EXPECT_EQ(ParseDateTime(GeneralDateText(dt)), dt) << GeneralDateText(dt);
    EXPECT_EQ(ParseDateTime(FixedDateTimeText(dt)), dt) << FixedDateTimeText(dt);
  }
}

TEST(DateTimeTest, IgnoresTheMachineLocale) {
  // A day-first, comma-decimal locale must change nothing the system writes or reads.
  const char* old = std::setlocale(LC_ALL, nullptr);
  std::string saved = old ? old : "C";
  std::setlocale(LC_ALL, "de_DE.UTF-8");
  EXPECT_EQ(NumberText(1.5), "1.5");
  EXPECT_EQ(ParseNumber("2.25"), 2.25);
  EXPECT_EQ(ParseDateTime("08/02/1997").Month(), 8);
  EXPECT_EQ(GetSystemDateOrder(), 1);
  std::setlocale(LC_ALL, saved.c_str());
}

TEST(NumberTextTest, WritesFifteenSignificantDigitsWithoutTrailingZeros) {
  EXPECT_EQ(NumberText(0), "0");
  EXPECT_EQ(NumberText(-0.0), "0");
  EXPECT_EQ(NumberText(75), "75");
  EXPECT_EQ(NumberText(12.50), "12.5");
  EXPECT_EQ(NumberText(-3.125), "-3.125");
  EXPECT_EQ(NumberText(0.1 + 0.2), "0.3");
  EXPECT_EQ(NumberText(123456789012345.0), "123456789012345");
  EXPECT_EQ(NumberText(1e15), "1E+15");
  EXPECT_EQ(NumberText(0.00001), "1E-05");
}

TEST(NumberTextTest, ParsesOnlyPlainDecimals) {
  double v = 0;
  EXPECT_TRUE(TryParseNumber("-12.5", v));
  EXPECT_EQ(v, -12.5);
  EXPECT_TRUE(TryParseNumber(".5", v));
  EXPECT_EQ(v, 0.5);
  EXPECT_TRUE(TryParseNumber("+7", v));
  EXPECT_EQ(v, 7);
  for (const char* bad : {"", "-", ".", "1,5", "1e5", "0x10", "1.2.3", "12abc", "'; DROP TABLE x; --"}) {
    EXPECT_FALSE(TryParseNumber(bad, v)) << bad;
  }
}

}  // namespace
}  // namespace kv
