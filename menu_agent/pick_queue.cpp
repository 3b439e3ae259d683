#include "menu_agent/pick_queue.h"

#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <charconv>
#include <iostream>
#include <map>
#include <string>
#include <system_error>

#include "common/error.h"
#include "platform/com/state_directory.h"

namespace corvalink {
namespace {

// Places are named with a fixed width, so that the queue folder lists them in order.
constexpr size_t kPlaceDigits = 20;

void LockWaiting(int fd, int operation) {
  while (flock(fd, operation) != 0 && errno == EINTR) {
  }
}

class GuardLock {
 public:
  GuardLock() {
    fd_ = open(PickLockPath().c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0600);
    if (fd_ >= 0) LockWaiting(fd_, LOCK_EX);
  }
  ~GuardLock() {
    if (fd_ >= 0) close(fd_);
  }
  GuardLock(const GuardLock&) = delete;
  GuardLock& operator=(const GuardLock&) = delete;
  bool Held() const { return fd_ >= 0; }

 private:
  int fd_ = -1;
};

std::string PlaceName(uint64_t place) {
  std::string digits = std::to_string(place);
  return std::string(kPlaceDigits - std::min(kPlaceDigits, digits.size()), '0') + digits;
}

// The places in the queue now, in order; names that are no place are not the queue's.
std::map<uint64_t, std::filesystem::path> Places() {
  std::map<uint64_t, std::filesystem::path> places;
  std::error_code ec;
  for (std::filesystem::directory_iterator it(PickQueuePath(), ec), end; !ec && it != end; it.increment(ec)) {
    const std::string name = it->path().filename().string();
    uint64_t place = 0;
    const auto [last, error] = std::from_chars(name.data(), name.data() + name.size(), place);
    if (error == std::errc() && last == name.data() + name.size() && name.size() == kPlaceDigits) {
      places.emplace(place, it->path());
    }
  }
  return places;
}

// The file of a pick ahead, opened, while its process still holds it; -1 once that pick has ended. A file
// nobody holds was left by a process that died: it is removed, so that no later pick looks at it again.
int OpenWhileHeld(const std::filesystem::path& file) {
  const int fd = open(file.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) return -1;
  if (flock(fd, LOCK_SH | LOCK_NB) == 0) {
    unlink(file.c_str());
    close(fd);
    return -1;
  }
  return fd;
}

}  // namespace

std::filesystem::path PickLockPath() {
  return platform::com::StateDirectory() / "corvalink-pick.lock";
}

std::filesystem::path PickQueuePath() {
  return platform::com::StateDirectory() / "corvalink-picks";
}

PickTurn::PickTurn() {
  // The queue lives in the stand-in's state folder, which must be this user's alone. One another user could
  // change is not used: the pick goes at once, as without a usable folder.
  try {
    platform::com::OpenPrivateFolder(platform::com::StateDirectory());
    platform::com::OpenPrivateFolder(PickQueuePath());
  } catch (const kv::Error& e) {
    std::cerr << "corvalink: " << e.description() << "\n";
    return;
  }
  uint64_t place = 0;
  {
    GuardLock guard;
    if (!guard.Held()) return;
    const auto places = Places();
    place = places.empty() ? 1 : places.rbegin()->first + 1;
    const std::filesystem::path file = PickQueuePath() / PlaceName(place);
    fd_ = open(file.c_str(), O_RDWR | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
    if (fd_ < 0) return;
    // Taken before the guard goes: no one may see the new place unheld and take it for a dead one.
    if (flock(fd_, LOCK_EX | LOCK_NB) != 0) {
      unlink(file.c_str());
      close(fd_);
      fd_ = -1;
      return;
    }
    file_ = file;
  }
  WaitForTurn(place);
}

PickTurn::~PickTurn() {
  if (fd_ < 0) return;
  // The name goes before the lock, so that the place is never seen unheld.
  unlink(file_.c_str());
  close(fd_);
}

void PickTurn::WaitForTurn(uint64_t place) const {
  while (true) {
    int ahead = -1;
    {
      GuardLock guard;
      for (const auto& [other, file] : Places()) {
        if (other >= place) break;
        ahead = OpenWhileHeld(file);
        if (ahead >= 0) break;
      }
    }
    if (ahead < 0) return;
    // Sleeps until the pick ahead ends: its process lets go of the file when the pick is over or when it dies.
    LockWaiting(ahead, LOCK_SH);
    close(ahead);
  }
}

}  // namespace corvalink
