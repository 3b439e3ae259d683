// Decoding an answer's bytes by its charset, with Latin-1 for bytes that are not UTF-8.

#include "platform/web/charset.h"

#include <algorithm>
#include <array>
#include <cstdint>

#include "platform/base/text.h"

namespace platform::web {
namespace {

// 0x80-0x9F of windows-1252.
constexpr std::array<uint16_t, 32> kWindows1252High = {0x20AC, 0x0081, 0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021,
                                                       0x02C6, 0x2030, 0x0160, 0x2039, 0x0152, 0x008D, 0x017D, 0x008F,
                                                       0x0090, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022, 0x2013, 0x2014,
                                                       0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0x009D, 0x017E, 0x0178};

void AppendWindows1252(std::string& out, unsigned char c) {
  if (c < 0x80) {
    out.push_back(static_cast<char>(c));
  } else if (c < 0xA0) {
    kv::AppendUtf8(out, kWindows1252High[c - 0x80]);
  } else {
    kv::AppendUtf8(out, c);
  }
}

// The length of the valid UTF-8 sequence at the start of the text, or 0 when there is none.
size_t Utf8SequenceLength(std::string_view text) {
  const auto c = static_cast<unsigned char>(text[0]);
  size_t extra;
  uint32_t cp;
  if (c < 0x80) return 1;
  if (c >= 0xC2 && c <= 0xDF) {
    extra = 1;
    cp = c & 0x1F;
  } else if (c >= 0xE0 && c <= 0xEF) {
    extra = 2;
    cp = c & 0x0F;
  } else if (c >= 0xF0 && c <= 0xF4) {
    extra = 3;
    cp = c & 0x07;
  } else {
    return 0;
  }
  if (extra >= text.size()) return 0;
  for (size_t k = 1; k <= extra; ++k) {
    const auto cc = static_cast<unsigned char>(text[k]);
    if ((cc & 0xC0) != 0x80) return 0;
    cp = (cp << 6) | (cc & 0x3F);
  }
  // Overlong forms, surrogates and values past U+10FFFF are not UTF-8.
  if ((extra == 2 && cp < 0x800) || (extra == 3 && cp < 0x10000) || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF)) {
    return 0;
  }
  return extra + 1;
}

std::string CleanCharsetName(std::string_view value) {
  std::string name = kv::ToLowerAscii(value);
  std::erase(name, '"');
  std::erase(name, '\'');
  const size_t end = name.find_first_of("; \t\r\n/>");
  if (end != std::string::npos) name.resize(end);
  return name;
}

}  // namespace

std::string CharsetOf(std::string_view content_type) {
  const std::string lower = kv::ToLowerAscii(content_type);
  const size_t at = lower.find("charset=");
  if (at == std::string::npos) return {};
  return CleanCharsetName(std::string_view(lower).substr(at + 8));
}

std::string MetaCharsetOf(std::string_view html) {
  const std::string head = kv::ToLowerAscii(html.substr(0, 1024));
  for (size_t meta = head.find("<meta"); meta != std::string::npos; meta = head.find("<meta", meta + 5)) {
    const size_t end = head.find('>', meta);
    const std::string_view tag = std::string_view(head).substr(meta, end == std::string::npos ? end : end - meta);
    const size_t at = tag.find("charset=");
    if (at == std::string_view::npos) continue;
    std::string_view value = tag.substr(at + 8);
    while (!value.empty() && (value.front() == '"' || value.front() == '\'' || value.front() == ' ')) {
      value.remove_prefix(1);
    }
    std::string name = CleanCharsetName(value);
    if (!name.empty()) return name;
  }
  return {};
}

bool IsValidUtf8(std::string_view text) {
  for (size_t i = 0; i < text.size();) {
    const size_t length = Utf8SequenceLength(text.substr(i));
    if (length == 0) return false;
    i += length;
  }
  return true;
}

std::string Windows1252ToUtf8(std::string_view bytes) {
  std::string out;
  out.reserve(bytes.size() + bytes.size() / 4);
  for (char ch : bytes) AppendWindows1252(out, static_cast<unsigned char>(ch));
  return out;
}

std::string MixedUtf8ToUtf8(std::string_view bytes) {
  std::string out;
  out.reserve(bytes.size());
  for (size_t i = 0; i < bytes.size();) {
    const size_t length = Utf8SequenceLength(bytes.substr(i));
    if (length == 0) {
      AppendWindows1252(out, static_cast<unsigned char>(bytes[i]));
      ++i;
    } else {
      out.append(bytes.substr(i, length));
      i += length;
    }
  }
  return out;
}

std::string DecodeCharset(std::string_view bytes, std::string_view charset) {
  static constexpr std::array<std::string_view, 12> kWindows1252Labels = {
      "windows-1252", "cp1252",  "x-cp1252", "iso-8859-1", "iso8859-1", "iso_8859-1",
      "latin1",       "latin-1", "l1",       "us-ascii",   "ascii",     "cp819"};
  if (std::find(kWindows1252Labels.begin(), kWindows1252Labels.end(), charset) != kWindows1252Labels.end()) {
    return Windows1252ToUtf8(bytes);
  }
  if (bytes.starts_with("\xEF\xBB\xBF")) bytes.remove_prefix(3);
  return MixedUtf8ToUtf8(bytes);
}

}  // namespace platform::web
