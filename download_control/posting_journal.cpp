#include "download_control/posting_journal.h"

#include <fcntl.h>
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <optional>
#include <sstream>

#include "common/error.h"
#include "common/text.h"
#include "platform/com/state_directory.h"

namespace tessarine {
namespace {

namespace fs = std::filesystem;

constexpr char kMagic[] = "tessarine-journal 1";
constexpr char kEntrySuffix[] = ".entry";

[[noreturn]] void Fail(const fs::path& path, const std::string& what, int error) {
  throw kv::Error(error, "The download's journal " + path.string() + " " + what + ": " + std::strerror(error));
}

// Values stay on one line of the entry; the answer, last, is taken whole.
std::string Escape(const std::string& value) {
  std::string out;
  for (char c : value) {
    if (c == '%') {
      out += "%25";
    } else if (c == '\n') {
      out += "%0A";
    } else if (c == '\r') {
      out += "%0D";
    } else {
      out += c;
    }
  }
  return out;
}

std::string Unescape(const std::string& value) {
  std::string out;
  for (size_t i = 0; i < value.size(); ++i) {
    if (value[i] == '%' && i + 2 < value.size()) {
      const std::string code = value.substr(i + 1, 2);
      out += code == "0A" ? '\n' : code == "0D" ? '\r' : '%';
      i += 2;
    } else {
      out += value[i];
    }
  }
  return out;
}

std::string Serialise(const JournalEntry& e) {
  std::string text = kMagic;
  text += "\nsite " + Escape(e.site) + "\ncompany " + Escape(e.company) + "\ntype " + Escape(e.type) + "\nids " +
          Escape(e.ids) + "\nrecovery " + (e.recovery ? "1" : "0") + "\nanswered " + (e.answered ? "1" : "0") +
          "\nanswer\n";
  text += e.answer;
  return text;
}

std::optional<JournalEntry> Parse(const std::string& id, const std::string& text) {
  std::istringstream in(text);
  std::string line;
  if (!std::getline(in, line) || line != kMagic) return std::nullopt;
  JournalEntry e;
  e.message_set_id = id;
  bool complete = false;
  while (std::getline(in, line)) {
    if (line == "answer") {
      complete = true;
      break;
    }
    const size_t blank = line.find(' ');
    if (blank == std::string::npos) return std::nullopt;
    const std::string key = line.substr(0, blank);
    const std::string value = Unescape(line.substr(blank + 1));
    if (key == "site") e.site = value;
    if (key == "company") e.company = value;
    if (key == "type") e.type = value;
    if (key == "ids") e.ids = value;
    if (key == "recovery") e.recovery = value == "1";
    if (key == "answered") e.answered = value == "1";
  }
  if (!complete) return std::nullopt;
  const std::streamoff at = in.tellg();
  e.answer = at < 0 ? std::string() : text.substr(static_cast<size_t>(at));
  return e;
}

void SyncFolder(const fs::path& folder) {
  const int fd = open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (fd < 0) Fail(folder, "could not be opened", errno);
  const int rc = fsync(fd);
  const int error = errno;
  close(fd);
  if (rc != 0) Fail(folder, "could not be synced", error);
}

std::string HomeFolder() {
  if (const char* home = std::getenv("HOME"); home != nullptr && *home != '\0') return home;
  if (const passwd* entry = getpwuid(getuid()); entry != nullptr && entry->pw_dir != nullptr) return entry->pw_dir;
  return "/";
}

}  // namespace

std::string JournalSiteKey(const std::string& site_code) {
  return kv::ToUpperAscii(kv::TrimBlanks(site_code));
}

std::string JournalCompanyKey(const std::string& company_file) {
  std::error_code ec;
  const fs::path absolute = fs::absolute(company_file, ec);
  if (ec) return company_file;
  const fs::path canonical = fs::weakly_canonical(absolute, ec);
  return ec ? absolute.lexically_normal().string() : canonical.string();
}

fs::path PostingJournal::DefaultFolder() {
  if (const char* xdg = std::getenv("XDG_STATE_HOME"); xdg != nullptr && fs::path(xdg).is_absolute()) {
    return fs::path(xdg) / "tessarine";
  }
  return fs::path(HomeFolder()) / ".local" / "state" / "tessarine";
}

void PostingJournal::CheckFolder(const fs::path& folder) {
  struct stat st {};
  if (lstat(folder.c_str(), &st) != 0) {
    if (errno != ENOENT) Fail(folder, "could not be examined", errno);
    try {
      platform::com::CreatePrivateDirectory(folder);
    } catch (const fs::filesystem_error& e) {
      Fail(folder, "could not be made", e.code().value());
    }
    if (lstat(folder.c_str(), &st) != 0) Fail(folder, "could not be examined", errno);
  }
  const std::string name = "The folder " + folder.string() + ", where the download notes what it adds to QuickBooks,";
  if (S_ISLNK(st.st_mode)) throw kv::Error(EPERM, name + " is a symbolic link; it is not used.");
  if (!S_ISDIR(st.st_mode)) throw kv::Error(ENOTDIR, name + " is not a folder; it is not used.");
  if (st.st_uid != geteuid()) {
    throw kv::Error(EPERM, name + " belongs to another user (uid " + std::to_string(st.st_uid) + "); it is not used.");
  }
  if ((st.st_mode & (S_IWGRP | S_IWOTH)) != 0) {
    throw kv::Error(EPERM, name + " may be written by other users; it is not used. Make it private (chmod 700).");
  }
  // Site codes and company paths are nobody else's business.
  if ((st.st_mode & 077) != 0) chmod(folder.c_str(), 0700);
}

PostingJournal::PostingJournal(fs::path folder) : folder_(std::move(folder)) {
  CheckFolder(folder_);
}

void PostingJournal::SetRun(const std::string& site_code, const std::string& company_file) {
  site_ = JournalSiteKey(site_code);
  company_ = JournalCompanyKey(company_file);
}

JournalEntry PostingJournal::Note(const std::string& message_set_id, const std::string& type, const std::string& ids,
                                  bool recovery) {
  JournalEntry e;
  e.message_set_id = message_set_id;
  e.site = site_;
  e.company = company_;
  e.type = type;
  e.ids = ids;
  e.recovery = recovery;
  Write(e);
  return e;
}

void PostingJournal::NoteAnswer(JournalEntry& entry, const std::string& answer) {
  entry.answered = true;
  entry.answer = answer;
  Write(entry);
}

void PostingJournal::Remove(const JournalEntry& entry) {
  // Not synced: an entry that comes back after a crash names a record the service no longer lists, and the
  // next run drops it.
  unlink((folder_ / (entry.message_set_id + kEntrySuffix)).c_str());
}

void PostingJournal::Write(const JournalEntry& entry) {
  const fs::path temp = folder_ / (entry.message_set_id + ".tmp");
  const fs::path final_path = folder_ / (entry.message_set_id + kEntrySuffix);
  const std::string text = Serialise(entry);
  const int fd = open(temp.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_NOFOLLOW | O_CLOEXEC, 0600);
  if (fd < 0) Fail(temp, "could not be written", errno);
  size_t done = 0;
  while (done < text.size()) {
    const ssize_t n = write(fd, text.data() + done, text.size() - done);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) {
      const int error = n < 0 ? errno : EIO;
      close(fd);
      unlink(temp.c_str());
      Fail(temp, "could not be written", error);
    }
    done += static_cast<size_t>(n);
  }
  if (fsync(fd) != 0) {
    const int error = errno;
    close(fd);
    unlink(temp.c_str());
    Fail(temp, "could not be synced", error);
  }
  close(fd);
  if (rename(temp.c_str(), final_path.c_str()) != 0) {
    const int error = errno;
    unlink(temp.c_str());
    Fail(final_path, "could not be written", error);
  }
  SyncFolder(folder_);
}

std::vector<JournalEntry> PostingJournal::Entries() const {
  std::vector<JournalEntry> entries;
  std::error_code ec;
  for (const auto& file : fs::directory_iterator(folder_, ec)) {
    const std::string name = file.path().filename().string();
    if (!name.ends_with(kEntrySuffix) || !file.is_regular_file(ec)) continue;
    std::ifstream in(file.path(), std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    auto entry = Parse(name.substr(0, name.size() - std::strlen(kEntrySuffix)), text.str());
    if (entry && entry->site == site_ && entry->company == company_) entries.push_back(std::move(*entry));
  }
  std::sort(entries.begin(), entries.end(),
            [](const JournalEntry& a, const JournalEntry& b) { return a.message_set_id < b.message_set_id; });
  return entries;
}

}  // namespace tessarine
