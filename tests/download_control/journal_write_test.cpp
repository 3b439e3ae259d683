// A journal write that fails, at any byte, in its sync, on a disk really full: the file is left at its last whole
// record, or takes no more notes.

#include <gtest/gtest.h>
#include <sys/mount.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "tests/download_control/journal_fixture.h"

namespace tessarine::test {
namespace {

TEST_F(JournalTest, AWriteFailingAtAnyByteLeavesTheFileAtItsLastWholeRecord) {
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

TEST_F(JournalTest, ANoteThatCannotBeSyncedIsTakenBack) {
  WriteThree();
  const std::string whole = Slurp(journal_path_);
  FailingDisk disk;
  PostingJournal journal(company_, Seams(&disk));
  disk.fail_sync_ = true;
  EXPECT_THROW(journal.Note("ACME", RecordType::kTime, "D", "", "KV4", ""), kv::Error);
  EXPECT_EQ(Slurp(journal_path_), whole);
  EXPECT_EQ(IdsOf(journal), (std::vector<std::string>{"A", "B", "C"}));
}

TEST_F(JournalTest, AFailedWriteThatCannotBeCutBackStopsEveryFurtherNote) {
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

TEST_F(JournalTest, AFullDiskThenFreedLeavesAWholeJournal) {
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
}  // namespace tessarine::test
