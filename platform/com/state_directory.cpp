// Finding the stand-in's state folder and opening a private folder only when its owner and mode are safe.

#include "platform/com/state_directory.h"

#include <errno.h>
#include <fcntl.h>
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <iostream>
#include <string>

#include "platform/base/error.h"

namespace platform::com {
namespace {

std::string Variable(const char* name) {
  const char* value = std::getenv(name);
  return value ? std::string(value) : std::string();
}

std::filesystem::path HomeDirectory() {
  std::string home = Variable("HOME");
  if (home.empty()) {
    // A service account started without HOME still has a home in the password database.
    if (const passwd* entry = getpwuid(getuid()); entry && entry->pw_dir) home = entry->pw_dir;
  }
  return home.empty() ? std::filesystem::path("/") : std::filesystem::path(home);
}

kv::Error Refused(const std::filesystem::path& dir, const std::string& why) {
  return kv::Error(kErrPermissionDenied, "The state folder " + dir.string() + " " + why +
                                             "; it is not used. Remove it, or make it this user's own (mode 0700).");
}

kv::Error Failed(int err, const std::string& what, const std::filesystem::path& dir) {
  return kv::Error(err, "The state folder " + dir.string() + " could not be " + what + ": " + std::strerror(err));
}

std::string ModeText(mode_t mode) {
  char text[8];
  std::snprintf(text, sizeof text, "%04o", static_cast<unsigned>(mode & 07777));
  return text;
}

class Descriptor {
 public:
  explicit Descriptor(int fd) : fd_(fd) {}
  ~Descriptor() {
    if (fd_ >= 0) close(fd_);
  }
  Descriptor(const Descriptor&) = delete;
  Descriptor& operator=(const Descriptor&) = delete;
  int get() const { return fd_; }

 private:
  int fd_;
};

// Checks the folder through one open descriptor, so that what is checked is what gets tightened. A folder this
// call has just made is tightened without a notice: mkdir applied the umask, the user chose nothing.
void CheckFolder(const std::filesystem::path& dir, bool justCreated) {
  struct stat info {};
  if (lstat(dir.c_str(), &info) < 0) throw Failed(errno, "read", dir);
  const uid_t self = geteuid();
  // A link another user placed could be pointed elsewhere at any moment, whatever it names now.
  if (S_ISLNK(info.st_mode) && info.st_uid != self && info.st_uid != 0) {
    throw Refused(dir, "is a link that belongs to another user (uid " + std::to_string(info.st_uid) + ")");
  }
  Descriptor fd(open(dir.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
  if (fd.get() < 0) {
    if (errno == ENOTDIR) throw Refused(dir, "is not a folder");
    throw Failed(errno, "opened", dir);
  }
  if (fstat(fd.get(), &info) < 0) throw Failed(errno, "read", dir);
  if (info.st_uid != self) {
    throw Refused(
        dir, "belongs to another user (uid " + std::to_string(info.st_uid) + ", mode " + ModeText(info.st_mode) + ")");
  }
  if ((info.st_mode & 07777) == kPrivateFolderMode) return;
  // What others could write into it while it was open is not ours to trust, so the folder is not taken back.
  if (!justCreated && (info.st_mode & (S_IWGRP | S_IWOTH)) != 0) {
    throw Refused(dir, "may be written by other users (mode " + ModeText(info.st_mode) + ")");
  }
  if (fchmod(fd.get(), kPrivateFolderMode) < 0) {
    throw Refused(dir, "is open to other users (mode " + ModeText(info.st_mode) +
                           ") and could not be tightened: " + std::strerror(errno));
  }
  if (!justCreated && (info.st_mode & 077) != 0) {
    std::cerr << "Notice: the state folder " << dir.string() << " was open to other users (mode "
              << ModeText(info.st_mode) << "); it is now this user's only (mode 0700).\n";
  }
}

}  // namespace

std::filesystem::path StateDirectory() {
  if (std::string own = Variable("QB_STANDIN_HOME"); !own.empty()) return own;
  if (std::filesystem::path xdg = Variable("XDG_STATE_HOME"); !xdg.empty() && xdg.is_absolute()) {
    return xdg / "qb-standin";
  }
  return HomeDirectory() / ".local" / "state" / "qb-standin";
}

std::filesystem::path OpenPrivateFolder(const std::filesystem::path& dir) {
  // "/x/state/" names the folder "/x/state", not a parent to create before it.
  const std::filesystem::path folder = dir.has_filename() ? dir : dir.parent_path();
  if (folder.has_parent_path() && folder.parent_path() != folder) {
    std::error_code ec;
    std::filesystem::create_directories(folder.parent_path(), ec);
    if (ec) throw Failed(ec.value(), "created", dir);
  }
  bool created = false;
  if (mkdir(folder.c_str(), kPrivateFolderMode) == 0) {
    created = true;
  } else if (errno != EEXIST) {
    throw Failed(errno, "created", dir);
  }
  CheckFolder(folder, created);
  return dir;
}

bool CheckPrivateFolder(const std::filesystem::path& dir) {
  struct stat info {};
  if (lstat(dir.c_str(), &info) < 0 && errno == ENOENT) return false;
  CheckFolder(dir, false);
  return true;
}

}  // namespace platform::com
