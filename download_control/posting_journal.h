#pragma once

// The download's note of what it adds to QuickBooks, one journal per company file, beside it. Before an add the
// record is noted, durably, with the request it sends and the message set id it carries; QuickBooks' answer is
// noted when it comes; the service's acceptance of the record's report when it comes. Every run that posts into
// the file, of any site and either mode, through any path and in any environment, reads and writes this one
// journal under the file's run lock, so the next run learns what may be in QuickBooks. What cannot be read is
// never skipped: it is listed as damage, and the records it may have named are to be asked of QuickBooks.

#include <sys/types.h>

#include <cstdint>
#include <filesystem>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "download_control/journal_codec.h"
#include "download_control/journal_entry.h"
#include "download_control/journal_file.h"
#include "download_control/record_type.h"

namespace tessarine {

// What a test replaces: the disk the journal writes through and the clock it reads.
struct JournalSeams {
  JournalDisk* disk = nullptr;   // the real disk when null
  std::function<int64_t()> now;  // Unix seconds; the system clock when empty
};

class PostingJournal {
 public:
  static std::filesystem::path PathOf(const std::string& company_file);

  // Opens the company file's journal, making it when the file has none, and reads every record; call while
  // holding the company file's RunLock. Damage, a file that cannot be read among it, does not throw: it is listed
  // in Damage(). A journal that cannot be opened or written (a link or not a regular file at its place, a file
  // this user may read but not write, a folder it cannot be made in) throws kv::Error naming it.
  explicit PostingJournal(const std::string& company_file, JournalSeams seams = {});
  PostingJournal(PostingJournal&&) noexcept;
  PostingJournal& operator=(PostingJournal&&) noexcept;
  ~PostingJournal();

  const std::vector<JournalDamage>& Damage() const { return damage_; }
  // Every entry of the company file (all sites, both modes) not yet aged out, in the order they were noted.
  std::vector<JournalEntry> Entries() const;

  // Notes a record about to be added, synced before it returns. Throws kv::Error when it cannot be made durable
  // (the file is left ending at its last whole record), or while damage is not cleared; the add must then not go
  // out. The item ids are stored sorted.
  JournalEntry Note(const std::string& site_code, RecordType type, const std::string& record_id,
                    const std::string& item_ids, const std::string& message_set_id, const std::string& request);
  void NoteAnswer(JournalEntry& entry, const std::string& answer);  // synced; throws kv::Error
  // The service accepted the report; kept until it ages out. Not synced: lost, it leaves an entry that is checked
  // against QuickBooks again. Throws kv::Error.
  void NoteReported(JournalEntry& entry);
  // A listing named the entry's record, which the service has not accepted yet: it ages from now. Written at most
  // once a day for an entry, not synced (lost, the entry ages from its earlier news). Throws kv::Error.
  void NoteListed(JournalEntry& entry);
  // QuickBooks has nothing of it (refused, or asked and absent). Not synced, as NoteReported. Throws kv::Error.
  void Remove(const JournalEntry& entry);

  // Whether the entry's message set is provably QuickBooks' last one of this application for this company file:
  // no later note (removed or not) carried a message set id, and no damage could hide one.
  bool IsLastMessageSet(const JournalEntry& entry) const;

  // Damage has been said to the user: the journal is written anew with what could be read, the damaged file kept
  // aside beside it (its path returned; empty when there was no file), and a suspect marker put in, which stands
  // until it ages out. Nothing to clear is a no-op. Throws kv::Error.
  std::filesystem::path ClearDamage();
  // The earliest time of a live suspect marker or of current damage; nothing when the journal is whole.
  std::optional<int64_t> SuspectSince() const;

  const std::filesystem::path& Path() const { return path_; }

 private:
  void Load();
  void CreateNew();
  void CompactIfWorthIt(size_t records_read);
  std::string WholeContent(int64_t now) const;
  bool Aged(const JournalEntry& entry, int64_t now) const;
  // Writes the mark beside the journal that says when it was made, so that a deleted journal is seen.
  void MarkMade(mode_t mode) const;
  void CheckWritable() const;
  JournalEntry* Find(uint64_t sequence);
  int64_t Now() const;

  std::string company_;
  std::filesystem::path path_;
  JournalSeams seams_;
  JournalFile file_;
  std::vector<JournalDamage> damage_;
  std::vector<JournalEntry> entries_;  // not removed, in the order noted; aged ones are left out when read
  std::vector<SuspectMark> marks_;
  uint64_t next_sequence_ = 1;
  uint64_t last_message_set_ = 0;  // sequence of the latest note that carried a message set id; 0 none
  int64_t created_ = 0;
};

// Site codes compared as the service compares them: upper case, no blanks around.
std::string JournalSiteKey(const std::string& site_code);
// The entry of a listed record: time/leave by type and id; an expense by its header id, or, when either side has
// none, by any item id the two share.
bool NamesRecord(const JournalEntry& entry, RecordType type, std::string_view record_id, std::string_view item_ids);

}  // namespace tessarine
