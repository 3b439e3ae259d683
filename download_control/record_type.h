#pragma once

// The kinds of record the service hands the download: time, leave and expenses. The service names them by its
// transaction type codes, which are used only where a record crosses to the service or the results grid.

#include <optional>
#include <string_view>

namespace tessarine {

enum class RecordType { kTime, kLeave, kExpense };

// "TA", "LA", "EXP": the service's TrnType.
std::string_view RecordTypeCode(RecordType type);
// Exact and case-sensitive, as the service writes them.
std::optional<RecordType> RecordTypeFromCode(std::string_view code);

}  // namespace tessarine
