#pragma once

// Reading QuickBooks' date and date-time texts, shared by the converters that keep time stamps.

#include <string_view>

#include "platform/base/date_time.h"

namespace brintavel {

// Reads a qbXML date-time ("2005-03-15T14:22:33-08:00") as the local clock time it names, to the second; the
// time-zone part is dropped on purpose, since the service compares these with last-sync times QuickBooks gave in
// the same local clock. Throws a type-mismatch kv::Error when the text is not of that form.
kv::DateTime ParseQBDateTime(std::string_view text);

// A qbXML date "YYYY-MM-DD" read from its fixed positions, at midnight. Throws a type-mismatch kv::Error for any
// other text or an impossible date.
kv::DateTime ParseQBDate(std::string_view text);

}  // namespace brintavel
