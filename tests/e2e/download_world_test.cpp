// QuickBooks is asked, never assumed: a download killed while QuickBooks processes an add, or one whose answer
// is lost or comes too late, and then other message sets of the connector reach the company file before the next
// run of the same site and mode (the other mode's download, another site's, a clear of the connector's message
// sets), or the next run cannot ask. The runs after it leave every record once in QuickBooks and reported once.

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <optional>

#include "tests/e2e/download_world.h"

namespace kv::test::world {
namespace {

// The connector's own application, as it names itself to QuickBooks: QuickBooks keeps its last message set.
constexpr const char* kConnectorAppId = "731-5096-4482630";
constexpr const char* kConnectorAppName = "Pellucent";

class KilledThenTheOtherMode : public DownloadWorldTest, public ::testing::WithParamInterface<bool> {};

TEST_P(KilledThenTheOtherMode, TheRecordCaughtInItsAddIsPostedOnce) {
  const bool time = GetParam();
  KillDuringAdd(time, 2);
  // The other mode's adds are message sets of the same application: QuickBooks forgets the killed one.
  Download(!time);
  Download(time);
  DownloadUntilNothingIsPending();
  ExpectEveryRecordOnce();
}

INSTANTIATE_TEST_SUITE_P(TimeThenExpensesAndSwapped, KilledThenTheOtherMode, ::testing::Bool(),
                         [](const ::testing::TestParamInfo<bool>& info) {
                           return info.param ? "TimeFirst" : "ExpensesFirst";
                         });

TEST_F(DownloadWorldTest, AnotherSitesDownloadIntoTheFileAfterTheKillPostsNothingTwice) {
  const std::vector<Record> others = OtherSiteRecords();
  records_.insert(records_.end(), others.begin(), others.end());
  KillDuringAdd(true, 2);
  Download(true, kOtherSite);
  DownloadUntilNothingIsPending();
  ExpectEveryRecordOnce();
}

TEST_F(DownloadWorldTest, AClearOfTheConnectorsMessageSetsAfterTheKillPostsNothingTwice) {
  KillDuringAdd(true, 2);
  const std::filesystem::path request = company_.dir() / "clear.xml";
  std::ofstream(request) << "<?xml version=\"1.0\"?>\n<?qbxml version=\"2.0\"?>\n<QBXML>\n"
                            "<QBXMLMsgsRq onError=\"stopOnError\" oldMessageSetID=\"ClearAllMessageSets\">\n"
                            "</QBXMLMsgsRq>\n</QBXML>\n";
  const ProgramRun clear =
      Qb({"request", request.string(), "--app-id", kConnectorAppId, "--app-name", kConnectorAppName});
  ASSERT_EQ(clear.status, 0) << clear.err;
  ASSERT_NE(clear.out.find("messageSetStatusCode=\"0\""), std::string::npos) << clear.out;
  DownloadUntilNothingIsPending();
  ExpectEveryRecordOnce();
}

TEST_F(DownloadWorldTest, ARefusedStatusCheckAfterTheKillAddsNothingUntilQuickBooksCanBeAsked) {
  KillDuringAdd(true, 2);
  ASSERT_EQ(TransactionCount(), 2u);
  QbFaults({"session refuse"});
  Download(true);
  // What the killed run left cannot be settled, so nothing more may go in.
  EXPECT_EQ(TransactionCount(), 2u);
  DownloadUntilNothingIsPending();
  ExpectEveryRecordOnce();
}

TEST_F(DownloadWorldTest, AnAddWhoseAnswerIsLostOnTheWayIsPostedOnce) {
  QbFaults({"add ok", "add lose"});
  const ProgramRun lost = Download(true);
  EXPECT_EQ(lost.killed_by, 0) << lost.out << lost.err;
  DownloadUntilNothingIsPending();
  ExpectEveryRecordOnce();
}

TEST_F(DownloadWorldTest, AnAddWhoseAnswerIsLostAndWhoseCheckIsRefusedIsPostedOnce) {
  // The run's first session looks at QuickBooks, then each record has one of its own; after the lost answer the
  // fourth and the fifth (a broken call is tried once more) would ask about the second record.
  QbFaults({"session ok", "session ok", "session ok", "session refuse", "session refuse", "add ok", "add lose"});
  const ProgramRun lost = Download(true);
  EXPECT_EQ(lost.killed_by, 0) << lost.out << lost.err;
  const std::string saved = Qb({"txns"}).out;
  ASSERT_EQ(Qb({"fault"}).out, "No scripted events are waiting.\n") << "the scene did not come about";
  ASSERT_NE(saved.find("2006-05-09  Marcus O'Neill"), std::string::npos) << "the lost add was not the second\n"
                                                                         << saved;
  // Nothing may go in while the second record is unsettled.
  EXPECT_EQ(TransactionCount(), 2u) << lost.out << saved;
  DownloadUntilNothingIsPending();
  ExpectEveryRecordOnce();
}

TEST_F(DownloadWorldTest, AnAddPastTheTimeOutEndsTheCallAndIsPostedOnce) {
  const ProgramOptions bounded = WithEnv(options_, "KV_COM_TIMEOUT_SECONDS", "2");
  QbFaults({"add ok", "add hold"});
  const std::filesystem::path held = company_.dir() / "qb" / "add-held";
  ProgramOptions watched = bounded;
  std::optional<pid_t> quickbooks;
  watched.during = [&](pid_t pid) {
    if (WaitFor([&] { return std::filesystem::exists(held); })) quickbooks = ChildWith(pid, "serve");
  };
  // The run ends on its own, though QuickBooks holds the add.
  const ProgramRun late = Download(true, "HLC", &watched);
  EXPECT_FALSE(late.timed_out) << late.out << late.err;
  EXPECT_NE(late.out.find("QuickBooks did not answer within 2 seconds"), std::string::npos) << late.out << late.err;
  // QuickBooks finishes the add after all.
  std::filesystem::remove(held);
  if (quickbooks) WaitForExit(*quickbooks);
  DownloadUntilNothingIsPending();
  ExpectEveryRecordOnce();
}

}  // namespace
}  // namespace kv::test::world
