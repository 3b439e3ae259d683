#pragma once

// The posting journal's record format, written and read here only. A journal is lines of records; each line is
// "<CRC-32 of the payload, 8 hex digits> <payload length> <payload>\n", its payload words separated by blanks and
// escaped so that no payload holds a line break. So a flipped byte, a line cut short or glued to the next, a
// CR LF line end or a line of garbage fails its own check, and reading goes on at the next line.
//
// The first record is the header: "tessarine-journal <format> <created> <next sequence> <last message set>". Then,
// in the order written: "note <time> <sequence> <site> <type> <record id> <item ids> <message set id> <request>",
// "answer <time> <sequence> <answer>", "reported <time> <sequence>", "listed <time> <sequence>", "removed <time>
// <sequence>" and "suspect <time> <sequence> <since>" (a mark that records of a damaged journal may be missing).

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "download_control/journal_entry.h"

namespace tessarine {

// CRC-32 as zip and PNG compute it (reflected polynomial 0xEDB88320).
uint32_t Crc32(std::string_view data);

struct SuspectMark {
  uint64_t sequence = 0;
  int64_t set_at = 0;
  int64_t since = 0;
};

struct JournalHeader {
  int64_t created = 0;
  uint64_t next_sequence = 1;
  uint64_t last_message_set = 0;  // sequence of the latest note that carried a message set id
};

std::string HeaderRecord(const JournalHeader& header);
std::string NoteRecord(const JournalEntry& entry);
std::string AnswerRecord(int64_t time, uint64_t sequence, std::string_view answer);
std::string ReportedRecord(int64_t time, uint64_t sequence);
std::string StillListedRecord(int64_t time, uint64_t sequence);
std::string RemovedRecord(int64_t time, uint64_t sequence);
std::string SuspectRecord(const SuspectMark& mark);
// The records that bring an entry back as it stands: its note, and its answer and report where it has them.
std::string EntryRecords(const JournalEntry& entry);

struct ReadDamage {
  std::string what;   // "record 7 fails its checksum", ...
  int64_t since = 0;  // the time of the last whole record before it, else 0
};

// What a journal's bytes say: the entries not removed, in the order noted, and what could not be read.
struct JournalImage {
  bool has_header = false;
  JournalHeader header;
  std::vector<JournalEntry> entries;
  std::vector<SuspectMark> marks;
  std::vector<ReadDamage> damage;
  size_t records = 0;             // whole records read, the header among them
  uint64_t max_sequence = 0;      // the highest sequence any whole record named
  uint64_t last_message_set = 0;  // the sequence of the latest note with a message set id, removed or not
};
JournalImage ReadJournalImage(std::string_view content);

}  // namespace tessarine
