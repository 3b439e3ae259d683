#pragma once

// The kinds of record the download posts, and the codes the service names them by in its lists and reports.

#include <optional>
#include <string>
#include <string_view>

namespace tessarine {

enum class RecordType { kTime, kLeave, kExpense };

// "TA", "LA", "EXP": the service's TrnType.
std::string_view RecordTypeCode(RecordType type);
// Exact and case-sensitive, as the service's status page compares them.
std::optional<RecordType> RecordTypeFromCode(std::string_view code);

// An expense's item line ids joined by ",", sorted ascending as numbers (ids that are not numbers after them, in
// text order), so that one expense is one key whatever order its lines come in.
std::string SortItemIds(std::string_view ids);

}  // namespace tessarine
