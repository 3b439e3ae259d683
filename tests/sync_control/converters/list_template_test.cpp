// The template's batching, filter, debug-mode and failure rules, seen through the class, chart-of-accounts and
// employee converters.

#include <gtest/gtest.h>

#include "platform/forms/event_loop.h"
#include "sync_control/converters/list_converter.h"
#include "sync_control/converters/list_converters.h"
#include "sync_control/module_state.h"
#include "sync_control/upload_form.h"
#include "tests/sync_control/converters/converter_fixture.h"

namespace brintavel::testing {
namespace {

using kv::DateTime;
using kv::test_support::sql::Number;

Record Class(int i, bool active = true) {
  Record r{"ClassRet", {}};
  r.Set("ListID", "C-" + std::to_string(i)).Set("Name", "Class " + std::to_string(i));
  r.Set("IsActive", active ? "true" : "false");
  return r;
}

std::vector<Record> Classes(int n) {
  std::vector<Record> out;
  for (int i = 0; i < n; ++i) out.push_back(Class(i));
  return out;
}

// An account created and modified at the given times (qbXML text).
Record Account(int i, const std::string& created, const std::string& modified) {
  Record r{"AccountRet", {}};
  r.Set("ListID", "A-" + std::to_string(i)).Set("TimeCreated", created).Set("TimeModified", modified);
  r.Set("FullName", "Account " + std::to_string(i)).Set("IsActive", "true");
  return r;
}

size_t StatementCount(const std::string& body) {
  return kv::test_support::sql::ParseScript(body).size();
}

using ListTemplateTest = ConverterTest;

TEST_F(ListTemplateTest, ExactlyOneHundredGiveOneUploadAndNoneAtTheEnd) {
  Module().sQBXMLResponse = Response(Classes(100));
  GetClassesFromQB(*ctl);
  const auto uploads = Uploads();
  ASSERT_EQ(uploads.size(), 1u);
  EXPECT_EQ(StatementCount(uploads[0].body), 100u);
  EXPECT_EQ(StatusReports().size(), 1u);
  EXPECT_EQ(ctl->lngBatchCount, 0);
}

TEST_F(ListTemplateTest, OneHundredAndOneGiveASecondUploadOfOne) {
  Module().sQBXMLResponse = Response(Classes(101));
  GetClassesFromQB(*ctl);
  const auto uploads = Uploads();
  ASSERT_EQ(uploads.size(), 2u);
  EXPECT_EQ(StatementCount(uploads[0].body), 100u);
  EXPECT_EQ(StatementCount(uploads[1].body), 1u);
  // The report follows the last upload.
  const auto all = service->Received();
  EXPECT_EQ(all.back().Page(), "brintavelupdatestatus.asp");
}

TEST_F(ListTemplateTest, FilterKeepsPositionsAsKeysAndTheProgressCountsEveryRecord) {
  Module().GLAccountsLastSyncDate = DateTime::FromParts(2010, 6, 1, 12, 0, 0);
  std::vector<Record> accounts;
  for (int i = 0; i < 250; ++i) {
    const bool keep = i == 1 || i == 4 || i == 249;
    accounts.push_back(Account(i, "2009-01-01T00:00:00", keep ? "2010-06-02T08:00:00" : "2010-05-01T00:00:00"));
  }
  Module().sQBXMLResponse = Response(accounts);
  GetGLAccountsFromQB(*ctl);

  const auto statements = AllStatements();
  ASSERT_EQ(statements.size(), 3u);
  EXPECT_EQ(statements[0].InsertValue("[AccRowID]"), Number("9000001"));
  EXPECT_EQ(statements[1].InsertValue("[AccRowID]"), Number("9000004"));
  EXPECT_EQ(statements[2].InsertValue("[AccRowID]"), Number("9000249"));
  EXPECT_EQ(Uploads().size(), 1u);
  EXPECT_EQ(StatusReports().size(), 1u);
  EXPECT_EQ(StatusReports()[0].QueryValue("options"), "G");
  EXPECT_EQ(ctl->ProgressBar1.Max(), 249);
  EXPECT_EQ(ctl->ProgressBar1.Value(), 249);
  EXPECT_EQ(ctl->lblProcess.Caption(), "Getting GLs from QB (3)");
}

TEST_F(ListTemplateTest, FilterComparesToTheSecond) {
  Module().GLAccountsLastSyncDate = DateTime::FromParts(2010, 6, 1, 12, 0, 0);
  Module().sQBXMLResponse = Response({
      Account(0, "2009-01-01T00:00:00", "2010-06-01T12:00:00"),  // modified at the very second: sent
      Account(1, "2010-06-01T11:59:59", "2010-06-01T11:59:59"),  // one second before: skipped
      Account(2, "2010-06-01T12:00:00", "2009-01-01T00:00:00"),  // created at the very second: sent
      Account(3, "bad", "2010-06-01T11:59:59"),                  // unreadable stamp: the zero date, skipped
  });
  GetGLAccountsFromQB(*ctl);
  const auto statements = AllStatements();
  ASSERT_EQ(statements.size(), 2u);
  EXPECT_EQ(statements[0].InsertValue("[AccRowID]"), Number("9000000"));
  EXPECT_EQ(statements[1].InsertValue("[AccRowID]"), Number("9000002"));
}

TEST_F(ListTemplateTest, NoDataToUploadLetsNormalModeGoOn) {
  service->SetAnswer("brintavel.asp", "No data to upload. ");
  Module().sQBXMLResponse = Response(Classes(150));
  GetClassesFromQB(*ctl);
  EXPECT_EQ(Uploads().size(), 2u);
  EXPECT_FALSE(ctl->bAbortSync);
  EXPECT_EQ(StatusReports().size(), 1u);
}

TEST_F(ListTemplateTest, FailedBatchStopsTheListAndTheRun) {
  service->SetAnswer("brintavel.asp", "Database is busy");
  Module().sQBXMLResponse = Response(Classes(150));
  GetClassesFromQB(*ctl);
  EXPECT_TRUE(ctl->bAbortSync);
  EXPECT_EQ(ctl->lngUploadResult, kvurAspFailed);
  EXPECT_EQ(Uploads().size(), 1u);  // the other 50 are never sent
  EXPECT_TRUE(StatusReports().empty());
  EXPECT_TRUE(ctl->fraProgress.Visible());
  EXPECT_EQ(Module().sServerMessage, "Database is busy");
}

TEST_F(ListTemplateTest, DebugModeContinueCountsDropsAndWithholdsTheReport) {
  ctl->DebugMode = true;
  ctl->optContinue.SetValue(true);
  service->QueueAnswers("brintavel.asp", {"SUCCESS", "Bad statement", "No data to upload. ", "SUCCESS"});
  Module().sQBXMLResponse = Response(Classes(4));
  GetClassesFromQB(*ctl);

  const auto uploads = Uploads();
  ASSERT_EQ(uploads.size(), 4u);
  for (const auto& upload : uploads) {
    EXPECT_EQ(StatementCount(upload.body), 1u);  // a failed statement went with its stream
    EXPECT_EQ(upload.QueryValue("debugmode"), "True");
  }
  EXPECT_EQ(ctl->lngFailedClassCnt, 2);  // "No data to upload. " counts as a failure in debug mode
  EXPECT_FALSE(ctl->bAbortSync);
  EXPECT_TRUE(StatusReports().empty());
  EXPECT_EQ(ctl->lngBatchCount, 4);  // debug mode only counts
  EXPECT_FALSE(ctl->fraProgress.Visible());
}

TEST_F(ListTemplateTest, DebugModeStopEndsAtTheFirstFailure) {
  ctl->DebugMode = true;
  ctl->optStop.SetValue(true);
  service->QueueAnswers("brintavel.asp", {"SUCCESS", "Bad statement", "SUCCESS"});
  Module().sQBXMLResponse = Response(Classes(3));
  GetClassesFromQB(*ctl);

  EXPECT_EQ(Uploads().size(), 2u);
  EXPECT_EQ(ctl->lngFailedClassCnt, 1);
  EXPECT_TRUE(ctl->bAbortSync);
  EXPECT_TRUE(StatusReports().empty());
  EXPECT_TRUE(ctl->fraProgress.Visible());
}

TEST_F(ListTemplateTest, CancelledUploadStopsDebugModeEvenWithContinue) {
  ctl->DebugMode = true;
  ctl->optContinue.SetValue(true);
  service->SetFault("brintavel.asp", "delay-ms 5000");
  auto& loop = platform::forms::EventLoop::Current();
  const auto timer = loop.StartTimer(std::chrono::milliseconds(100), [] {
    if (HasUploadForm() && UploadForm().bIsUploading) UploadForm().CancelRequest();
  });
  Module().sQBXMLResponse = Response(Classes(3));
  GetClassesFromQB(*ctl);
  loop.StopTimer(timer);

  EXPECT_EQ(ctl->lngUploadResult, kvurProcessInterrupted);
  EXPECT_TRUE(ctl->bAbortSync);
  EXPECT_EQ(ctl->lngFailedClassCnt, 0);
  EXPECT_EQ(Module().varClassCount, 1);
}

TEST_F(ListTemplateTest, ResponseThatDoesNotParse) {
  ctl->lngFailedClassCnt = 3;
  ctl->lngFailedGLCnt = 3;
  Module().sQBXMLResponse = "<QBXML><ClassRet></QBXML>";
  GetClassesFromQB(*ctl);
  EXPECT_TRUE(Module().bSyncError);
  EXPECT_TRUE(Module().sSyncErrorText.starts_with(kResponseUnreadablePrefix)) << Module().sSyncErrorText;
  EXPECT_GT(Module().sSyncErrorText.size(), kResponseUnreadablePrefix.size());
  EXPECT_EQ(ctl->lngFailedClassCnt, 0);  // reset before the parsed test
  EXPECT_FALSE(ctl->fraProgress.Visible());

  Module().bSyncError = false;
  GetGLAccountsFromQB(*ctl);
  EXPECT_TRUE(Module().bSyncError);
  EXPECT_EQ(ctl->lngFailedGLCnt, 3);  // the chart of accounts resets it only after the counters
  EXPECT_EQ(service->ReceivedCount(), 0u);
}

}  // namespace
}  // namespace brintavel::testing
