#include "sync_control/converters/qb_date_time.h"

#include <cctype>

#include "common/error.h"

namespace brintavel {
namespace {

// The character positions below count from 1, as the qbXML form is described; a text too short for a position
// gives a shorter (possibly empty) piece, exactly like taking a substring past the end.
std::string Mid(const std::string& text, size_t start, size_t length) {
  if (start - 1 >= text.size()) return {};
  return text.substr(start - 1, length);
}

bool AllDigits(const std::string& piece) {
  if (piece.empty()) return false;
  for (char c : piece) {
    if (!std::isdigit(static_cast<unsigned char>(c))) return false;
  }
  return true;
}

}  // namespace

kv::DateTime ParseQBDateTime(const std::string& text) {
  // Every piece must be the digits the form promises: a blank or a sign inside a piece would otherwise be
  // accepted by the general date reader and give another date than the text names.
  const std::string hour_text = Mid(text, 12, 2);
  const std::string minute_second = Mid(text, 14, 6);
  if (!AllDigits(hour_text) || !AllDigits(Mid(text, 1, 4)) || !AllDigits(Mid(text, 6, 2)) ||
      !AllDigits(Mid(text, 9, 2)) || minute_second.size() != 6 || minute_second[0] != ':' || minute_second[3] != ':' ||
      !AllDigits(minute_second.substr(1, 2)) || !AllDigits(minute_second.substr(4, 2))) {
    throw kv::TypeMismatch();
  }
  const int hour = std::stoi(hour_text);

  // Month first, the hour kept on the 24-hour clock with a meridiem that agrees with it, so the reading
  // depends neither on the day order nor turns 14 into 2.
  std::string built = Mid(text, 6, 2) + "/" + Mid(text, 9, 2) + "/" + Mid(text, 1, 4);
  built.append(" ").append(std::to_string(hour)).append(minute_second);
  built += hour >= 12 ? " PM" : " AM";
  return kv::ParseDateTime(built);
}

}  // namespace brintavel
