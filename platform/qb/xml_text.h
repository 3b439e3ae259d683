#pragma once

#include <string>
#include <string_view>

namespace platform::qb {

// Character data for an XML element: "&", "<" and ">" become entities and CR "&#13;", everything else stays.
std::string EscapeXmlText(std::string_view text);
// An attribute value in double quotes: as above, and the double quote, LF and TAB too.
std::string EscapeXmlAttribute(std::string_view text);
// Appends the escaped text to out, without a temporary.
void AppendEscaped(std::string& out, std::string_view text, bool attribute = false);

}  // namespace platform::qb
