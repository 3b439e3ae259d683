// The posting journal kept as one file beside the company file: a header, then one line per entry, each field
// hex-encoded so that no request text can break a line. Every change writes the whole file anew and renames it
// into place, so a crash leaves either the old journal or the new one.

#include "download_control/posting_journal.h"

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <ctime>
#include <fstream>
#include <sstream>

#include "download_control/run_lock.h"
#include "platform/base/error.h"
#include "platform/base/text.h"

namespace tessarine {

namespace {

namespace fs = std::filesystem;

constexpr std::string_view kHeader = "tessarine journal 1";

std::string Hex(std::string_view text) {
  static constexpr char kDigits[] = "0123456789abcdef";
  std::string out;
  out.reserve(text.size() * 2);
  for (unsigned char c : text) {
    out += kDigits[c >> 4];
    out += kDigits[c & 15];
  }
  return out;
}

std::optional<std::string> Unhex(std::string_view text) {
  if (text.size() % 2 != 0) return std::nullopt;
  std::string out;
  for (size_t i = 0; i < text.size(); i += 2) {
    auto digit = [](char c) -> int {
      if (c >= '0' && c <= '9') return c - '0';
      if (c >= 'a' && c <= 'f') return c - 'a' + 10;
      return -1;
    };
    const int high = digit(text[i]);
    const int low = digit(text[i + 1]);
    if (high < 0 || low < 0) return std::nullopt;
    out += static_cast<char>(high * 16 + low);
  }
  return out;
}

std::string EntryLine(const JournalEntry& e) {
  const std::vector<std::string> fields = {std::to_string(e.sequence),
                                           e.site,
                                           std::string(RecordTypeCode(e.type)),
                                           e.record_id,
                                           e.item_ids,
                                           e.message_set_id,
                                           e.request,
                                           std::to_string(e.noted_at),
                                           std::to_string(static_cast<int>(e.state)),
                                           e.answer,
                                           std::to_string(e.reported_at)};
  std::string line = "E";
  for (const std::string& field : fields) line += "|" + Hex(field);
  return line;
}

std::optional<JournalEntry> ReadEntryLine(const std::string& line) {
  const std::vector<std::string> parts = kv::Split(line, "|");
  if (parts.size() != 12 || parts[0] != "E") return std::nullopt;
  std::vector<std::string> f;
  for (size_t i = 1; i < parts.size(); ++i) {
    std::optional<std::string> field = Unhex(parts[i]);
    if (!field) return std::nullopt;
    f.push_back(std::move(*field));
  }
  const std::optional<RecordType> type = RecordTypeFromCode(f[2]);
  if (!type) return std::nullopt;
  JournalEntry e;
  try {
    e.sequence = std::stoull(f[0]);
    e.noted_at = std::stoll(f[7]);
    e.state = static_cast<JournalEntry::State>(std::stoi(f[8]));
    e.reported_at = std::stoll(f[10]);
  } catch (const std::exception&) {
    return std::nullopt;
  }
  e.site = f[1];
  e.type = *type;
  e.record_id = f[3];
  e.item_ids = f[4];
  e.message_set_id = f[5];
  e.request = f[6];
  e.answer = f[9];
  return e;
}

}  // namespace

fs::path PostingJournal::PathOf(const std::string& company_file) {
  fs::path lock = RunLock::PathOf(company_file);
  std::string name = lock.filename().string();
  name.replace(name.size() - std::string_view("lock").size(), std::string_view("lock").size(), "journal");
  return lock.parent_path() / name;
}

PostingJournal::PostingJournal(const std::string& company_file) : path_(PathOf(company_file)) {
  std::error_code ec;
  if (!fs::exists(path_, ec)) return;
  std::ifstream in(path_, std::ios::binary);
  if (!in) throw kv::Error(errno, "The journal '" + path_.string() + "' cannot be read: " + std::strerror(errno));
  std::string line;
  if (!std::getline(in, line) || line.rfind(kHeader, 0) != 0) {
    damage_.push_back({path_, "the header is missing", 0});
    return;
  }
  const std::string suspect = line.substr(kHeader.size());
  if (!kv::TrimBlanks(suspect).empty()) suspect_since_ = std::stoll(std::string(kv::TrimBlanks(suspect)));
  int record = 0;
  while (std::getline(in, line)) {
    ++record;
    std::optional<JournalEntry> entry = ReadEntryLine(line);
    if (!entry) {
      damage_.push_back({path_, "record " + std::to_string(record) + " cannot be read",
                         entries_.empty() ? 0 : entries_.back().noted_at});
      continue;
    }
    next_sequence_ = std::max(next_sequence_, entry->sequence + 1);
    entries_.push_back(std::move(*entry));
  }
}

void PostingJournal::Save() {
  std::string text(kHeader);
  if (suspect_since_) text += " " + std::to_string(*suspect_since_);
  text += "\n";
  for (const JournalEntry& e : entries_) text += EntryLine(e) + "\n";
  const fs::path temporary = path_.string() + ".new";
  const int fd = ::open(temporary.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC | O_NOFOLLOW, 0600);
  if (fd < 0) throw kv::Error(errno, "The journal '" + path_.string() + "' cannot be written: " + std::strerror(errno));
  size_t written = 0;
  while (written < text.size()) {
    const ssize_t n = ::write(fd, text.data() + written, text.size() - written);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) {
      const int error = errno;
      ::close(fd);
      ::unlink(temporary.c_str());
      throw kv::Error(error, "The journal '" + path_.string() + "' cannot be written: " + std::strerror(error));
    }
    written += static_cast<size_t>(n);
  }
  const bool synced = ::fsync(fd) == 0;
  ::close(fd);
  if (!synced || ::rename(temporary.c_str(), path_.c_str()) != 0) {
    const int error = errno;
    ::unlink(temporary.c_str());
    throw kv::Error(error, "The journal '" + path_.string() + "' cannot be written: " + std::strerror(error));
  }
}

