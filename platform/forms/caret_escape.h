#pragma once

// Control characters of outside texts made visible before they reach a terminal.

#include <string>
#include <string_view>

namespace platform::forms {

// What becomes of line breaks (CR LF, lone CR, lone LF) when control characters are escaped.
enum class LineBreaks {
  // Each break becomes one "↵" and a tab "^I", so the text stays on one line of a known width.
  kMarked,
  // Each break becomes "\n" and tabs stay, for text written over several lines as it is.
  kKept,
};

// The text with every other control character in caret notation ("^[" for ESC, "^?" for DEL and for the
// eight-bit controls U+0080 to U+009F).
std::string CaretEscape(std::string_view text, LineBreaks breaks);

}  // namespace platform::forms
