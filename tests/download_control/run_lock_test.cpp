// The lock that keeps two pages from posting into the same company file at once.

#include "download_control/run_lock.h"

#include <gtest/gtest.h>
#include <signal.h>
#include <stdlib.h>
#include <sys/wait.h>
#include <unistd.h>

#include <sys/stat.h>

#include <filesystem>
#include <fstream>
#include <string>

#include "download_control/posting_journal.h"
#include "platform/base/error.h"
#include "tests/support/scoped_env.h"

namespace tessarine {
namespace {

namespace fs = std::filesystem;

class RunLockTest : public ::testing::Test {
 protected:
  RunLockTest() {
    std::string pattern = (fs::temp_directory_path() / "kv-run-lock-XXXXXX").string();
    if (mkdtemp(pattern.data()) != nullptr) dir_ = pattern;
    company_ = (dir_ / "Acme.QBW").string();
    std::ofstream(company_) << "company";
  }
  ~RunLockTest() override {
    std::error_code ec;
    fs::remove_all(dir_, ec);
  }

  // Files in the company's folder other than the company file itself.
  size_t LockFiles() const {
    std::error_code ec;
    size_t n = 0;
    for (const auto& entry : fs::directory_iterator(dir_, ec)) n += entry.path().filename() == "Acme.QBW" ? 0 : 1;
    return n;
  }

  // The message of the kv::Error that taking the lock throws; "" when none is thrown.
  std::string RefusalOf(const std::string& company) const {
    try {
      RunLock::TryTake(company);
    } catch (const kv::Error& e) {
      return e.description();
    }
    return "";
  }

  fs::path dir_;
  std::string company_;
};

TEST_F(RunLockTest, ASecondRunOfTheSameFileIsRefusedUntilTheFirstEnds) {
  std::optional<RunLock> first = RunLock::TryTake(company_);
  ASSERT_TRUE(first.has_value());
  EXPECT_FALSE(RunLock::TryTake(company_).has_value());
  first.reset();
  EXPECT_TRUE(RunLock::TryTake(company_).has_value());
  // Nothing is left in the folder after a run that ended.
  EXPECT_EQ(LockFiles(), 0u);
}

TEST_F(RunLockTest, TheSameFileByAnotherPathIsTheSameRun) {
  const std::string other_path = (dir_ / "." / ".." / dir_.filename() / "Acme.QBW").string();
  const fs::path link = dir_ / "Link.QBW";
  fs::create_symlink(company_, link);
  std::optional<RunLock> first = RunLock::TryTake(company_);
  ASSERT_TRUE(first.has_value());
  EXPECT_FALSE(RunLock::TryTake(other_path).has_value());
  EXPECT_FALSE(RunLock::TryTake(link.string()).has_value());
  // Another company file is another run.
  const std::string copy = (dir_ / "Copy.QBW").string();
  fs::copy_file(company_, copy);
  EXPECT_TRUE(RunLock::TryTake(copy).has_value());
}

// QuickBooks' stand-in, like many programs, saves the file by writing a new one and renaming it over the old.
TEST_F(RunLockTest, AFileSavedAsANewOneInItsPlaceIsStillTheSameRun) {
  std::optional<RunLock> first = RunLock::TryTake(company_);
  ASSERT_TRUE(first.has_value());
  const fs::path saved = dir_ / "Acme.QBW.new";
  std::ofstream(saved) << "company with one more record";
  fs::rename(saved, company_);
  EXPECT_FALSE(RunLock::TryTake(company_).has_value());
}

TEST_F(RunLockTest, AFileThatIsNotThereYetIsNamedByItsPath) {
  const std::string missing = (dir_ / "New.QBW").string();
  std::optional<RunLock> first = RunLock::TryTake(missing);
  ASSERT_TRUE(first.has_value());
  EXPECT_FALSE(RunLock::TryTake((dir_ / "." / "New.QBW").string()).has_value());
}

TEST_F(RunLockTest, ARunThatIsKilledLeavesNoLockBehind) {
  int ready[2];
  ASSERT_EQ(pipe(ready), 0);
  const pid_t child = fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    close(ready[0]);
    std::optional<RunLock> held = RunLock::TryTake(company_);
    const char flag = held ? '1' : '0';
    [[maybe_unused]] ssize_t n = write(ready[1], &flag, 1);
    pause();
    _exit(0);
  }
  close(ready[1]);
  char flag = '0';
  ASSERT_EQ(read(ready[0], &flag, 1), 1);
  close(ready[0]);
  EXPECT_EQ(flag, '1');
  EXPECT_FALSE(RunLock::TryTake(company_).has_value());

