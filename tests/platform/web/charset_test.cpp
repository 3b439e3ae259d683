// Reading an answer's bytes by its character set.

#include "platform/web/charset.h"

#include <gtest/gtest.h>

namespace platform::web {
namespace {

// The code page's signs, written out as their UTF-8 bytes: ’ € “ ” – …
constexpr char kQuote[] = "\xE2\x80\x99";
constexpr char kEuro[] = "\xE2\x82\xAC";
constexpr char kOpen[] = "\xE2\x80\x9C";
constexpr char kClose[] = "\xE2\x80\x9D";

TEST(CharsetTest, CharsetNames) {
  EXPECT_EQ(CharsetOf("text/html; charset=Windows-1252"), "windows-1252");
  EXPECT_EQ(CharsetOf("text/plain;charset=\"utf-8\"; format=flowed"), "utf-8");
  EXPECT_EQ(CharsetOf("text/plain"), "");
  EXPECT_EQ(MetaCharsetOf("<html><head><META CHARSET='ISO-8859-1'>"), "iso-8859-1");
  EXPECT_EQ(MetaCharsetOf("<meta name=x><meta content=\"text/html; charset=windows-1252\">"), "windows-1252");
  EXPECT_EQ(MetaCharsetOf("<meta name=x>"), "");
  EXPECT_EQ(MetaCharsetOf(std::string(1100, ' ') + "<meta charset=latin1>"), "");
}

TEST(CharsetTest, Windows1252HasItsOwnSigns) {
  EXPECT_EQ(Windows1252ToUtf8("O\x92Neil \x80 5 \x93x\x94"),
            std::string("O") + kQuote + "Neil " + kEuro + " 5 " + kOpen + "x" + kClose);
  EXPECT_EQ(Windows1252ToUtf8("\x96\x85\x8A\x9F"), "\xE2\x80\x93\xE2\x80\xA6\xC5\xA0\xC5\xB8");
  EXPECT_EQ(Windows1252ToUtf8("\x81\x8D\x8F\x90\x9D"), "\xC2\x81\xC2\x8D\xC2\x8F\xC2\x90\xC2\x9D");
  EXPECT_EQ(Windows1252ToUtf8("Caf\xE9 \xFF"), "Caf\xC3\xA9 \xC3\xBF");
  // Browsers read the Latin-1 and ASCII labels as windows-1252.
  EXPECT_EQ(DecodeCharset("\x92", "iso-8859-1"), kQuote);
  EXPECT_EQ(DecodeCharset("\x80", "us-ascii"), kEuro);
}

TEST(CharsetTest, StrayBytesChangeOnlyThemselves) {
  const std::string good = "Caf\xC3\xA9 " + std::string(kEuro);
  EXPECT_EQ(MixedUtf8ToUtf8(good), good);
  EXPECT_EQ(MixedUtf8ToUtf8(good + "\r\n\x92\r\n" + good), good + "\r\n" + kQuote + "\r\n" + good);
  // A lead byte without its continuation, a continuation byte on its own, an overlong form, a surrogate.
  EXPECT_EQ(MixedUtf8ToUtf8("\xC3"
                            "A"),
            "\xC3\x83"
            "A");
  EXPECT_EQ(MixedUtf8ToUtf8("\xA9"), "\xC2\xA9");
  EXPECT_EQ(MixedUtf8ToUtf8("\xC0\xAF"), "\xC3\x80\xC2\xAF");
  EXPECT_EQ(MixedUtf8ToUtf8("\xED\xA0\x80"), "\xC3\xAD\xC2\xA0" + std::string(kEuro));
  EXPECT_EQ(MixedUtf8ToUtf8("\xE2\x82"), "\xC3\xA2\xE2\x80\x9A");
  EXPECT_EQ(DecodeCharset("\xEF\xBB\xBFok", "utf-8"), "ok");
  EXPECT_EQ(DecodeCharset("\xEF\xBB\xBFok", ""), "ok");
  EXPECT_FALSE(IsValidUtf8("\xC0\xAF"));
  EXPECT_FALSE(IsValidUtf8("\xED\xA0\x80"));
  EXPECT_FALSE(IsValidUtf8("\xE2\x82"));
  EXPECT_TRUE(IsValidUtf8("\xF0\x9F\x98\x80 \xE2\x82\xAC"));
}

}  // namespace
}  // namespace platform::web
