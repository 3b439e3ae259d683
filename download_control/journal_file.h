#pragma once

// The posting journal's file: opened without following a link, appended to only at the end of its last whole
// record, and cut back there when a write fails, so that it never holds a record cut short that a later one
// would be glued to. Writes go through a JournalDisk, which a test replaces with one that fails.

#include <sys/types.h>

#include <cstddef>
#include <filesystem>
#include <string>
#include <string_view>

namespace tessarine {

// The calls the journal writes with, as the system calls of the same names answer them (-1 and errno on failure).
class JournalDisk {
 public:
  virtual ~JournalDisk() = default;
  virtual ssize_t PWrite(int fd, const char* data, size_t size, off_t offset) = 0;
  virtual int DataSync(int fd) = 0;
  virtual int Truncate(int fd, off_t size) = 0;
};
// The operating system's.
JournalDisk& RealJournalDisk();

class JournalFile {
 public:
  enum class Opened { kOpen, kMissing, kUnreadable };

  JournalFile() = default;
  JournalFile(JournalFile&& other) noexcept;
  JournalFile& operator=(JournalFile&& other) noexcept;
  ~JournalFile();
  JournalFile(const JournalFile&) = delete;
  JournalFile& operator=(const JournalFile&) = delete;

  // Opens the file for reading and writing (for reading only where it may not be written) and reads it whole
  // into content. A link, or anything but a regular file, at its place throws kv::Error naming it; a file that
  // cannot be read is kUnreadable, with the reason in content.
  Opened Open(const std::filesystem::path& path, JournalDisk& disk, std::string& content);
  // Puts content in place of the file at once (a crash leaves the old or the new one whole) and opens the new
  // one. Throws kv::Error.
  void Replace(const std::filesystem::path& path, JournalDisk& disk, std::string_view content, mode_t mode,
               gid_t group);

  // Writes whole records after the last whole one, synced when asked. A write that fails cuts the file back to
  // its last whole record and throws kv::Error saying why; when even that fails the file takes no more records.
  void Append(std::string_view records, bool sync);

  bool IsOpen() const { return fd_ >= 0; }
  bool Writable() const { return fd_ >= 0 && writable_; }
  void Close();

 private:
  [[noreturn]] void Fail(const std::string& what, int error) const;

  std::filesystem::path path_;
  JournalDisk* disk_ = nullptr;
  int fd_ = -1;
  bool writable_ = false;
  off_t end_ = 0;        // the end of the last whole record
  bool broken_ = false;  // a failed write could not be cut back
};

}  // namespace tessarine
