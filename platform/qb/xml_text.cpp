#include "platform/qb/xml_text.h"

namespace platform::qb {

void AppendEscaped(std::string& out, std::string_view text, bool attribute) {
  size_t start = 0;
  for (size_t i = 0; i < text.size(); ++i) {
    const char* entity = nullptr;
    switch (text[i]) {
      case '&':
        entity = "&amp;";
        break;
      case '<':
        entity = "&lt;";
        break;
      case '>':
        entity = "&gt;";
        break;
      case '"':
        entity = attribute ? "&quot;" : nullptr;
        break;
      // A reader turns a bare CR into LF, and in an attribute every line break and tab into a blank; the
      // references come back as they were.
      case '\r':
        entity = "&#13;";
        break;
      case '\n':
        entity = attribute ? "&#10;" : nullptr;
        break;
      case '\t':
        entity = attribute ? "&#9;" : nullptr;
        break;
      default:
        break;
    }
    if (entity == nullptr) continue;
    out.append(text.substr(start, i - start));
    out.append(entity);
    start = i + 1;
  }
  out.append(text.substr(start));
}

std::string EscapeXmlText(std::string_view text) {
  std::string out;
  out.reserve(text.size());
  AppendEscaped(out, text, false);
  return out;
}

std::string EscapeXmlAttribute(std::string_view text) {
  std::string out;
  out.reserve(text.size());
  AppendEscaped(out, text, true);
  return out;
}

}  // namespace platform::qb
