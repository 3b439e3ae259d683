// The record kinds' service codes and the one order of an expense's item ids.

#include "download_control/record_type.h"

#include <algorithm>
#include <vector>

namespace tessarine {

std::string_view RecordTypeCode(RecordType type) {
  switch (type) {
    case RecordType::kTime:
      return "TA";
    case RecordType::kLeave:
      return "LA";
    case RecordType::kExpense:
      return "EXP";
  }
  return "";
}

std::optional<RecordType> RecordTypeFromCode(std::string_view code) {
  if (code == "TA") return RecordType::kTime;
  if (code == "LA") return RecordType::kLeave;
  if (code == "EXP") return RecordType::kExpense;
  return std::nullopt;
}

namespace {

bool IsNumber(std::string_view id) {
  return !id.empty() && std::all_of(id.begin(), id.end(), [](char c) { return c >= '0' && c <= '9'; });
}

// Numbers of any length compare by value: without leading zeros, the shorter is the smaller.
bool ItemIdBefore(std::string_view a, std::string_view b) {
  const bool a_number = IsNumber(a);
  const bool b_number = IsNumber(b);
  if (a_number != b_number) return a_number;
  if (!a_number) return a < b;
  a.remove_prefix(std::min(a.find_first_not_of('0'), a.size()));
  b.remove_prefix(std::min(b.find_first_not_of('0'), b.size()));
  return a.size() != b.size() ? a.size() < b.size() : a < b;
}

}  // namespace

std::string SortItemIds(std::string_view ids) {
  std::vector<std::string_view> parts;
  while (!ids.empty()) {
    const size_t comma = std::min(ids.find(','), ids.size());
    std::string_view part = ids.substr(0, comma);
    while (!part.empty() && part.front() == ' ') part.remove_prefix(1);
    while (!part.empty() && part.back() == ' ') part.remove_suffix(1);
    if (!part.empty()) parts.push_back(part);
    ids.remove_prefix(std::min(comma + 1, ids.size()));
  }
  std::stable_sort(parts.begin(), parts.end(), ItemIdBefore);
  std::string joined;
  for (std::string_view part : parts) {
    if (!joined.empty()) joined += ',';
    joined += part;
  }
  return joined;
}

}  // namespace tessarine