  kill(child, SIGKILL);
  int status = 0;
  ASSERT_EQ(waitpid(child, &status, 0), child);
  // Its file is still there, but nothing holds it.
  EXPECT_EQ(LockFiles(), 1u);
  EXPECT_TRUE(RunLock::TryTake(company_).has_value());
}

// Each process used to pick the lock's folder from its own environment, so two pages that saw different values
// both posted every record.
TEST_F(RunLockTest, TheEnvironmentOfEachProcessPlaysNoPart) {
  std::optional<RunLock> first;
  {
    kv::test::ScopedEnv runtime("XDG_RUNTIME_DIR", (dir_ / "run-a").string());
    kv::test::ScopedEnv own("KV_RUN_LOCK_DIR", (dir_ / "locks-a").string());
    first = RunLock::TryTake(company_);
  }
  ASSERT_TRUE(first.has_value());
  kv::test::ScopedEnv runtime("XDG_RUNTIME_DIR", (dir_ / "run-b").string());
  kv::test::ScopedEnv own("KV_RUN_LOCK_DIR", (dir_ / "locks-b").string());
  kv::test::ScopedEnv temp("TMPDIR", (dir_ / "tmp-b").string());
  EXPECT_FALSE(RunLock::TryTake(company_).has_value());
}

// The journal is safe only while the lock that guards it is taken for the same file: one key gives both.
TEST_F(RunLockTest, TheLockAndTheJournalOfAFileLieSideBySideThroughEveryPath) {
  fs::create_directory(dir_ / "elsewhere");
  fs::create_symlink(company_, dir_ / "elsewhere" / "Shortcut.QBW");
  fs::create_directory_symlink(dir_, dir_ / "elsewhere" / "share");
  for (const fs::path& path : {fs::path(company_), dir_ / "elsewhere" / "Shortcut.QBW",
                               dir_ / "elsewhere" / "share" / "Acme.QBW", dir_ / "elsewhere" / ".." / "Acme.QBW"}) {
    SCOPED_TRACE(path.string());
    EXPECT_EQ(RunLock::PathOf(path.string()), fs::canonical(dir_) / ".Acme.QBW.tessarine-lock");
    EXPECT_EQ(PostingJournal::PathOf(path.string()), fs::canonical(dir_) / ".Acme.QBW.tessarine-journal");
  }
  // Held through one path, refused through the others.
  auto held = RunLock::TryTake((dir_ / "elsewhere" / "share" / "Acme.QBW").string());
  ASSERT_TRUE(held.has_value());
  EXPECT_FALSE(RunLock::TryTake((dir_ / "elsewhere" / "Shortcut.QBW").string()).has_value());
}

TEST_F(RunLockTest, ALinkPlantedWhereTheLockGoesIsNotFollowed) {
  const fs::path target = dir_ / "planted-target";
  fs::create_symlink(target, RunLock::PathOf(company_));
  const std::string refusal = RefusalOf(company_);
  EXPECT_NE(refusal.find(RunLock::PathOf(company_).string()), std::string::npos) << refusal;
  EXPECT_NE(refusal.find("symbolic link"), std::string::npos) << refusal;
  EXPECT_FALSE(fs::exists(target));

  // A link to a file that is there is not taken either.
  std::ofstream(target) << "someone else's";
  EXPECT_NE(RefusalOf(company_), "");
  std::ifstream in(target);
  std::string kept;
  std::getline(in, kept);
  EXPECT_EQ(kept, "someone else's");
}

TEST_F(RunLockTest, ALockFileOfAnotherUserIsRefused) {
  if (geteuid() != 0) GTEST_SKIP() << "handing a file to another user needs root";
  const fs::path lock = RunLock::PathOf(company_);
  std::ofstream(lock) << "";
  ASSERT_EQ(chown(lock.c_str(), 4242, 4242), 0);
  const std::string refusal = RefusalOf(company_);
  EXPECT_NE(refusal.find(lock.string()), std::string::npos) << refusal;
  EXPECT_NE(refusal.find("another user"), std::string::npos) << refusal;
  // Left as it was, for its owner or an administrator to deal with.
  struct stat st {};
  ASSERT_EQ(lstat(lock.c_str(), &st), 0);
  EXPECT_EQ(st.st_uid, 4242u);
}

TEST_F(RunLockTest, ACompanyFileInAFolderThatIsNotThereIsAnError) {
  EXPECT_NE(RefusalOf((dir_ / "missing" / "Acme.QBW").string()), "");
}

}  // namespace
}  // namespace tessarine
