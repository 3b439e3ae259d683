// The page parameters' conversions to flags, dates, numbers and texts, and their defaults.

#include "platform/activex/property_bag.h"

#include <gtest/gtest.h>

#include "platform/base/error.h"

namespace platform::activex {
namespace {

TEST(PropertyBagTest, FlagsFromWordsInAnyCaseAndFromNumbers) {
  PropertyBag bag{{"a", "TRUE"}, {"b", "false"}, {"c", "0"}, {"d", "-1"}, {"e", "2"}, {"f", " True "}, {"g", "0.5"}};
  EXPECT_TRUE(bag.ReadFlag("a"));
  EXPECT_FALSE(bag.ReadFlag("b", true));
  EXPECT_FALSE(bag.ReadFlag("c", true));
  EXPECT_TRUE(bag.ReadFlag("d"));
  EXPECT_TRUE(bag.ReadFlag("e"));
  EXPECT_TRUE(bag.ReadFlag("f"));
  EXPECT_TRUE(bag.ReadFlag("g"));
}

TEST(PropertyBagTest, MissingKeysAndBlankValuesGiveTheDefault) {
  PropertyBag bag{{"ResetKalvor", ""}, {"CustomerLastSyncDate", "   "}, {"Count", ""}, {"CustLexicon", "  "}};
  EXPECT_FALSE(bag.ReadFlag("ResetKalvor"));
  EXPECT_TRUE(bag.ReadFlag("ResetKalvor", true));
  EXPECT_TRUE(bag.ReadDate("CustomerLastSyncDate").IsZero());
  EXPECT_EQ(bag.ReadLong("Count", 7), 7);
  EXPECT_EQ(bag.ReadText("CustLexicon", "Customer"), "  ") << "texts come unchanged, blanks included";
  EXPECT_EQ(bag.ReadText("Missing", "x"), "x");
  EXPECT_EQ(bag.ReadFlag("Missing", true), true);
  EXPECT_EQ(bag.FailedKey(), "");
}

TEST(PropertyBagTest, NamesCompareWithoutLetterCaseAndTheFirstWins) {
  PropertyBag bag;
  bag.Add("KVSecureServerURL", "http://first/");
  bag.Add("kvsecureserverurl", "http://second/");
  EXPECT_EQ(bag.ReadText("KVSECURESERVERURL"), "http://first/");
  EXPECT_TRUE(bag.Has("kvSecureServerUrl"));
  EXPECT_EQ(bag.Items().size(), 2u);
}

TEST(PropertyBagTest, DatesAndNumbersGoThroughTheRegionalModel) {
  PropertyBag bag{{"d1", "01/01/2000 01:01:01 AM"}, {"d2", "2003-04-05"}, {"n", "2.5"}, {"m", "3.5"}, {"x", "-12.25"}};
  EXPECT_EQ(bag.ReadDate("d1"), kv::DateTime::FromParts(2000, 1, 1, 1, 1, 1));
  EXPECT_EQ(bag.ReadDate("d2"), kv::DateTime::FromParts(2003, 4, 5));
  EXPECT_EQ(bag.ReadLong("n"), 2) << "half to even";
  EXPECT_EQ(bag.ReadLong("m"), 4);
  EXPECT_DOUBLE_EQ(bag.ReadDouble("x"), -12.25);
  PropertyBag big{{"n", "3000000000"}};
  try {
    big.ReadLong("n");
    FAIL() << "no error";
  } catch (const kv::Error& e) {
    EXPECT_EQ(e.number(), kv::kErrOverflow);
  }
}

TEST(PropertyBagTest, DateParametersInEveryFormTheServicesPagesWrite) {
  const kv::DateTime may2 = kv::DateTime::FromParts(2006, 5, 2);
  const kv::DateTime may2_1640 = kv::DateTime::FromParts(2006, 5, 2, 16, 40, 12);
  PropertyBag bag{{"iso_blank", "2006-05-02 16:40:12"},
                  {"iso_t", "2006-05-02T16:40:12"},
                  {"short_year", "05/02/06"},
                  {"dashes", "5-2-2006 4:40:12 PM"},
                  {"dots", "5.2.2006"},
                  {"name_first", "May 2, 2006"},
                  {"day_first_name", " 2 May 2006 "},
                  {"short_name", "2-May-06 16:40:12"}};
  EXPECT_EQ(bag.ReadDate("iso_blank"), may2_1640);
  EXPECT_EQ(bag.ReadDate("iso_t"), may2_1640);
  EXPECT_EQ(bag.ReadDate("short_year"), may2);
  EXPECT_EQ(bag.ReadDate("dashes"), may2_1640);
  EXPECT_EQ(bag.ReadDate("dots"), may2);
  EXPECT_EQ(bag.ReadDate("name_first"), may2);
  EXPECT_EQ(bag.ReadDate("day_first_name"), may2);
  EXPECT_EQ(bag.ReadDate("short_name"), may2_1640);
  EXPECT_EQ(bag.FailedKey(), "");

  // Still refused: a day-first date, a month without its year, a word that is no month.
  for (const char* text : {"31/12/2006", "May 2", "2 Mai 2006", "2006-05-02T", "05/02/2006 4:40 XM"}) {
    PropertyBag bad{{"TimeLastSyncDate", text}};
    EXPECT_THROW(bad.ReadDate("TimeLastSyncDate"), kv::Error) << text;
    EXPECT_EQ(bad.FailedKey(), "TimeLastSyncDate") << text;
  }
}

TEST(PropertyBagTest, TextsThatDoNotConvertAreATypeMismatchNamingTheKey) {
  PropertyBag bag{{"ResetKalvor", "yes"}, {"TimeLastSyncDate", "13/45/2000"}, {"Amount", "12abc"}, {"Text", "ok"}};
  for (const char* key : {"ResetKalvor", "TimeLastSyncDate", "Amount"}) {
    try {
      if (std::string_view(key) == "ResetKalvor") bag.ReadFlag(key);
      if (std::string_view(key) == "TimeLastSyncDate") bag.ReadDate(key);
      if (std::string_view(key) == "Amount") bag.ReadDouble(key);
      ADD_FAILURE() << key << ": no error";
    } catch (const kv::Error& e) {
      EXPECT_EQ(e.number(), kv::kErrTypeMismatch) << key;
      EXPECT_EQ(e.description(), "Type mismatch") << key;
      EXPECT_EQ(bag.FailedKey(), key);
    }
  }
}

}  // namespace
}  // namespace platform::activex
