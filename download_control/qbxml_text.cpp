#include "download_control/qbxml_text.h"

#include <array>
#include <charconv>
#include <cmath>
#include <limits>
#include <utility>

#include "platform/base/error.h"
#include "platform/base/text.h"

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
  std::string out;
  out.reserve(text.size() + 16);
  for (size_t i = 0; i < text.size(); ++i) {
    const char c = text[i];
    // A character XML cannot carry would make QuickBooks refuse the whole request; a blank keeps the rest.
    if (IsForbiddenControl(c)) {
      out += ' ';
      continue;
    }
    if (const size_t length = ForbiddenNonCharacterAt(text.substr(i)); length > 0) {
      out += ' ';
      i += length - 1;
      continue;
    }
    if (c == '&' && text.substr(i, kMarker.size()) == kMarker) {
      out += "&#10;";
      i += kMarker.size() - 1;
      if (i + 1 < text.size() && text[i + 1] == ';') ++i;
      continue;
    }
    switch (c) {
      case '&':
        out += "&amp;";
        break;
      case '<':
        out += "&lt;";
        break;
      case '>':
        out += "&gt;";
        break;
      case '\'':
        out += "&apos;";
        break;
      case '"':
        out += "&quot;";
        break;
      case '\r':
        // An XML reader turns a bare CR into LF; the reference keeps it.
        out += "&#13;";
        break;
      default:
        out += c;
    }
  }
  return out;
}

std::string QBXMLDocumentHeader(int32_t version_code) {
  static constexpr std::string_view kDeclaration = "<?xml version=\"1.0\" ?>";
  switch (version_code) {
    case 6:
      return std::string(kDeclaration) + "<?qbxml version=\"CA1.0\"?>";
    case 7:
      return std::string(kDeclaration) + "<?qbxml version=\"CA1.1\"?>";
    case 8:
      return std::string(kDeclaration) + "<?qbxml version=\"CA2.0\"?>";
    case 9:
      return std::string(kDeclaration) + "<?qbxml version=\"UK1.0\"?>";
    case 10:
      return std::string(kDeclaration) + "<?qbxml version=\"UK1.1\"?>";
    case 11:
      return std::string(kDeclaration) + "<?qbxml version=\"UK2.0\"?>";
    default:
      break;
  }
  const bool us2 = version_code >= 2 && version_code <= 5;
  std::string header = "<?xml version = \"1.0\"?>\r\n";
  header += us2 ? "<!DOCTYPE QBXML PUBLIC '-//INTUIT//DTD QBXML QBD 2.0//EN'>"
                : "<!DOCTYPE QBXML PUBLIC '-//INTUIT//DTD QBXML QBD 1.0//EN'>";
  header += kCrLf;
  return header;
}

std::string QBXMLBody(std::string_view requests, std::string_view message_set_id) {
  std::string body = "<QBXML>\r\n<QBXMLMsgsRq onError = \"continueOnError\"";
  if (!message_set_id.empty()) {
    body += " newMessageSetID = \"";
    body += message_set_id;
    body += '"';
  }
  body += ">\r\n";
  body += requests;
  body += "</QBXMLMsgsRq>\r\n</QBXML>";
  return body;
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
