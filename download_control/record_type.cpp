// The service's codes of the record types.

#include "download_control/record_type.h"

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

}  // namespace tessarine
