#include "download_control/run_lock.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <string>

#include "common/error.h"

namespace tessarine {
namespace {

namespace fs = std::filesystem;

// The file the path leads to: links and "." or ".." steps lead to the same lock. Not its inode, which changes
// whenever a program saves the file by writing a new one in its place.
fs::path CompanyIdentity(const std::string& company_file) {
  std::error_code ec;
  const fs::path absolute = fs::absolute(company_file, ec);
  if (ec) return company_file;
  const fs::path canonical = fs::weakly_canonical(absolute, ec);
  return ec ? absolute.lexically_normal() : canonical;
}

[[noreturn]] void Refuse(const fs::path& path, const std::string& why, int error = EPERM) {
  throw kv::Error(error, "The lock file " + path.string() + " " + why);
}

}  // namespace

fs::path RunLock::PathOf(const std::string& company_file) {
  const fs::path company = CompanyIdentity(company_file);
  return company.parent_path() / ("." + company.filename().string() + ".tessarine-lock");
}

std::optional<RunLock> RunLock::TryTake(const std::string& company_file) {
  const fs::path path = PathOf(company_file);
  for (;;) {
    // Never through a link: one planted where the lock goes would make this run create or lock a file of
    // someone else's choosing.
    const int fd = open(path.c_str(), O_RDWR | O_CREAT | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC, 0600);
    if (fd < 0) {
      const int error = errno;
      if (error == ELOOP) Refuse(path, "is a symbolic link; it is not followed, so no download can run.", error);
      Refuse(path, std::string("could not be opened: ") + std::strerror(error), error);
    }
    struct stat held {};
    if (fstat(fd, &held) != 0) {
      const int error = errno;
      close(fd);
      Refuse(path, std::string("could not be examined: ") + std::strerror(error), error);
    }
    // A file planted by another user could be held locked by them for ever, or swapped under this run.
    if (!S_ISREG(held.st_mode)) {
      close(fd);
      Refuse(path, "is not a plain file; no download can run until it is removed.");
    }
    if (held.st_uid != geteuid()) {
      close(fd);
      Refuse(path, "belongs to another user (uid " + std::to_string(held.st_uid) +
                       "); no download can run until it is removed.");
    }
    int rc;
    do {
      rc = flock(fd, LOCK_EX | LOCK_NB);
    } while (rc != 0 && errno == EINTR);
    if (rc != 0) {
      const int error = errno;
      close(fd);
      if (error == EWOULDBLOCK) return std::nullopt;
      Refuse(path, std::string("could not be locked: ") + std::strerror(error), error);
    }
    // A run that ended meanwhile removed the file it held: this lock is on a file no one else will open, so
    // take the one that is there now.
    struct stat named {};
    if (lstat(path.c_str(), &named) == 0 && held.st_dev == named.st_dev && held.st_ino == named.st_ino) {
      return RunLock(fd, path);
    }
    close(fd);
  }
}

RunLock::RunLock(RunLock&& other) noexcept : fd_(other.fd_), path_(std::move(other.path_)) {
  other.fd_ = -1;
}

RunLock& RunLock::operator=(RunLock&& other) noexcept {
  if (this != &other) {
    Release();
    fd_ = other.fd_;
    path_ = std::move(other.path_);
    other.fd_ = -1;
  }
  return *this;
}

RunLock::~RunLock() {
  Release();
}

void RunLock::Release() {
  if (fd_ < 0) return;
  // Removed while still locked, so that no one takes a lock on it between the two steps. A run that is killed
  // leaves the file behind, unlocked; the next run takes it.
  unlink(path_.c_str());
  close(fd_);
  fd_ = -1;
}

}  // namespace tessarine
