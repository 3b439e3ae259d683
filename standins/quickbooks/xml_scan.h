#pragma once

#include <cstddef>
#include <optional>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

namespace standins::quickbooks {

// A shallow reader of XML text for company files, which can hold hundreds of megabytes: it finds elements and
// their direct children by their byte ranges, so query answers are copied from the file verbatim and nothing
// is built for records that are only passed along. It checks that tags nest and match, which is what keeps a
// hand-edited file from being misread.

struct XmlScanError : std::runtime_error {
  XmlScanError(const std::string& what, size_t offset) : std::runtime_error(what), offset(offset) {}
  size_t offset;
};

struct ElementSpan {
  std::string_view name;
  size_t begin = 0;         // the "<" of the start tag
  size_t contentBegin = 0;  // just after the start tag
  size_t contentEnd = 0;    // the "<" of the end tag (contentBegin for an empty-element tag)
  size_t end = 0;           // just after the end tag
};

// The element whose start tag begins at pos. With children, also collects its direct child elements in
// the same pass and rejects non-blank character data between them.
ElementSpan ScanElement(std::string_view text, size_t pos, std::vector<ElementSpan>* children = nullptr);

// The value of an attribute in a start tag (entities decoded), or nothing.
std::optional<std::string> AttributeOf(std::string_view text, const ElementSpan& element, std::string_view name);

// Walks the direct child elements of [begin, end), skipping character data, comments, CDATA sections and
// processing instructions between them.
class ChildCursor {
 public:
  ChildCursor(std::string_view text, size_t begin, size_t end) : text_(text), pos_(begin), end_(end) {}
  ChildCursor(std::string_view text, const ElementSpan& parent)
      : ChildCursor(text, parent.contentBegin, parent.contentEnd) {}
  // The next child, or nothing after the last. Non-blank character data between children is allowed and
  // passed over when allowText, else it raises XmlScanError.
  std::optional<ElementSpan> Next(bool allowText = true);

 private:
  std::string_view text_;
  size_t pos_;
  size_t end_;
};

// The first direct child named name.
std::optional<ElementSpan> FindChild(std::string_view text, const ElementSpan& parent, std::string_view name);

// The character data of an element's content with entities, character references and CDATA decoded (the
// text of child elements included, their tags left out).
std::string DecodedText(std::string_view text, const ElementSpan& element);
// The decoded text of the first child named name, or nothing when there is no such child.
std::optional<std::string> ChildText(std::string_view text, const ElementSpan& parent, std::string_view name);

// Decodes the five predefined entities and character references of a text without markup.
std::string DecodeEntities(std::string_view text);

// 1-based line of a byte offset, for messages.
size_t LineOf(std::string_view text, size_t offset);

}  // namespace standins::quickbooks
