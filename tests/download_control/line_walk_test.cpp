// The downloaded lines: classification, the counts after the download and the posting walk.

#include "download_control/line_walk.h"

#include <gtest/gtest.h>

#include "platform/base/error.h"

namespace tessarine {
namespace {

std::vector<WalkStep> WalkAll(const std::vector<std::string>& lines, bool time_mode) {
  PostingWalk walk(lines, time_mode);
  std::vector<WalkStep> steps;
  for (;;) {
    WalkStep step = walk.Next();
    if (std::holds_alternative<WalkEnd>(step)) break;
    steps.push_back(std::move(step));
  }
  return steps;
}

TEST(LineWalkTest, ClassifiesByLeadingLettersInAnyCase) {
  EXPECT_EQ(ClassifyLine(""), LineKind::kEmpty);
  EXPECT_EQ(ClassifyLine("TA12"), LineKind::kTimeHeader);
  EXPECT_EQ(ClassifyLine("ta12"), LineKind::kTimeHeader);
  EXPECT_EQ(ClassifyLine("La7"), LineKind::kLeaveHeader);
  EXPECT_EQ(ClassifyLine("exp3|A"), LineKind::kExpenseHeader);
  EXPECT_EQ(ClassifyLine("EX"), LineKind::kItemLine);
  EXPECT_EQ(ClassifyLine(" TA1"), LineKind::kItemLine);
  EXPECT_EQ(ClassifyLine("10|x"), LineKind::kItemLine);
}

TEST(LineWalkTest, CountsNeverLookAtTheLastLine) {
  EXPECT_TRUE(SplitDownloadLines("").empty());
  const auto time = SplitDownloadLines("TA1\r\nd\r\nx\r\nta2\r\nd\r\nx\r\nLA3\r\nd\r\nx\r\nXX4\r\nd\r\nx\r\n");
  const PendingCounts c = CountPendingRecords(time, true);
  EXPECT_EQ(c.time, 2);
  EXPECT_EQ(c.leave, 1);
  EXPECT_EQ(CountPendingRecords(SplitDownloadLines("TA1"), true).time, 0);
  const auto exp = SplitDownloadLines("EXP1|A\r\n1|x\r\nexp2|B\r\n2|y\r\nEXP3|C");
  EXPECT_EQ(CountPendingRecords(exp, false).expenses, 2);
  EXPECT_EQ(CountPendingRecords({}, false).expenses, 0);
}

TEST(LineWalkTest, CountsAreWideEnoughForLongAnswers) {
  std::vector<std::string> lines;
  for (int i = 0; i < 40000; ++i) {
    lines.push_back("TA" + std::to_string(i));
    lines.push_back("d");
    lines.push_back("x");
  }
  lines.push_back("");
  EXPECT_EQ(CountPendingRecords(lines, true).time, 40000);
  EXPECT_EQ(WalkAll(lines, true).size(), 40000u);
}

TEST(LineWalkTest, TimeRecordsTakeThreeLinesAndBlankLinesAreSkipped) {
  const auto lines = SplitDownloadLines("TA11\r\ndata11\r\nx\r\n\r\nla12\r\ndata12\r\nx\r\n");
  const auto steps = WalkAll(lines, true);
  ASSERT_EQ(steps.size(), 2u);
  const auto& first = std::get<TimeStep>(steps[0]);
  EXPECT_EQ(first.type, RecordType::kTime);
  EXPECT_EQ(first.id, 11);
  EXPECT_EQ(first.data, "data11");
  const auto& second = std::get<TimeStep>(steps[1]);
  EXPECT_EQ(second.type, RecordType::kLeave);
  EXPECT_EQ(second.id, 12);
}

TEST(LineWalkTest, AMissingDataLineReadsEmptyInsteadOfPastTheEnd) {
  const std::vector<std::string> lines = {"TA1", "d1", "x", "TA2"};
  const auto steps = WalkAll(lines, true);
  ASSERT_EQ(steps.size(), 1u);  // the header on the last line is not counted either
  const std::vector<std::string> short_lines = {"TA5", ""};
  const auto one = WalkAll(short_lines, true);
  ASSERT_EQ(one.size(), 1u);
  EXPECT_EQ(std::get<TimeStep>(one[0]).data, "");
}

TEST(LineWalkTest, AHeaderWithoutANumericIdIsARunTimeError) {
  const std::vector<std::string> lines = {"TAx", "d", "x", ""};
  PostingWalk walk(lines, true);
  EXPECT_THROW(walk.Next(), kv::Error);
}

void ExpectVendorsAandB(const std::vector<WalkStep>& steps) {
  ASSERT_EQ(steps.size(), 2u);
  const auto& a = std::get<ExpenseStep>(steps[0]);
  EXPECT_EQ(a.expense.sCurExpPayee, "Vendor A");
  EXPECT_TRUE(a.expense.bCurExpIsBill);
  EXPECT_EQ(a.expense.sExpenseItemLines.size(), 2u);
  EXPECT_EQ(a.ids, "10,11");
  EXPECT_DOUBLE_EQ(a.expense.dblCurExpTotal, 30.5);
  EXPECT_TRUE(a.failure.empty());
  const auto& b = std::get<ExpenseStep>(steps[1]);
  EXPECT_EQ(b.expense.sCurExpPayee, "Vendor B");
  EXPECT_FALSE(b.expense.bCurExpIsBill);
  EXPECT_EQ(b.expense.sCurExpBankAccount, "Checking");
  EXPECT_EQ(b.expense.sCurExpDate, "5/3/2006");
  EXPECT_EQ(b.ids, "12");
  EXPECT_EQ(b.expense.sExpenseItemLines.size(), 1u);
  EXPECT_TRUE(b.failure.empty());
}

constexpr char kExpenses[] =
    "EXP1|Vendor A|5/2/2006|Trip|True|\r\n"
    "10|5/1/2006|Taxi||25.00||Travel|Expense|False|False||\r\n"
    "11|5/1/2006|Tip||5.50||Travel|Expense|False|False||\r\n"
    "EXP2|Vendor B|5/3/2006|Lunch|False|Checking\r\n"
    "12|5/3/2006|Lunch||12||Meals|Expense|False|False||";

TEST(LineWalkTest, ExpenseExampleWithoutTrailingLineBreak) {
  ExpectVendorsAandB(WalkAll(SplitDownloadLines(kExpenses), false));
}

TEST(LineWalkTest, TheUsualTrailingLineBreakNoLongerLosesTheLastExpense) {
  ExpectVendorsAandB(WalkAll(SplitDownloadLines(std::string(kExpenses) + "\r\n"), false));
  ExpectVendorsAandB(WalkAll(SplitDownloadLines(std::string(kExpenses) + "\r\n\r\n\r\n"), false));
}

TEST(LineWalkTest, AHeaderOnTheLastLineStartsAnEmptyExpenseThatIsNotPosted) {
  const auto steps = WalkAll(SplitDownloadLines(std::string(kExpenses) + "\r\nEXP3|Vendor C|5/4/2006||True|"), false);
  ExpectVendorsAandB(steps);
}

TEST(LineWalkTest, BadHeadersAndAmountsFailTheirExpenseOnly) {
  const auto steps = WalkAll(SplitDownloadLines("EXP1|A|5/2/2006|m|perhaps|\r\n"
                                                "1|5/1/2006|t||2||Travel|Expense|False|False||\r\n"
                                                "EXP2|B|5/2/2006|m\r\n"
                                                "2|5/1/2006|t||2||Travel|Expense|False|False||\r\n"
                                                "EXP3|C|5/2/2006|m|True|\r\n"
                                                "3|5/1/2006|t||2,5||Travel|Expense|False|False||\r\n"
                                                "4\r\n"
                                                "EXP4|D|5/2/2006|m|True|\r\n"
                                                "5|5/1/2006|t||2||Travel|Expense|False|False||\r\n"),
                             false);
  ASSERT_EQ(steps.size(), 4u);
  EXPECT_NE(std::get<ExpenseStep>(steps[0]).failure.find("perhaps"), std::string::npos);
  EXPECT_NE(std::get<ExpenseStep>(steps[1]).failure.find("6 are needed"), std::string::npos);
  EXPECT_NE(std::get<ExpenseStep>(steps[2]).failure.find("'2,5'"), std::string::npos);
  EXPECT_EQ(std::get<ExpenseStep>(steps[2]).ids, "3,4");
  EXPECT_TRUE(std::get<ExpenseStep>(steps[3]).failure.empty());
  EXPECT_EQ(std::get<ExpenseStep>(steps[3]).ids, "5");
}

// The status report names an expense by its lines' ids; one that cannot be named must not be posted.
TEST(LineWalkTest, AnExpenseWithALineWithoutAnIdFails) {
  const auto steps = WalkAll(SplitDownloadLines("EXP1|A|5/2/2006|m|True|\r\n"
                                                "|5/1/2006|t||2||Travel|Expense|False|False||\r\n"
                                                " |5/1/2006|t||3||Travel|Expense|False|False||\r\n"
                                                "EXP2|B|5/2/2006|m|True|\r\n"
                                                "7|5/1/2006|t||2||Travel|Expense|False|False||\r\n"
                                                "|5/1/2006|t||2||Travel|Expense|False|False||\r\n"
                                                "EXP3|C|5/2/2006|m|True|\r\n"
                                                "8|5/1/2006|t||2||Travel|Expense|False|False||\r\n"),
                             false);
  ASSERT_EQ(steps.size(), 3u);
  EXPECT_NE(std::get<ExpenseStep>(steps[0]).failure.find("carries no id"), std::string::npos);
  EXPECT_NE(std::get<ExpenseStep>(steps[1]).failure.find("carries no id"), std::string::npos);
  EXPECT_TRUE(std::get<ExpenseStep>(steps[2]).failure.empty());
  EXPECT_EQ(std::get<ExpenseStep>(steps[2]).ids, "8");
}

TEST(LineWalkTest, ModesShareTheRulesAndDifferOnlyAtTheEnd) {
  // In time mode an expense is still posted when a later header closes it, but the end closes nothing.
  const auto lines = SplitDownloadLines("EXP1|A|5/2/2006|m|True|\r\n1|x||2\r\nEXP2|B|5/2/2006|m|True|\r\n2|x||3\r\n");
  const auto time_steps = WalkAll(lines, true);
  ASSERT_EQ(time_steps.size(), 1u);
  EXPECT_EQ(std::get<ExpenseStep>(time_steps[0]).expense.sCurExpPayee, "A");
  EXPECT_EQ(WalkAll(lines, false).size(), 2u);
  // In expense mode a time record in the middle is still a time record.
  const auto mixed = WalkAll(SplitDownloadLines("TA9\r\nd\r\nx\r\nEXP1|A|5/2/2006|m|True|\r\n1|x||2\r\n"), false);
  ASSERT_EQ(mixed.size(), 2u);
  EXPECT_TRUE(std::holds_alternative<TimeStep>(mixed[0]));
}

TEST(LineWalkTest, RecordsClosedByOnePassAreHandedOutTogether) {
  const auto lines = SplitDownloadLines("EXP1|A|5/2/2006|m|True|\r\n1|x||2\r\nEXP2|B|5/2/2006|m|True|\r\n2|x||3");
  PostingWalk walk(lines, false);
  EXPECT_TRUE(walk.NeedsPass());
  EXPECT_TRUE(std::holds_alternative<ExpenseStep>(walk.Next()));
  EXPECT_FALSE(walk.NeedsPass());  // B was closed by the same pass
  EXPECT_TRUE(std::holds_alternative<ExpenseStep>(walk.Next()));
  EXPECT_FALSE(walk.NeedsPass());
  EXPECT_TRUE(std::holds_alternative<WalkEnd>(walk.Next()));
}

}  // namespace
}  // namespace tessarine
