// The posting journal's file: its opening, its whole-record appends and its cut back after a failed write.

#include "download_control/journal_file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <system_error>
#include <utility>

#include "platform/base/error.h"
#include "platform/os/atomic_file.h"

namespace tessarine {
namespace {

class RealDisk final : public JournalDisk {
 public:
  ssize_t PWrite(int fd, const char* data, size_t size, off_t offset) override {
    return pwrite(fd, data, size, offset);
  }
  int DataSync(int fd) override { return fdatasync(fd); }
  int Truncate(int fd, off_t size) override { return ftruncate(fd, size); }
};

}  // namespace

JournalDisk& RealJournalDisk() {
  static RealDisk disk;
  return disk;
}

JournalFile::JournalFile(JournalFile&& other) noexcept
    : path_(std::move(other.path_)),
      disk_(other.disk_),
      fd_(std::exchange(other.fd_, -1)),
      writable_(other.writable_),
      end_(other.end_),
      broken_(other.broken_) {}

JournalFile& JournalFile::operator=(JournalFile&& other) noexcept {
  if (this != &other) {
    Close();
    path_ = std::move(other.path_);
    disk_ = other.disk_;
    fd_ = std::exchange(other.fd_, -1);
    writable_ = other.writable_;
    end_ = other.end_;
    broken_ = other.broken_;
  }
  return *this;
}

JournalFile::~JournalFile() {
  Close();
}

void JournalFile::Close() {
  if (fd_ >= 0) close(fd_);
  fd_ = -1;
}

void JournalFile::Fail(const std::string& what, int error) const {
  throw kv::Error(error, "The download's journal " + path_.string() + " " + what +
                             (error != 0 ? std::string(": ") + std::strerror(error) : std::string()));
}

JournalFile::Opened JournalFile::Open(const std::filesystem::path& path, JournalDisk& disk, std::string& content) {
  Close();
  path_ = path;
  disk_ = &disk;
  broken_ = false;
  content.clear();
  // Never through a link: whoever planted one would choose the file this run trusts and writes. O_NONBLOCK keeps
  // a FIFO at the place from blocking the open; it is refused below.
  constexpr int kFlags = O_NOFOLLOW | O_CLOEXEC | O_NONBLOCK;
  writable_ = true;
  int fd = open(path.c_str(), O_RDWR | kFlags);
  if (fd < 0 && errno == EACCES) {
    writable_ = false;
    fd = open(path.c_str(), O_RDONLY | kFlags);
  }
  if (fd < 0) {
    const int error = errno;
    if (error == ENOENT) return Opened::kMissing;
    if (error == EACCES) {
      content = std::strerror(error);
      return Opened::kUnreadable;
    }
    if (error == ELOOP) Fail("is a symbolic link; it is not followed", 0);
    Fail("cannot be opened", error);
  }
  fd_ = fd;
  struct stat info {};
  if (fstat(fd_, &info) != 0) Fail("cannot be examined", errno);
  if (!S_ISREG(info.st_mode)) {
    Close();
    Fail("is not a regular file", 0);
  }
  char buffer[1 << 16];
  for (;;) {
    const ssize_t n = read(fd_, buffer, sizeof buffer);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) {
      content = std::strerror(errno);
      Close();
      return Opened::kUnreadable;
    }
    if (n == 0) break;
    content.append(buffer, static_cast<size_t>(n));
  }
  end_ = static_cast<off_t>(content.size());
  return Opened::kOpen;
}

void JournalFile::Replace(const std::filesystem::path& path, JournalDisk& disk, std::string_view content, mode_t mode,
                          gid_t group) {
  Close();
  path_ = path;
  try {
    platform::os::ReplaceFileAtomically(path, content, mode);
  } catch (const std::system_error& e) {
    throw kv::Error(e.code().value(), "The download's journal could not be written: " + std::string(e.what()));
  }
  std::string read_back;
  if (Open(path, disk, read_back) != Opened::kOpen || !writable_) Fail("could not be opened again", EACCES);
  // Those the company file's group lets write it may write its journal too; where this user may not hand the
  // file to that group, it stays with this user's own.
  if (fchown(fd_, static_cast<uid_t>(-1), group) != 0) {
    // A group this user is not in: the file keeps this user's own group, which the company file gives nothing, so
    // that group gets nothing here either.
    if (fchmod(fd_, mode & ~static_cast<mode_t>(070)) != 0) Fail("could not be given its access", errno);
  }
}

void JournalFile::Append(std::string_view records, bool sync) {
  if (broken_) {
    Fail(
        "could not be cut back to its last whole record after a failed write; nothing more is posted until it "
        "is repaired",
        0);
  }
  if (fd_ < 0 || !writable_) Fail("cannot be written", EACCES);
  size_t done = 0;
  int error = 0;
  while (done < records.size()) {
    const ssize_t n = disk_->PWrite(fd_, records.data() + done, records.size() - done, end_ + static_cast<off_t>(done));
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) {
      error = n < 0 ? errno : EIO;
      break;
    }
    done += static_cast<size_t>(n);
  }
  if (error == 0 && sync && disk_->DataSync(fd_) != 0) error = errno;
  if (error == 0) {
    end_ += static_cast<off_t>(records.size());
    return;
  }
  // Whatever of the records reached the file goes again, so the next record starts where a whole one ended.
  if (done > 0 || sync) {
    if (disk_->Truncate(fd_, end_) != 0 || disk_->DataSync(fd_) != 0) {
      broken_ = true;
      Fail("could not be written, nor cut back to its last whole record (" + std::string(std::strerror(error)) +
               "); nothing more is posted until it is repaired",
           errno);
    }
  }
  Fail("could not be written", error);
}

}  // namespace tessarine
