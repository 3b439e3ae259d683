// A damaged journal: every kind of damage is listed with the file and what could not be read, the rest is still
// read, and nothing is written after it until it has been cleared.

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <functional>
#include <optional>
#include <random>

#include "tests/download_control/journal_fixture.h"

namespace tessarine::test {
namespace {

TEST(JournalCodecTest, TheChecksumIsCrc32) {
  // The check value every CRC-32 implementation is tested with.
  EXPECT_EQ(Crc32("123456789"), 0xCBF43926u);
  EXPECT_EQ(Crc32(""), 0u);
}

TEST_F(JournalTest, EachDamageIsListedWithItsFileAndTheRestIsStillRead) {
  struct Case {
    const char* name;
    std::function<std::string(std::vector<std::string>)> damage;
    std::vector<std::string> readable;  // the ids still read
    const char* what;                   // a part of the damage's description
    int64_t since;
  };
  // Lines: the header, then A, B and C.
  const std::vector<Case> cases = {
      {"a flipped byte",
       [](std::vector<std::string> l) {
         l[2][l[2].size() / 2] ^= 0x04;
         return Join(l);
       },
       {"A", "C"},
       "record 3 fails its checksum",
       1000},
      {"a garbage line",
       [](std::vector<std::string> l) {
         l.insert(l.begin() + 2, "garbage that is no record at all\n");
         return Join(l);
       },
       {"A", "B", "C"},
       "record 3 is not a journal record",
       1000},
      {"a record cut in the middle and glued to the next",
       [](std::vector<std::string> l) {
         l[2].resize(l[2].size() / 2);
         return Join(l);
       },
       {"A", "C"},
       "record 3",
       1000},
      {"CR LF line ends",
       [](std::vector<std::string> l) {
         for (std::string& line : l) line.insert(line.size() - 1, "\r");
         return Join(l);
       },
       {"A", "B", "C"},
       "ends in CR LF",
       0},
      {"a record cut at the end",
       [](std::vector<std::string> l) {
         l[3].resize(l[3].size() - 5);
         return Join(l);
       },
       {"A", "B"},
       "the file ends inside a record",
       2000},
      {"a missing header",
       [](std::vector<std::string> l) {
         l.erase(l.begin());
         return Join(l);
       },
       {"A", "B", "C"},
       "the header is missing",
       0},
      {"an empty file", [](std::vector<std::string>) { return std::string(); }, {}, "the file is empty", 0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    fs::remove(journal_path_);
    fs::remove(PostingJournal::PathOf(company_).string() + "-made");
    WriteThree();
    Spill(journal_path_, c.damage(Lines(Slurp(journal_path_))));
    const std::string damaged = Slurp(journal_path_);

    PostingJournal journal(company_, Seams());
    ASSERT_FALSE(journal.Damage().empty());
    bool named = false;
    for (const JournalDamage& d : journal.Damage()) {
      EXPECT_EQ(d.file, journal_path_);
      if (!named && d.what.find(c.what) != std::string::npos) {
        named = true;
        EXPECT_EQ(d.since, c.since) << d.what;
      }
    }
    EXPECT_TRUE(named) << journal.Damage().front().what;
    EXPECT_EQ(IdsOf(journal), c.readable);
    ASSERT_TRUE(journal.SuspectSince().has_value());
    EXPECT_FALSE(journal.IsLastMessageSet(journal.Entries().empty() ? JournalEntry{} : journal.Entries().back()));
    // Nothing goes after the damage until it has been said and cleared, and the file is left as it was.
    EXPECT_THROW(journal.Note("ACME", RecordType::kTime, "D", "", "KV4", ""), kv::Error);
    EXPECT_EQ(Slurp(journal_path_), damaged);
  }
}

// Whatever a byte flipped, dropped or added anywhere does, the reader says so, and what it still reads is what
// was written: never an entry, answer or state that no run noted.
TEST_F(JournalTest, NoChangeOfAByteGoesUnsaidOrReadsAsSomethingElse) {
  WriteThree();
  {
    PostingJournal journal(company_, Seams());
    JournalEntry b = journal.Entries()[1];
    journal.NoteAnswer(b, "<answer of B/>");
  }
  const std::string whole = Slurp(journal_path_);
  const std::vector<JournalEntry> written = PostingJournal(company_, Seams()).Entries();
  ASSERT_EQ(written.size(), 3u);
  std::mt19937 random(20260412);
  for (int round = 0; round < 600; ++round) {
    std::string changed = whole;
    const size_t at = random() % changed.size();
    switch (round % 3) {
      case 0:
        changed[at] = static_cast<char>(changed[at] ^ (1 << (random() % 8)));
        break;
      case 1:
        changed.erase(at, 1);
        break;
      default:
        changed.insert(at, 1, static_cast<char>(random() % 256));
        break;
    }
    const JournalImage image = ReadJournalImage(changed);
    SCOPED_TRACE("round " + std::to_string(round) + " at " + std::to_string(at));
    EXPECT_FALSE(image.damage.empty());
    for (const JournalEntry& e : image.entries) {
      const auto same = std::find_if(written.begin(), written.end(), [&](const JournalEntry& w) {
        return w.sequence == e.sequence && w.record_id == e.record_id && w.request == e.request &&
               w.message_set_id == e.message_set_id && w.noted_at == e.noted_at;
      });
      ASSERT_NE(same, written.end()) << e.record_id;
      // An answer is never made up, though a lost answer record leaves the entry as only sent.
      if (e.state != JournalEntry::State::kSent) {
        EXPECT_EQ(e.answer, same->answer);
      }
    }
  }
}

TEST_F(JournalTest, ClearingTheDamageKeepsTheDamagedFileAsideAndLeavesAMarkUntilItAgesOut) {
  WriteThree();
  std::vector<std::string> lines = Lines(Slurp(journal_path_));
  lines[2][lines[2].size() - 3] ^= 0x01;
  const std::string damaged = Join(lines);
  Spill(journal_path_, damaged);
  {
    PostingJournal journal(company_, Seams());
    ASSERT_EQ(journal.Damage().size(), 1u);
    const fs::path aside = journal.ClearDamage();
    EXPECT_EQ(aside.parent_path(), journal_path_.parent_path());
    EXPECT_EQ(Slurp(aside), damaged);
    EXPECT_TRUE(journal.Damage().empty());
    EXPECT_EQ(journal.SuspectSince(), 1000);
    const std::vector<JournalEntry> kept = journal.Entries();
    ASSERT_EQ(kept.size(), 2u);
    // C's message set was the last one sent, but the damage could have hidden a later one.
    EXPECT_FALSE(journal.IsLastMessageSet(kept[1]));
    const JournalEntry d = journal.Note("ACME", RecordType::kTime, "D", "", "KV4", "");
    EXPECT_TRUE(journal.IsLastMessageSet(d));
  }
  PostingJournal journal(company_, Seams());
  EXPECT_TRUE(journal.Damage().empty());
  EXPECT_EQ(IdsOf(journal), (std::vector<std::string>{"A", "C", "D"}));
  EXPECT_EQ(journal.SuspectSince(), 1000);
  now_ = 4000 + kJournalKeepSeconds + 1;
  EXPECT_EQ(PostingJournal(company_, Seams()).SuspectSince(), std::nullopt);
}

TEST_F(JournalTest, ADeletedJournalIsDamageUntilCleared) {
  WriteThree();
  fs::remove(journal_path_);
  PostingJournal journal(company_, Seams());
  ASSERT_EQ(journal.Damage().size(), 1u);
  EXPECT_EQ(journal.Damage()[0].what, "the journal is missing");
  EXPECT_EQ(journal.Damage()[0].since, 500);  // when the journal was made
  EXPECT_THROW(journal.Note("ACME", RecordType::kTime, "D", "", "", ""), kv::Error);
  EXPECT_EQ(journal.ClearDamage(), fs::path());
  EXPECT_EQ(journal.SuspectSince(), 500);
  journal.Note("ACME", RecordType::kTime, "D", "", "", "");
  PostingJournal again(company_, Seams());
  EXPECT_TRUE(again.Damage().empty());
  EXPECT_EQ(IdsOf(again), (std::vector<std::string>{"D"}));
  EXPECT_EQ(again.SuspectSince(), 500);
}

TEST_F(JournalTest, AJournalDeletedLongAfterItWasMadeStillSuspectsEverythingItMayHaveNamed) {
  WriteThree();  // made at 500
  // Half a year on, a record noted at 1000 is still listed (its entry lives on), and then the journal is lost.
  now_ = 500 + 200 * 24 * 60 * 60;
  fs::remove(journal_path_);
  PostingJournal journal(company_, Seams());
  ASSERT_EQ(journal.Damage().size(), 1u);
  journal.ClearDamage();
  // Whatever QuickBooks created since the journal was made may be that record's.
  EXPECT_EQ(journal.SuspectSince(), 500);
}

// Root reads and writes whatever a file's mode says, so root plays another user in a child; anyone else is
// stopped by the mode of a file of its own. What the check finds is the exit status.
int AsUserTheModeStops(const std::function<int()>& check) {
  if (geteuid() != 0) return check();
  const pid_t child = fork();
  if (child == 0) {
    if (setgid(65534) != 0 || setuid(65534) != 0) _exit(100);
    _exit(check());
  }
  int status = 0;
  waitpid(child, &status, 0);
  return WIFEXITED(status) ? WEXITSTATUS(status) : 101;
}

TEST_F(JournalTest, AJournalThatCannotBeReadIsDamageAndOneThatCannotBeWrittenIsRefused) {
  WriteThree();
  // The other user may pass through the folder and read the company file, as a share gives.
  chmod(dir_.c_str(), 0755);
  chmod(company_.c_str(), 0644);
  const bool root = geteuid() == 0;
  chmod(journal_path_.c_str(), root ? 0600 : 0);
  const int unreadable = AsUserTheModeStops([this] {
    std::optional<PostingJournal> journal;
    try {
      journal.emplace(company_, Seams());
    } catch (const kv::Error&) {
      return 5;
    }
    if (journal->Damage().size() != 1) return 1;
    if (journal->Damage()[0].what.find("cannot be read") == std::string::npos) return 2;
    if (!journal->Entries().empty()) return 3;
    try {
      journal->Note("ACME", RecordType::kTime, "D", "", "", "");
      return 4;
    } catch (const kv::Error&) {
      return 0;
    }
  });
  ASSERT_NE(unreadable, 100) << "root could not become another user";
  EXPECT_EQ(unreadable, 0);

  chmod(journal_path_.c_str(), root ? 0644 : 0444);
  const int read_only = AsUserTheModeStops([this] {
    try {
      PostingJournal journal(company_, Seams());
      return 1;
    } catch (const kv::Error& e) {
      return e.description().find(journal_path_.string()) != std::string::npos ? 0 : 2;
    }
  });
  EXPECT_EQ(read_only, 0);
  chmod(journal_path_.c_str(), 0600);
}

}  // namespace
}  // namespace tessarine::test
