// The company file's journal of records being added to QuickBooks: where it lies, whom it lets in, what it keeps
// and in which order, and how long.

#include "download_control/posting_journal.h"

#include <gtest/gtest.h>
#include <stdlib.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "download_control/run_lock.h"
#include "platform/base/error.h"
#include "tests/support/scoped_env.h"

namespace tessarine {
namespace {

namespace fs = std::filesystem;

constexpr int64_t kDay = 24 * 60 * 60;

class PostingJournalTest : public ::testing::Test {
 protected:
  PostingJournalTest() {
    std::string pattern = (fs::temp_directory_path() / "kv-journal-XXXXXX").string();
    if (mkdtemp(pattern.data()) != nullptr) dir_ = pattern;
    fs::create_directory(dir_ / "books");
    company_ = (dir_ / "books" / "Acme.QBW").string();
    std::ofstream(company_) << "company";
  }
  ~PostingJournalTest() override {
    std::error_code ec;
    fs::remove_all(dir_, ec);
  }

  static unsigned ModeOf(const fs::path& path) {
    struct stat st {};
    return lstat(path.c_str(), &st) == 0 ? st.st_mode & 07777 : 0;
  }

  JournalSeams At(const int64_t* clock) const {
    JournalSeams seams;
    seams.now = [clock] { return *clock; };
    return seams;
  }

