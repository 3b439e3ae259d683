// The company file's posting journal: where it lies, what it makes of its records, and how it is kept short.

#include "download_control/posting_journal.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <charconv>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <set>
#include <system_error>

#include "common/file_identity.h"
#include "platform/base/error.h"
#include "platform/base/text.h"
#include "platform/os/atomic_file.h"

namespace tessarine {
namespace {

namespace fs = std::filesystem;

constexpr std::string_view kJournalSuffix = ".tessarine-journal";
// Beside the journal, the time it was made: a journal that is missing where one was made is damage, not a fresh
// start, since whatever it held may be in QuickBooks.
constexpr std::string_view kMadeSuffix = ".tessarine-journal-made";
// A rewrite pays once the records it would leave out are this many and outnumber those it keeps.
constexpr size_t kCompactAfter = 64;

// No more access than the company file gives: whoever may write it may write its journal, nobody else.
struct Access {
  mode_t mode = platform::os::kPrivateMode;
  gid_t group = static_cast<gid_t>(-1);
};

Access AccessOf(const std::string& company_file) {
  struct stat info {};
  if (stat(company_file.c_str(), &info) != 0) return {};
  return {static_cast<mode_t>((info.st_mode & 0666) | 0600), info.st_gid};
}

std::optional<int64_t> MadeTime(const fs::path& path) {
  // Read as the journal is opened: no link followed, no FIFO waited on.
  const int fd = open(path.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
  if (fd < 0) return errno == ENOENT ? std::nullopt : std::optional<int64_t>(0);
  struct stat info {};
  char text[32] = {};
  ssize_t n = 0;
  if (fstat(fd, &info) == 0 && S_ISREG(info.st_mode)) n = read(fd, text, sizeof text - 1);
  close(fd);
  int64_t value = 0;
  // There, though its time cannot be read: the journal was made at some time before.
  if (n <= 0 || std::from_chars(text, text + n, value).ec != std::errc()) return 0;
  return value;
}

}  // namespace

std::string JournalSiteKey(const std::string& site_code) {
  return kv::ToUpperAscii(kv::TrimBlanks(site_code));
}

bool NamesRecord(const JournalEntry& entry, RecordType type, std::string_view record_id, std::string_view item_ids) {
  if (entry.type != type) return false;
  if (type != RecordType::kExpense) return entry.record_id == record_id;
  if (!entry.record_id.empty() && !record_id.empty()) return entry.record_id == record_id;
  // Without a header id on either side, lines that came back fewer or in another order still name the expense.
  std::set<std::string_view> ours;
  std::string_view rest = entry.item_ids;
  const auto next_id = [](std::string_view& ids) {
    const size_t comma = std::min(ids.find(','), ids.size());
    std::string_view id = kv::TrimBlanks(ids.substr(0, comma));
    ids.remove_prefix(std::min(comma + 1, ids.size()));
    return id;
  };
  while (!rest.empty()) {
    if (const std::string_view id = next_id(rest); !id.empty()) ours.insert(id);
  }
  rest = item_ids;
  while (!rest.empty()) {
    if (ours.contains(next_id(rest))) return true;
  }
  return false;
}

fs::path PostingJournal::PathOf(const std::string& company_file) {
  return kv::GuardFileOf(company_file, kJournalSuffix);
}

PostingJournal::PostingJournal(const std::string& company_file, JournalSeams seams)
    : company_(company_file), path_(PathOf(company_file)), seams_(std::move(seams)) {
  if (seams_.disk == nullptr) seams_.disk = &RealJournalDisk();
  Load();
}

PostingJournal::PostingJournal(PostingJournal&&) noexcept = default;
PostingJournal& PostingJournal::operator=(PostingJournal&&) noexcept = default;
PostingJournal::~PostingJournal() = default;

int64_t PostingJournal::Now() const {
  return seams_.now ? seams_.now() : static_cast<int64_t>(std::time(nullptr));
}

bool PostingJournal::Aged(const JournalEntry& entry, int64_t now) const {
  const int64_t news =
      entry.state == JournalEntry::State::kReported ? entry.reported_at : std::max(entry.noted_at, entry.listed_at);
  return news + kJournalKeepSeconds < now;
}

void PostingJournal::Load() {
  const fs::path made = kv::GuardFileOf(company_, kMadeSuffix);
  std::string content;
  const JournalFile::Opened opened = file_.Open(path_, *seams_.disk, content);
  const std::optional<int64_t> made_at = MadeTime(made);
  if (opened == JournalFile::Opened::kMissing) {
    if (made_at) {
      damage_.push_back({path_, "the journal is missing", *made_at});
      return;
    }
    CreateNew();
    return;
  }
  if (opened == JournalFile::Opened::kUnreadable) {
    damage_.push_back({path_, "the file cannot be read: " + content, made_at.value_or(0)});
    return;
  }
  if (!file_.Writable()) {
    // Read, it could only say what may be in QuickBooks; nothing this run adds could be noted in it.
    throw kv::Error(EACCES, "The download's journal " + path_.string() +
                                " may be read but not written by this user: " + std::strerror(EACCES));
  }
  JournalImage image = ReadJournalImage(content);
  for (ReadDamage& d : image.damage) damage_.push_back({path_, std::move(d.what), d.since});
  entries_ = std::move(image.entries);
  marks_ = std::move(image.marks);
  created_ = image.has_header ? image.header.created : made_at.value_or(0);
  next_sequence_ = std::max<uint64_t>(image.header.next_sequence, image.max_sequence + 1);
  last_message_set_ = std::max(image.header.last_message_set, image.last_message_set);
  if (!made_at) MarkMade(AccessOf(company_).mode);
  if (damage_.empty()) CompactIfWorthIt(image.records);
}

void PostingJournal::CreateNew() {
  created_ = Now();
  const Access access = AccessOf(company_);
  // The journal is there whole, header and all, before the mark that says it was made.
  file_.Replace(path_, *seams_.disk, HeaderRecord({created_, next_sequence_, last_message_set_}), access.mode,
                access.group);
  MarkMade(access.mode);
}

void PostingJournal::MarkMade(mode_t mode) const {
  try {
    platform::os::ReplaceFileAtomically(kv::GuardFileOf(company_, kMadeSuffix), std::to_string(created_), mode);
  } catch (const std::system_error& e) {
    throw kv::Error(e.code().value(), "The download's journal could not be marked: " + std::string(e.what()));
  }
}

std::string PostingJournal::WholeContent(int64_t now) const {
  std::string content = HeaderRecord({created_, next_sequence_, last_message_set_});
  // In sequence order, so the rewritten journal reads back as it stood.
  size_t e = 0;
  size_t m = 0;
  while (e < entries_.size() || m < marks_.size()) {
    const bool entry_first = m == marks_.size() || (e < entries_.size() && entries_[e].sequence < marks_[m].sequence);
    if (entry_first) {
      if (!Aged(entries_[e], now)) content += EntryRecords(entries_[e]);
      ++e;
    } else {
      if (marks_[m].set_at + kJournalKeepSeconds >= now) content += SuspectRecord(marks_[m]);
      ++m;
    }
  }
  return content;
}

void PostingJournal::CompactIfWorthIt(size_t records_read) {
  const int64_t now = Now();
  size_t kept = 1;
  for (const JournalEntry& entry : entries_) {
    if (Aged(entry, now)) continue;
    kept += 1 + (entry.state != JournalEntry::State::kSent) + (entry.state == JournalEntry::State::kReported);
  }
  for (const SuspectMark& mark : marks_) kept += mark.set_at + kJournalKeepSeconds >= now ? 1 : 0;
  const size_t dropped = records_read > kept ? records_read - kept : 0;
  if (dropped < kCompactAfter || dropped < kept) return;
  const std::string content = WholeContent(now);
  const Access access = AccessOf(company_);
  file_.Replace(path_, *seams_.disk, content, access.mode, access.group);
  std::erase_if(entries_, [&](const JournalEntry& entry) { return Aged(entry, now); });
  std::erase_if(marks_, [&](const SuspectMark& mark) { return mark.set_at + kJournalKeepSeconds < now; });
}

std::vector<JournalEntry> PostingJournal::Entries() const {
  const int64_t now = Now();
  std::vector<JournalEntry> live;
  for (const JournalEntry& entry : entries_) {
    if (!Aged(entry, now)) live.push_back(entry);  // kept in sequence order: noted in it, read back in it
  }
  return live;
}

void PostingJournal::CheckWritable() const {
  // Nothing goes after a cut record or into a file whose damage was not said: what the damage hides would stay
  // hidden behind what this run adds.
  if (!damage_.empty()) {
    throw kv::Error(EIO, "The download's journal " + path_.string() + " is damaged (" + damage_.front().what +
                             "); nothing is posted until the damage has been reported and cleared.");
  }
}

JournalEntry* PostingJournal::Find(uint64_t sequence) {
  const auto found =
      std::find_if(entries_.begin(), entries_.end(), [&](const JournalEntry& e) { return e.sequence == sequence; });
  return found == entries_.end() ? nullptr : &*found;
}

JournalEntry PostingJournal::Note(const std::string& site_code, RecordType type, const std::string& record_id,
                                  const std::string& item_ids, const std::string& message_set_id,
                                  const std::string& request) {
  CheckWritable();
  JournalEntry entry;
  entry.sequence = next_sequence_;
  entry.site = JournalSiteKey(site_code);
  entry.type = type;
  entry.record_id = record_id;
  entry.item_ids = SortItemIds(item_ids);
  entry.message_set_id = message_set_id;
  entry.request = request;
  entry.noted_at = Now();
  file_.Append(NoteRecord(entry), true);
  ++next_sequence_;
  if (!message_set_id.empty()) last_message_set_ = entry.sequence;
  entries_.push_back(entry);
  return entry;
}

void PostingJournal::NoteAnswer(JournalEntry& entry, const std::string& answer) {
  CheckWritable();
  JournalEntry* ours = Find(entry.sequence);
  if (ours == nullptr) {
    throw kv::Error(EINVAL, "The download's journal " + path_.string() + " holds no entry " +
                                std::to_string(entry.sequence) + " to note QuickBooks' answer with.");
  }
  file_.Append(AnswerRecord(Now(), entry.sequence, answer), true);
  for (JournalEntry* e : {ours, &entry}) {
    e->answer = answer;
    if (e->state == JournalEntry::State::kSent) e->state = JournalEntry::State::kAnswered;
  }
}

void PostingJournal::NoteReported(JournalEntry& entry) {
  CheckWritable();
  JournalEntry* ours = Find(entry.sequence);
  if (ours == nullptr) return;  // aged out or removed already: nothing left to keep
  const int64_t now = Now();
  file_.Append(ReportedRecord(now, entry.sequence), false);
  for (JournalEntry* e : {ours, &entry}) {
    e->state = JournalEntry::State::kReported;
    e->reported_at = now;
  }
}

void PostingJournal::NoteListed(JournalEntry& entry) {
  constexpr int64_t kDay = 24 * 60 * 60;
  JournalEntry* ours = Find(entry.sequence);
  if (ours == nullptr || ours->state == JournalEntry::State::kReported) return;
  const int64_t now = Now();
  if (std::max(ours->noted_at, ours->listed_at) + kDay > now) return;
  CheckWritable();
  file_.Append(StillListedRecord(now, entry.sequence), false);
  ours->listed_at = entry.listed_at = now;
}

void PostingJournal::Remove(const JournalEntry& entry) {
  CheckWritable();
  if (Find(entry.sequence) == nullptr) return;
  file_.Append(RemovedRecord(Now(), entry.sequence), false);
  std::erase_if(entries_, [&](const JournalEntry& e) { return e.sequence == entry.sequence; });
}

bool PostingJournal::IsLastMessageSet(const JournalEntry& entry) const {
  if (entry.message_set_id.empty() || !damage_.empty() || entry.sequence != last_message_set_) return false;
  // A mark set after the entry was noted stands for a damaged file that may have held later notes.
  return std::none_of(marks_.begin(), marks_.end(),
                      [&](const SuspectMark& mark) { return mark.sequence > entry.sequence; });
}

fs::path PostingJournal::ClearDamage() {
  if (damage_.empty()) return {};
  const int64_t now = Now();
  int64_t since = now;
  for (const JournalDamage& d : damage_) since = std::min(since, d.since);
  // Nothing the journal noted is older than the journal itself; an entry of a record the service still lists
  // outlives the keeping bound, so the bound is no limit here.
  if (created_ != 0) since = std::max(since, created_);
  file_.Close();
  fs::path aside;
  struct stat info {};
  if (lstat(path_.c_str(), &info) == 0) {
    for (int n = 0;; ++n) {
      // Appended piece by piece: GCC 12 at -O3 takes "-" + std::string&& for an overlapping copy (-Wrestrict).
      std::string suffix(kJournalSuffix);
      suffix.append(".damaged-").append(std::to_string(now));
      if (n > 0) suffix.append("-").append(std::to_string(n));
      aside = kv::GuardFileOf(company_, suffix);
      if (lstat(aside.c_str(), &info) != 0) break;
    }
    // Linked aside first, so that the damaged journal stays in its place until the new one replaces it whole; a
    // folder or anything else that cannot be linked is moved aside.
    if (link(path_.c_str(), aside.c_str()) != 0 && std::rename(path_.c_str(), aside.c_str()) != 0) {
      const int error = errno;
      throw kv::Error(error, "The damaged journal " + path_.string() + " could not be set aside as " + aside.string() +
                                 ": " + std::strerror(error));
    }
  }
  marks_.push_back({next_sequence_++, now, since});
  if (created_ == 0) created_ = now;
  const Access access = AccessOf(company_);
  file_.Replace(path_, *seams_.disk, WholeContent(now), access.mode, access.group);
  damage_.clear();
  if (!MadeTime(kv::GuardFileOf(company_, kMadeSuffix))) MarkMade(access.mode);
  return aside;
}

std::optional<int64_t> PostingJournal::SuspectSince() const {
  const int64_t now = Now();
  std::optional<int64_t> since;
  const auto take = [&](int64_t t) { since = since ? std::min(*since, t) : t; };
  for (const JournalDamage& d : damage_) take(d.since);
  for (const SuspectMark& mark : marks_) {
    if (mark.set_at + kJournalKeepSeconds >= now) take(mark.since);
  }
  return since;
}

}  // namespace tessarine
