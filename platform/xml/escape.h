#pragma once
// The one way text becomes XML character data or an attribute value. Which characters beyond the three of the
// markup are written as references differs by reader, so each caller names its rules; the loop is shared.

#include <string>
#include <string_view>

namespace platform::xml {

// What becomes a reference besides "&", "<" and ">", which always do.
struct EscapeRules {
  bool quote = false;       // '"' as &quot;
  bool apostrophe = false;  // "'" as &apos;
  // A reader turns a bare CR into LF; &#13; comes back as CR.
  bool carriage_return = false;
  // An attribute reader turns LF and TAB into blanks; &#10; and &#9; come back as they were.
  bool line_feed_and_tab = false;
};

// Element text that a reader hands back exactly, CR included.
inline constexpr EscapeRules kElementText{.carriage_return = true};
// A double-quoted attribute value that a reader hands back exactly, line breaks and tabs included.
inline constexpr EscapeRules kAttributeValue{.quote = true, .carriage_return = true, .line_feed_and_tab = true};
// The markup characters alone: texts known to hold no quote or line break, or written for a reader that normalises
// them anyway.
inline constexpr EscapeRules kMarkupOnly{};

// Appends the escaped text to out, without a temporary.
void AppendEscaped(std::string& out, std::string_view text, const EscapeRules& rules = kElementText);
std::string Escaped(std::string_view text, const EscapeRules& rules);

inline std::string EscapeXmlText(std::string_view text) {
  return Escaped(text, kElementText);
}
inline std::string EscapeXmlAttribute(std::string_view text) {
  return Escaped(text, kAttributeValue);
}

}  // namespace platform::xml
