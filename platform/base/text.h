#pragma once

// Text helpers every floor uses, kept at the bottom so no floor writes its own.

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace kv {

inline constexpr std::string_view kCrLf = "\r\n";

// Blanks only (the platform's Trim), not tabs or line ends.
std::string_view TrimBlanks(std::string_view text);
// Without the CR and LF characters at its end: a service answer judged as a whole reads the same with or without
// the line break a server ends it with.
std::string_view TrimTrailingLineBreaks(std::string_view text);
// XML's white space around a text: blanks, tabs and line ends.
std::string_view TrimXmlSpace(std::string_view text);
std::string ToUpperAscii(std::string_view text);
std::string ToLowerAscii(std::string_view text);
bool EqualsIgnoreCase(std::string_view a, std::string_view b);
// The number at the start of a text as the platform's Val reads it (leading blanks, tabs and line feeds
// skipped, an optional sign, digits with an optional decimal part); 0 when the text does not start with one.
// A number beyond the range of a double raises an overflow kv::Error.
double LeadingNumber(std::string_view text);
std::string ReplaceAll(std::string_view text, std::string_view from, std::string_view to);
// Splits at every occurrence of the separator; an empty text gives one empty field.
std::vector<std::string> Split(std::string_view text, std::string_view separator);

// Characters (UTF-8 code points) of a text; widths that cut texts count these, never bytes.
size_t CodePointCount(std::string_view utf8);
// Appends a code point as UTF-8; one beyond U+10FFFF becomes U+FFFD.
void AppendUtf8(std::string& out, uint32_t cp);
// The first n code points of a text.
std::string_view LeftChars(std::string_view utf8, size_t n);

}  // namespace kv
