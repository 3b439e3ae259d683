#include "platform/web/query_builder.h"

#include <gtest/gtest.h>

namespace platform::web {
namespace {

TEST(QueryBuilderTest, ValuesAreEncodedKeysAndPageAreNot) {
  EXPECT_EQ(PercentEncode("AZaz09-_.~"), "AZaz09-_.~");
  EXPECT_EQ(PercentEncode("a b&c=d#e+f%g/h\\i:j'k"), "a%20b%26c%3Dd%23e%2Bf%25g%2Fh%5Ci%3Aj%27k");
  EXPECT_EQ(PercentEncode("\xC3\xA9"), "%C3%A9");
  EXPECT_EQ(PercentEncode(std::string("\0", 1)), "%00");

  QueryBuilder builder("kalvorupdatestatus.asp");
  builder.Add("sitecode", "S&1").Add("EEIDs", "").AddFlag("BillOrCheck", true).AddFlag("x", false);
  EXPECT_EQ(builder.Query(), "sitecode=S%261&EEIDs=&BillOrCheck=True&x=False");
  EXPECT_EQ(builder.Url("http://h/"), "http://h/kalvorupdatestatus.asp?sitecode=S%261&EEIDs=&BillOrCheck=True&x=False");
  EXPECT_EQ(QueryBuilder("help/QBmenu.html").Url("http://h/"), "http://h/help/QBmenu.html");
}

TEST(QueryBuilderTest, DecodingReversesEncoding) {
  const std::string all = [] {
    std::string s;
    for (int c = 0; c < 256; ++c) s.push_back(static_cast<char>(c));
    return s;
  }();
  EXPECT_EQ(PercentDecode(PercentEncode(all)), all);
  EXPECT_EQ(PercentDecode("a+b%2"), "a+b%2");
  EXPECT_EQ(PercentDecode("%zz%4a"), "%zzJ");
  const auto pairs = ParseQuery("?a=1&b=&c&d=x%3Dy#frag");
  ASSERT_EQ(pairs.size(), 4u);
  EXPECT_EQ(pairs[1], (std::pair<std::string, std::string>{"b", ""}));
  EXPECT_EQ(pairs[2], (std::pair<std::string, std::string>{"c", ""}));
  EXPECT_EQ(pairs[3], (std::pair<std::string, std::string>{"d", "x=y"}));
}

}  // namespace
}  // namespace platform::web
