#include "common/text.h"

#include <gtest/gtest.h>

namespace kv {
namespace {

TEST(TextTest, TrimsBlanksOnly) {
  EXPECT_EQ(TrimBlanks("  a b \t"), "a b \t");
  EXPECT_EQ(TrimBlanks("   "), "");
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

}  // namespace
}  // namespace kv
