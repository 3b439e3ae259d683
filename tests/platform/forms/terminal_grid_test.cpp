// A list view drawn on a terminal: marks for line breaks, aligned columns, blocks when too wide.

#include "platform/forms/terminal_grid.h"

#include <gtest/gtest.h>

#include <sstream>
#include <string>
#include <vector>

#include "platform/base/text.h"

namespace platform::forms {
namespace {

std::vector<std::string> Lines(const std::string& text) {
  std::vector<std::string> lines = kv::Split(text, "\n");
  if (!lines.empty() && lines.back().empty()) lines.pop_back();
  return lines;
}

const std::vector<std::string> kHeaders = {"Employee", "Customer:Project", "Description"};

TEST(VisibleCellTest, LineBreaksAndControlsBecomeMarks) {
  EXPECT_EQ(VisibleCell("The page cannot be displayed\r\nHTTP 500 Internal Server Error"),
            "The page cannot be displayed\u21B5HTTP 500 Internal Server Error");
  EXPECT_EQ(VisibleCell("a\rb\nc\r\n"), "a\u21B5b\u21B5c\u21B5");
  EXPECT_EQ(VisibleCell("tab\there \x1b[2J bell\x07 del\x7f"), "tab^Ihere ^[[2J bell^G del^?");
  EXPECT_EQ(VisibleCell("caf\xC3\xA9 \xC2\x9B"), "caf\xC3\xA9 ^?");
}

TEST(WriteGridTest, OneLinePerRecordWithTheColumnsAligned) {
  const std::vector<std::vector<std::string>> rows = {
      {"Dana Whitfield", "Acme Widgets:Plant", "The page cannot be displayed\r\nHTTP 500 Internal Server Error"},
      {"Marcus O'Neill", "ERROR|5002|5003|Project closed", "ERROR|5003|Employee not set up"},
      {"Li", "", "SUCCESS"}};
  std::ostringstream out;
  WriteGrid(out, kHeaders, rows, 200);
  const std::vector<std::string> lines = Lines(out.str());
  ASSERT_EQ(lines.size(), 5u) << out.str();  // header, rule, three records
  // Each column starts where its header does, whatever "|" the cells before it hold.
  const size_t second = kv::CodePointCount(lines[0].substr(0, lines[0].find("Customer:Project")));
  const size_t third = kv::CodePointCount(lines[0].substr(0, lines[0].find("Description")));
  EXPECT_EQ(kv::CodePointCount(lines[2].substr(0, lines[2].find("Acme"))), second);
  EXPECT_EQ(kv::CodePointCount(lines[2].substr(0, lines[2].find("The page"))), third);
  EXPECT_EQ(kv::CodePointCount(lines[3].substr(0, lines[3].find("ERROR|5002"))), second);
  EXPECT_EQ(kv::CodePointCount(lines[3].substr(0, lines[3].find("ERROR|5003|Employee"))), third);
  EXPECT_EQ(kv::CodePointCount(lines[4].substr(0, lines[4].find("SUCCESS"))), third);
  EXPECT_NE(lines[2].find("displayed\u21B5HTTP 500"), std::string::npos);
  // The columns stand two blanks apart: the widest first cell is followed by exactly two.
  EXPECT_EQ(lines[2].substr(0, 16), "Dana Whitfield  ");
}

TEST(WriteGridTest, ATooWideGridBecomesOneBlockPerRecordInsideTheWidth) {
  std::string reason;
  for (int i = 0; reason.size() < 300; ++i) reason += "word" + std::to_string(i) + " ";
  reason.resize(300);
  const std::vector<std::vector<std::string>> rows = {{"Dana Whitfield", "Acme Widgets:Plant", reason},
                                                      {"Marcus O'Neill", "Baker's", "ERROR|5002|short"}};
  std::ostringstream out;
  WriteGrid(out, kHeaders, rows, 80);
  const std::vector<std::string> lines = Lines(out.str());
  for (const std::string& line : lines) EXPECT_LT(kv::CodePointCount(line), 80u) << line;
  EXPECT_EQ(lines[0], "Row 1 of 2");
  EXPECT_EQ(lines[1], "  Employee         : Dana Whitfield");
  EXPECT_EQ(lines[2], "  Customer:Project : Acme Widgets:Plant");
  // The reason wraps onto lines under its value; put together again it is whole.
  std::string joined;
  size_t at = 3;
  for (; at < lines.size() && lines[at] != "Row 2 of 2"; ++at) {
    const std::string piece = lines[at].substr(21);
    joined += joined.empty() ? piece : (joined.back() == ' ' ? piece : " " + piece);
  }
  EXPECT_GT(at - 3, 3u);
  EXPECT_EQ(kv::ReplaceAll(joined, " ", ""), kv::ReplaceAll(reason, " ", ""));
  ASSERT_LT(at, lines.size());
  EXPECT_EQ(lines.back(), "  Description      : ERROR|5002|short");
}

}  // namespace
}  // namespace platform::forms
