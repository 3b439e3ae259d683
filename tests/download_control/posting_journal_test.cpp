// The journal of records being added to QuickBooks: where it lives, whom it trusts, and what survives in it.

#include "download_control/posting_journal.h"

#include <gtest/gtest.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "platform/base/error.h"
#include "tests/support/scoped_env.h"

namespace tessarine {
namespace {

namespace fs = std::filesystem;

class PostingJournalTest : public ::testing::Test {
 protected:
  PostingJournalTest() {
    std::string pattern = (fs::temp_directory_path() / "kv-journal-XXXXXX").string();
    if (mkdtemp(pattern.data()) != nullptr) dir_ = pattern;
    company_ = (dir_ / "Acme.QBW").string();
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

  static std::vector<fs::path> RunFiles(const fs::path& folder) {
    std::vector<fs::path> files;
    for (const auto& file : fs::directory_iterator(folder)) files.push_back(file.path());
    return files;
  }

  std::string RefusalOf(const fs::path& folder) const {
    try {
      PostingJournal::CheckFolder(folder);
    } catch (const kv::Error& e) {
      return e.description();
    }
    return "";
  }

  fs::path dir_;
  std::string company_;
};

TEST_F(PostingJournalTest, TheFolderFollowsTheStateHomeAndIsMadePrivate) {
  {
    kv::test::ScopedEnv state("XDG_STATE_HOME", (dir_ / "state").string());
    EXPECT_EQ(PostingJournal::DefaultFolder(), dir_ / "state" / "tessarine");
  }
  {
    // A relative state home is no state home.
    kv::test::ScopedEnv state("XDG_STATE_HOME", "relative/state");
    kv::test::ScopedEnv home("HOME", (dir_ / "home").string());
    EXPECT_EQ(PostingJournal::DefaultFolder(), dir_ / "home" / ".local" / "state" / "tessarine");
  }
  const mode_t old_mask = umask(0);
  PostingJournal journal(dir_ / "state" / "tessarine");
  umask(old_mask);
  EXPECT_EQ(ModeOf(dir_ / "state" / "tessarine"), 0700u);
}

TEST_F(PostingJournalTest, AFolderOthersMayWriteIsRefused) {
  const fs::path loose = dir_ / "loose";
  fs::create_directory(loose);
  chmod(loose.c_str(), 0777);
  const std::string refusal = RefusalOf(loose);
  EXPECT_NE(refusal.find(loose.string()), std::string::npos) << refusal;
  EXPECT_NE(refusal.find("may be written by other users"), std::string::npos) << refusal;
  EXPECT_EQ(ModeOf(loose), 0777u);  // refused, not changed behind the owner's back

  chmod(loose.c_str(), 0720);
  EXPECT_NE(RefusalOf(loose), "");

  // Readable by others only: this user's own folder, tightened.
  const fs::path readable = dir_ / "readable";
  fs::create_directory(readable);
  chmod(readable.c_str(), 0755);
  EXPECT_EQ(RefusalOf(readable), "");
  EXPECT_EQ(ModeOf(readable), 0700u);
}

TEST_F(PostingJournalTest, AFolderOfAnotherUserIsRefused) {
  if (geteuid() != 0) GTEST_SKIP() << "handing a folder to another user needs root";
  const fs::path foreign = dir_ / "foreign";
  fs::create_directory(foreign);
  chmod(foreign.c_str(), 0700);
  ASSERT_EQ(chown(foreign.c_str(), 4242, 4242), 0);
  const std::string refusal = RefusalOf(foreign);
  EXPECT_NE(refusal.find(foreign.string()), std::string::npos) << refusal;
  EXPECT_NE(refusal.find("belongs to another user"), std::string::npos) << refusal;
  EXPECT_THROW(PostingJournal{foreign}, kv::Error);
  EXPECT_TRUE(fs::is_empty(foreign));
}

TEST_F(PostingJournalTest, EntriesKeepTheirAnswerAndBelongToOneSiteAndCompanyFile) {
  const fs::path folder = dir_ / "journal";
  PostingJournal journal(folder);
  journal.SetRun("ACME", company_);
  JournalEntry time = journal.Note("KV0000000100000000000a1", "TA", "101", true);
  journal.Note("KV0000000100000000000b2", "EXP", "10,11", false);
  // An answer of several lines, with the characters the entry's own lines are built from.
  const std::string answer = "<?xml version=\"1.0\" ?>\r\n<QBXML>\r\n<QBXMLMsgsRs>\nanswer 100%0A\n</QBXMLMsgsRs>";
  journal.NoteAnswer(time, answer);
  ASSERT_EQ(RunFiles(folder).size(), 1u);
  EXPECT_EQ(ModeOf(RunFiles(folder)[0]), 0600u);

  // Another page of the same site, spelled as the service compares it, and the same file by a link.
  fs::create_symlink(company_, dir_ / "Link.QBW");
  PostingJournal again(folder);
  again.SetRun(" acme ", (dir_ / "Link.QBW").string());
  const auto entries = again.Entries();
  ASSERT_EQ(entries.size(), 2u);
  EXPECT_EQ(entries[0].type, "TA");
  EXPECT_EQ(entries[0].ids, "101");
  EXPECT_TRUE(entries[0].recovery);
  EXPECT_TRUE(entries[0].answered);
  EXPECT_EQ(entries[0].answer, answer);
  EXPECT_EQ(entries[1].ids, "10,11");
  EXPECT_FALSE(entries[1].recovery);
  EXPECT_FALSE(entries[1].answered);

  PostingJournal other_site(folder);
  other_site.SetRun("ACME2", company_);
  EXPECT_TRUE(other_site.Entries().empty());
  const std::string copy = (dir_ / "Copy.QBW").string();
  fs::copy_file(company_, copy);
  PostingJournal other_file(folder);
  other_file.SetRun("ACME", copy);
  EXPECT_TRUE(other_file.Entries().empty());

  again.Remove(entries[0]);
  ASSERT_EQ(journal.Entries().size(), 1u);
  EXPECT_EQ(journal.Entries()[0].type, "EXP");
}

TEST_F(PostingJournalTest, ARecordCutShortByACrashEndsTheFile) {
  const fs::path folder = dir_ / "journal";
  {
    PostingJournal journal(folder);
    journal.SetRun("ACME", company_);
    journal.Note("KV0000000100000000000a1", "TA", "101", true);
    journal.Note("KV0000000100000000000b2", "TA", "102", true);
  }
  ASSERT_EQ(RunFiles(folder).size(), 1u);
  // The answer of 102 was being written when the run was killed.
  std::ofstream(RunFiles(folder)[0], std::ios::app) << "answer KV0000000100000000000b2 400\n<?xml version=";
  // And a file that is no run file of ours.
  std::ofstream(folder / "stray.journal") << "something else\n";

  PostingJournal journal(folder);
  journal.SetRun("ACME", company_);
  const auto entries = journal.Entries();
  ASSERT_EQ(entries.size(), 2u);
  EXPECT_EQ(entries[1].ids, "102");
  EXPECT_FALSE(entries[1].answered);
}

TEST_F(PostingJournalTest, ARunTakesOverWhatEarlierRunsLeftAndLeavesNoFileWhenAllIsDone) {
  const fs::path folder = dir_ / "journal";
  {
    PostingJournal first(folder);
    first.SetRun("ACME", company_);
    JournalEntry e = first.Note("KV0000000100000000000a1", "TA", "101", true);
    first.NoteAnswer(e, "<answer/>");
    first.Note("KV0000000100000000000b2", "TA", "102", true);
  }
  {
    // Another company file's run stays as it is.
    PostingJournal other(folder);
    other.SetRun("ACME", (dir_ / "Other.QBW").string());
    other.Note("KV0000000100000000000c3", "TA", "103", true);
  }
  ASSERT_EQ(RunFiles(folder).size(), 2u);
  {
    PostingJournal second(folder);
    second.SetRun("ACME", company_);
    second.Adopt();
    const auto entries = second.Entries();
    ASSERT_EQ(entries.size(), 2u);
    EXPECT_EQ(entries[0].answer, "<answer/>");
    EXPECT_EQ(RunFiles(folder).size(), 2u);  // the earlier run's file is gone, this run's is there
    second.Remove(entries[0]);
  }
  {
    PostingJournal third(folder);
    third.SetRun("ACME", company_);
    third.Adopt();
    const auto entries = third.Entries();
    ASSERT_EQ(entries.size(), 1u);
    EXPECT_EQ(entries[0].ids, "102");
    third.Remove(entries[0]);
  }
  PostingJournal other(folder);
  other.SetRun("ACME", (dir_ / "Other.QBW").string());
  EXPECT_EQ(other.Entries().size(), 1u);
  EXPECT_EQ(RunFiles(folder).size(), 1u);
}

}  // namespace
}  // namespace tessarine
