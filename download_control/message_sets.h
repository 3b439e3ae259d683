#pragma once

// QuickBooks' error recovery for the add requests: each message set carries an id of its own, and QuickBooks
// keeps the answer of the last one it processed for this application, so that a run that lost the answer (or
// was killed while waiting for it) can ask whether that message set was processed and read its answer.

#include <cstdint>
#include <string>
#include <string_view>

#include "common/qbxml_version.h"

namespace tessarine {

// The longest message set id QuickBooks keeps.
inline constexpr size_t kMaxMessageSetIDLength = 23;

// A fresh id: the time in seconds and 52 random bits, in hexadecimal, 23 characters.
std::string NewMessageSetID();

// The complete status check of a message set: the version header and an empty message set naming it. Only a
// version with error recovery (kv::qb::HasErrorRecovery) takes it; older message sets refuse the attributes,
// so an add there goes out without them.
std::string MessageSetStatusCheck(kv::qb::QBXMLVersion version, std::string_view message_set_id);

// What QuickBooks said of an earlier message set.
enum class MessageSetOutcome {
  kProcessed,     // the answer holds the kept response of the message set
  kNotProcessed,  // status 600: QuickBooks never processed it (or no longer keeps it)
  kUnknown,       // anything else: no answer, or one that says neither
};
MessageSetOutcome OutcomeOfStatusCheck(std::string_view response);

}  // namespace tessarine
