// The judge of the web-request form: the download control's page table.

#include "common/web_form/page_table.h"

#include <gtest/gtest.h>

namespace kv {
namespace {

bool Judge(std::string_view page, std::string_view answer, bool before = false) {
  return JudgeAnswer(KVRDownloadPageTable(), page, answer, before);
}

TEST(PageTableTest, DownloadAnswersAreGoodWhenTheyLookLikePendingLines) {
  EXPECT_TRUE(Judge("kalvordownload.asp", ""));
  EXPECT_TRUE(Judge("kalvordownload.asp", "TA12\r\n..."));
  EXPECT_TRUE(Judge("kalvordownload.asp", "la3"));
  EXPECT_TRUE(Judge("kalvordownload.asp", "Exp1|Vendor"));
  EXPECT_FALSE(Judge("kalvordownload.asp", "ERROR|1|Site not found"));
  EXPECT_FALSE(Judge("kalvordownload.asp", "error"));
  EXPECT_FALSE(Judge("kalvordownload.asp", "<html>Site down"));
  EXPECT_FALSE(Judge("kalvordownload.asp", "The page cannot be displayed\r\nConnection refused"));
  // A bad download answer is never set explicitly: the caller's value stays.
  EXPECT_TRUE(Judge("kalvordownload.asp", "ERROR", true));
}

TEST(PageTableTest, StatusAnswersAreGoodOnlyForSuccessAndBadOnlyForErrors) {
  EXPECT_TRUE(Judge("kalvorupdatestatus.asp", "success"));
  EXPECT_TRUE(Judge("kalvorupdatestatus.asp", "SUCCESS"));
  EXPECT_FALSE(Judge("kalvorupdatestatus.asp", "SUCCESS|more"));
  EXPECT_TRUE(Judge("kalvorupdatestatus.asp", "SUCCESS|more", true));  // neither good nor bad
  EXPECT_FALSE(Judge("kalvorupdatestatus.asp", "Error|1|Unknown vendor", true));
}

TEST(PageTableTest, AServersLineBreakAfterTheAnswerChangesNoVerdict) {
  for (const std::string_view end : {"", "\r\n", "\n", "\r\n\r\n"}) {
    SCOPED_TRACE(testing::Message() << "ending " << testing::PrintToString(std::string(end)));
    const auto with_end = [&](std::string_view answer) { return std::string(answer) + std::string(end); };
    EXPECT_TRUE(Judge("kalvordownload.asp", with_end("")));
    EXPECT_TRUE(Judge("kalvordownload.asp", with_end("TA12\r\n1|2")));
    EXPECT_FALSE(Judge("kalvordownload.asp", with_end("ERROR|1|Site not found")));
    EXPECT_TRUE(Judge("kalvorupdatestatus.asp", with_end("SUCCESS")));
    EXPECT_TRUE(Judge("kalvorupdatestatus.asp", with_end("Success")));
    EXPECT_FALSE(Judge("kalvorupdatestatus.asp", with_end("SUCCESS|more")));
    EXPECT_TRUE(Judge("kalvorupdatestatus.asp", with_end("SUCCESS|more"), true));
    EXPECT_FALSE(Judge("kalvorupdatestatus.asp", with_end("ERROR|1|Unknown vendor"), true));
  }
}

TEST(PageTableTest, PagesOutsideTheTableAndOtherLetterCasesKeepTheFlag) {
  EXPECT_TRUE(Judge("brintavel.asp", "ERROR", true));
  EXPECT_FALSE(Judge("brintavel.asp", "SUCCESS", false));
  EXPECT_FALSE(Judge("KalvorDownload.asp", "TA1", false));
}

TEST(PageTableTest, ASecondTablePlugsIntoTheSameJudge) {
  const PageTable table = {
      {"page.asp", [](std::string_view a) { return a == "ok" ? PageVerdict::kGood : PageVerdict::kBad; }}};
  EXPECT_TRUE(JudgeAnswer(table, "page.asp", "ok", false));
  EXPECT_FALSE(JudgeAnswer(table, "page.asp", "no", true));
  EXPECT_TRUE(JudgeAnswer(table, "kalvordownload.asp", "ERROR", true));
}

}  // namespace
}  // namespace kv
