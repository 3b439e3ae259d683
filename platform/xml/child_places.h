#pragma once

// Where the children of a document's root element stand in its text, learnt in one streaming libxml2 pass, with
// a few of their own children's texts as the parser decodes them.
//
// For a file of records kept as text, whose records are answered verbatim: the pass checks the whole text is
// well-formed, gives each record's markup as a place in the text (as ElementIndex places its records, with the same
// parse options and encoding rule), and keeps only the fields a reader looks records up by, so nothing is built for the
// records that are only passed along.

#include <cstddef>
#include <cstdint>
#include <deque>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "platform/xml/dom.h"

namespace platform::xml {

class ChildPlaces {
 public:
  struct Span {
    size_t start = 0;   // the "<" of the start tag
    size_t length = 0;  // to the ">" of the end tag, included
  };
  // A kept child of a record: its place and the place of its content, relative to the record's start. Its text
  // as the parser decodes it is kept apart only where it differs from the content's bytes (a reference, a CDATA
  // section, a comment), so the usual field costs no copy.
  struct Field {
    uint32_t name = 0;  // index into fieldNames()
    uint32_t start = 0;
    uint32_t length = 0;
    uint32_t contentStart = 0;
    uint32_t contentLength = 0;
    uint32_t decoded = kNone;  // index of its decoded text, kNone when the content's bytes are the text
    bool hasElements = false;  // it holds elements of its own: its text is not a field's value
  };
  static constexpr uint32_t kNone = UINT32_MAX;
  struct Child {
    std::string_view name;  // the qualified name as written
    Span span;
    uint32_t fieldsBegin = 0;  // its kept children: fields()[fieldsBegin, fieldsBegin + fieldsCount)
    uint32_t fieldsCount = 0;
  };

  // Parses the UTF-8 text at once; keeps, for every child of the root, its direct children named in fieldNames.
  // The text must stay unchanged and alive while the places are used.
  ChildPlaces(std::string_view text, std::vector<std::string> fieldNames);

  bool parsed() const { return parsed_; }
  const ParseError& parseError() const { return error_; }

  std::string_view rootName() const { return rootName_; }
  Span root() const { return root_; }
  // Where the root's end tag starts (root().start + root().length for an empty-element tag).
  size_t rootEndTag() const { return rootEndTag_; }
  bool rootIsEmptyTag() const { return rootEmptyTag_; }
  // The root's attributes, values decoded: (qualified name, value).
  const std::vector<std::pair<std::string, std::string>>& rootAttributes() const { return rootAttributes_; }

  // Character data other than blanks directly in the root, between its children.
  bool rootHoldsText() const { return rootTextLine_ > 0; }
  int64_t rootTextLine() const { return rootTextLine_; }  // 1-based line of the first such text; 0 for none

  const std::vector<Child>& children() const { return children_; }
  const std::vector<Field>& fields() const { return fields_; }
  // The field's text (character data, references decoded); for a field holding elements, its content's markup.
  std::string_view Text(const Child& child, const Field& field) const;
  const std::vector<std::string>& fieldNames() const { return fieldNames_; }

  struct Impl;  // the parse's handlers reach it; defined in the source alone

 private:
  std::string_view text_;
  std::vector<std::string> fieldNames_;
  bool parsed_ = false;
  ParseError error_;
  std::string_view rootName_;
  Span root_;
  size_t rootEndTag_ = 0;
  bool rootEmptyTag_ = false;
  std::vector<std::pair<std::string, std::string>> rootAttributes_;
  int64_t rootTextLine_ = 0;
  std::vector<Child> children_;
  std::vector<Field> fields_;
  std::deque<std::string> texts_;
};

}  // namespace platform::xml