  fs::path dir_;
  std::string company_;
};

TEST_F(PostingJournalTest, EveryPathAndEnvironmentReachesTheOneJournalBesideTheCompanyFile) {
  // The names the README gives.
  EXPECT_EQ(PostingJournal::PathOf(company_), dir_ / "books" / ".Acme.QBW.tessarine-journal");
  EXPECT_EQ(RunLock::PathOf(company_), dir_ / "books" / ".Acme.QBW.tessarine-lock");
  {
    kv::test::ScopedEnv state("XDG_STATE_HOME", (dir_ / "state-one").string());
    PostingJournal journal(company_);
    journal.Note("ACME", RecordType::kTime, "101", "", "KV01", "<add 101/>");
  }
  fs::create_directory_symlink(dir_ / "books", dir_ / "mapped");
  fs::create_directory(dir_ / "other");
  const std::vector<std::string> paths = {(dir_ / "mapped" / "Acme.QBW").string(),
                                          (dir_ / "other" / ".." / "books" / "Acme.QBW").string()};
  for (const std::string& path : paths) {
    kv::test::ScopedEnv state("XDG_STATE_HOME", (dir_ / "state-two").string());
    kv::test::ScopedEnv home("HOME", (dir_ / "other").string());
    EXPECT_EQ(fs::canonical(PostingJournal::PathOf(path)), fs::canonical(PostingJournal::PathOf(company_)));
    EXPECT_EQ(fs::weakly_canonical(RunLock::PathOf(path)), fs::weakly_canonical(RunLock::PathOf(company_)));
    PostingJournal journal(path);
    const auto entries = journal.Entries();
    ASSERT_EQ(entries.size(), 1u) << path;
    EXPECT_EQ(entries[0].record_id, "101");
  }
  // No state folder of either environment was made or written.
  EXPECT_FALSE(fs::exists(dir_ / "state-one"));
  EXPECT_FALSE(fs::exists(dir_ / "state-two"));
}

TEST_F(PostingJournalTest, ABindMountOfTheFolderMeetsTheSameJournal) {
  if (geteuid() != 0) GTEST_SKIP() << "a bind mount needs root";
  const fs::path share = dir_ / "share";
  fs::create_directory(share);
  if (mount((dir_ / "books").c_str(), share.c_str(), nullptr, MS_BIND, nullptr) != 0) {
    GTEST_SKIP() << "mount --bind is not allowed here: " << std::strerror(errno);
  }
  {
    PostingJournal journal(company_);
    journal.Note("ACME", RecordType::kLeave, "7", "", "", "<add 7/>");
  }
  const std::string through_share = (share / "Acme.QBW").string();
  const bool same_lock_refused = [&] {
    auto held = RunLock::TryTake(company_);
    return held.has_value() && !RunLock::TryTake(through_share).has_value();
  }();
  const auto entries = PostingJournal(through_share).Entries();
  umount2(share.c_str(), MNT_DETACH);
  EXPECT_TRUE(same_lock_refused);
  ASSERT_EQ(entries.size(), 1u);
  EXPECT_EQ(entries[0].type, RecordType::kLeave);
}

TEST_F(PostingJournalTest, TheJournalGivesNoMoreAccessThanTheCompanyFile) {
  const mode_t old_mask = umask(077);
  struct Case {
    unsigned company;
    unsigned journal;
  };
  for (const Case c : {Case{0600, 0600}, Case{0660, 0660}, Case{0644, 0644}, Case{0400, 0600}}) {
    const std::string file = (dir_ / "books" / ("Mode" + std::to_string(c.company) + ".QBW")).string();
    std::ofstream(file) << "company";
    chmod(file.c_str(), c.company);
    PostingJournal journal(file);
    EXPECT_EQ(ModeOf(PostingJournal::PathOf(file)), c.journal) << std::oct << c.company;
  }
  umask(old_mask);
}

TEST_F(PostingJournalTest, ALinkOrAnythingButAFileAtTheJournalsPlaceIsRefused) {
  const fs::path journal_path = PostingJournal::PathOf(company_);
  const fs::path target = dir_ / "elsewhere";
  fs::create_symlink(target, journal_path);
  try {
    PostingJournal journal(company_);
    ADD_FAILURE() << "a link was followed";
  } catch (const kv::Error& e) {
    EXPECT_NE(e.description().find(journal_path.string()), std::string::npos) << e.description();
  }
  EXPECT_FALSE(fs::exists(target));

  fs::remove(journal_path);
  ASSERT_EQ(mkfifo(journal_path.c_str(), 0600), 0);
  try {
    PostingJournal journal(company_);
    ADD_FAILURE() << "a FIFO was taken for the journal";
  } catch (const kv::Error& e) {
    EXPECT_NE(e.description().find(journal_path.string()), std::string::npos) << e.description();
    EXPECT_NE(e.description().find("not a regular file"), std::string::npos) << e.description();
  }

  // Nor is the note of when the journal was made waited on when it is a FIFO.
  fs::remove(journal_path);
  const fs::path made = journal_path.string() + "-made";
  fs::remove(made);
  PostingJournal(company_).Note("ACME", RecordType::kTime, "1", "", "", "");
  fs::remove(made);
  ASSERT_EQ(mkfifo(made.c_str(), 0600), 0);
  PostingJournal journal(company_);
  EXPECT_TRUE(journal.Damage().empty());
  EXPECT_EQ(journal.Entries().size(), 1u);
}

TEST_F(PostingJournalTest, EntriesOfEverySiteAndModeComeBackWholeInTheOrderNoted) {
  // An answer of several lines, with the characters the records are framed and escaped with.
  const std::string answer = "<?xml version=\"1.0\" ?>\r\n<QBXML>\n 100%0A - %% \t</QBXML>";
  const std::string request = "<?xml version=\"1.0\"?>\n<?qbxml version=\"2.0\"?>\n<QBXML> a  b </QBXML>\n";
  int64_t now = 5000;
  {
    PostingJournal journal(company_, At(&now));
    JournalEntry time = journal.Note(" acme ", RecordType::kTime, "101", "", "KV01", request);
    now = 5001;
    journal.Note("BETA", RecordType::kExpense, "7001", "12,9,100", "", "-");
    now = 5002;
    JournalEntry leave = journal.Note("ACME", RecordType::kLeave, "101", "", "KV03", "");
    journal.NoteAnswer(time, answer);
    journal.NoteAnswer(leave, "<ok/>");
    now = 5003;
    journal.NoteReported(leave);
    EXPECT_EQ(leave.state, JournalEntry::State::kReported);
  }
  PostingJournal journal(company_, At(&now));
  EXPECT_TRUE(journal.Damage().empty());
  const auto entries = journal.Entries();
  ASSERT_EQ(entries.size(), 3u);
  EXPECT_LT(entries[0].sequence, entries[1].sequence);
  EXPECT_LT(entries[1].sequence, entries[2].sequence);

  EXPECT_EQ(entries[0].site, "ACME");
  EXPECT_EQ(entries[0].type, RecordType::kTime);
  EXPECT_EQ(entries[0].record_id, "101");
  EXPECT_EQ(entries[0].message_set_id, "KV01");
  EXPECT_EQ(entries[0].request, request);
  EXPECT_EQ(entries[0].noted_at, 5000);
  EXPECT_EQ(entries[0].state, JournalEntry::State::kAnswered);
  EXPECT_EQ(entries[0].answer, answer);

  EXPECT_EQ(entries[1].site, "BETA");
  EXPECT_EQ(entries[1].type, RecordType::kExpense);
  EXPECT_EQ(entries[1].record_id, "7001");
  EXPECT_EQ(entries[1].item_ids, "9,12,100");  // by number, not by text
  EXPECT_EQ(entries[1].message_set_id, "");
  EXPECT_EQ(entries[1].request, "-");
  EXPECT_EQ(entries[1].state, JournalEntry::State::kSent);

  EXPECT_EQ(entries[2].type, RecordType::kLeave);
  EXPECT_EQ(entries[2].state, JournalEntry::State::kReported);
  EXPECT_EQ(entries[2].reported_at, 5003);

  // Removed by one run, gone for the next; the order of the rest stays.
  journal.Remove(entries[0]);
  const auto rest = PostingJournal(company_, At(&now)).Entries();
  ASSERT_EQ(rest.size(), 2u);
  EXPECT_EQ(rest[0].site, "BETA");
  EXPECT_EQ(rest[1].type, RecordType::kLeave);
  // A later note comes after them, though an earlier one was removed.
  EXPECT_GT(journal.Note("ACME", RecordType::kTime, "102", "", "", "").sequence, rest[1].sequence);
}

TEST_F(PostingJournalTest, AnEntryLivesUntilItsReportAndAgesOutAfterTheBound) {
  const int64_t start = 1'700'000'000;
  int64_t now = start;
  {
    PostingJournal journal(company_, At(&now));
    journal.Note("ACME", RecordType::kTime, "1", "", "KV1", "");  // never answered, never listed again
    JournalEntry reported = journal.Note("ACME", RecordType::kTime, "2", "", "KV2", "");
    journal.NoteAnswer(reported, "<ok/>");
    now = start + 80 * kDay;
    journal.NoteReported(reported);
  }
  const auto ids_at = [&](int64_t when) {
    now = when;
    std::vector<std::string> ids;
    for (const JournalEntry& e : PostingJournal(company_, At(&now)).Entries()) ids.push_back(e.record_id);
    return ids;
  };
  EXPECT_EQ(ids_at(start + 90 * kDay), (std::vector<std::string>{"1", "2"}));
  EXPECT_EQ(ids_at(start + 91 * kDay), (std::vector<std::string>{"2"}));
  EXPECT_EQ(ids_at(start + 170 * kDay), (std::vector<std::string>{"2"}));
  EXPECT_EQ(ids_at(start + 171 * kDay), (std::vector<std::string>{}));
}

TEST_F(PostingJournalTest, AnEntryWhoseRecordIsStillListedNeverAgesOut) {
  const int64_t start = 1'700'000'000;
  int64_t now = start;
  {
    PostingJournal journal(company_, At(&now));
    JournalEntry answered = journal.Note("ACME", RecordType::kTime, "1", "", "KV1", "");
    journal.NoteAnswer(answered, "<ok/>");
    journal.Note("ACME", RecordType::kTime, "2", "", "KV2", "");
  }
  // Every download for half a year lists record 1 (the service refuses its report each time); record 2 is listed
  // once, on the first day, and then no more.
  for (int day = 0; day <= 180; day += 10) {
    now = start + day * kDay + 3600;
    PostingJournal journal(company_, At(&now));
    for (JournalEntry& e : journal.Entries()) {
      if (e.record_id == "1" || day == 0) journal.NoteListed(e);
    }
  }
  now = start + 181 * kDay;
  std::vector<std::string> ids;
  for (const JournalEntry& e : PostingJournal(company_, At(&now)).Entries()) ids.push_back(e.record_id);
  EXPECT_EQ(ids, (std::vector<std::string>{"1"}));
  // A listing within a day of the last news writes nothing: a download run many times a day costs no appends.
  const auto size = fs::file_size(PostingJournal::PathOf(company_));
  {
    PostingJournal journal(company_, At(&now));
    for (JournalEntry& e : journal.Entries()) journal.NoteListed(e);
  }
  EXPECT_EQ(fs::file_size(PostingJournal::PathOf(company_)), size);
}

TEST_F(PostingJournalTest, ARewriteLeavesOutWhatIsGoneAndKeepsTheRestAndItsOrder) {
  int64_t now = 1000;
  {
    PostingJournal journal(company_, At(&now));
    journal.Note("ACME", RecordType::kTime, "1", "", "KV-first", "");
    for (int i = 0; i < 200; ++i) {
      journal.Remove(journal.Note("ACME", RecordType::kTime, std::to_string(100 + i), "", "KV-gone", ""));
    }
    journal.Note("ACME", RecordType::kExpense, "", "5,6", "", "");
  }
  const auto size_before = fs::file_size(PostingJournal::PathOf(company_));
  PostingJournal journal(company_, At(&now));
  EXPECT_LT(fs::file_size(PostingJournal::PathOf(company_)) * 10, size_before);
  const auto entries = journal.Entries();
  ASSERT_EQ(entries.size(), 2u);
  EXPECT_EQ(entries[0].record_id, "1");
  EXPECT_EQ(entries[1].item_ids, "5,6");
  // The removed notes were sent with their message sets all the same: the first entry's is not the last one.
  EXPECT_FALSE(journal.IsLastMessageSet(entries[0]));
  const JournalEntry next = journal.Note("ACME", RecordType::kTime, "2", "", "", "");
  EXPECT_GT(next.sequence, entries[1].sequence);
  EXPECT_EQ(PostingJournal(company_, At(&now)).Entries().size(), 3u);
}

TEST_F(PostingJournalTest, OnlyTheLatestNoteWithAMessageSetHoldsQuickBooksLastOne) {
  PostingJournal journal(company_);
  const JournalEntry first = journal.Note("ACME", RecordType::kTime, "1", "", "KV1", "");
  EXPECT_TRUE(journal.IsLastMessageSet(first));
  // A version without error recovery sends no message set id: QuickBooks keeps the first one still.
  const JournalEntry plain = journal.Note("ACME", RecordType::kTime, "2", "", "", "");
  EXPECT_TRUE(journal.IsLastMessageSet(first));
  EXPECT_FALSE(journal.IsLastMessageSet(plain));
  // Another site's or mode's add into the same file replaces it, even once that entry is gone.
  const JournalEntry other = journal.Note("BETA", RecordType::kExpense, "", "3", "KV3", "");
  journal.Remove(other);
  EXPECT_FALSE(journal.IsLastMessageSet(first));
  EXPECT_FALSE(PostingJournal(company_).IsLastMessageSet(first));
}

TEST_F(PostingJournalTest, AnExpenseIsNamedByItsHeaderIdElseByAnyItemIdItShares) {
  JournalEntry expense;
  expense.type = RecordType::kExpense;
  expense.record_id = "7001";
  expense.item_ids = "10,11,12";
  EXPECT_TRUE(NamesRecord(expense, RecordType::kExpense, "7001", "12,10"));
  EXPECT_FALSE(NamesRecord(expense, RecordType::kExpense, "7002", "10,11,12"));  // the header id decides
  expense.record_id.clear();
  EXPECT_TRUE(NamesRecord(expense, RecordType::kExpense, "7001", "12,11,10"));  // another order
  EXPECT_TRUE(NamesRecord(expense, RecordType::kExpense, "", "11"));            // fewer lines
  EXPECT_FALSE(NamesRecord(expense, RecordType::kExpense, "", "1,110"));        // not a part of an id
  EXPECT_FALSE(NamesRecord(expense, RecordType::kTime, "", "10"));

  JournalEntry time;
  time.type = RecordType::kTime;
  time.record_id = "101";
  EXPECT_TRUE(NamesRecord(time, RecordType::kTime, "101", ""));
  EXPECT_FALSE(NamesRecord(time, RecordType::kLeave, "101", ""));
  EXPECT_FALSE(NamesRecord(time, RecordType::kTime, "1010", ""));
}

TEST_F(PostingJournalTest, RecordTypesAreTheServicesCodesExactly) {
  EXPECT_EQ(RecordTypeCode(RecordType::kTime), "TA");
  EXPECT_EQ(RecordTypeCode(RecordType::kLeave), "LA");
  EXPECT_EQ(RecordTypeCode(RecordType::kExpense), "EXP");
  EXPECT_EQ(RecordTypeFromCode("LA"), RecordType::kLeave);
  EXPECT_EQ(RecordTypeFromCode("EXP"), RecordType::kExpense);
  EXPECT_EQ(RecordTypeFromCode("ta"), std::nullopt);
  EXPECT_EQ(RecordTypeFromCode("TA "), std::nullopt);
  EXPECT_EQ(SortItemIds("12, 9,0100,x,2"), "2,9,12,0100,x");
  EXPECT_EQ(SortItemIds(""), "");
  EXPECT_EQ(JournalSiteKey("  acMe "), "ACME");
}

}  // namespace
}  // namespace tessarine
