// The terminal's progress line: its bar, its width, and how seldom it is drawn.

#include "platform/forms/terminal_status.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <sstream>
#include <string>

#include "platform/base/text.h"
#include "platform/forms/control.h"
#include "platform/forms/terminal_presenter.h"

namespace platform::forms {
namespace {

ProgressFrame MakeFrame(std::string caption, double value, double max) {
  ProgressFrame frame;
  frame.caption = std::move(caption);
  frame.bar_shown = true;
  frame.max = max;
  frame.value = value;
  return frame;
}

// The bar's cells between "[" and "]": filled, empty.
std::pair<size_t, size_t> BarCells(const std::string& line) {
  const size_t open = line.find('[');
  const size_t close = line.find(']', open);
  const std::string bar = line.substr(open + 1, close - open - 1);
  return {static_cast<size_t>(std::count(bar.begin(), bar.end(), '#')),
          static_cast<size_t>(std::count(bar.begin(), bar.end(), '.'))};
}

TEST(ProgressLineTextTest, PercentageAndBarFollowTheValue) {
  const std::string half = ProgressLineText(MakeFrame("Getting Classes from QB (3)", 50, 100), 80);
  EXPECT_EQ(half.rfind("Getting Classes from QB (3)  [", 0), 0u) << half;
  EXPECT_EQ(half.substr(half.find(']')), "] 50%") << half;
  const auto [filled, empty] = BarCells(half);
  EXPECT_EQ(filled, empty) << half;

  // A sync of 3,000 classes: the form's bar ends at 2999 while the caption counts 3000. Only the caption's count
  // is shown, so the line cannot disagree with itself.
  const std::string full = ProgressLineText(MakeFrame("Classes (3000)", 2999, 2999), 80);
  EXPECT_EQ(full.substr(full.find(']')), "] 100%") << full;
  EXPECT_EQ(full.find("2999"), std::string::npos) << full;
  EXPECT_EQ(BarCells(full).second, 0u) << full;

  // A bar with Min 10: the share is of the range; 2 of 3 is 66%, never rounded up to a full bar's 67%.
  ProgressFrame shifted = MakeFrame("x", 15, 20);
  shifted.min = 10;
  EXPECT_EQ(ProgressLineText(shifted, 80).substr(ProgressLineText(shifted, 80).find(']')), "] 50%");
  const std::string two_thirds = ProgressLineText(MakeFrame("x", 2, 3), 80);
  EXPECT_EQ(two_thirds.substr(two_thirds.find(']')), "] 66%") << two_thirds;
}

TEST(ProgressLineTextTest, TheLineStaysInsideTheWidthAndShowsNoControlCharacters) {
  const std::string caption = "Getting \x1b[31mCustomers\x1b[0m from QB with a caption far longer than the screen (12)";
  for (size_t width : {20u, 40u, 80u, 200u}) {
    const std::string line = ProgressLineText(MakeFrame(caption, 3, 9), width);
    EXPECT_LT(kv::CodePointCount(line), width) << line;
    EXPECT_EQ(line.find('\x1b'), std::string::npos) << line;
  }
  EXPECT_NE(ProgressLineText(MakeFrame(caption, 3, 9), 200).find("^[[31m"), std::string::npos);
  // Room for the percentage goes before room for the caption.
  EXPECT_NE(ProgressLineText(MakeFrame(caption, 3, 9), 40).find("] 33%"), std::string::npos);
}

TEST(ProgressLineTextTest, TheBlinkingLabelDoesNotMoveTheBar) {
  ProgressFrame on = MakeFrame("Getting Items from QB (7)", 7, 20);
  on.blink = "Please wait...";
  on.blink_room = on.blink.size();
  ProgressFrame off = on;
  off.blink.clear();
  const std::string shown = ProgressLineText(on, 100);
  const std::string hidden = ProgressLineText(off, 100);
  EXPECT_NE(shown.find("Please wait..."), std::string::npos) << shown;
  EXPECT_EQ(hidden.find("Please wait..."), std::string::npos) << hidden;
  EXPECT_EQ(shown.find('['), hidden.find('['));
  EXPECT_EQ(shown.find(']'), hidden.find(']'));
}

TEST(StatusLineTest, ManyMovesMakeFewDrawsAndOneLineThatEndsFull) {
  std::ostringstream out;
  // An interval no test run reaches: only the first move is drawn, the step's end draws its last frame.
  StatusLine line(
      out, true, [] { return size_t{80}; }, std::chrono::hours(1));
  for (int i = 0; i <= 2000; ++i) {
    line.Update(MakeFrame(std::string("Getting Vendors from QB (").append(std::to_string(i)) + ")", i, 2000));
  }
  EXPECT_EQ(line.Redraws(), 1u);
  line.Commit();
  const std::string text = out.str();
  EXPECT_EQ(std::count(text.begin(), text.end(), '\n'), 1);
  const std::string last = text.substr(text.rfind('\r') + 1);
  EXPECT_EQ(last.rfind("Getting Vendors from QB (2000)  [", 0), 0u) << last;
  EXPECT_NE(last.find("] 100%\x1b[K\n"), std::string::npos) << last;
  // Nothing new since: a second commit adds nothing.
  line.Commit();
  EXPECT_EQ(out.str(), text);
}

TEST(StatusLineTest, TheLineFollowsTheTerminalsWidthAsItIsResized) {
  std::ostringstream out;
  size_t columns = 100;
  StatusLine line(
      out, true, [&columns] { return columns; }, std::chrono::milliseconds(0));
  const std::string caption = "Getting Non-inventory items from QB (40)";
  line.Update(MakeFrame(caption, 40, 80));
  const std::string wide = out.str().substr(1, out.str().find("\x1b[K") - 1);
  EXPECT_EQ(wide.rfind(caption, 0), 0u) << wide;
  columns = 40;
  line.Update(MakeFrame(caption, 41, 80));
  const std::string drawn = out.str();
  const size_t from = drawn.rfind('\r') + 1;
  const std::string narrow = drawn.substr(from, drawn.rfind("\x1b[K") - from);
  EXPECT_LT(kv::CodePointCount(narrow), 40u) << narrow;
  EXPECT_NE(narrow.find("] 51%"), std::string::npos) << narrow;
}

TEST(StatusLineTest, WithoutCursorControlOnlyTheStepsLastFramesAreWritten) {
  std::ostringstream out;
  StatusLine line(out, false, [] { return size_t{60}; });
  for (int i = 0; i <= 10; ++i) line.Update(MakeFrame("Getting Classes from QB", i, 10));
  line.Commit();
  for (int i = 0; i <= 4; ++i) line.Update(MakeFrame("Getting Items from QB", i, 4));
  // Hiding the caption and bar ends the step as well.
  line.Update(ProgressFrame{});
  EXPECT_EQ(out.str(), ProgressLineText(MakeFrame("Getting Classes from QB", 10, 10), 60) + "\n" +
                           ProgressLineText(MakeFrame("Getting Items from QB", 4, 4), 60) + "\n");
  EXPECT_EQ(out.str().find('\r'), std::string::npos);
  EXPECT_EQ(line.Redraws(), 0u);
}

// The presenter watches the bar itself: a step ends when the bar starts over, and its last frame is the full bar
// even when the caption was last repainted before the last move.
TEST(TerminalPresenterProgressTest, EachStepLeavesOneLineWithItsLastFrame) {
  std::ostringstream out;
  std::istringstream in;
  TerminalPresenter presenter(out, in);
  PresenterScope scope(presenter);
  Frame frame(nullptr, "fraProgress");
  ProgressBar bar(&frame, "ProgressBar1");
  Label caption(&frame, "lblProcess");
  presenter.ShowProgressInPlace(caption, bar, nullptr, false, -1);

  auto run_list = [&](const std::string& name, int records) {
    bar.SetMax(records);
    bar.SetValue(0);
    caption.SetCaption("Getting " + name + " from QB");
    caption.Refresh();
    for (int i = 1; i <= records; ++i) {
      caption.SetCaption(std::string("Getting ").append(name).append(" from QB (").append(std::to_string(i)) + ")");
      caption.Refresh();
      bar.SetValue(i);
    }
  };
  run_list("Classes", 5);
  run_list("Vendors", 3);
  // An 80-column default: caption, bar of 30, percentage.
  presenter.PrintLine("  ... Response Processed");
  EXPECT_EQ(out.str(), "Getting Classes from QB (5)  [" + std::string(30, '#') + "] 100%\n" +
                           "Getting Vendors from QB (3)  [" + std::string(30, '#') + "] 100%\n" +
                           "  ... Response Processed\n");
}

}  // namespace
}  // namespace platform::forms
