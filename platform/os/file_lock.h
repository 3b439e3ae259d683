#pragma once

// Advisory locks between processes (flock), held for the lifetime of a FileLock. The kernel lets go of a lock
// when its holder ends, however it ends, so a crashed process never leaves a lock behind.
//
// The lock file is opened without following a symbolic link at its place, close-on-exec, and must be a regular
// file of the user running us: in a shared folder another user could otherwise steer our lock (and what we write
// through it) to a file of their choosing. A holder may remove or replace its lock file while it holds it; a lock
// had on a file no longer at its path is dropped and taken again on the file that is there now.
//
// Errors are std::system_error naming the file.

#include <sys/types.h>

#include <filesystem>

namespace platform::os {

enum class LockMode { kShared, kExclusive };

// How the lock file is opened.
enum class LockOpen {
  kCreate,    // created (0600, whatever the umask) when missing
  kExisting,  // only when it exists: a missing file gives an unheld lock
  kNew,       // created and must not exist yet
};

class FileLock {
 public:
  // Blocks until the lock is held (or, kExisting, the file is gone).
  static FileLock Acquire(const std::filesystem::path& path, LockMode mode = LockMode::kExclusive,
                          LockOpen open = LockOpen::kCreate);
  // Does not block: an unheld lock when another process holds a conflicting one. That lock keeps the file open,
  // so that Wait can still wait for that very file.
  static FileLock TryAcquire(const std::filesystem::path& path, LockMode mode = LockMode::kExclusive,
                             LockOpen open = LockOpen::kCreate);

  FileLock() = default;
  FileLock(FileLock&& other) noexcept;
  FileLock& operator=(FileLock&& other) noexcept;
  ~FileLock();
  FileLock(const FileLock&) = delete;
  FileLock& operator=(const FileLock&) = delete;

  bool Held() const { return held_; }
  // True when TryAcquire found the file locked by another process.
  bool Busy() const { return fd_ >= 0 && !held_; }
  // The open lock file, for reading or rewriting it in place while held; -1 when none. Open for reading only when
  // the file is not writable to us.
  int fd() const { return fd_; }
  const std::filesystem::path& path() const { return path_; }

  // For a busy lock: blocks until the other holder lets go of this file, then holds it.
  void Wait();
  // Removes the file while the lock is still held, so that no one takes a lock on it in between, then releases.
  void RemoveAndRelease();
  void Release();

 private:
  FileLock(int fd, std::filesystem::path path, LockMode mode, bool held);
  static FileLock Take(const std::filesystem::path& path, LockMode mode, LockOpen open, bool wait);

  int fd_ = -1;
  bool held_ = false;
  LockMode mode_ = LockMode::kExclusive;
  std::filesystem::path path_;
};

}  // namespace platform::os
