#pragma once

// The download's own note of what it is adding to QuickBooks. Before an add the record is noted, durably, with
// the message set id its request carries; QuickBooks' answer is noted when it comes; the entry goes when the
// service has accepted the record's status report. A run that was stopped anywhere in between leaves the entry,
// and the next run of the same site and company file learns from it that QuickBooks may have, or has, the record.

#include <filesystem>
#include <string>
#include <vector>

namespace tessarine {

struct JournalEntry {
  std::string message_set_id;  // also the entry's file name
  std::string site;            // the site code as the service compares it: upper case, no blanks around
  std::string company;         // the company file's canonical path
  std::string type;            // "TA", "LA" or "EXP"
  std::string ids;             // the record id, or an expense's item ids joined by ","
  bool recovery = false;       // the add carried the message set id, so QuickBooks can be asked about it
  bool answered = false;       // QuickBooks took the record; answer holds its response
  std::string answer;
};

class PostingJournal {
 public:
  // The journal's folder: $XDG_STATE_HOME/tessarine, else ~/.local/state/tessarine. Relative or empty
  // XDG_STATE_HOME is ignored.
  static std::filesystem::path DefaultFolder();

  // Makes the folder when it is missing (0700) and refuses one that is a link, that another user owns or that
  // group or others may write, with a kv::Error naming it: whoever can write there could make this user's
  // downloads skip records or post them twice. A folder others may read is tightened to 0700.
  static void CheckFolder(const std::filesystem::path& folder);

  // Opens the journal in a checked folder. Throws kv::Error.
  explicit PostingJournal(std::filesystem::path folder);

  // The site and company file whose entries this run reads and writes.
  void SetRun(const std::string& site_code, const std::string& company_file);

  // Writes the entry of a record about to be added, file and folder synced. Throws kv::Error.
  JournalEntry Note(const std::string& message_set_id, const std::string& type, const std::string& ids, bool recovery);
  // Notes QuickBooks' answer to the entry's add, synced. Throws kv::Error.
  void NoteAnswer(JournalEntry& entry, const std::string& answer);
  // The entry is done with; a missing one is no error.
  void Remove(const JournalEntry& entry);

  // The entries of this run's site and company file, oldest first; unreadable files are skipped.
  std::vector<JournalEntry> Entries() const;

  const std::filesystem::path& Folder() const { return folder_; }

 private:
  void Write(const JournalEntry& entry);

  std::filesystem::path folder_;
  std::string site_;
  std::string company_;
};

// Site codes are compared as the service compares them, without regard to letter case or blanks around them.
std::string JournalSiteKey(const std::string& site_code);
// The company file by the path its links lead to.
std::string JournalCompanyKey(const std::string& company_file);

}  // namespace tessarine
