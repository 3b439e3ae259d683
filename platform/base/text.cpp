// The text helpers: trimming, ASCII letter case, splitting, leading numbers and cutting by code points.

#include "platform/base/text.h"

#include "platform/base/error.h"

#include <algorithm>
#include <cctype>
#include <charconv>

namespace kv {
namespace {
bool IsContinuation(unsigned char c) {
  return (c & 0xC0) == 0x80;
}
}  // namespace

std::string_view TrimBlanks(std::string_view text) {
  while (!text.empty() && text.front() == ' ') text.remove_prefix(1);
  while (!text.empty() && text.back() == ' ') text.remove_suffix(1);
  return text;
}

std::string_view TrimXmlSpace(std::string_view text) {
  const size_t begin = text.find_first_not_of(" \t\r\n");
  if (begin == std::string_view::npos) return {};
  return text.substr(begin, text.find_last_not_of(" \t\r\n") - begin + 1);
}

std::string_view TrimTrailingLineBreaks(std::string_view text) {
  while (!text.empty() && (text.back() == '\r' || text.back() == '\n')) text.remove_suffix(1);
  return text;
}

std::string ToUpperAscii(std::string_view text) {
  std::string out(text);
  for (char& c : out) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  return out;
}

std::string ToLowerAscii(std::string_view text) {
  std::string out(text);
  for (char& c : out) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return out;
}

bool EqualsIgnoreCase(std::string_view a, std::string_view b) {
  return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
           return std::tolower(static_cast<unsigned char>(x)) == std::tolower(static_cast<unsigned char>(y));
         });
}

std::string ReplaceAll(std::string_view text, std::string_view from, std::string_view to) {
  if (from.empty()) return std::string(text);
  std::string out;
  out.reserve(text.size());
  size_t pos = 0;
  for (size_t hit; (hit = text.find(from, pos)) != std::string_view::npos; pos = hit + from.size()) {
    out.append(text.substr(pos, hit - pos));
    out.append(to);
  }
  out.append(text.substr(pos));
  return out;
}

std::vector<std::string> Split(std::string_view text, std::string_view separator) {
  std::vector<std::string> out;
  if (separator.empty()) {
    out.emplace_back(text);
    return out;
  }
  size_t pos = 0;
  for (size_t hit; (hit = text.find(separator, pos)) != std::string_view::npos; pos = hit + separator.size()) {
    out.emplace_back(text.substr(pos, hit - pos));
  }
  out.emplace_back(text.substr(pos));
  return out;
}

size_t CodePointCount(std::string_view utf8) {
  return static_cast<size_t>(
      std::count_if(utf8.begin(), utf8.end(), [](char c) { return !IsContinuation(static_cast<unsigned char>(c)); }));
}

std::string_view LeftChars(std::string_view utf8, size_t n) {
  size_t seen = 0;
  for (size_t i = 0; i < utf8.size(); ++i) {
    if (!IsContinuation(static_cast<unsigned char>(utf8[i]))) {
      if (seen == n) return utf8.substr(0, i);
      ++seen;
    }
  }
  return utf8;
}

void AppendUtf8(std::string& out, uint32_t cp) {
  if (cp > 0x10FFFF) cp = 0xFFFD;
  if (cp < 0x80) {
    out += static_cast<char>(cp);
  } else if (cp < 0x800) {
    out += static_cast<char>(0xC0 | (cp >> 6));
    out += static_cast<char>(0x80 | (cp & 0x3F));
  } else if (cp < 0x10000) {
    out += static_cast<char>(0xE0 | (cp >> 12));
    out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (cp & 0x3F));
  } else {
    out += static_cast<char>(0xF0 | (cp >> 18));
    out += static_cast<char>(0x80 | ((cp >> 12) & 0x3F));
    out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (cp & 0x3F));
  }
}

namespace {
bool IsAsciiDigit(char c) {
  return c >= '0' && c <= '9';
}
}  // namespace

double LeadingNumber(std::string_view text) {
  size_t i = 0;
  while (i < text.size() && (text[i] == ' ' || text[i] == '\t' || text[i] == '\n')) ++i;
  bool negative = false;
  if (i < text.size() && (text[i] == '+' || text[i] == '-')) negative = text[i++] == '-';
  const size_t start = i;
  while (i < text.size() && IsAsciiDigit(text[i])) ++i;
  if (i < text.size() && text[i] == '.') {
    ++i;
    while (i < text.size() && IsAsciiDigit(text[i])) ++i;
  }
  std::string_view digits = text.substr(start, i - start);
  if (digits.empty() || digits == ".") return 0;
  double value = 0;
  const auto r = std::from_chars(digits.data(), digits.data() + digits.size(), value, std::chars_format::fixed);
  // A number too large for a double cannot be written back; the caller's column then takes its fallback.
  if (r.ec == std::errc::result_out_of_range) throw kv::Error(kv::kErrOverflow, "Overflow");
  if (r.ec != std::errc()) return 0;
  return negative ? -value : value;
}

}  // namespace kv
