// Forming the SQL literals of the statements: keys, texts cut to width, flags, dates and numbers.

#include "sync_control/converters/sql_literal.h"

#include <cctype>
#include <charconv>

#include "platform/base/error.h"
#include "platform/base/text.h"

namespace brintavel {
namespace {
bool IsDigit(char c) {
  return std::isdigit(static_cast<unsigned char>(c)) != 0;
}
}  // namespace

std::string_view CutToWidth(std::string_view text, size_t width) {
  // A text of no more bytes than the width has no more characters either: nothing to count.
  if (width == kNoWidth || text.size() <= width) return text;
  return kv::LeftChars(text, width);
}

std::string KeyLiteral(int64_t position) {
  std::string literal;
  AppendKeyLiteral(literal, position);
  return literal;
}

void AppendKeyLiteral(std::string& out, int64_t position) {
  char digits[24];
  const auto [end, ec] = std::to_chars(digits, digits + sizeof digits, kKeyBase + position);
  out.append(digits, static_cast<size_t>(end - digits));
}

std::string TextLiteral(std::string_view text, size_t width) {
  std::string literal;
  AppendTextLiteral(literal, text, width);
  return literal;
}

void AppendTextLiteral(std::string& out, std::string_view text, size_t width) {
  text = CutToWidth(text, width);
  out += '\'';
  for (size_t apostrophe; (apostrophe = text.find('\'')) != std::string_view::npos;) {
    out.append(text.substr(0, apostrophe + 1)).append(1, '\'');
    text.remove_prefix(apostrophe + 1);
  }
  out.append(text).append(1, '\'');
}

bool IsActiveText(std::string_view is_active) {
  return is_active == "1" || is_active == "true";
}

std::string ActiveFlagLiteral(const std::optional<std::string>& is_active) {
  return is_active && IsActiveText(*is_active) ? "-1" : "0";
}

std::string FormattedDateLiteral(kv::DateTime value) {
  std::string literal = kv::FixedDateTimeText(value);
  literal.insert(literal.begin(), '\'');
  return literal.append(1, '\'');
}

std::string GeneralDateLiteral(kv::DateTime value, size_t width) {
  return TextLiteral(kv::GeneralDateText(value), width);
}

bool IsPlainDecimal(std::string_view text) {
  size_t i = 0;
  if (i < text.size() && (text[i] == '+' || text[i] == '-')) ++i;
  const size_t int_start = i;
  while (i < text.size() && IsDigit(text[i])) ++i;
  if (i == int_start) return false;
  if (i == text.size()) return true;
  if (text[i] != '.') return false;
  const size_t frac_start = ++i;
  while (i < text.size() && IsDigit(text[i])) ++i;
  return i > frac_start && i == text.size();
}

}  // namespace brintavel
