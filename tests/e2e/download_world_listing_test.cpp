// What the service lists, and what QuickBooks can say: a record caught in its add comes back with its expense
// lines in another order or fewer of them, or a listing omits it for a while, or the service lists a record
// again after it accepted its report; and a QuickBooks without error recovery (qbXML 1.x), which can only be
// asked for a transaction like the record. The runs after it leave every record once in QuickBooks and
// reported once.

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>

#include "tests/e2e/download_world.h"

namespace kv::test::world {
namespace {

TEST_F(DownloadWorldTest, AnExpenseCaughtInItsAddThatComesBackWithItsLinesReorderedIsPostedOnce) {
  KillDuringAdd(false, 1);
  Record& bill = FindRecord("7001");
  const std::string header = bill.lines.substr(0, bill.lines.find("\r\n") + 2);
  const std::string first =
      bill.lines.substr(header.size(), bill.lines.find("\r\n", header.size()) + 2 - header.size());
  bill.lines = header + bill.lines.substr(header.size() + first.size()) + first;
  DownloadUntilNothingIsPending();
  ExpectEveryRecordOnce();
}

TEST_F(DownloadWorldTest, AnExpenseCaughtInItsAddThatComesBackWithFewerLinesIsPostedOnce) {
  KillDuringAdd(false, 1);
  Record& bill = FindRecord("7001");
  // The printer paper line is withdrawn.
  bill.lines = bill.lines.substr(0, bill.lines.find("7102|"));
  DownloadUntilNothingIsPending();
  ExpectEveryRecordOnce();
}

TEST_F(DownloadWorldTest, ARecordCaughtInItsAddThatOneListingOmitsIsPostedOnceWhenListedAgain) {
  KillDuringAdd(true, 2);
  FindRecord("5002").listed = false;
  Download(true);
  FindRecord("5002").listed = true;
  DownloadUntilNothingIsPending();
  ExpectEveryRecordOnce();
}

TEST_F(DownloadWorldTest, ARecordListedAgainAfterItsReportWasAcceptedIsNotAddedAgain) {
  DownloadUntilNothingIsPending();
  ASSERT_EQ(TransactionCount(), 6u);
  // The service lists it once more, as if it had not heard of it: QuickBooks has it, so it is reported again.
  service_.QueueAnswers("kalvordownload.asp", {FindRecord("5002").lines});
  Download(true);
  DownloadUntilNothingIsPending();
  ExpectEveryRecordOnce({{"5002", 2}});
}

// The company's QuickBooks speaks qbXML 1.0 and 1.1 only: no message set ids, no status checks.
class OldQuickBooksTest : public DownloadWorldTest {
 protected:
  void SetUp() override {
    std::ifstream in(company_.file(), std::ios::binary);
    std::string text{std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
    const std::string versions = "qbxmlVersions=\"1.0 1.1 2.0\"";
    const size_t at = text.find(versions);
    ASSERT_NE(at, std::string::npos);
    text.replace(at, versions.size(), "qbxmlVersions=\"1.0 1.1\"");
    std::ofstream(company_.file(), std::ios::binary | std::ios::trunc) << text;
  }
};

TEST_F(OldQuickBooksTest, ARecordCaughtInItsAddThatQuickBooksSavedIsFoundAndNotAddedAgain) {
  KillDuringAdd(true, 2);
  ASSERT_EQ(TransactionCount(), 2u);
  DownloadUntilNothingIsPending();
  ExpectEveryRecordOnce();
}

TEST_F(OldQuickBooksTest, ARecordCaughtInItsAddThatQuickBooksNeverSavedIsAdded) {
  KillDuringAdd(true, 2, "HLC", /*lose_add=*/true);
  ASSERT_EQ(TransactionCount(), 1u);
  DownloadUntilNothingIsPending();
  ExpectEveryRecordOnce();
}

TEST_F(OldQuickBooksTest, TwoIdenticalRecordsAreNeverMistakenForEachOther) {
  // The second time record is the first one again, approved twice: two transactions alike in every field.
  Record& twin = FindRecord("5002");
  const Record& first = FindRecord("5001");
  twin.lines = "TA5002" + first.lines.substr(first.lines.find("\r\n"));
  twin.date = first.date;
  twin.name = first.name;
  KillDuringAdd(true, 2);
  ASSERT_EQ(TransactionCount(), 2u);
  DownloadUntilNothingIsPending();
  ExpectEveryRecordOnce();
}

TEST_F(OldQuickBooksTest, SeveralMatchesAreTheUsersToDecideAndNeitherAClosedInputNorTheDefaultPostsTwice) {
  KillDuringAdd(true, 2);
  // The user keys in one like it before the next download.
  KeyInByHand("2006-05-09", "Marcus O'Neill",
              "<TxnDate>2006-05-09</TxnDate><EntityRef><FullName>Marcus O'Neill</FullName></EntityRef>"
              "<CustomerRef><FullName>Baker's Dozen Bakery:Website Redesign</FullName></CustomerRef>"
              "<ItemServiceRef><FullName>Project Management</FullName></ItemServiceRef><Duration>PT6H15M</Duration>"
              "<ClassRef><FullName>Consulting:West Region</FullName></ClassRef>"
              "<PayrollItemWageRef><FullName>Regular Pay</FullName></PayrollItemWageRef>"
              "<Notes>Kick-off meeting &amp; scope</Notes><IsBillable>1</IsBillable>");
  const Record& second = FindRecord("5002");
  const auto matches = [&] {
    const std::string listing = Qb({"txns"}).out;
    size_t count = 0;
    for (size_t at = listing.find("2006-05-09  Marcus O'Neill"); at != std::string::npos;
         at = listing.find("2006-05-09  Marcus O'Neill", at + 1)) {
      ++count;
    }
    return count;
  };
  ASSERT_EQ(matches(), 2u);

  // No one answers the question: the record waits.
  const ProgramRun closed = Download(true);
  EXPECT_NE(closed.out.find("transactions that match it"), std::string::npos) << closed.out;
  EXPECT_EQ(matches(), 2u) << closed.out;
  EXPECT_FALSE(Transferred(second)) << closed.out;
  // On a terminal the user presses Enter at the question (its default), then at the results.
  const ProgramRun enter = DownloadOnTerminal(true, "\r\r");
  EXPECT_NE(enter.out.find("transactions that match it"), std::string::npos) << enter.out;
  EXPECT_EQ(matches(), 2u) << enter.out;
  // Yes: the record is the first of them, and reported with it.
  EXPECT_TRUE(Transferred(second)) << enter.out;
  DownloadUntilNothingIsPending();
  ExpectEveryRecordOnce();
}

}  // namespace
}  // namespace kv::test::world
