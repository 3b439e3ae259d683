// Writing and reading class and interface ids in their registry form.

#include "platform/com/guid.h"

#include <cctype>
#include <cstdio>

namespace platform::com {

std::string GuidToString(const Guid& guid) {
  if (guid.IsNull()) return "";
  char buf[40];
  const auto& d = guid.data4;
  std::snprintf(buf, sizeof buf, "{%08X-%04X-%04X-%02X%02X-%02X%02X%02X%02X%02X%02X}", guid.data1, guid.data2,
                guid.data3, d[0], d[1], d[2], d[3], d[4], d[5], d[6], d[7]);
  return buf;
}

std::optional<Guid> ParseGuid(std::string_view text) {
  if (text.size() == 38 && text.front() == '{' && text.back() == '}') text = text.substr(1, 36);
  if (text.size() != 36) return std::nullopt;
  std::string hex;
  for (size_t i = 0; i < text.size(); ++i) {
    const char c = text[i];
    if (i == 8 || i == 13 || i == 18 || i == 23) {
      if (c != '-') return std::nullopt;
    } else if (!std::isxdigit(static_cast<unsigned char>(c))) {
      return std::nullopt;
    } else {
      hex += c;
    }
  }
  auto take = [&hex](size_t pos, size_t len) { return std::stoull(hex.substr(pos, len), nullptr, 16); };
  Guid g;
  g.data1 = static_cast<uint32_t>(take(0, 8));
  g.data2 = static_cast<uint16_t>(take(8, 4));
  g.data3 = static_cast<uint16_t>(take(12, 4));
  for (size_t i = 0; i < 8; ++i) g.data4[i] = static_cast<uint8_t>(take(16 + 2 * i, 2));
  return g;
}

}  // namespace platform::com
