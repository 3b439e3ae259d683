// Reading QuickBooks' date and date-time texts into the regional date type.

#include "sync_control/converters/qb_date_time.h"

#include "platform/base/error.h"

namespace brintavel {
namespace {

// The number written at text[pos, pos + width), every one of its characters a digit. Read digit by digit: the
// widths are four at most, and every record of a sync has its time stamps read.
bool ReadDigits(std::string_view text, size_t pos, size_t width, int& out) {
  int value = 0;
  for (size_t i = pos; i < pos + width; ++i) {
    const unsigned digit = static_cast<unsigned char>(text[i]) - static_cast<unsigned>('0');
    if (digit > 9) return false;
    value = value * 10 + static_cast<int>(digit);
  }
  out = value;
  return true;
}

}  // namespace

kv::DateTime ParseQBDateTime(std::string_view text) {
  // "YYYY-MM-DDThh:mm:ss" read by its places: the separators between the date's pieces and before the time are
  // not looked at, nor is whatever follows the seconds (the offset). Every piece must be the digits the form
  // promises, so a blank or a sign inside one never yields another date than the text names.
  int year = 0, month = 0, day = 0, hour = 0, minute = 0, second = 0;
  if (text.size() < 19 || text[13] != ':' || text[16] != ':' || !ReadDigits(text, 0, 4, year) ||
      !ReadDigits(text, 5, 2, month) || !ReadDigits(text, 8, 2, day) || !ReadDigits(text, 11, 2, hour) ||
      !ReadDigits(text, 14, 2, minute) || !ReadDigits(text, 17, 2, second)) {
    throw kv::TypeMismatch();
  }
  // Throws the same type-mismatch Error for a day its month does not have or a time past 23:59:59.
  return kv::DateTime::FromParts(year, month, day, hour, minute, second);
}

kv::DateTime ParseQBDate(std::string_view text) {
  int year = 0, month = 0, day = 0;
  if (text.size() != 10 || text[4] != '-' || text[7] != '-' || !ReadDigits(text, 0, 4, year) ||
      !ReadDigits(text, 5, 2, month) || !ReadDigits(text, 8, 2, day)) {
    throw kv::TypeMismatch();
  }
  return kv::DateTime::FromParts(year, month, day);
}

}  // namespace brintavel
