// The shared escaping loop: copies the runs between special characters whole, which keeps large documents cheap.
#include "platform/xml/escape.h"

namespace platform::xml {
namespace {

const char* EntityFor(char c, const EscapeRules& rules) {
  switch (c) {
    case '&':
      return "&amp;";
    case '<':
      return "&lt;";
    case '>':
      return "&gt;";
    case '"':
      return rules.quote ? "&quot;" : nullptr;
    case '\'':
      return rules.apostrophe ? "&apos;" : nullptr;
    case '\r':
      return rules.carriage_return ? "&#13;" : nullptr;
    case '\n':
      return rules.line_feed_and_tab ? "&#10;" : nullptr;
    case '\t':
      return rules.line_feed_and_tab ? "&#9;" : nullptr;
    default:
      return nullptr;
  }
}

}  // namespace

void AppendEscaped(std::string& out, std::string_view text, const EscapeRules& rules) {
  size_t start = 0;
  for (size_t i = 0; i < text.size(); ++i) {
    const char* entity = EntityFor(text[i], rules);
    if (entity == nullptr) continue;
    out.append(text.substr(start, i - start));
    out.append(entity);
    start = i + 1;
  }
  out.append(text.substr(start));
}

std::string Escaped(std::string_view text, const EscapeRules& rules) {
  std::string out;
  out.reserve(text.size());
  AppendEscaped(out, text, rules);
  return out;
}

}  // namespace platform::xml
