// Advisory file locks on lock files opened without following links.

#include "platform/os/file_lock.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <system_error>
#include <utility>

namespace platform::os {
namespace {

[[noreturn]] void Fail(int error, const std::string& what, const std::filesystem::path& path) {
  throw std::system_error(error, std::generic_category(), what + " " + path.string());
}

// Opens the lock file; -1 when it is missing and only an existing one was asked for.
int OpenLockFile(const std::filesystem::path& path, LockOpen open_as) {
  // O_NONBLOCK keeps a FIFO planted at the place from blocking the open; it is refused below.
  const int flags = O_RDWR | O_NOFOLLOW | O_CLOEXEC | O_NONBLOCK;
  int fd = -1;
  bool created = false;
  while (fd < 0) {
    // Made with O_EXCL first, so that we know whether the file is ours to give its mode.
    if (open_as != LockOpen::kExisting) {
      fd = open(path.c_str(), flags | O_CREAT | O_EXCL, 0600);
      created = fd >= 0;
      if (fd >= 0 || errno != EEXIST || open_as == LockOpen::kNew) break;
    }
    fd = open(path.c_str(), flags);
    // A file we may only read can still be locked: flock does not ask for write access.
    if (fd < 0 && errno == EACCES) fd = open(path.c_str(), (flags & ~O_RDWR) | O_RDONLY);
    // Removed by its holder between the two opens: made anew on the next round.
    if (fd < 0 && (errno != ENOENT || open_as == LockOpen::kExisting)) break;
  }
  if (fd < 0) {
    const int error = errno;
    if (error == ENOENT && open_as == LockOpen::kExisting) return -1;
    if (error == ELOOP) Fail(error, "refusing to lock the symbolic link", path);
    Fail(error, "cannot open the lock file", path);
  }
  struct stat info {};
  if (fstat(fd, &info) != 0) {
    const int error = errno;
    close(fd);
    Fail(error, "cannot examine the lock file", path);
  }
  if (!S_ISREG(info.st_mode)) {
    close(fd);
    Fail(EINVAL, "refusing to lock what is not a regular file:", path);
  }
  if (info.st_uid != geteuid()) {
    close(fd);
    Fail(EPERM, "refusing to lock the file of another user:", path);
  }
  // open() applies the umask: under a strict one the new file could not be opened for writing again.
  if (created) fchmod(fd, 0600);
  fcntl(fd, F_SETFL, fcntl(fd, F_GETFL) & ~O_NONBLOCK);
  return fd;
}

// 0 when locked, EWOULDBLOCK when busy and not waiting, else the error.
int Lock(int fd, LockMode mode, bool wait) {
  const int operation = (mode == LockMode::kExclusive ? LOCK_EX : LOCK_SH) | (wait ? 0 : LOCK_NB);
  while (flock(fd, operation) != 0) {
    if (errno != EINTR) return errno;
  }
  return 0;
}

// Whether the path still names the open file: a holder may have removed or replaced it meanwhile.
bool StillNamed(int fd, const std::filesystem::path& path) {
  struct stat held {};
  struct stat named {};
  return fstat(fd, &held) == 0 && lstat(path.c_str(), &named) == 0 && held.st_dev == named.st_dev &&
         held.st_ino == named.st_ino;
}

}  // namespace

FileLock::FileLock(int fd, std::filesystem::path path, LockMode mode, bool held)
    : fd_(fd), held_(held), mode_(mode), path_(std::move(path)) {}

FileLock FileLock::Take(const std::filesystem::path& path, LockMode mode, LockOpen open_as, bool wait) {
  while (true) {
    const int fd = OpenLockFile(path, open_as);
    if (fd < 0) return FileLock();
    const int error = Lock(fd, mode, wait);
    if (error == EWOULDBLOCK) return FileLock(fd, path, mode, false);
    if (error != 0) {
      close(fd);
      Fail(error, "cannot lock", path);
    }
    if (StillNamed(fd, path)) return FileLock(fd, path, mode, true);
    close(fd);
    // A file made to be new that is gone already was removed by another process: that is no reason to wait.
    if (open_as == LockOpen::kNew) Fail(ENOENT, "the new lock file vanished:", path);
  }
}

FileLock FileLock::Acquire(const std::filesystem::path& path, LockMode mode, LockOpen open) {
  return Take(path, mode, open, true);
}

FileLock FileLock::TryAcquire(const std::filesystem::path& path, LockMode mode, LockOpen open) {
  return Take(path, mode, open, false);
}

FileLock::FileLock(FileLock&& other) noexcept
    : fd_(std::exchange(other.fd_, -1)),
      held_(std::exchange(other.held_, false)),
      mode_(other.mode_),
      path_(std::move(other.path_)) {}

FileLock& FileLock::operator=(FileLock&& other) noexcept {
  if (this != &other) {
    Release();
    fd_ = std::exchange(other.fd_, -1);
    held_ = std::exchange(other.held_, false);
    mode_ = other.mode_;
    path_ = std::move(other.path_);
  }
  return *this;
}

FileLock::~FileLock() {
  Release();
}

void FileLock::Wait() {
  if (fd_ < 0 || held_) return;
  if (const int error = Lock(fd_, mode_, true); error != 0) Fail(error, "cannot lock", path_);
  held_ = true;
}

void FileLock::RemoveAndRelease() {
  if (held_ && StillNamed(fd_, path_)) unlink(path_.c_str());
  Release();
}

void FileLock::Release() {
  if (fd_ >= 0) close(std::exchange(fd_, -1));
  held_ = false;
}

}  // namespace platform::os
