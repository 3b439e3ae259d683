#include "download_control/run_lock.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "common/error.h"
#include "common/text.h"

namespace tessarine {
namespace {

namespace fs = std::filesystem;

// FNV-1a: the name must be the same for every build and process that may run side by side.
uint64_t StableHash(const std::string& text) {
  uint64_t hash = 14695981039346656037ull;
  for (unsigned char c : text) {
    hash ^= c;
    hash *= 1099511628211ull;
  }
  return hash;
}

// The file's canonical path: links and "." or ".." steps lead to the same lock. Not its inode, which changes
// whenever a program saves the file by writing a new one in its place.
std::string CompanyIdentity(const std::string& company_file) {
  std::error_code ec;
  const fs::path absolute = fs::absolute(company_file, ec);
  if (ec) return company_file;
  const fs::path canonical = fs::weakly_canonical(absolute, ec);
  return ec ? absolute.lexically_normal().string() : canonical.string();
}

bool IsFolder(const char* path) {
  std::error_code ec;
  return path != nullptr && *path != '\0' && fs::is_directory(path, ec);
}

}  // namespace

fs::path RunLock::Folder() {
  if (const char* own = std::getenv("KV_RUN_LOCK_DIR"); own != nullptr && *own != '\0') {
    std::error_code ec;
    fs::create_directories(own, ec);
    return own;
  }
  if (const char* runtime = std::getenv("XDG_RUNTIME_DIR"); IsFolder(runtime)) return runtime;
  std::error_code ec;
  const fs::path temp = fs::temp_directory_path(ec);
  return ec ? fs::path("/tmp") : temp;
}

fs::path RunLock::PathOf(const std::string& site_code, const std::string& company_file) {
  // Site codes are compared as the service compares them, without regard to letter case or blanks around them.
  const std::string key = kv::ToUpperAscii(kv::TrimBlanks(site_code)) + "\n" + CompanyIdentity(company_file);
  char name[96];
  std::snprintf(name, sizeof name, "tessarine-%u-%016llx.lock", static_cast<unsigned>(getuid()),
                static_cast<unsigned long long>(StableHash(key)));
  return Folder() / name;
}

std::optional<RunLock> RunLock::TryTake(const std::string& site_code, const std::string& company_file) {
  const fs::path path = PathOf(site_code, company_file);
  for (;;) {
    const int fd = open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0600);
    if (fd < 0) {
      const int error = errno;
      throw kv::Error(error, "The lock file " + path.string() + " could not be opened: " + std::strerror(error));
    }
    int rc;
    do {
      rc = flock(fd, LOCK_EX | LOCK_NB);
    } while (rc != 0 && errno == EINTR);
    if (rc != 0) {
      const int error = errno;
      close(fd);
      if (error == EWOULDBLOCK) return std::nullopt;
      throw kv::Error(error, "The lock file " + path.string() + " could not be locked: " + std::strerror(error));
    }
    // A run that ended meanwhile removed the file it held: this lock is on a file no one else will open, so
    // take the one that is there now.
    struct stat held {};
    struct stat named {};
    if (fstat(fd, &held) == 0 && stat(path.c_str(), &named) == 0 && held.st_dev == named.st_dev &&
        held.st_ino == named.st_ino) {
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
