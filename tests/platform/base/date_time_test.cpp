// The date-time type and the regional model's reading and writing of dates.

#include "platform/base/date_time.h"

#include "common/date_order.h"

#include <gtest/gtest.h>

#include <clocale>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>

#include "platform/base/error.h"

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

TEST(DateTimeTest, DaysCountFromTheZeroDateAcrossCenturiesAndLeapRules) {
  // Day numbers of the platform's date serials: 1 March 1900 is day 61, its last date day 2958465, its first
  // (1 January 100) day -657434.
  EXPECT_EQ(DateTime::FromParts(1900, 3, 1).Days(), 61);
  EXPECT_EQ(DateTime::FromParts(9999, 12, 31).Days(), 2958465);
  EXPECT_EQ(DateTime::FromParts(100, 1, 1).Days(), -657434);
  // 1900 was no leap year, 2000 was one: the day after 28 February differs.
  EXPECT_EQ(DateTime::FromParts(1900, 3, 1).Days() - DateTime::FromParts(1900, 2, 28).Days(), 1);
  EXPECT_EQ(DateTime::FromParts(2000, 3, 1).Days() - DateTime::FromParts(2000, 2, 28).Days(), 2);
  EXPECT_FALSE(DateTime::IsValidDate(1900, 2, 29));
  EXPECT_TRUE(DateTime::IsValidDate(2000, 2, 29));
  EXPECT_FALSE(DateTime::IsValidDate(2023, 4, 31));
  // Values a byte would wrap into a valid month or day are refused, not read modulo 256.
  EXPECT_FALSE(DateTime::IsValidDate(2000, 257, 1));
  EXPECT_FALSE(DateTime::IsValidDate(2000, 1, 257));
  EXPECT_FALSE(DateTime::IsValidDate(2000, -11, 1));
  EXPECT_FALSE(DateTime::IsValidDate(99, 1, 1));
  EXPECT_FALSE(DateTime::IsValidDate(10000, 1, 1));

  // A second before the zero date lies on the day before it.
  const DateTime before = DateTime::FromSeconds(-1);
  EXPECT_EQ(before.Days(), -1);
  EXPECT_EQ(before.SecondsOfDay(), 86399);
  EXPECT_EQ(before.Year(), 1899);
  EXPECT_EQ(before.Month(), 12);
  EXPECT_EQ(before.Day(), 29);
  EXPECT_EQ(FixedDateTimeText(before), "12/29/1899 23:59:59");
  const DateTime first = DateTime::FromParts(100, 1, 1, 0, 0, 1);
  EXPECT_EQ(IsoDateText(first), "0100-01-01");
  EXPECT_EQ(GeneralDateText(first), "1/1/100 12:00:01 AM");
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

TEST(DateTimeTest, ReadsTheOtherFormsOfThePlatformsDateConversion) {
  const DateTime may2 = DateTime::FromParts(2006, 5, 2);
  const DateTime may2_1640 = DateTime::FromParts(2006, 5, 2, 16, 40, 12);
  // Month first with each separator and either width of year.
  for (const char* text : {"05/02/06", "5/2/06", "5-2-2006", "05-02-06", "5.2.2006", "05.02.06"}) {
    EXPECT_EQ(ParseDateTime(text), may2) << text;
  }
  // Year first with a blank or a T before the time.
  EXPECT_EQ(ParseDateTime("2006-05-02 16:40:12"), may2_1640);
  EXPECT_EQ(ParseDateTime("2006-05-02T16:40:12"), may2_1640);
  EXPECT_EQ(ParseDateTime("2006-5-2 4:40:12 PM"), may2_1640);
  EXPECT_EQ(ParseDateTime("2006/05/02"), may2);
  // English month names, whole and short, in either order.
  for (const char* text : {"May 2, 2006", "May 2 2006", "2 May 2006", "02-May-2006", "may 2, 06", "2 MAY, 2006"}) {
    EXPECT_EQ(ParseDateTime(text), may2) << text;
  }
  EXPECT_EQ(ParseDateTime("Sep 30, 2006"), DateTime::FromParts(2006, 9, 30));
  EXPECT_EQ(ParseDateTime("Sept 30, 2006"), DateTime::FromParts(2006, 9, 30));
  EXPECT_EQ(ParseDateTime("30 September 2006"), DateTime::FromParts(2006, 9, 30));
  EXPECT_EQ(ParseDateTime("February 29, 2004 11:05 PM"), DateTime::FromParts(2004, 2, 29, 23, 5, 0));
  EXPECT_EQ(ParseDateTime("Dec 31, 1999 23:59:59"), DateTime::FromParts(1999, 12, 31, 23, 59, 59));
  // With or without seconds and AM/PM, and an hour with AM/PM alone.
  EXPECT_EQ(ParseDateTime("05/02/06 4:40 PM"), DateTime::FromParts(2006, 5, 2, 16, 40, 0));
  EXPECT_EQ(ParseDateTime("5-2-2006 16:40:12"), may2_1640);
  EXPECT_EQ(ParseDateTime("May 2, 2006 4 PM"), DateTime::FromParts(2006, 5, 2, 16, 0, 0));
  EXPECT_EQ(ParseDateTime("1.1.2000"), DateTime::FromParts(2000, 1, 1));
}

TEST(DateTimeTest, TwoDigitYearsFollowThePlatformsWindow) {
  EXPECT_EQ(ParseDateTime("1/1/00").Year(), 2000);
  EXPECT_EQ(ParseDateTime("1/1/24").Year(), 2024);
  EXPECT_EQ(ParseDateTime("12/31/29").Year(), 2029);
  EXPECT_EQ(ParseDateTime("1/1/30").Year(), 1930);
  EXPECT_EQ(ParseDateTime("Jan 5, 99").Year(), 1999);
  EXPECT_EQ(ParseDateTime("2/29/00"), DateTime::FromParts(2000, 2, 29));  // 2000 was a leap year
  DateTime out;
  EXPECT_FALSE(TryParseDateTime("2/29/01", out));
}

TEST(DateTimeTest, RejectsWhatIsNotADate) {
  for (const char* bad : {"",
                          "   ",
                          "2/30/2024",
                          "13/1/2024",
                          "2023-02-29",
                          "1/1/2000 24:00",
                          "1/1/2000 10:60",
                          "1/1/2000 13:00 AM",
                          "yesterday",
                          "1/1/2000x",
                          "2000-01-01T",
                          "5/2/206",
                          "5/2/6",
                          "5/2/20060",
                          "5/2",
                          "5/2-2006",
                          "5.2/2006",
                          "05/02/06T16:40",
                          "2006-05-02T",
                          "2006-05-02 T16:40",
                          "Mai 2, 2006",
                          "Ma 2, 2006",
                          "May 32, 2006",
                          "May 2",
                          "May, 2006",
                          "2 May",
                          "Feb 29, 2005",
                          "May 2, 2006 4",
                          "May 2, 2006 16:40 XM",
                          "2006-13-01",
                          "10000-01-01",
                          "5 / 2 / 2006",
                          "-5/2/2006"}) {
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

// Builds a locale whose decimal sign is "," into a fresh folder, with a character map of its own, so that no
// locale package needs to be installed; returns the folder, or "" when localedef cannot build it.
std::string BuildCommaDecimalLocale() {
  std::string dir = (std::filesystem::temp_directory_path() / "kv-locale-XXXXXX").string();
  if (mkdtemp(dir.data()) == nullptr) return "";
  std::ofstream charmap(dir + "/ascii.cm");
  charmap << "<code_set_name> KV_ASCII\n<escape_char> /\n<mb_cur_min> 1\n<mb_cur_max> 1\nCHARMAP\n";
  for (int c = 0; c < 128; ++c) {
    char line[32];
    std::snprintf(line, sizeof line, "<U%04X> /x%02x\n", c, c);
    charmap << line;
  }
  charmap << "END CHARMAP\n";
  charmap.close();
  std::ofstream(dir + "/comma.def")
      << "LC_NUMERIC\ndecimal_point \"<U002C>\"\nthousands_sep \"<U002E>\"\ngrouping 3\nEND LC_NUMERIC\n";
  // -c: the other categories are missing on purpose; localedef then warns and exits 1 but writes the locale.
  const std::string command =
      "localedef -c -f '" + dir + "/ascii.cm' -i '" + dir + "/comma.def' '" + dir + "/kv_comma' >/dev/null 2>&1";
  (void)std::system(command.c_str());
  if (!std::filesystem::exists(dir + "/kv_comma/LC_NUMERIC")) {
    std::filesystem::remove_all(dir);
    return "";
  }
  return dir;
}

TEST(DateTimeTest, IgnoresTheMachineLocale) {
  // A comma-decimal locale set by a host must change nothing the system writes or reads.
  const std::string dir = BuildCommaDecimalLocale();
  if (dir.empty()) GTEST_SKIP() << "localedef could not build a test locale";
  const char* old_path = std::getenv("LOCPATH");
  const std::string saved_path = old_path ? old_path : "";
  const char* old = std::setlocale(LC_ALL, nullptr);
  const std::string saved = old ? old : "C";
  setenv("LOCPATH", dir.c_str(), 1);
  const bool switched = std::setlocale(LC_NUMERIC, "kv_comma") != nullptr;
  char probe[16];
  std::snprintf(probe, sizeof probe, "%.1f", 1.5);
  const std::string printed = probe;
  const std::string number = NumberText(1.5);
  const std::string large = NumberText(-1234567.25);
  const std::string exponent = NumberText(1.5e20);
  double parsed = 0;
  const bool parsed_ok = TryParseNumber("2.25", parsed);
  const int month = ParseDateTime("08/02/1997").Month();
  const int32_t order = GetSystemDateOrder();
  std::setlocale(LC_ALL, saved.c_str());
  if (old_path) {
    setenv("LOCPATH", saved_path.c_str(), 1);
  } else {
    unsetenv("LOCPATH");
  }
  std::filesystem::remove_all(dir);

  ASSERT_TRUE(switched);
  ASSERT_EQ(printed, "1,5") << "the test locale was not in effect";
  EXPECT_EQ(number, "1.5");
  EXPECT_EQ(large, "-1234567.25");
  EXPECT_EQ(exponent, "1.5E+20");
  EXPECT_TRUE(parsed_ok);
  EXPECT_EQ(parsed, 2.25);
  EXPECT_EQ(month, 8);
  EXPECT_EQ(order, 1);
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
