#pragma once

// One posting run per company file on this machine. Two pages that downloaded the same pending records would
// each write them into QuickBooks; the second page is refused while the first holds the lock. The lock belongs to
// the company file: a file beside it, whatever folder each process's environment names, so every run that posts
// into that file meets the same lock. It is the operating system's lock on an open file, so a run that crashes
// or is killed holds nothing any more: its file stays, unlocked, and the next run takes it.

#include <filesystem>
#include <optional>
#include <string>

#include "platform/os/file_lock.h"

namespace tessarine {

class RunLock {
 public:
  // Takes the lock of the company file, or nothing when another run holds it. The company file is named by its
  // canonical path, so a link to it or a path with "." or ".." steps is the same lock. A lock file that cannot
  // be made, that is a link, that is not a plain file or that another user owns throws kv::Error naming it.
  static std::optional<RunLock> TryTake(const std::string& company_file);

  // The lock file of a company file: hidden beside the file its links lead to.
  static std::filesystem::path PathOf(const std::string& company_file);

  RunLock(RunLock&&) noexcept = default;
  RunLock& operator=(RunLock&&) noexcept = default;
  // Removed while still locked, so that no one takes a lock on it between the two steps. A run that is killed
  // leaves the file behind, unlocked; the next run takes it.
  ~RunLock() { lock_.RemoveAndRelease(); }

 private:
  explicit RunLock(platform::os::FileLock lock) : lock_(std::move(lock)) {}

  platform::os::FileLock lock_;
};

}  // namespace tessarine
