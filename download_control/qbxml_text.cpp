// The text rules of the add requests: escaping with the service's line-break marker, dates, amounts,
// durations and the conversions of the service's fields.

#include "download_control/qbxml_text.h"

#include <array>
#include <charconv>
#include <cmath>
#include <limits>
#include <utility>

#include "platform/base/error.h"
#include "platform/base/text.h"
#include "platform/xml/escape.h"

namespace tessarine {

bool HasXMLSpecialChars(std::string_view text) {
  return text.find_first_of("<>&'\"") != std::string_view::npos;
}

namespace {

// A control character that XML allows nowhere, not even as a character reference.
bool IsForbiddenControl(char c) {
  const auto byte = static_cast<unsigned char>(c);
  return byte < 0x20 && c != '\t' && c != '\n' && c != '\r';
}

// The length of U+FFFE or U+FFFF in UTF-8 at the start of the text (XML forbids both), else 0.
size_t ForbiddenNonCharacterAt(std::string_view text) {
  return text.size() >= 3 && text[0] == '\xEF' && text[1] == '\xBF' && (text[2] == '\xBE' || text[2] == '\xBF') ? 3 : 0;
}

bool NeedsEscaping(std::string_view text) {
  if (HasXMLSpecialChars(text) || text.find('\r') != std::string_view::npos) return true;
  for (size_t i = 0; i < text.size(); ++i) {
    if (IsForbiddenControl(text[i]) || ForbiddenNonCharacterAt(text.substr(i)) > 0) return true;
  }
  return false;
}

}  // namespace

std::string EscapeXMLText(std::string_view text) {
  if (!NeedsEscaping(text)) return std::string(text);
  static constexpr std::string_view kMarker = "&#10";
  // QuickBooks reads "'" and a double quote back either way; a bare CR would reach it as LF.
  static constexpr platform::xml::EscapeRules kRules{.quote = true, .apostrophe = true, .carriage_return = true};
  std::string out;
  out.reserve(text.size() + 16);
  size_t run = 0;  // start of the text not yet written
  for (size_t i = 0; i < text.size(); ++i) {
    size_t skip = 0;
    std::string_view replacement;
    if (IsForbiddenControl(text[i])) {
      // A character XML cannot carry would make QuickBooks refuse the whole request; a blank keeps the rest.
      skip = 1;
      replacement = " ";
    } else if (const size_t length = ForbiddenNonCharacterAt(text.substr(i)); length > 0) {
      skip = length;
      replacement = " ";
    } else if (text.substr(i, kMarker.size()) == kMarker) {
      skip = kMarker.size() + (i + kMarker.size() < text.size() && text[i + kMarker.size()] == ';' ? 1 : 0);
      replacement = "&#10;";
    } else {
      continue;
    }
    platform::xml::AppendEscaped(out, text.substr(run, i - run), kRules);
    out += replacement;
    i += skip - 1;
    run = i + 1;
  }
  platform::xml::AppendEscaped(out, text.substr(run), kRules);
  return out;
}

std::string FullNameElement(std::string_view tag, std::string_view value) {
  std::string out;
  out.reserve(value.size() + tag.size() * 2 + 32);
  out += '<';
  out += tag;
  out += ">\r\n<FullName>";
  out += value;
  out += "</FullName>\r\n</";
  out += tag;
  out += ">\r\n";
  return out;
}

kv::DateTime ReadServiceDate(std::string_view text) {
  const std::string_view trimmed = kv::TrimBlanks(text);
  kv::DateTime date;
  // A time alone converts to the zero date, which is no transaction date.
  const bool has_date = trimmed.find_first_of("/-") != std::string_view::npos;
  if (!has_date || !kv::TryParseDateTime(trimmed, date)) {
    throw kv::Error(kv::kErrTypeMismatch,
                    "The date '" + std::string(text) + "' cannot be read; dates are M/D/YYYY or YYYY-MM-DD.");
  }
  return date;
}

std::string QBDateText(kv::DateTime date) {
  return kv::IsoDateText(date);
}

bool ReadFlagText(std::string_view text, std::string_view what) {
  const std::string_view trimmed = kv::TrimBlanks(text);
  if (kv::EqualsIgnoreCase(trimmed, "True")) return true;
  if (kv::EqualsIgnoreCase(trimmed, "False")) return false;
  double number = 0;
  if (kv::TryParseNumber(trimmed, number)) return number != 0;
  throw kv::Error(kv::kErrTypeMismatch,
                  "The " + std::string(what) + " '" + std::string(text) + "' is neither True nor False.");
}

double ReadNumberText(std::string_view text, std::string_view what) {
  double number = 0;
  if (!kv::TryParseNumber(text, number)) {
    throw kv::Error(kv::kErrTypeMismatch, "The " + std::string(what) + " '" + std::string(text) + "' is not a number.");
  }
  return number;
}

std::string AmountText(double value) {
  if (!std::isfinite(value)) throw kv::Error(kv::kErrOverflow, "Overflow");
  // The shortest decimal form that reads back as the same double: what the user typed, not its binary residue.
  std::array<char, 400> buf{};
  const auto r = std::to_chars(buf.data(), buf.data() + buf.size(), value, std::chars_format::fixed);
  if (r.ec != std::errc()) throw kv::Error(kv::kErrOverflow, "Overflow");
  std::string_view digits(buf.data(), static_cast<size_t>(r.ptr - buf.data()));
  const bool negative = !digits.empty() && digits.front() == '-';
  if (negative) digits.remove_prefix(1);
  const size_t dot = digits.find('.');
  std::string whole(digits.substr(0, dot));
  std::string fraction = dot == std::string_view::npos ? std::string() : std::string(digits.substr(dot + 1));
  const bool round_up = fraction.size() > 2 && fraction[2] >= '5';
  fraction.resize(2, '0');
  std::string number = whole + fraction;  // cents as a digit string
  if (round_up) {
    size_t i = number.size();
    while (i > 0) {
      --i;
      if (number[i] == '9') {
        number[i] = '0';
      } else {
        ++number[i];
        break;
      }
      if (i == 0) number.insert(number.begin(), '1');
    }
  }
  std::string integer = number.substr(0, number.size() - 2);
  const size_t first = integer.find_first_not_of('0');
  integer = first == std::string::npos ? "0" : integer.substr(first);
  std::string out = integer + "." + number.substr(number.size() - 2);
  if (negative && out != "0.00") out.insert(out.begin(), '-');
  return out;
}

Duration DurationOf(double hours) {
  if (!std::isfinite(hours) || std::fabs(hours) >= 2147483648.0) throw kv::Error(kv::kErrOverflow, "Overflow");
  Duration d;
  d.whole_hours = static_cast<int32_t>(std::trunc(hours));
  if (hours > d.whole_hours) {
    d.minutes = static_cast<int32_t>(std::nearbyint((hours - d.whole_hours) * 60.0));
  }
  return d;
}

std::string DurationText(const Duration& duration) {
  return "PT" + std::to_string(duration.whole_hours) + "H" + std::to_string(duration.minutes) + "M";
}

int32_t ReadLongText(std::string_view text) {
  double number = 0;
  if (!kv::TryParseNumber(text, number)) throw kv::TypeMismatch();
  const double rounded = std::nearbyint(number);
  if (rounded < std::numeric_limits<int32_t>::min() || rounded > std::numeric_limits<int32_t>::max()) {
    throw kv::Error(kv::kErrOverflow, "Overflow");
  }
  return static_cast<int32_t>(rounded);
}

}  // namespace tessarine
