// The browser's texts: request headers, body text of plain and HTML answers, hidden passwords.

#include "platform/web/http_text.h"

#include <gtest/gtest.h>

namespace platform::web {
namespace {

TEST(HttpTextTest, HeaderStringBecomesWellFormedLines) {
  EXPECT_EQ(NormalizeHeaderLines("Content-Type:text/plain\n\r"), std::vector<std::string>{"Content-Type: text/plain"});
  EXPECT_EQ(NormalizeHeaderLines("A:1\r\nB:  two  \r\n\r\nnot a header\r\n:empty name\r\nC D:x"),
            (std::vector<std::string>{"A: 1", "B: two"}));
  EXPECT_TRUE(NormalizeHeaderLines("").empty());
}

TEST(HttpTextTest, BodyBytesFollowTheAnswersCharset) {
  EXPECT_EQ(DecodeBodyBytes("Jos\xC3\xA9", "text/plain"), "Jos\xC3\xA9");
  EXPECT_EQ(DecodeBodyBytes("Jos\xE9", "text/plain"), "Jos\xC3\xA9");
  // A stray byte is one character; the UTF-8 around it stays as it is.
  EXPECT_EQ(DecodeBodyBytes("\xC3\xA9 \xE9 \xE2\x82\xAC", ""), "\xC3\xA9 \xC3\xA9 \xE2\x82\xAC");
  EXPECT_EQ(DecodeBodyBytes("\xC3\xA9", "text/plain; charset=ISO-8859-1"), "\xC3\x83\xC2\xA9");
  EXPECT_EQ(DecodeBodyBytes("\x92\x80", "text/plain; charset=\"windows-1252\""), "\xE2\x80\x99\xE2\x82\xAC");
  EXPECT_EQ(DecodeBodyBytes("\xEF\xBB\xBFSUCCESS", "text/plain"), "SUCCESS");
  // An HTML page without a charset in its content type may name one in a <meta> element.
  EXPECT_EQ(
      DecodeBodyBytes("<html><head><meta charset=\"windows-1252\"></head><body>\x93x\x94</body></html>", "text/html"),
      "<html><head><meta charset=\"windows-1252\"></head><body>\xE2\x80\x9Cx\xE2\x80\x9D</body></html>");
  EXPECT_EQ(DecodeBodyBytes("<meta http-equiv=\"Content-Type\" content=\"text/html; charset=ISO-8859-1\">\xE9",
                            "text/html; charset=utf-8"),
            "<meta http-equiv=\"Content-Type\" content=\"text/html; charset=ISO-8859-1\">\xC3\xA9");
}

TEST(HttpTextTest, HtmlBodyTextIsTheBrowsersDocumentText) {
  EXPECT_EQ(HtmlBodyText("<html><body>SUCCESS T</body></html>"), "SUCCESS T");
  EXPECT_EQ(HtmlBodyText("<html><body>  two  blanks &lt;x&gt; &amp; &#233;</body></html>"),
            "two blanks <x> & \xC3\xA9");
  EXPECT_EQ(HtmlBodyText("<body>a<br>b<br/><br>c</body>"), "a\r\nb\r\n\r\nc");
  EXPECT_EQ(HtmlBodyText("<body><p>one</p><p>two</p><div><div>three</div></div>four</body>"),
            "one\r\ntwo\r\nthree\r\nfour");
  EXPECT_EQ(HtmlBodyText("<html><head><title>T</title><style>p{}</style></head><body><script>x()</script>"
                         "<b>bold</b> text</body></html>"),
            "bold text");
  EXPECT_EQ(HtmlBodyText("plain words"), "plain words");
  EXPECT_EQ(HtmlBodyText(""), "");
  // A page as a server writes it: the source's line breaks and indentation are no part of the text.
  EXPECT_EQ(HtmlBodyText("<html>\r\n<head><title>Upload</title></head>\r\n<body>\r\nSUCCESS\r\n</body>\r\n</html>"),
            "SUCCESS");
  EXPECT_EQ(HtmlBodyText("<html>\n  <body>\n    <div>\n      SUCCESST\n    </div>\n  </body>\n</html>\n"), "SUCCESST");
  EXPECT_EQ(HtmlBodyText("<body>\n  TA|1|Ann\n  <br>\n  LA|2|Bob  <br>\n\n</body>"), "TA|1|Ann\r\nLA|2|Bob\r\n");
  EXPECT_EQ(HtmlBodyText("<body>\n<p>\n  Error:\n  no   access\n</p>\n<p>again</p>\n</body>"),
            "Error: no access\r\nagain");
  EXPECT_EQ(HtmlBodyText("<body><span>a</span>\n<span>b</span></body>"), "a b");
  EXPECT_EQ(HtmlBodyText("<body>\n<pre>x  y\n z</pre>\n</body>"), "x  y\r\n z");
}

TEST(HttpTextTest, PasswordValuesAreHidden) {
  EXPECT_EQ(HideSecrets("The address is not a web address: 127.0.0.1:1/kvrGetQBMenuSpecs.asp?user=demo&pwd=S3cret%21"
                        "&storuser=0"),
            "The address is not a web address: 127.0.0.1:1/kvrGetQBMenuSpecs.asp?user=demo&pwd=(hidden)&storuser=0");
  EXPECT_EQ(HideSecrets("http://h/a?PWD=x#f and http://h/b?Password=y z?KVRPasswd=w"),
            "http://h/a?PWD=(hidden)#f and http://h/b?Password=(hidden) z?KVRPasswd=(hidden)");
  EXPECT_EQ(HideSecrets("user=u&pwd=&x=1"), "user=u&pwd=&x=1");
  EXPECT_EQ(HideSecrets("pwd=abc"), "pwd=(hidden)");
  // Names that only contain the word are no password parameter.
  EXPECT_EQ(HideSecrets("?pwdhint=a&newpwd=b"), "?pwdhint=a&newpwd=(hidden)");
  EXPECT_EQ(HideSecrets("no address"), "no address");
  EXPECT_EQ(TransportErrorPage("bad ?pwd=1"), "The page cannot be displayed\r\nbad ?pwd=(hidden)");
  EXPECT_EQ(HttpErrorPage(500, "Internal Server Error", "failed: /p.asp?user=a&pwd=S3cret"),
            "The page cannot be displayed\r\nHTTP 500 Internal Server Error\r\nfailed: /p.asp?user=a&pwd=(hidden)");
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

}  // namespace
}  // namespace platform::web
