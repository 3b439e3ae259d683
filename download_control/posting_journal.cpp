#include "download_control/posting_journal.h"

#include <fcntl.h>
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <optional>
#include <random>
#include <set>
#include <sstream>
#include <system_error>

#include "platform/base/error.h"
#include "platform/base/text.h"
#include "platform/com/state_directory.h"
#include "platform/os/atomic_file.h"

namespace tessarine {
namespace {

namespace fs = std::filesystem;

constexpr char kMagic[] = "tessarine-journal 2";
constexpr char kRunSuffix[] = ".journal";

[[noreturn]] void Fail(const fs::path& path, const std::string& what, int error) {
  throw kv::Error(error, "The download's journal " + path.string() + " " + what + ": " + std::strerror(error));
}

// Values stay one word of one line; the answer is counted in bytes instead.
std::string Escape(const std::string& value) {
  std::string out;
  for (char c : value) {
    if (c == '%') {
      out += "%25";
    } else if (c == '\n') {
      out += "%0A";
    } else if (c == '\r') {
      out += "%0D";
    } else if (c == ' ') {
      out += "%20";
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
      out += code == "0A" ? '\n' : code == "0D" ? '\r' : code == "20" ? ' ' : '%';
      i += 2;
    } else {
      out += value[i];
    }
  }
  return out;
}

// One run file's records, replayed into the entries they leave; a record cut short ends the replay.
struct RunFile {
  std::string site;
  std::string company;
  std::vector<JournalEntry> noted;  // in the order noted
  std::set<std::string> done;
};

std::optional<RunFile> ReadRunFile(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  std::string line;
  if (!std::getline(in, line) || line != kMagic) return std::nullopt;
  RunFile file;
  if (!std::getline(in, line) || !line.starts_with("site ")) return std::nullopt;
  file.site = Unescape(line.substr(5));
  if (!std::getline(in, line) || !line.starts_with("company ")) return std::nullopt;
  file.company = Unescape(line.substr(8));
  while (std::getline(in, line) && !in.eof()) {
    std::istringstream words(line);
    std::string kind, id;
    words >> kind >> id;
    if (kind == "note") {
      JournalEntry e;
      e.message_set_id = id;
      std::string recovery, ids;
      if (!(words >> recovery >> e.type >> ids)) break;
      e.recovery = recovery == "1";
      e.ids = Unescape(ids);
      file.noted.push_back(std::move(e));
    } else if (kind == "answer") {
      size_t size = 0;
      if (!(words >> size)) break;
      std::string answer(size, '\0');
      if (!in.read(answer.data(), static_cast<std::streamsize>(size)) || in.get() != '\n') break;
      for (auto& e : file.noted) {
        if (e.message_set_id == id) {
          e.answered = true;
          e.answer = std::move(answer);
          break;
        }
      }
    } else if (kind == "done") {
      file.done.insert(id);
    } else {
      break;
    }
  }
  return file;
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
  // Site codes and company paths are nobody else's business, and what another user could write here would
  // decide what the next download adds.
  platform::com::OpenPrivateFolder(folder);
}

PostingJournal::PostingJournal(fs::path folder) : folder_(std::move(folder)) {
  CheckFolder(folder_);
}

PostingJournal::~PostingJournal() {
  CloseRunFile();
}

void PostingJournal::SetRun(const std::string& site_code, const std::string& company_file) {
  const std::string site = JournalSiteKey(site_code);
  const std::string company = JournalCompanyKey(company_file);
  if (site == site_ && company == company_) return;
  CloseRunFile();
  site_ = site;
  company_ = company;
}

void PostingJournal::CloseRunFile() {
  if (fd_ < 0) return;
  close(fd_);
  fd_ = -1;
  if (live_.empty() && !closes_others_) unlink(run_file_.c_str());
  closes_others_ = false;
  run_file_.clear();
  live_.clear();
}

void PostingJournal::Append(const std::string& record, bool sync) {
  if (fd_ < 0) {
    std::random_device device;
    char name[64];
    std::snprintf(name, sizeof name, "run-%ld-%08x%08x%s", static_cast<long>(getpid()), device(), device(), kRunSuffix);
    const fs::path path = folder_ / name;
    const int fd = open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_APPEND | O_NOFOLLOW | O_CLOEXEC, 0600);
    if (fd < 0) Fail(path, "could not be made", errno);
    fd_ = fd;
    run_file_ = path;
    // The header and the file's name are on disk before any note relies on them.
    Append(std::string(kMagic) + "\nsite " + Escape(site_) + "\ncompany " + Escape(company_) + "\n", true);
    try {
      platform::os::SyncFolder(folder_);
    } catch (const std::system_error& e) {
      Fail(folder_, "could not be synced", e.code().value());
    }
  }
  size_t done = 0;
  while (done < record.size()) {
    const ssize_t n = write(fd_, record.data() + done, record.size() - done);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) Fail(run_file_, "could not be written", n < 0 ? errno : EIO);
    done += static_cast<size_t>(n);
  }
  if (sync && fdatasync(fd_) != 0) Fail(run_file_, "could not be synced", errno);
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
  Append("note " + message_set_id + (recovery ? " 1 " : " 0 ") + type + " " + Escape(ids) + "\n", true);
  live_.insert(message_set_id);
  return e;
}

