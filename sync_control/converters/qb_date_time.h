#pragma once

#include <string>

#include "common/date_time.h"

namespace brintavel {

// Reads a qbXML date-time ("2005-03-15T14:22:33-08:00") as the local clock time it names, to the second; the
// time-zone part is dropped on purpose, since the service compares these with last-sync times QuickBooks gave in
// the same local clock. Throws a type-mismatch kv::Error when the text is not of that form.
kv::DateTime ParseQBDateTime(const std::string& text);

}  // namespace brintavel
