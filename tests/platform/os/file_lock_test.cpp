// File locks between processes, and the files a lock refuses to open.

#include "platform/os/file_lock.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <csignal>
#include <filesystem>
#include <system_error>
#include <thread>

#include "platform/os/process.h"

namespace platform::os {
namespace {

namespace fs = std::filesystem;

class FileLockTest : public testing::Test {
 protected:
  FileLockTest() {
    std::string pattern = (fs::temp_directory_path() / "kv-lock-XXXXXX").string();
    EXPECT_NE(mkdtemp(pattern.data()), nullptr);
    dir_ = pattern;
  }
  ~FileLockTest() override { fs::remove_all(dir_); }

  // The inode a path names now, to tell which file a lock is on.
  static ino_t InodeAt(const fs::path& path) {
    struct stat info {};
    return stat(path.c_str(), &info) == 0 ? info.st_ino : 0;
  }
  static ino_t InodeOf(int fd) {
    struct stat info {};
    return fstat(fd, &info) == 0 ? info.st_ino : 0;
  }

  fs::path dir_;
};

TEST_F(FileLockTest, ALockHeldByAnotherProcessIsRefusedUntilThatProcessDies) {
  const fs::path path = dir_ / "run.lock";
  int ready[2];
  ASSERT_EQ(pipe(ready), 0);
  Process holder = Process::Fork([&] {
    FileLock lock = FileLock::Acquire(path);
    if (!lock.Held()) return 1;
    (void)!write(ready[1], "x", 1);
    pause();  // holds until killed
    return 0;
  });
  close(ready[1]);
  char byte = 0;
  ASSERT_EQ(read(ready[0], &byte, 1), 1);
  close(ready[0]);

  FileLock busy = FileLock::TryAcquire(path);
  EXPECT_FALSE(busy.Held());
  EXPECT_TRUE(busy.Busy());
  EXPECT_FALSE(FileLock::TryAcquire(path, LockMode::kShared).Held());

  holder.Signal(SIGKILL);
  EXPECT_EQ(holder.Wait().signal, SIGKILL);
  busy.Wait();  // the kernel let go of the dead holder's lock
  EXPECT_TRUE(busy.Held());
}

TEST_F(FileLockTest, SharedLocksCoexistAndKeepAnExclusiveOneOut) {
  const fs::path path = dir_ / "shared.lock";
  FileLock first = FileLock::Acquire(path, LockMode::kShared);
  FileLock second = FileLock::TryAcquire(path, LockMode::kShared);
  EXPECT_TRUE(first.Held());
  EXPECT_TRUE(second.Held());
  EXPECT_FALSE(FileLock::TryAcquire(path, LockMode::kExclusive).Held());
  first.Release();
  second.Release();
  EXPECT_TRUE(FileLock::TryAcquire(path, LockMode::kExclusive).Held());
  EXPECT_EQ(fs::status(path).permissions() & fs::perms::all, fs::perms::owner_read | fs::perms::owner_write);
}

TEST_F(FileLockTest, ASymbolicLinkAtTheLocksPlaceIsRefused) {
  const fs::path target = dir_ / "elsewhere";
  const fs::path path = dir_ / "link.lock";
  fs::create_symlink(target, path);
  try {
    FileLock::Acquire(path);
    FAIL() << "locked through a symbolic link";
  } catch (const std::system_error& e) {
    EXPECT_EQ(e.code().value(), ELOOP);
    EXPECT_NE(std::string(e.what()).find(path.string()), std::string::npos) << e.what();
  }
  EXPECT_FALSE(fs::exists(target));  // nothing was created where the link points
}

TEST_F(FileLockTest, RefusesWhatIsNotARegularFileOfOurs) {
  const fs::path fifo = dir_ / "fifo.lock";
  ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
  EXPECT_THROW(FileLock::Acquire(fifo), std::system_error);

  if (geteuid() != 0) GTEST_SKIP() << "only root can give a file to another user";
  const fs::path foreign = dir_ / "foreign.lock";
  FileLock::Acquire(foreign).Release();
  ASSERT_EQ(chown(foreign.c_str(), 65534, 65534), 0);
  try {
    FileLock::Acquire(foreign);
    FAIL() << "locked another user's file";
  } catch (const std::system_error& e) {
    EXPECT_EQ(e.code().value(), EPERM);
  }
}

TEST_F(FileLockTest, OpeningRulesForExistingAndNewFiles) {
  const fs::path path = dir_ / "place";
  FileLock absent = FileLock::TryAcquire(path, LockMode::kShared, LockOpen::kExisting);
  EXPECT_FALSE(absent.Held());
  EXPECT_FALSE(absent.Busy());
  EXPECT_FALSE(fs::exists(path));

  FileLock created = FileLock::TryAcquire(path, LockMode::kExclusive, LockOpen::kNew);
  EXPECT_TRUE(created.Held());
  try {
    FileLock::TryAcquire(path, LockMode::kExclusive, LockOpen::kNew);
    FAIL() << "a second new file of the same name";
  } catch (const std::system_error& e) {
    EXPECT_EQ(e.code().value(), EEXIST);
  }
  EXPECT_TRUE(FileLock::TryAcquire(path, LockMode::kShared, LockOpen::kExisting).Busy());
  created.RemoveAndRelease();
  EXPECT_FALSE(fs::exists(path));
  EXPECT_FALSE(FileLock::Acquire(path, LockMode::kShared, LockOpen::kExisting).Held());
}

// Under a umask that takes the owner's rights, a lock file made with them masked away could not be opened for
// writing by its own (non-root) owner the next time; a file that was there already keeps the mode it has.
TEST_F(FileLockTest, ANewLockFileIsTheOwnersToReadAndWriteWhateverTheUmask) {
  const fs::path made = dir_ / "made.lock";
  const mode_t old = umask(0777);
  FileLock lock = FileLock::Acquire(made);
  FileLock fresh = FileLock::TryAcquire(dir_ / "new.lock", LockMode::kExclusive, LockOpen::kNew);
  umask(old);
  EXPECT_TRUE(lock.Held());
  EXPECT_TRUE(fresh.Held());
  for (const fs::path& path : {made, dir_ / "new.lock"}) {
    struct stat info {};
    ASSERT_EQ(stat(path.c_str(), &info), 0);
    EXPECT_EQ(info.st_mode & 07777, 0600u) << path;
  }

  const fs::path shared = dir_ / "shared.lock";
  ASSERT_EQ(close(open(shared.c_str(), O_CREAT | O_WRONLY, 0644)), 0);
  ASSERT_EQ(chmod(shared.c_str(), 0644), 0);
  EXPECT_TRUE(FileLock::Acquire(shared).Held());
  EXPECT_EQ(fs::status(shared).permissions() & fs::perms::all,
            fs::perms::owner_read | fs::perms::owner_write | fs::perms::group_read | fs::perms::others_read);
}

// flock does not ask for write access: a file its owner made read-only can still be locked, and read.
TEST_F(FileLockTest, AReadOnlyFileOfOursIsLockedForReading) {
  if (geteuid() == 0) GTEST_SKIP() << "root may write any file";
  const fs::path path = dir_ / "read-only";
  ASSERT_EQ(close(open(path.c_str(), O_CREAT | O_WRONLY, 0400)), 0);
  FileLock lock = FileLock::Acquire(path, LockMode::kExclusive, LockOpen::kExisting);
  EXPECT_TRUE(lock.Held());
  EXPECT_FALSE(FileLock::TryAcquire(path, LockMode::kShared, LockOpen::kExisting).Held());
}

TEST_F(FileLockTest, AWaiterEndsUpOnTheFileAtThePathWhenTheHolderRemovesIt) {
  const fs::path path = dir_ / "removed.lock";
  FileLock holder = FileLock::Acquire(path);
  ino_t waiter_inode = 0;
  ino_t named_inode = 0;
  std::thread waiter([&] {
    FileLock lock = FileLock::Acquire(path);
    waiter_inode = InodeOf(lock.fd());
    named_inode = InodeAt(path);
  });
  holder.RemoveAndRelease();
  waiter.join();
  EXPECT_NE(waiter_inode, 0u);
  EXPECT_EQ(waiter_inode, named_inode);
}

}  // namespace
}  // namespace platform::os
