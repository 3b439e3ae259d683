// Caret notation for control characters, with the line-break treatment the caller asks for.

#include "platform/forms/caret_escape.h"

namespace platform::forms {

std::string CaretEscape(std::string_view text, LineBreaks breaks) {
  const bool marked = breaks == LineBreaks::kMarked;
  std::string out;
  out.reserve(text.size());
  for (size_t i = 0; i < text.size(); ++i) {
    const auto c = static_cast<unsigned char>(text[i]);
    if (c == '\r' || c == '\n') {
      out += marked ? "\u21B5" : "\n";
      if (c == '\r' && i + 1 < text.size() && text[i + 1] == '\n') ++i;
    } else if (c == '\t' && !marked) {
      out += '\t';
    } else if (c < 0x20 || c == 0x7F) {
      // The texts carry the service's answers: an escape sequence in one must not drive the user's terminal.
      out += '^';
      out += static_cast<char>(c ^ 0x40);
    } else if (c == 0xC2 && i + 1 < text.size() && static_cast<unsigned char>(text[i + 1]) >= 0x80 &&
               static_cast<unsigned char>(text[i + 1]) <= 0x9F) {
      // The eight-bit controls start sequences on some terminals too.
      out += "^?";
      ++i;
    } else {
      out += text[i];
    }
  }
  return out;
}

}  // namespace platform::forms
