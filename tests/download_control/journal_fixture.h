#pragma once

// What the journal's damage and write tests share: a company file of their own, a clock they set, a journal of
// three notes, and a disk that fails when told.

#include <gtest/gtest.h>
#include <stdlib.h>
#include <sys/mount.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "download_control/journal_codec.h"
#include "download_control/posting_journal.h"
#include "platform/base/error.h"

namespace tessarine::test {

namespace fs = std::filesystem;

inline std::string Slurp(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  std::stringstream out;
  out << in.rdbuf();
  return out.str();
}

inline void Spill(const fs::path& path, const std::string& content) {
  std::ofstream(path, std::ios::binary | std::ios::trunc) << content;
}

inline std::vector<std::string> Lines(const std::string& content) {
  std::vector<std::string> lines;
  std::string line;
  std::istringstream in(content);
  while (std::getline(in, line)) lines.push_back(line + "\n");
  return lines;
}

inline std::string Join(const std::vector<std::string>& lines) {
  std::string joined;
  for (const std::string& line : lines) joined += line;
  return joined;
}

inline std::vector<std::string> IdsOf(const PostingJournal& journal) {
  std::vector<std::string> ids;
  for (const JournalEntry& e : journal.Entries()) ids.push_back(e.record_id);
  return ids;
}

// Fails a write once after a number of bytes, as a disk that fills up does; or fails the cut back or the sync.
class FailingDisk final : public JournalDisk {
 public:
  ssize_t PWrite(int fd, const char* data, size_t size, off_t offset) override {
    if (budget_ >= 0) {
      if (budget_ == 0) {
        budget_ = -1;
        errno = ENOSPC;
        return -1;
      }
      size = std::min(size, static_cast<size_t>(budget_));
      budget_ -= static_cast<ssize_t>(size);
    }
    return pwrite(fd, data, size, offset);
  }
  int DataSync(int fd) override {
    if (fail_sync_) {
      fail_sync_ = false;
      errno = EIO;
      return -1;
    }
    return fdatasync(fd);
  }
  int Truncate(int fd, off_t size) override {
    if (fail_truncate_) {
      errno = EIO;
      return -1;
    }
    return ftruncate(fd, size);
  }

  ssize_t budget_ = -1;  // bytes the next writes may still put down before one fails; -1 no limit
  bool fail_sync_ = false;
  bool fail_truncate_ = false;
};

class JournalTest : public ::testing::Test {
 protected:
  JournalTest() {
    std::string pattern = (fs::temp_directory_path() / "kv-damage-XXXXXX").string();
    if (mkdtemp(pattern.data()) != nullptr) dir_ = pattern;
    company_ = (dir_ / "Acme.QBW").string();
    std::ofstream(company_) << "company";
    journal_path_ = PostingJournal::PathOf(company_);
  }
  ~JournalTest() override {
    if (!mounted_.empty()) umount2(mounted_.c_str(), MNT_DETACH);
    std::error_code ec;
    fs::remove_all(dir_, ec);
  }

  JournalSeams Seams(FailingDisk* disk = nullptr) {
    JournalSeams seams;
    seams.disk = disk;
    seams.now = [this] { return now_; };
    return seams;
  }

  // Three records noted at the times 1000, 2000 and 3000; the header's time is 500.
  void WriteThree() {
    now_ = 500;
    PostingJournal journal(company_, Seams());
    now_ = 1000;
    journal.Note("ACME", RecordType::kTime, "A", "", "KV1", "<a/>");
    now_ = 2000;
    journal.Note("ACME", RecordType::kTime, "B", "", "KV2", "<b/>");
    now_ = 3000;
    journal.Note("ACME", RecordType::kTime, "C", "", "KV3", "<c/>");
    now_ = 4000;
  }

  fs::path dir_;
  std::string company_;
  fs::path journal_path_;
  fs::path mounted_;
  int64_t now_ = 1000;
};

}  // namespace tessarine::test
