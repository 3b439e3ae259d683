// What the disk does to the company file's folder: it fills up while the download notes what it adds, then space
// is freed; or the company file is restored from a backup that lacks records the download added. The runs after
// it leave every record once in QuickBooks and reported once.

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/mount.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <filesystem>
#include <string>

#include "tests/e2e/download_world.h"

namespace kv::test::world {
namespace {

namespace fs = std::filesystem;

// Fills the file system that holds `folder` to its last byte with one file, whose path it returns: a write
// that reaches past the last free page is cut short there.
fs::path FillUp(const fs::path& folder) {
  const fs::path filler = folder / "filler";
  const int fd = open(filler.c_str(), O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0600);
  const std::string chunk(65536, 'f');
  for (const size_t size : {size_t{65536}, size_t{4096}, size_t{1}}) {
    while (write(fd, chunk.data(), size) > 0) {
    }
  }
  close(fd);
  return filler;
}

class SmallDiskTest : public DownloadWorldTest {
 protected:
  void SetUp() override {
    fs::create_directory(disk_);
    // A folder of the user's own, as the company file's folder is.
    if (mount("tmpfs", disk_.c_str(), "tmpfs", 0, "size=512k,mode=0755") != 0) {
      GTEST_SKIP() << "a small file system cannot be mounted here: " << std::strerror(errno);
    }
    mounted_ = true;
    const fs::path file = disk_ / fs::path(company_.file()).filename();
    fs::copy_file(company_.file(), file);
    const ProgramRun opened = Qb({"open", file.string()});
    ASSERT_EQ(opened.status, 0) << opened.out << opened.err;
    path_ = file.string();
  }
  void TearDown() override {
    if (mounted_) umount2(disk_.c_str(), MNT_DETACH);
  }

  const fs::path disk_ = company_.dir() / "disk";
  bool mounted_ = false;
};

TEST_F(SmallDiskTest, ADiskFullBeforeTheFirstNoteThenFreedPostsEveryRecordOnce) {
  const fs::path filler = FillUp(disk_);
  const ProgramRun full = Download(true);
  // The run says why it posts nothing.
  EXPECT_NE(full.out.find(JournalOf(path_).filename().string()), std::string::npos) << full.out << full.err;
  EXPECT_EQ(TransactionCount(), 0u);
  fs::remove(filler);
  const ProgramRun freed = Download(true);
  EXPECT_FALSE(ShowsBox(freed.out, "Critical", JournalOf(path_).filename().string())) << freed.out;
  DownloadUntilNothingIsPending();
  ExpectEveryRecordOnce();
}

TEST_F(SmallDiskTest, ADiskFullAfterAKilledRunThenFreedPostsEveryRecordOnce) {
  KillDuringAdd(true, 2);
  // The next note that reaches past the journal's last page is cut short there.
  const fs::path filler = FillUp(disk_);
  const std::string journal = JournalOf(path_).filename().string();
  const ProgramRun full = Download(true);
  EXPECT_NE(full.out.find(journal), std::string::npos) << full.out << full.err;
  EXPECT_EQ(TransactionCount(), 2u);
  fs::remove(filler);
  // The failed write left the journal whole: nothing in it is damaged.
  const ProgramRun freed = Download(true);
  EXPECT_FALSE(ShowsBox(freed.out, "Critical", journal)) << freed.out;
  DownloadUntilNothingIsPending();
  ExpectEveryRecordOnce();
}

TEST_F(DownloadWorldTest, ACompanyFileRestoredFromItsBackupGetsTheRecordsItLostOnce) {
  // The backup is taken while QuickBooks adds the second record, the first one reported. The service refuses the
  // reports of the others, so it still lists them when the backup is restored.
  QbFaults({"add ok", "add hold"});
  const fs::path held = company_.dir() / "qb" / "add-held";
  const fs::path backup = company_.dir() / "backup.QBW";
  ProgramOptions watched = options_;
  watched.during = [&](pid_t) {
    if (!WaitFor([&] { return fs::exists(held); })) return;
    fs::copy_file(company_.file(), backup);
    service_.QueueAnswers("kalvorupdatestatus.asp",
                          {"ERROR|5002|The site is being maintained.", "ERROR|5003|The site is being maintained.",
                           "ERROR|6001|The site is being maintained."});
    fs::remove(held);
  };
  for (size_t report = 2; report <= 4; ++report) FailReport(report);
  Download(true, "HLC", &watched);
  ASSERT_TRUE(fs::exists(backup));
  ASSERT_EQ(TransactionCount(), 4u);

  const fs::path restoring = company_.dir() / "restoring.QBW";
  fs::copy_file(backup, restoring);
  fs::rename(restoring, company_.file());
  ASSERT_EQ(TransactionCount(), 1u);
  // The user is told which records QuickBooks lost; they are posted again.
  const ProgramRun restored = Download(true);
  for (const char* id : {"5002", "5003", "6001"}) {
    EXPECT_TRUE(ShowsBox(restored.out, "Information", id)) << id << "\n" << restored.out;
  }
  DownloadUntilNothingIsPending();
  ExpectEveryRecordOnce();
}

}  // namespace
}  // namespace kv::test::world
