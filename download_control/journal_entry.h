#pragma once

// What the posting journal holds of one record, and what of it could not be read.

#include <cstdint>
#include <filesystem>
#include <string>

#include "download_control/record_type.h"

namespace tessarine {

struct JournalEntry {
  uint64_t sequence = 0;  // order in which it was noted into this company file's journal
  std::string site;       // JournalSiteKey of the site code
  RecordType type = RecordType::kTime;
  std::string record_id;       // the time/leave id; an expense's id from its header line ("EXP7001" -> "7001")
  std::string item_ids;        // an expense's item line ids, sorted ascending as numbers, joined by ","
  std::string message_set_id;  // the newMessageSetID its add carried; empty when the version has no recovery
  std::string request;         // the add request sent (the whole qbXML document)
  int64_t noted_at = 0;        // Unix seconds, taken just before the add went out
  enum class State { kSent, kAnswered, kReported } state = State::kSent;
  std::string answer;       // QuickBooks' response to the add (kAnswered, kReported)
  int64_t reported_at = 0;  // when the service accepted the report (kReported)
  int64_t listed_at = 0;    // the last time a download's listing named its record, while not yet reported
};

struct JournalDamage {  // what could not be read; said to the user, never skipped
  std::filesystem::path file;
  std::string what;   // e.g. "record 7 fails its checksum", "the file ends inside a record"
  int64_t since = 0;  // the damaged part was written at or after this time; 0 when nothing tells
};

// How long an entry outlives its last news: 90 days after it was noted or a listing last named its record, or
// after the service accepted its report; a suspect marker as long after it was set. A record the service still
// lists is never forgotten, so it is never added again unasked.
inline constexpr int64_t kJournalKeepSeconds = 90 * 24 * 60 * 60;

}  // namespace tessarine
