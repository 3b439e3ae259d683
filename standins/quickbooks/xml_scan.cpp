#include "standins/quickbooks/xml_scan.h"

#include <algorithm>
#include <charconv>
#include <cstring>
#include <vector>

#include "common/text.h"

namespace standins::quickbooks {

namespace {

bool IsNameChar(char c) {
  return c != ' ' && c != '\t' && c != '\r' && c != '\n' && c != '>' && c != '/' && c != '=' && c != '<' && c != '"' &&
         c != '\'';
}

bool IsBlank(char c) {
  return c == ' ' || c == '\t' || c == '\r' || c == '\n';
}

size_t Find(std::string_view text, std::string_view what, size_t from, size_t offsetForError) {
  size_t at = text.find(what, from);
  if (at == std::string_view::npos) {
    throw XmlScanError("unterminated markup, \"" + std::string(what) + "\" expected", offsetForError);
  }
  return at;
}

// After the name of a start tag: skips attributes to the closing ">" and tells whether it was "/>".
size_t EndOfStartTag(std::string_view text, size_t pos, size_t tagStart, bool& emptyElement) {
  while (pos < text.size()) {
    char c = text[pos];
    if (c == '"' || c == '\'') {
      size_t close = text.find(c, pos + 1);
      if (close == std::string_view::npos) throw XmlScanError("unterminated attribute value", pos);
      pos = close + 1;
    } else if (c == '>') {
      emptyElement = pos > tagStart && text[pos - 1] == '/';
      return pos + 1;
    } else if (c == '<') {
      throw XmlScanError("\"<\" inside a tag", pos);
    } else {
      ++pos;
    }
  }
  throw XmlScanError("unterminated start tag", tagStart);
}

std::string_view NameAt(std::string_view text, size_t pos) {
  size_t end = pos;
  while (end < text.size() && IsNameChar(text[end])) ++end;
  if (end == pos) throw XmlScanError("element name expected", pos);
  return text.substr(pos, end - pos);
}

// Skips a comment, CDATA section, processing instruction or declaration starting at "<"; returns the position
// after it, or npos when pos does not start one.
size_t SkipSpecial(std::string_view text, size_t pos) {
  std::string_view rest = text.substr(pos);
  if (rest.starts_with("<!--")) return Find(text, "-->", pos + 4, pos) + 3;
  if (rest.starts_with("<![CDATA[")) return Find(text, "]]>", pos + 9, pos) + 3;
  if (rest.starts_with("<?")) return Find(text, "?>", pos + 2, pos) + 2;
  if (rest.starts_with("<!")) return Find(text, ">", pos + 2, pos) + 1;
  return std::string_view::npos;
}

void AppendDecoded(std::string& out, std::string_view text) {
  size_t pos = 0;
  while (pos < text.size()) {
    size_t amp = text.find('&', pos);
    if (amp == std::string_view::npos) {
      out.append(text.substr(pos));
      return;
    }
    out.append(text.substr(pos, amp - pos));
    size_t semi = text.find(';', amp);
    std::string_view entity =
        semi == std::string_view::npos ? std::string_view() : text.substr(amp + 1, semi - amp - 1);
    bool done = true;
    if (entity == "amp")
      out += '&';
    else if (entity == "lt")
      out += '<';
    else if (entity == "gt")
      out += '>';
    else if (entity == "quot")
      out += '"';
    else if (entity == "apos")
      out += '\'';
    else if (entity.size() > 1 && entity[0] == '#') {
      uint32_t cp = 0;
      bool hex = entity[1] == 'x' || entity[1] == 'X';
      std::string_view digits = entity.substr(hex ? 2 : 1);
      auto [end, ec] = std::from_chars(digits.data(), digits.data() + digits.size(), cp, hex ? 16 : 10);
      if (ec == std::errc() && end == digits.data() + digits.size() && !digits.empty() && cp <= 0x10FFFF) {
        kv::AppendUtf8(out, cp);
      } else {
        done = false;
      }
    } else {
      done = false;
    }
    if (done) {
      pos = semi + 1;
    } else {
      // Not a reference we know: keep the ampersand as it stands.
      out += '&';
      pos = amp + 1;
    }
  }
}

}  // namespace

ElementSpan ScanElement(std::string_view text, size_t pos, std::vector<ElementSpan>* children) {
  if (pos >= text.size() || text[pos] != '<') throw XmlScanError("element expected", pos);
  ElementSpan span;
  span.begin = pos;
  span.name = NameAt(text, pos + 1);
  bool emptyElement = false;
  span.contentBegin = EndOfStartTag(text, pos + 1 + span.name.size(), pos, emptyElement);
  if (emptyElement) {
    span.contentEnd = span.contentBegin;
    span.end = span.contentBegin;
    return span;
  }
  std::vector<std::string_view> open{span.name};
  ElementSpan child;
  size_t at = span.contentBegin;
  while (true) {
    const void* found = std::memchr(text.data() + at, '<', text.size() - at);
    if (found == nullptr) throw XmlScanError("element <" + std::string(span.name) + "> is not closed", span.begin);
    size_t lt = static_cast<size_t>(static_cast<const char*>(found) - text.data());
    if (children != nullptr && open.size() == 1) {
      for (size_t i = at; i < lt; ++i) {
        if (!IsBlank(text[i])) throw XmlScanError("character data where only elements belong", i);
      }
    }
    at = lt;
    if (size_t after = SkipSpecial(text, at); after != std::string_view::npos) {
      at = after;
      continue;
    }
    if (at + 1 < text.size() && text[at + 1] == '/') {
      std::string_view name = NameAt(text, at + 2);
      if (name != open.back()) {
        throw XmlScanError("end tag </" + std::string(name) + "> does not match <" + std::string(open.back()) + ">",
                           at);
      }
      size_t close = at + 2 + name.size();
      while (close < text.size() && IsBlank(text[close])) ++close;
      if (close >= text.size() || text[close] != '>') throw XmlScanError("malformed end tag", at);
      open.pop_back();
      if (open.empty()) {
        span.contentEnd = at;
        span.end = close + 1;
        return span;
      }
      if (children != nullptr && open.size() == 1) {
        child.contentEnd = at;
        child.end = close + 1;
        children->push_back(child);
      }
      at = close + 1;
      continue;
    }
    std::string_view name = NameAt(text, at + 1);
    bool childEmpty = false;
    size_t start = at;
    at = EndOfStartTag(text, at + 1 + name.size(), at, childEmpty);
    if (children != nullptr && open.size() == 1) {
      child = ElementSpan{name, start, at, at, at};
      if (childEmpty) children->push_back(child);
    }
    if (!childEmpty) open.push_back(name);
  }
}

std::optional<std::string> AttributeOf(std::string_view text, const ElementSpan& element, std::string_view name) {
  size_t pos = element.begin + 1 + element.name.size();
  size_t end = element.contentBegin;
  while (pos < end) {
    while (pos < end && IsBlank(text[pos])) ++pos;
    size_t nameStart = pos;
    while (pos < end && IsNameChar(text[pos])) ++pos;
    std::string_view attribute = text.substr(nameStart, pos - nameStart);
    while (pos < end && IsBlank(text[pos])) ++pos;
    if (attribute.empty() || pos >= end || text[pos] != '=') return std::nullopt;
    ++pos;
    while (pos < end && IsBlank(text[pos])) ++pos;
    if (pos >= end || (text[pos] != '"' && text[pos] != '\'')) return std::nullopt;
    char quote = text[pos];
    size_t close = text.find(quote, pos + 1);
    if (close == std::string_view::npos || close >= end) return std::nullopt;
    if (attribute == name) return DecodeEntities(text.substr(pos + 1, close - pos - 1));
    pos = close + 1;
  }
  return std::nullopt;
}

std::optional<ElementSpan> ChildCursor::Next(bool allowText) {
  while (pos_ < end_) {
    const void* found = std::memchr(text_.data() + pos_, '<', end_ - pos_);
    size_t at = found == nullptr ? end_ : static_cast<size_t>(static_cast<const char*>(found) - text_.data());
    if (!allowText) {
      for (size_t i = pos_; i < at; ++i) {
        if (!IsBlank(text_[i])) throw XmlScanError("character data where only elements belong", i);
      }
    }
    if (at >= end_) {
      pos_ = end_;
      return std::nullopt;
    }
    if (size_t after = SkipSpecial(text_, at); after != std::string_view::npos) {
      pos_ = after;
      continue;
    }
    if (at + 1 < text_.size() && text_[at + 1] == '/') throw XmlScanError("unexpected end tag", at);
    ElementSpan child = ScanElement(text_, at);
    if (child.end > end_) throw XmlScanError("element runs past its parent", at);
    pos_ = child.end;
    return child;
  }
  return std::nullopt;
}

std::optional<ElementSpan> FindChild(std::string_view text, const ElementSpan& parent, std::string_view name) {
  ChildCursor cursor(text, parent);
  while (std::optional<ElementSpan> child = cursor.Next()) {
    if (child->name == name) return child;
  }
  return std::nullopt;
}

std::string DecodedText(std::string_view text, const ElementSpan& element) {
  std::string out;
  size_t pos = element.contentBegin;
  size_t end = element.contentEnd;
  while (pos < end) {
    size_t lt = text.find('<', pos);
    if (lt == std::string_view::npos || lt >= end) {
      AppendDecoded(out, text.substr(pos, end - pos));
      break;
    }
    AppendDecoded(out, text.substr(pos, lt - pos));
    std::string_view rest = text.substr(lt, end - lt);
    if (rest.starts_with("<![CDATA[")) {
      size_t close = Find(text, "]]>", lt + 9, lt);
      out.append(text.substr(lt + 9, close - lt - 9));
      pos = close + 3;
    } else if (size_t after = SkipSpecial(text, lt); after != std::string_view::npos) {
      pos = after;
    } else {
      pos = Find(text, ">", lt, lt) + 1;
    }
  }
  return out;
}

std::optional<std::string> ChildText(std::string_view text, const ElementSpan& parent, std::string_view name) {
  std::optional<ElementSpan> child = FindChild(text, parent, name);
  if (!child) return std::nullopt;
  return DecodedText(text, *child);
}

std::string DecodeEntities(std::string_view text) {
  std::string out;
  out.reserve(text.size());
  AppendDecoded(out, text);
  return out;
}

size_t LineOf(std::string_view text, size_t offset) {
  offset = std::min(offset, text.size());
  return 1 + static_cast<size_t>(std::count(text.begin(), text.begin() + static_cast<std::ptrdiff_t>(offset), '\n'));
}

}  // namespace standins::quickbooks