JournalEntry PostingJournal::Note(const std::string& site_code, RecordType type, const std::string& record_id,
                                  const std::string& item_ids, const std::string& message_set_id,
                                  const std::string& request) {
  JournalEntry e;
  e.sequence = next_sequence_;
  e.site = JournalSiteKey(site_code);
  e.type = type;
  e.record_id = record_id;
  e.item_ids = item_ids;
  e.message_set_id = message_set_id;
  e.request = request;
  e.noted_at = static_cast<int64_t>(std::time(nullptr));
  entries_.push_back(e);
  try {
    Save();
  } catch (...) {
    entries_.pop_back();
    throw;
  }
  ++next_sequence_;
  return e;
}

void PostingJournal::NoteAnswer(JournalEntry& entry, const std::string& answer) {
  entry.state = JournalEntry::State::kAnswered;
  entry.answer = answer;
  for (JournalEntry& e : entries_) {
    if (e.sequence == entry.sequence) e = entry;
  }
  Save();
}

void PostingJournal::NoteReported(JournalEntry& entry) {
  entry.state = JournalEntry::State::kReported;
  entry.reported_at = static_cast<int64_t>(std::time(nullptr));
  for (JournalEntry& e : entries_) {
    if (e.sequence == entry.sequence) e = entry;
  }
  Save();
}

void PostingJournal::Remove(const JournalEntry& entry) {
  std::erase_if(entries_, [&](const JournalEntry& e) { return e.sequence == entry.sequence; });
  Save();
}

bool PostingJournal::IsLastMessageSet(const JournalEntry& entry) const {
  if (entry.message_set_id.empty() || !damage_.empty()) return false;
  for (const JournalEntry& e : entries_) {
    if (e.sequence > entry.sequence && !e.message_set_id.empty()) return false;
  }
  return true;
}

void PostingJournal::ClearDamage() {
  if (damage_.empty()) return;
  int64_t since = static_cast<int64_t>(std::time(nullptr));
  for (const JournalDamage& d : damage_) since = std::min(since, d.since);
  suspect_since_ = suspect_since_ ? std::min(*suspect_since_, since) : since;
  damage_.clear();
  Save();
}

std::optional<int64_t> PostingJournal::SuspectSince() const {
  std::optional<int64_t> since = suspect_since_;
  for (const JournalDamage& d : damage_) since = since ? std::min(*since, d.since) : d.since;
  return since;
}

std::string JournalSiteKey(const std::string& site_code) {
  return kv::ToUpperAscii(kv::TrimBlanks(site_code));
}

bool NamesRecord(const JournalEntry& entry, RecordType type, std::string_view record_id, std::string_view item_ids) {
  if (entry.type != type) return false;
  if (type != RecordType::kExpense || (!entry.record_id.empty() && !record_id.empty())) {
    return entry.record_id == record_id;
  }
  const std::vector<std::string> mine = kv::Split(entry.item_ids, ",");
  for (const std::string& id : kv::Split(item_ids, ",")) {
    if (!id.empty() && std::find(mine.begin(), mine.end(), id) != mine.end()) return true;
  }
  return false;
}

}  // namespace tessarine
