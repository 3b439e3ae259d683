// Query strings: values percent-encoded, keys and page names as they are.

#include "platform/web/query_builder.h"

#include <gtest/gtest.h>

#include "tests/support/service/service_standin.h"

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

// What the service reads back, decoded by libcurl rather than by anything of ours: every byte of a value
// arrives as it was, and no value can add a key.
TEST(QueryBuilderTest, EveryByteOfAValueArrivesIntact) {
  std::string all;
  for (int c = 0; c < 256; ++c) all.push_back(static_cast<char>(c));
  kv::test::ReceivedRequest request;
  request.target = "/" + QueryBuilder("p.asp").Add("all", all).Add("k", "a=b&c=d#e").Add("e", "").PageAndQuery();
  EXPECT_EQ(request.Query(),
            (std::vector<std::pair<std::string, std::string>>{{"all", all}, {"k", "a=b&c=d#e"}, {"e", ""}}));
}

}  // namespace
}  // namespace platform::web
