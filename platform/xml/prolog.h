#pragma once

// What stands before a document's root element, as libxml2 reads it, and a text's bytes in any encoding XML
// allows turned into the UTF-8 the rest of platform/xml reads (Document, ElementIndex and ChildPlaces take their
// texts as UTF-8 whatever the declaration names).

#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace platform::xml {

struct Prolog {
  std::string version;           // of the XML declaration; "" without one
  std::string declaredEncoding;  // of the XML declaration; "" when it names none
  // What the parser reads the bytes as: its encoder's name ("UTF-16LE", "ISO-8859-1"), "UTF-8" when it needs
  // none. Decided as XML decides it: the byte-order mark, else the first bytes, else the declaration.
  std::string encoding = "UTF-8";
  bool byteOrderMark = false;

  struct DocumentType {
    std::string name;
    std::string publicId;
    std::string systemId;
    // Where the declaration stands in the text read (byte offsets, "<!DOCTYPE" to its closing ">").
    size_t begin = 0;
    size_t end = 0;
  };
  // A declaration that names a public id without a system id is not well-formed XML, yet is read (qbXML
  // requests carry one).
  std::optional<DocumentType> doctype;

  struct Instruction {
    std::string target;
    std::string data;
  };
  std::vector<Instruction> instructions;  // the processing instructions before the root element, in order

  bool rootReached = false;  // false when the text ends, or breaks off, before a root element
};

// Reads the prolog of the text. asUtf8: the text is read as UTF-8 whatever it declares, so that the places of
// the document type declaration are places in that text; otherwise its encoding is found as above.
Prolog ReadProlog(std::string_view text, bool asUtf8);

// The value of a pseudo-attribute of an instruction's data (version="2.0" of <?qbxml version="2.0"?>), or
// nothing.
std::optional<std::string> PseudoAttribute(std::string_view data, std::string_view name);

// A text in any encoding XML allows as UTF-8, without a byte-order mark; kept: how to write it back.
struct Utf8Text {
  std::string text;
  std::string encoding = "UTF-8";  // Prolog::encoding of the original bytes
  bool byteOrderMark = false;
};

// Raises kv::Error (kXmlFailure) naming the encoding when the bytes do not decode. Bytes already in UTF-8 are
// moved, not copied: a company file can be hundreds of megabytes.
Utf8Text ToUtf8(std::string bytes);
// The UTF-8 text in the encoding (with its byte-order mark when asked); raises kv::Error when a character has no
// form in that encoding.
std::string FromUtf8(std::string_view utf8, std::string_view encoding, bool byteOrderMark);
// The byte-order mark of the encoding ("" for one without).
std::string ByteOrderMark(std::string_view encoding);

}  // namespace platform::xml
