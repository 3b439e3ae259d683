// The journal belongs to the company file: a download killed while QuickBooks processes an add, then the next
// one with another state folder in its environment, or reaching the same file through another path (a linked
// folder, "..", a bind mount of its folder). Every record ends once in QuickBooks and reported once.

#include <gtest/gtest.h>
#include <sys/mount.h>

#include <cerrno>
#include <cstring>
#include <filesystem>

#include "tests/e2e/download_world.h"

namespace kv::test::world {
namespace {

namespace fs = std::filesystem;

TEST_F(DownloadWorldTest, TheNextRunWithAnotherStateFolderPostsNothingTwice) {
  KillDuringAdd(true, 2);
  const ProgramOptions other = WithEnv(options_, "XDG_STATE_HOME", (company_.dir() / "other-profile").string());
  DownloadUntilNothingIsPending(4, &other);
  ExpectEveryRecordOnce();
}

TEST_F(DownloadWorldTest, TheNextRunThroughALinkedFolderPostsNothingTwice) {
  KillDuringAdd(true, 2);
  const fs::path linked = company_.dir() / "share";
  fs::create_directory_symlink(company_.dir(), linked);
  path_ = (linked / fs::path(company_.file()).filename()).string();
  DownloadUntilNothingIsPending();
  ExpectEveryRecordOnce();
}

TEST_F(DownloadWorldTest, TheNextRunThroughAPathWithDotDotPostsNothingTwice) {
  KillDuringAdd(true, 2);
  const fs::path sub = company_.dir() / "sub";
  fs::create_directory(sub);
  path_ = (sub / ".." / fs::path(company_.file()).filename()).string();
  DownloadUntilNothingIsPending();
  ExpectEveryRecordOnce();
}

TEST_F(DownloadWorldTest, ADownloadThroughALinkedFolderWhileOneRunsIsRefused) {
  const fs::path linked = company_.dir() / "share";
  fs::create_directory_symlink(company_.dir(), linked);
  QbFaults({"add ok", "add hold"});
  const fs::path held = company_.dir() / "qb" / "add-held";
  ProgramRun second;
  ProgramOptions first = options_;
  first.during = [&](pid_t) {
    if (!WaitFor([&] { return fs::exists(held); })) return;
    // The same file through another path, from another login profile.
    path_ = (linked / fs::path(company_.file()).filename()).string();
    const ProgramOptions other = WithEnv(options_, "XDG_STATE_HOME", (company_.dir() / "other-profile").string());
    second = Download(true, "HLC", &other);
    path_.clear();
    fs::remove(held);
  };
  const ProgramRun run = Download(true, "HLC", &first);
  EXPECT_EQ(run.status, 0) << run.out << run.err;
  EXPECT_EQ(second.status, 3) << second.out << second.err;
  EXPECT_NE(second.out.find("Another download into the company file"), std::string::npos) << second.out;
  DownloadUntilNothingIsPending();
  ExpectEveryRecordOnce();
}

// Unmounts what it mounted when the test ends, before the company's folder goes.
class Mounted {
 public:
  explicit Mounted(fs::path target) : target_(std::move(target)) {}
  ~Mounted() { umount2(target_.c_str(), MNT_DETACH); }
  Mounted(const Mounted&) = delete;
  Mounted& operator=(const Mounted&) = delete;

 private:
  fs::path target_;
};

TEST_F(DownloadWorldTest, TheNextRunThroughABindMountOfTheFolderPostsNothingTwice) {
  const fs::path mapped = company_.dir() / "mapped";
  fs::create_directory(mapped);
  if (mount(company_.dir().c_str(), mapped.c_str(), nullptr, MS_BIND, nullptr) != 0) {
    GTEST_SKIP() << "a bind mount cannot be made here: " << std::strerror(errno);
  }
  const Mounted unmount(mapped);
  KillDuringAdd(true, 2);
  path_ = (mapped / fs::path(company_.file()).filename()).string();
  DownloadUntilNothingIsPending();
  ExpectEveryRecordOnce();
}

}  // namespace
}  // namespace kv::test::world
