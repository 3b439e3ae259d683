// The lock that keeps two pages from posting the same site's records into the same company file at once.

#include "download_control/run_lock.h"

#include <gtest/gtest.h>
#include <signal.h>
#include <stdlib.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>

#include "common/error.h"
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
    env_.emplace("KV_RUN_LOCK_DIR", (dir_ / "locks").string());
  }
  ~RunLockTest() override {
    env_.reset();
    std::error_code ec;
    fs::remove_all(dir_, ec);
  }

  size_t LockFiles() const {
    std::error_code ec;
    size_t n = 0;
    for ([[maybe_unused]] const auto& entry : fs::directory_iterator(dir_ / "locks", ec)) ++n;
    return n;
  }

  fs::path dir_;
  std::string company_;
  std::optional<kv::test::ScopedEnv> env_;
};

TEST_F(RunLockTest, ASecondRunOfTheSameSiteAndFileIsRefusedUntilTheFirstEnds) {
  std::optional<RunLock> first = RunLock::TryTake("AC01", company_);
  ASSERT_TRUE(first.has_value());
  EXPECT_FALSE(RunLock::TryTake("AC01", company_).has_value());
  first.reset();
  EXPECT_TRUE(RunLock::TryTake("AC01", company_).has_value());
  // Nothing is left in the folder after a run that ended.
  EXPECT_EQ(LockFiles(), 0u);
}

TEST_F(RunLockTest, TheSameFileByAnotherPathAndTheSameSiteInAnotherCaseAreTheSameRun) {
  const std::string other_path = (dir_ / "." / ".." / dir_.filename() / "Acme.QBW").string();
  const fs::path link = dir_ / "Link.QBW";
  fs::create_symlink(company_, link);
  std::optional<RunLock> first = RunLock::TryTake("AC01", company_);
  ASSERT_TRUE(first.has_value());
  EXPECT_FALSE(RunLock::TryTake(" ac01 ", company_).has_value());
  EXPECT_FALSE(RunLock::TryTake("AC01", other_path).has_value());
  EXPECT_FALSE(RunLock::TryTake("AC01", link.string()).has_value());
  // Another site, or another company file, is another run.
  EXPECT_TRUE(RunLock::TryTake("AC02", company_).has_value());
  const std::string copy = (dir_ / "Copy.QBW").string();
  fs::copy_file(company_, copy);
  EXPECT_TRUE(RunLock::TryTake("AC01", copy).has_value());
}

// QuickBooks' stand-in, like many programs, saves the file by writing a new one and renaming it over the old.
TEST_F(RunLockTest, AFileSavedAsANewOneInItsPlaceIsStillTheSameRun) {
  std::optional<RunLock> first = RunLock::TryTake("AC01", company_);
  ASSERT_TRUE(first.has_value());
  const fs::path saved = dir_ / "Acme.QBW.new";
  std::ofstream(saved) << "company with one more record";
  fs::rename(saved, company_);
  EXPECT_FALSE(RunLock::TryTake("AC01", company_).has_value());
}

TEST_F(RunLockTest, AFileThatIsNotThereYetIsNamedByItsPath) {
  const std::string missing = (dir_ / "New.QBW").string();
  std::optional<RunLock> first = RunLock::TryTake("AC01", missing);
  ASSERT_TRUE(first.has_value());
  EXPECT_FALSE(RunLock::TryTake("AC01", (dir_ / "." / "New.QBW").string()).has_value());
}

TEST_F(RunLockTest, ARunThatIsKilledLeavesNoLockBehind) {
  int ready[2];
  ASSERT_EQ(pipe(ready), 0);
  const pid_t child = fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    close(ready[0]);
    std::optional<RunLock> held = RunLock::TryTake("AC01", company_);
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
  EXPECT_FALSE(RunLock::TryTake("AC01", company_).has_value());

  kill(child, SIGKILL);
  int status = 0;
  ASSERT_EQ(waitpid(child, &status, 0), child);
  // Its file is still there, but nothing holds it.
  EXPECT_EQ(LockFiles(), 1u);
  EXPECT_TRUE(RunLock::TryTake("AC01", company_).has_value());
}

TEST_F(RunLockTest, AFolderThatCannotHoldTheLockIsAnError) {
  env_.reset();
  std::ofstream(dir_ / "not-a-folder") << "x";
  kv::test::ScopedEnv bad("KV_RUN_LOCK_DIR", (dir_ / "not-a-folder").string());
  EXPECT_THROW(RunLock::TryTake("AC01", company_), kv::Error);
}

}  // namespace
}  // namespace tessarine
