#include "platform/web/http_text.h"

#include <gtest/gtest.h>

#include "platform/web/query_builder.h"

namespace platform::web {
namespace {

TEST(HttpTextTest, HeaderStringBecomesWellFormedLines) {
  EXPECT_EQ(NormalizeHeaderLines("Content-Type:text/plain\n\r"), std::vector<std::string>{"Content-Type: text/plain"});
  EXPECT_EQ(NormalizeHeaderLines("A:1\r\nB:  two  \r\n\r\nnot a header\r\n:empty name\r\nC D:x"),
            (std::vector<std::string>{"A: 1", "B: two"}));
  EXPECT_TRUE(NormalizeHeaderLines("").empty());
}

TEST(HttpTextTest, BodyBytesAreUtf8OrReadAsLatin1) {
  EXPECT_EQ(DecodeBodyBytes("Jos\xC3\xA9", "text/plain"), "Jos\xC3\xA9");
  EXPECT_EQ(DecodeBodyBytes("Jos\xE9", "text/plain"), "Jos\xC3\xA9");
  // One stray byte makes the whole text Latin-1, so no character is half converted.
  EXPECT_EQ(DecodeBodyBytes("\xC3\xA9 \xE9", ""), "\xC3\x83\xC2\xA9 \xC3\xA9");
  EXPECT_EQ(DecodeBodyBytes("\xC3\xA9", "text/plain; charset=ISO-8859-1"), "\xC3\x83\xC2\xA9");
  EXPECT_EQ(DecodeBodyBytes("\xEF\xBB\xBFSUCCESS", "text/plain"), "SUCCESS");
  // Overlong forms and surrogates are not UTF-8.
  EXPECT_FALSE(IsValidUtf8("\xC0\xAF"));
  EXPECT_FALSE(IsValidUtf8("\xED\xA0\x80"));
  EXPECT_FALSE(IsValidUtf8("\xE2\x82"));
  EXPECT_TRUE(IsValidUtf8("\xF0\x9F\x98\x80 \xE2\x82\xAC"));
}

TEST(HttpTextTest, HtmlBodyTextDropsTagsAndKeepsWhiteSpace) {
  EXPECT_EQ(HtmlBodyText("<html><body>SUCCESS T</body></html>"), "SUCCESS T");
  EXPECT_EQ(HtmlBodyText("<html><body>  two  blanks &lt;x&gt; &amp; &#233;</body></html>"),
            "  two  blanks <x> & \xC3\xA9");
  EXPECT_EQ(HtmlBodyText("<body>a<br>b<br/><br>c</body>"), "a\r\nb\r\n\r\nc");
  EXPECT_EQ(HtmlBodyText("<body><p>one</p><p>two</p><div><div>three</div></div>four</body>"),
            "one\r\ntwo\r\nthree\r\nfour");
  EXPECT_EQ(HtmlBodyText("<html><head><title>T</title><style>p{}</style></head><body><script>x()</script>"
                         "<b>bold</b> text</body></html>"),
            "bold text");
  EXPECT_EQ(HtmlBodyText("plain words"), "plain words");
  EXPECT_EQ(HtmlBodyText(""), "");
}

TEST(HttpTextTest, HtmlIsKnownByTypeOrByItsStart) {
  EXPECT_TRUE(IsHtmlAnswer("text/html; charset=utf-8", "SUCCESS"));
  EXPECT_FALSE(IsHtmlAnswer("text/plain", "<html><body>x</body></html>"));
  EXPECT_TRUE(IsHtmlAnswer("", "\r\n <!DOCTYPE HTML><html>"));
  EXPECT_FALSE(IsHtmlAnswer("", "SUCCESS"));
}

TEST(HttpTextTest, ErrorPages) {
  EXPECT_EQ(TransportErrorPage("Failed to connect\r\nsecond line"),
            "The page cannot be displayed\r\nFailed to connect  second line");
  EXPECT_EQ(HttpErrorPage(503, "Service Unavailable", ""),
            "The page cannot be displayed\r\nHTTP 503 Service Unavailable");
  EXPECT_EQ(HttpErrorPage(500, "Internal Server Error", "ERROR"),
            "The page cannot be displayed\r\nHTTP 500 Internal Server Error\r\nERROR");
  EXPECT_EQ(ReasonPhrase(413), "Payload Too Large");
  EXPECT_EQ(ReasonPhrase(299), "");
}

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
