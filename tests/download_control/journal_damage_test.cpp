// A damaged or failing journal: every kind of damage is listed with the file and what could not be read, the rest
// is still read, nothing is written after it until it is cleared, and a failed write leaves the file whole.

#include <gtest/gtest.h>
#include <stdlib.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <optional>
#include <sstream>
#include <string>
#include <vector>

#include "download_control/journal_codec.h"
#include "download_control/posting_journal.h"
#include "platform/base/error.h"

namespace tessarine {
namespace {

namespace fs = std::filesystem;

std::string Slurp(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  std::stringstream out;
  out << in.rdbuf();
  return out.str();
}

void Spill(const fs::path& path, const std::string& content) {
  std::ofstream(path, std::ios::binary | std::ios::trunc) << content;
}

std::vector<std::string> Lines(const std::string& content) {
  std::vector<std::string> lines;
  std::string line;
  std::istringstream in(content);
  while (std::getline(in, line)) lines.push_back(line + "\n");
  return lines;
}

std::string Join(const std::vector<std::string>& lines) {
  std::string joined;
  for (const std::string& line : lines) joined += line;
  return joined;
}

std::vector<std::string> IdsOf(const PostingJournal& journal) {
  std::vector<std::string> ids;
  for (const JournalEntry& e : journal.Entries()) ids.push_back(e.record_id);
  return ids;
}

// Fails a write once after a number of bytes, as a disk that fills up does; or fails the cut back or the sync.
class FailingDisk final : public JournalDisk {
 public:
  ssize_t PWrite(int fd, const char* data, size_t size, off_t offset) override {
    if (budget_ >= 0) {
      if (budget_ == 0) {
        budget_ = -1;
        errno = ENOSPC;
        return -1;
      }
      size = std::min(size, static_cast<size_t>(budget_));
      budget_ -= static_cast<ssize_t>(size);
    }
    return pwrite(fd, data, size, offset);
  }
  int DataSync(int fd) override {
    if (fail_sync_) {
      fail_sync_ = false;
      errno = EIO;
      return -1;
    }
    return fdatasync(fd);
  }
  int Truncate(int fd, off_t size) override {
    if (fail_truncate_) {
      errno = EIO;
      return -1;
    }
    return ftruncate(fd, size);
  }

  ssize_t budget_ = -1;  // bytes the next writes may still put down before one fails; -1 no limit
  bool fail_sync_ = false;
  bool fail_truncate_ = false;
};

class JournalDamageTest : public ::testing::Test {
 protected:
  JournalDamageTest() {
    std::string pattern = (fs::temp_directory_path() / "kv-damage-XXXXXX").string();
    if (mkdtemp(pattern.data()) != nullptr) dir_ = pattern;
    company_ = (dir_ / "Acme.QBW").string();
    std::ofstream(company_) << "company";
    journal_path_ = PostingJournal::PathOf(company_);
  }
  ~JournalDamageTest() override {
    if (!mounted_.empty()) umount2(mounted_.c_str(), MNT_DETACH);
    std::error_code ec;
    fs::remove_all(dir_, ec);
  }

  JournalSeams Seams(FailingDisk* disk = nullptr) {
    JournalSeams seams;
    seams.disk = disk;
    seams.now = [this] { return now_; };
    return seams;
  }

  // Three records noted at the times 1000, 2000 and 3000; the header's time is 500.
  void WriteThree() {
    now_ = 500;
    PostingJournal journal(company_, Seams());
    now_ = 1000;
    journal.Note("ACME", RecordType::kTime, "A", "", "KV1", "<a/>");
    now_ = 2000;
    journal.Note("ACME", RecordType::kTime, "B", "", "KV2", "<b/>");
    now_ = 3000;
    journal.Note("ACME", RecordType::kTime, "C", "", "KV3", "<c/>");
    now_ = 4000;
  }

