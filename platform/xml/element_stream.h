#pragma once

// Records of a large XML text one at a time, without a tree of the whole text.
//
// A reader of a long answer wants the elements of one or a few names, found as getElementsByTagName finds them
// (anywhere below the document, qualified name as written, document order), and before the first of them,
// whether the text is well-formed at all and how many there are. A DOM of the text costs about ten times the
// text; this stream costs the text (which it reads in place, never copies), the places of its records (a few bytes
// each, see ElementIndex) and one record.
//
// The stream parses with the options and the encoding rule of Document::LoadXml, and its check reports a
// malformed text with the same ParseError a load of that text gives.

#include <cstddef>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "platform/xml/dom.h"
#include "platform/xml/element_index.h"
#include "platform/xml/record_view.h"

namespace platform::xml {

class ElementStream {
 public:
  // The text must stay unchanged and alive while the stream reads it; nodes the stream yields need neither.
  ElementStream(std::string_view text, std::vector<std::string> names);
  // Over an index made for at least these names (else as over the index's text alone): checked already, and
  // reading each record from its place when the index has the positions.
  ElementStream(const ElementIndex& index, std::vector<std::string> names);
  ~ElementStream();
  ElementStream(ElementStream&&) noexcept;
  ElementStream& operator=(ElementStream&&) noexcept;
  ElementStream(const ElementStream&) = delete;
  ElementStream& operator=(const ElementStream&) = delete;

  // Reads the whole text once, keeping no node but the records' places. True when it is well-formed; Count then
  // says how many elements bear each name. False with parseError() as Document::LoadXml would fill it for the
  // same text. Over an index, the index's answer.
  bool Check();
  // After a successful Check; 0 for a name the stream was not made for.
  size_t Count(std::string_view name) const;
  const ParseError& parseError() const;
  // True after a Check that found the text well-formed.
  bool parsed() const;

  // The next element bearing one of the names, in document order (one nested in another comes after it), as
  // a node of its own small document: it and its subtree stay usable after the stream is gone, but it has no
  // parent element. The empty node at the end of the text, and when the text is malformed (failed() then says
  // so and parseError() why). Checks the text first when that was not done.
  Node Next();
  // The same record as a view that reads its children's plain texts without a tree; the empty view where Next
  // gives the empty node. A view of a record read from its place needs the text alive.
  RecordView NextRecord();
  bool failed() const;

 private:
  struct Impl;
  std::unique_ptr<Impl> impl_;
};

}  // namespace platform::xml
