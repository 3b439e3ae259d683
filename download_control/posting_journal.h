#pragma once

// The download's own note of what it is adding to a company file. Before an add the record is noted, durably,
// with the request it sends; QuickBooks' answer is noted as soon as it comes; the entry stays until the service
// accepted the record's report and then ages out. The journal belongs to the company file, as its run lock does.

#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "download_control/record_type.h"

namespace tessarine {

struct JournalEntry {
  uint64_t sequence = 0;  // order in which it was noted into this company file's journal
  std::string site;       // JournalSiteKey of the site code
  RecordType type = RecordType::kTime;
  std::string record_id;       // the time/leave id; an expense's id from its header line
  std::string item_ids;        // an expense's item line ids, sorted ascending as numbers, joined by ","
  std::string message_set_id;  // the newMessageSetID its add carried; empty when the version has no recovery
  std::string request;         // the add request sent
  int64_t noted_at = 0;        // Unix seconds, taken just before the add went out
  enum class State { kSent, kAnswered, kReported } state = State::kSent;
  std::string answer;       // QuickBooks' response to the add (kAnswered, kReported)
  int64_t reported_at = 0;  // when the service accepted the report (kReported)
};

struct JournalDamage {
  std::filesystem::path file;
  std::string what;
  int64_t since = 0;
};

class PostingJournal {
 public:
  static std::filesystem::path PathOf(const std::string& company_file);
  // Opens the company file's journal; call while holding the company file's RunLock. Throws kv::Error.
  explicit PostingJournal(const std::string& company_file);
  const std::vector<JournalDamage>& Damage() const { return damage_; }
  // Every entry of the company file, in the order they were noted.
  std::vector<JournalEntry> Entries() const { return entries_; }
  JournalEntry Note(const std::string& site_code, RecordType type, const std::string& record_id,
                    const std::string& item_ids, const std::string& message_set_id, const std::string& request);
  void NoteAnswer(JournalEntry& entry, const std::string& answer);
  void NoteReported(JournalEntry& entry);
  void Remove(const JournalEntry& entry);
  bool IsLastMessageSet(const JournalEntry& entry) const;
  void ClearDamage();
  std::optional<int64_t> SuspectSince() const;

 private:
  void Save();

  std::filesystem::path path_;
  std::vector<JournalEntry> entries_;
  std::vector<JournalDamage> damage_;
  std::optional<int64_t> suspect_since_;
  uint64_t next_sequence_ = 1;
};

// Site codes compared as the service compares them: upper case, no blanks around.
std::string JournalSiteKey(const std::string& site_code);
// The entry of a listed record: time/leave by type and id; an expense by its header id, or, when either side
// has none, by any item id the two share.
bool NamesRecord(const JournalEntry& entry, RecordType type, std::string_view record_id, std::string_view item_ids);

}  // namespace tessarine