  fs::path dir_;
  std::string company_;
  fs::path journal_path_;
  fs::path mounted_;
  int64_t now_ = 1000;
};

TEST(JournalCodecTest, TheChecksumIsCrc32) {
  // The check value every CRC-32 implementation is tested with.
  EXPECT_EQ(Crc32("123456789"), 0xCBF43926u);
  EXPECT_EQ(Crc32(""), 0u);
}

TEST_F(JournalDamageTest, EachDamageIsListedWithItsFileAndTheRestIsStillRead) {
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

TEST_F(JournalDamageTest, ClearingTheDamageKeepsTheDamagedFileAsideAndLeavesAMarkUntilItAgesOut) {
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

TEST_F(JournalDamageTest, ADeletedJournalIsDamageUntilCleared) {
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

TEST_F(JournalDamageTest, AJournalThatCannotBeReadIsDamageAndOneThatCannotBeWrittenIsRefused) {
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

TEST_F(JournalDamageTest, AWriteFailingAtAnyByteLeavesTheFileAtItsLastWholeRecord) {
  WriteThree();
  const std::string whole = Slurp(journal_path_);
  FailingDisk disk;
  PostingJournal journal(company_, Seams(&disk));
  bool went_through = false;
  for (ssize_t budget = 0; !went_through; ++budget) {
    SCOPED_TRACE(budget);
    ASSERT_LT(budget, 4096);
    disk.budget_ = budget;
    try {
      journal.Note("ACME", RecordType::kTime, "D", "", "KV4", "<d/>");
      went_through = true;
      // The whole record took exactly the bytes that were allowed: every shorter write was tried.
      EXPECT_EQ(fs::file_size(journal_path_), whole.size() + static_cast<size_t>(budget));
    } catch (const kv::Error& e) {
      EXPECT_NE(e.description().find(std::strerror(ENOSPC)), std::string::npos) << e.description();
      EXPECT_EQ(Slurp(journal_path_), whole);
    }
  }
  disk.budget_ = -1;
  journal.Note("ACME", RecordType::kTime, "E", "", "KV5", "<e/>");
  PostingJournal again(company_, Seams());
  EXPECT_TRUE(again.Damage().empty());
  EXPECT_EQ(IdsOf(again), (std::vector<std::string>{"A", "B", "C", "D", "E"}));
}

TEST_F(JournalDamageTest, ANoteThatCannotBeSyncedIsTakenBack) {
  WriteThree();
  const std::string whole = Slurp(journal_path_);
  FailingDisk disk;
  PostingJournal journal(company_, Seams(&disk));
  disk.fail_sync_ = true;
  EXPECT_THROW(journal.Note("ACME", RecordType::kTime, "D", "", "KV4", ""), kv::Error);
  EXPECT_EQ(Slurp(journal_path_), whole);
  EXPECT_EQ(IdsOf(journal), (std::vector<std::string>{"A", "B", "C"}));
}

TEST_F(JournalDamageTest, AFailedWriteThatCannotBeCutBackStopsEveryFurtherNote) {
  WriteThree();
  FailingDisk disk;
  PostingJournal journal(company_, Seams(&disk));
  disk.budget_ = 10;
  disk.fail_truncate_ = true;
  try {
    journal.Note("ACME", RecordType::kTime, "D", "", "KV4", "");
    ADD_FAILURE() << "a cut note was taken for a whole one";
  } catch (const kv::Error& e) {
    EXPECT_NE(e.description().find("nothing more is posted"), std::string::npos) << e.description();
  }
  // The disk works again, but nothing may follow the cut record.
  disk.budget_ = -1;
  disk.fail_truncate_ = false;
  EXPECT_THROW(journal.Note("ACME", RecordType::kTime, "E", "", "KV5", ""), kv::Error);
  JournalEntry a = journal.Entries().front();
  EXPECT_THROW(journal.NoteAnswer(a, "<ok/>"), kv::Error);
  // The next run finds the cut record and says so.
  PostingJournal next(company_, Seams());
  ASSERT_FALSE(next.Damage().empty());
  EXPECT_EQ(next.Damage().back().what, "the file ends inside a record");
}

TEST_F(JournalDamageTest, AFullDiskThenFreedLeavesAWholeJournal) {
  if (geteuid() != 0) GTEST_SKIP() << "mounting a small file system needs root";
  const fs::path small = dir_ / "small";
  fs::create_directory(small);
  if (mount("tmpfs", small.c_str(), "tmpfs", 0, "size=64k") != 0) {
    GTEST_SKIP() << "a tmpfs cannot be mounted here: " << std::strerror(errno);
  }
  mounted_ = small;
  company_ = (small / "Acme.QBW").string();
  journal_path_ = PostingJournal::PathOf(company_);
  std::ofstream(company_) << "company";
  PostingJournal journal(company_, Seams());
  journal.Note("ACME", RecordType::kTime, "A", "", "KV1", "<a/>");
  // Fill what is left.
  {
    std::ofstream filler(small / "filler", std::ios::binary);
    const std::string block(4096, 'x');
    for (int i = 0; i < 64 && filler; ++i) filler << block << std::flush;
  }
  const std::string before = Slurp(journal_path_);
  bool refused = false;
  const std::string request(16384, 'r');  // more than a page, so the write cannot fit a partial page
  for (int i = 0; i < 8 && !refused; ++i) {
    try {
      journal.Note("ACME", RecordType::kTime, "F" + std::to_string(i), "", "KV", request);
    } catch (const kv::Error& e) {
      refused = true;
      EXPECT_NE(e.description().find(journal_path_.string()), std::string::npos) << e.description();
    }
  }
  ASSERT_TRUE(refused) << "the disk never filled";
  // Whatever went in before the refusal is whole; the refused note is not there.
  {
    PostingJournal reread(company_, Seams());
    EXPECT_TRUE(reread.Damage().empty());
    EXPECT_EQ(reread.Entries().size(), journal.Entries().size());
  }
  fs::remove(small / "filler");
  journal.Note("ACME", RecordType::kTime, "Z", "", "KV9", "<z/>");
  PostingJournal reread(company_, Seams());
  EXPECT_TRUE(reread.Damage().empty());
  ASSERT_FALSE(reread.Entries().empty());
  EXPECT_EQ(reread.Entries().back().record_id, "Z");
  EXPECT_EQ(reread.Entries().front().record_id, "A");
  EXPECT_GE(Slurp(journal_path_).size(), before.size());
}

}  // namespace
}  // namespace tessarine