void PostingJournal::NoteAnswer(JournalEntry& entry, const std::string& answer) {
  Append("answer " + entry.message_set_id + " " + std::to_string(answer.size()) + "\n" + answer + "\n", true);
  entry.answered = true;
  entry.answer = answer;
}

void PostingJournal::Remove(const JournalEntry& entry) {
  Append("done " + entry.message_set_id + "\n", false);
  // The record that closes an entry of another file must stay as long as that file does.
  if (live_.erase(entry.message_set_id) == 0) closes_others_ = true;
}

std::vector<fs::path> PostingJournal::RunFiles() const {
  std::vector<fs::path> files;
  std::error_code ec;
  for (const auto& file : fs::directory_iterator(folder_, ec)) {
    if (file.path().filename().string().ends_with(kRunSuffix) && file.is_regular_file(ec)) {
      files.push_back(file.path());
    }
  }
  return files;
}

std::vector<JournalEntry> PostingJournal::Entries() const {
  std::vector<JournalEntry> noted;
  std::set<std::string> done;
  for (const fs::path& path : RunFiles()) {
    auto file = ReadRunFile(path);
    if (!file || file->site != site_ || file->company != company_) continue;
    for (auto& e : file->noted) {
      e.site = site_;
      e.company = company_;
      noted.push_back(std::move(e));
    }
    done.insert(file->done.begin(), file->done.end());
  }
  // Oldest first; a file whose removal a crash undid may repeat an entry another file took over.
  std::stable_sort(noted.begin(), noted.end(),
                   [](const JournalEntry& a, const JournalEntry& b) { return a.message_set_id < b.message_set_id; });
  std::vector<JournalEntry> entries;
  for (auto& e : noted) {
    if (done.contains(e.message_set_id)) continue;
    if (!entries.empty() && entries.back().message_set_id == e.message_set_id) {
      if (e.answered && !entries.back().answered) entries.back() = std::move(e);
      continue;
    }
    entries.push_back(std::move(e));
  }
  return entries;
}

void PostingJournal::Adopt() {
  std::vector<fs::path> earlier;
  for (const fs::path& path : RunFiles()) {
    if (path == run_file_) continue;
    auto file = ReadRunFile(path);
    if (file && file->site == site_ && file->company == company_) earlier.push_back(path);
  }
  if (earlier.empty()) return;
  const std::vector<JournalEntry> entries = Entries();
  std::string records;
  for (const JournalEntry& e : entries) {
    if (live_.contains(e.message_set_id)) continue;
    records += "note " + e.message_set_id + (e.recovery ? " 1 " : " 0 ") + e.type + " " + Escape(e.ids) + "\n";
    if (e.answered)
      records += "answer " + e.message_set_id + " " + std::to_string(e.answer.size()) + "\n" + e.answer + "\n";
  }
  if (!records.empty()) Append(records, true);
  for (const JournalEntry& e : entries) live_.insert(e.message_set_id);
  for (const fs::path& path : earlier) unlink(path.c_str());
}

}  // namespace tessarine
