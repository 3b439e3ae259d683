#pragma once

// The download's own note of what it is adding to QuickBooks. Before an add the record is noted, durably, with
// the message set id its request carries; QuickBooks' answer is noted when it comes; the entry goes when the
// service has accepted the record's status report. A run that was stopped anywhere in between leaves the entry,
// and the next run of the same site and company file learns from it that QuickBooks may have, or has, the record.

#include <filesystem>
#include <set>
#include <string>
#include <vector>

namespace tessarine {

struct JournalEntry {
  std::string message_set_id;
  std::string site;       // the site code as the service compares it: upper case, no blanks around
  std::string company;    // the company file's canonical path
  std::string type;       // "TA", "LA" or "EXP"
  std::string ids;        // the record id, or an expense's item ids joined by ","
  bool recovery = false;  // the add carried the message set id, so QuickBooks can be asked about it
  bool answered = false;  // QuickBooks took the record; answer holds its response
  std::string answer;
};

// The journal is a folder of run files, one for each run that wrote something: a header naming the site and the
// company file, then records appended in order (a note, an answer, a done). Appending to a file that is there
// already costs one sync, where a file per entry would cost two. A record cut short by a crash ends the file;
// a note is synced before its add goes out, so a cut one names an add that never happened.
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
  // A run file whose entries are all done goes.
  ~PostingJournal();
  PostingJournal(const PostingJournal&) = delete;
  PostingJournal& operator=(const PostingJournal&) = delete;

  // The site and company file whose entries this run reads and writes.
  void SetRun(const std::string& site_code, const std::string& company_file);

  // Notes a record about to be added, synced to disk. Throws kv::Error.
  JournalEntry Note(const std::string& message_set_id, const std::string& type, const std::string& ids, bool recovery);
  // Notes QuickBooks' answer to the entry's add, synced. Throws kv::Error.
  void NoteAnswer(JournalEntry& entry, const std::string& answer);
  // The entry is done with. Not synced: an entry that comes back after a crash names a record the service no
  // longer lists, and the next run drops it.
  void Remove(const JournalEntry& entry);

  // The live entries of this run's site and company file, in the order they were noted.
  std::vector<JournalEntry> Entries() const;
  // Takes over what earlier runs of this site and company file left: their live entries are written into this
  // run's file and their files go. Call it while no other run of the file can write (the run lock). Throws
  // kv::Error.
  void Adopt();

  const std::filesystem::path& Folder() const { return folder_; }

 private:
  void Append(const std::string& record, bool sync);
  void CloseRunFile();
  std::vector<std::filesystem::path> RunFiles() const;

  std::filesystem::path folder_;
  std::string site_;
  std::string company_;
  std::filesystem::path run_file_;  // empty until the first record
  int fd_ = -1;
  std::set<std::string> live_;  // message set ids noted or adopted here and not yet done
  bool closes_others_ = false;  // a done record here closes an entry another file noted
};

// Site codes are compared as the service compares them, without regard to letter case or blanks around them.
std::string JournalSiteKey(const std::string& site_code);
// The company file by the path its links lead to.
std::string JournalCompanyKey(const std::string& company_file);

}  // namespace tessarine
