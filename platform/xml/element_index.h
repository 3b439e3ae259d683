#pragma once

// Where the elements of a few names stand in a large XML text, learnt in one streaming parse.
//
// Several readers of one long answer each want the records of their own names. Rather than each parsing the whole
// text again, one parse checks that the text is well-formed, counts the elements of every name wanted and notes
// where each of them starts and ends in the text; a reader then parses only its own records, each as a small
// document of its own (ElementStream over an index). The positions are kept compactly, a few bytes a record.
//
// Elements are found as getElementsByTagName finds them (anywhere below the document, qualified name as written,
// document order, one nested in another after it). The parse uses the options and the encoding rule of
// Document::LoadXml and reports a malformed text with the same ParseError.

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "platform/xml/dom.h"

namespace platform::xml {

// How a long text is parsed: cut at its records into up to `parts` pieces of at least `minPart` bytes, parsed at once,
// each on a thread of its own (parts 0: one per processor, up to eight). The index is the one a parse of the whole
// text makes, in every answer; a text whose cuts the parse of its pieces cannot vouch for is parsed whole.
struct IndexSplit {
  size_t parts = 0;
  size_t minPart = size_t{4} << 20;
};

class ElementIndex {
 public:
  // Parses the text at once. The text must stay unchanged and alive while the index or a stream over it reads it.
  // Without positions the index only checks and counts.
  ElementIndex(std::string_view text, std::vector<std::string> names, bool keepPositions = true, IndexSplit split = {});
  // The same over a string, which a whole parse reads where it lies instead of a part at a time: a string keeps a NUL
  // byte after its text.
  ElementIndex(const std::string& text, std::vector<std::string> names, bool keepPositions = true,
               IndexSplit split = {});

  // True when the text is well-formed; otherwise parseError() says why, as a load of the text would, and every
  // count is 0.
  bool parsed() const;
  const ParseError& parseError() const;
  // 0 for a name the index was not made for.
  size_t Count(std::string_view name) const;
  bool Holds(std::string_view name) const;
  const std::vector<std::string>& names() const;
  std::string_view text() const;

  // True when every element of the names can be read from its place alone. Not so when positions were not asked
  // for, when the text did not parse, when namespaces are declared around the records (a record read alone would
  // lose them), when a record comes out of an entity's replacement text, or when the positions would take more
  // than a twentieth of the text; a reader then walks the text instead.
  bool positioned() const;
  // Bytes the positions take.
  size_t PositionBytes() const;
  // How many pieces the text was parsed in: 1 when it was parsed whole.
  size_t pieces() const;

  // Where one element stands: text().substr(start, length) is its markup, start tag to end tag.
  struct Span {
    size_t start = 0;
    size_t length = 0;
  };
  // The elements of one name in document order; empty when not positioned.
  std::vector<Span> Spans(std::string_view name) const;
  // What a record read alone needs before its markup: the text's prolog when it declares entities, else nothing.
  std::string_view Prolog() const;

  // A reader of the positions of one name, one span at a time, in document order.
  class SpanReader {
   public:
    SpanReader() = default;
    bool Next(Span& span);

   private:
    friend class ElementIndex;
    std::shared_ptr<const void> keep_;  // the index's state, which the bytes below belong to
    const std::vector<uint8_t>* bytes_ = nullptr;
    size_t offset_ = 0;
    size_t previous_ = 0;
    std::vector<Span> sorted_;  // for a name whose elements nest in one another
    size_t next_sorted_ = 0;
    bool use_sorted_ = false;
  };
  SpanReader Reader(std::string_view name) const;

  struct Impl;  // the parse's handlers reach it; defined in the source alone

 private:
  // terminated: the byte after the text is a NUL.
  ElementIndex(std::string_view text, std::vector<std::string> names, bool keepPositions, IndexSplit split,
               bool terminated);

  std::shared_ptr<Impl> impl_;
};

}  // namespace platform::xml
