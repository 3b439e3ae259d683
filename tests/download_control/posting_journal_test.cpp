// The posting journal's entries: kept in the order noted, with their request and answer, beside the company file.

#include "download_control/posting_journal.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>

namespace tessarine {
namespace {

namespace fs = std::filesystem;

class PostingJournalTest : public ::testing::Test {
 protected:
  PostingJournalTest() {
    dir_ = fs::temp_directory_path() / ("journal_test_" + std::to_string(getpid()) + "_" +
                                        ::testing::UnitTest::GetInstance()->current_test_info()->name());
    fs::create_directories(dir_);
    company_ = (dir_ / "Acme.QBW").string();
    std::ofstream(company_) << "company";
  }
  ~PostingJournalTest() override { fs::remove_all(dir_); }
  fs::path dir_;
  std::string company_;
};

TEST_F(PostingJournalTest, EntriesKeepTheirOrderRequestAndAnswerAcrossRuns) {
  {
    PostingJournal journal(company_);
    JournalEntry time = journal.Note(" site1 ", RecordType::kTime, "101", "", "KV1", "<QBXML>time</QBXML>\r\n");
    JournalEntry bill = journal.Note("SITE1", RecordType::kExpense, "7001", "5,9,10", "KV2", "<QBXML>bill</QBXML>");
    journal.NoteAnswer(time, "<QBXML>answer|with\nbreaks</QBXML>");
    EXPECT_FALSE(journal.IsLastMessageSet(time));
    EXPECT_TRUE(journal.IsLastMessageSet(bill));
  }
  PostingJournal again(company_);
  EXPECT_TRUE(again.Damage().empty());
  const std::vector<JournalEntry> entries = again.Entries();
  ASSERT_EQ(entries.size(), 2u);
  EXPECT_EQ(entries[0].site, "SITE1");
  EXPECT_EQ(entries[0].request, "<QBXML>time</QBXML>\r\n");
  EXPECT_EQ(entries[0].state, JournalEntry::State::kAnswered);
  EXPECT_EQ(entries[0].answer, "<QBXML>answer|with\nbreaks</QBXML>");
  EXPECT_EQ(entries[1].type, RecordType::kExpense);
  EXPECT_EQ(entries[1].state, JournalEntry::State::kSent);
  EXPECT_LT(entries[0].sequence, entries[1].sequence);
  EXPECT_EQ(PostingJournal::PathOf(company_), dir_ / ".Acme.QBW.tessarine-journal");
}

TEST_F(PostingJournalTest, AnExpenseIsNamedByItsHeaderIdOrASharedItemId) {
  JournalEntry entry;
  entry.type = RecordType::kExpense;
  entry.record_id = "";
  entry.item_ids = "5,9";
  EXPECT_TRUE(NamesRecord(entry, RecordType::kExpense, "7001", "9,12"));
  EXPECT_FALSE(NamesRecord(entry, RecordType::kExpense, "7001", "12"));
  entry.record_id = "7001";
  EXPECT_TRUE(NamesRecord(entry, RecordType::kExpense, "7001", "12"));
  EXPECT_FALSE(NamesRecord(entry, RecordType::kExpense, "7002", "5,9"));
  EXPECT_FALSE(NamesRecord(entry, RecordType::kTime, "7001", ""));
}

TEST_F(PostingJournalTest, AnUnreadableRecordIsDamageAndLeavesASuspectTime) {
  {
    PostingJournal journal(company_);
    journal.Note("S", RecordType::kTime, "1", "", "", "<QBXML/>");
  }
  std::ofstream(PostingJournal::PathOf(company_), std::ios::app) << "E|garbage\n";
  PostingJournal journal(company_);
  ASSERT_EQ(journal.Damage().size(), 1u);
  EXPECT_TRUE(journal.SuspectSince().has_value());
  journal.ClearDamage();
  EXPECT_TRUE(journal.Damage().empty());
  EXPECT_TRUE(PostingJournal(company_).SuspectSince().has_value());
}

}  // namespace
}  // namespace tessarine
