// The text helpers: trimming, splitting, replacing, widths in code points and letter case.

#include "platform/base/text.h"

#include "platform/base/error.h"

#include <gtest/gtest.h>

namespace kv {
namespace {

TEST(TextTest, TrimsBlanksOnly) {
  EXPECT_EQ(TrimBlanks("  a b \t"), "a b \t");
  EXPECT_EQ(TrimBlanks("   "), "");
}

TEST(TextTest, XmlSpaceIsBlanksTabsAndLineEndsAroundTheText) {
  EXPECT_EQ(TrimXmlSpace(" \t\r\n Acme  Roof\r\n\t "), "Acme  Roof");
  EXPECT_EQ(TrimXmlSpace(" \r\n "), "");
  EXPECT_EQ(TrimXmlSpace("\vx\f"), "\vx\f");  // XML's white space only
}

TEST(TextTest, SplitKeepsEmptyFields) {
  EXPECT_EQ(Split("a||b|", "|"), (std::vector<std::string>{"a", "", "b", ""}));
  EXPECT_EQ(Split("", "\r\n"), (std::vector<std::string>{""}));
  EXPECT_EQ(Split("x\r\ny", "\r\n"), (std::vector<std::string>{"x", "y"}));
}

TEST(TextTest, ReplaceAllDoesNotRescanReplacements) {
  EXPECT_EQ(ReplaceAll("it's 'x'", "'", "''"), "it''s ''x''");
  EXPECT_EQ(ReplaceAll("aaa", "a", "aa"), "aaaaaa");
}

TEST(TextTest, WidthsCountCodePoints) {
  const std::string text = "Caf\xC3\xA9 \xE2\x82\xAC";  // "Café €"
  EXPECT_EQ(CodePointCount(text), 6u);
  EXPECT_EQ(LeftChars(text, 4), "Caf\xC3\xA9");
  EXPECT_EQ(LeftChars(text, 100), text);
  EXPECT_EQ(LeftChars(text, 0), "");
}

TEST(TextTest, CaseHelpers) {
  EXPECT_TRUE(EqualsIgnoreCase("TRUE", "true"));
  EXPECT_FALSE(EqualsIgnoreCase("true", "truer"));
  EXPECT_EQ(ToUpperAscii("abC1"), "ABC1");
}

TEST(TextTest, AppendUtf8EncodesEachLengthAndReplacesWhatIsNoCodePoint) {
  std::string out;
  for (uint32_t cp : {0x41u, 0x7Fu, 0x80u, 0x7FFu, 0x800u, 0xFFFFu, 0x10000u, 0x10FFFFu}) AppendUtf8(out, cp);
  EXPECT_EQ(out, "A\x7F\xC2\x80\xDF\xBF\xE0\xA0\x80\xEF\xBF\xBF\xF0\x90\x80\x80\xF4\x8F\xBF\xBF");
  EXPECT_EQ(CodePointCount(out), 8u);
  out.clear();
  AppendUtf8(out, 0x110000);
  EXPECT_EQ(out, "\xEF\xBF\xBD");
}

}  // namespace
TEST(TextTest, LeadingNumberReadsAsValDoes) {
  EXPECT_EQ(kv::LeadingNumber("2"), 2);
  EXPECT_EQ(kv::LeadingNumber("  3abc"), 3);
  EXPECT_EQ(kv::LeadingNumber("\t\n 4.25.5"), 4.25);
  EXPECT_EQ(kv::LeadingNumber("-1.5x"), -1.5);
  EXPECT_EQ(kv::LeadingNumber("+.5"), 0.5);
  EXPECT_EQ(kv::LeadingNumber("abc"), 0);
  EXPECT_EQ(kv::LeadingNumber("."), 0);
  EXPECT_EQ(kv::LeadingNumber(""), 0);
  EXPECT_THROW(kv::LeadingNumber(std::string(400, '9')), kv::Error);
}

}  // namespace kv
