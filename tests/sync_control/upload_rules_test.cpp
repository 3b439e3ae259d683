// How an upload's answer is judged and what its last letter says was added.

#include "sync_control/upload_rules.h"

#include <gtest/gtest.h>

namespace brintavel {
namespace {

TEST(PageJudge, SuccessIsTheFirstSevenLettersInAnyCaseAfterBlanks) {
  EXPECT_TRUE(JudgePage("SUCCESS").success);
  EXPECT_TRUE(JudgePage("  success").success);
  EXPECT_TRUE(JudgePage("Success, 12 rows").success);
  EXPECT_FALSE(JudgePage("SUCCES").success);
  EXPECT_FALSE(JudgePage("\tSUCCESS").success);  // only blanks are trimmed
  EXPECT_FALSE(JudgePage("").success);
  EXPECT_FALSE(JudgePage("The page cannot be displayed\r\nConnection refused").success);
}

TEST(PageJudge, LastCapitalLetterFlagsTasksOrProjects) {
  const PageVerdict plain = JudgePage("SUCCESS");
  EXPECT_FALSE(plain.tasksAdded);
  EXPECT_FALSE(plain.projectsAdded);

  const PageVerdict tasks = JudgePage("SUCCESS T  ");
  EXPECT_TRUE(tasks.success);
  EXPECT_TRUE(tasks.tasksAdded);
  EXPECT_FALSE(tasks.projectsAdded);

  const PageVerdict projects = JudgePage("SUCCESSP");
  EXPECT_TRUE(projects.projectsAdded);
  EXPECT_FALSE(projects.tasksAdded);

  EXPECT_FALSE(JudgePage("SUCCESS t").tasksAdded);
  const PageVerdict line_break = JudgePage("SUCCESS T\r\n");
  EXPECT_TRUE(line_break.success);
  EXPECT_FALSE(line_break.tasksAdded);
  // A failure ending in T sets nothing.
  EXPECT_FALSE(JudgePage("FAILED T").tasksAdded);
}

TEST(UploadDecision, EveryRowOfTheAnswerTable) {
  UploadDecision d = DecideUploadResult({true, true, "SUCCESS"});
  EXPECT_EQ(d.result, kvurSuccess);  // success judged before the cancel wins
  EXPECT_FALSE(d.serverMessage.has_value());
  EXPECT_TRUE(d.clearUploadStatus);

  d = DecideUploadResult({false, true, "Some failure"});
  EXPECT_EQ(d.result, kvurProcessInterrupted);
  EXPECT_FALSE(d.serverMessage.has_value());

  d = DecideUploadResult({false, false, "Error"});
  EXPECT_EQ(d.result, kvurAspFailed);  // never an unassigned value that reads as success
  EXPECT_TRUE(d.showCouldNotSync);
  // The critical box that ends the run says what the service answered, never an earlier failure's text.
  EXPECT_EQ(d.serverMessage, "The Kalvor service answered \"Error\".");
  EXPECT_FALSE(d.clearUploadStatus);

  d = DecideUploadResult({false, false, "No data to upload. "});
  EXPECT_EQ(d.result, kvurNoDataToUpload);
  EXPECT_EQ(d.serverMessage, "No data to upload. ");

  d = DecideUploadResult({false, false, "No data to upload."});
  EXPECT_EQ(d.result, kvurAspFailed);
  EXPECT_EQ(d.serverMessage, "No data to upload.");

  d = DecideUploadResult({false, false, "error"});
  EXPECT_EQ(d.result, kvurAspFailed);
  EXPECT_FALSE(d.showCouldNotSync);
  EXPECT_EQ(d.serverMessage, "error");
}

TEST(UploadDecision, AServersLineBreakAfterTheAnswerChangesNoVerdict) {
  for (const std::string end : {"\r\n", "\n", "\r\n\r\n"}) {
    SCOPED_TRACE(testing::PrintToString(end));
    UploadDecision d = DecideUploadResult({false, false, "No data to upload. " + end});
    EXPECT_EQ(d.result, kvurNoDataToUpload);
    d = DecideUploadResult({false, false, "No data to upload." + end});
    EXPECT_EQ(d.result, kvurAspFailed);
    d = DecideUploadResult({false, false, "Error" + end});
    EXPECT_EQ(d.result, kvurAspFailed);
    EXPECT_TRUE(d.showCouldNotSync);
    EXPECT_FALSE(d.clearUploadStatus);
    d = DecideUploadResult({false, false, "Failed: no site" + end});
    EXPECT_EQ(d.result, kvurAspFailed);
    EXPECT_FALSE(d.showCouldNotSync);
    EXPECT_TRUE(JudgePage("SUCCESS" + end).success);
    EXPECT_TRUE(JudgePage("success" + end).success);
    EXPECT_FALSE(JudgePage("SUCCES" + end).success);
  }
}

}  // namespace
}  // namespace brintavel
