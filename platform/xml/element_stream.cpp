#include "platform/xml/element_stream.h"

#include <libxml/entities.h>
#include <libxml/hash.h>
#include <libxml/parserInternals.h>
#include <libxml/xmlreader.h>

#include <algorithm>
#include <climits>
#include <cstring>
#include <optional>

#include "platform/xml/libxml_private.h"

namespace platform::xml {
namespace {

constexpr const char* kUnparsed = "The document could not be parsed";
constexpr const char* kTooLarge = "The document is larger than 2 GB";

// The text handed to libxml2 piece by piece, so that neither pass keeps a copy of it.
struct TextSource {
  std::string_view text;
  size_t offset = 0;

  static int Read(void* context, char* buffer, int length) {
    auto* self = static_cast<TextSource*>(context);
    const size_t n = std::min(static_cast<size_t>(std::max(length, 0)), self->text.size() - self->offset);
    std::memcpy(buffer, self->text.data() + self->offset, n);
    self->offset += n;
    return static_cast<int>(n);
  }
  static int Close(void*) { return 0; }
};

std::string_view View(const xmlChar* s) {
  return s ? std::string_view(reinterpret_cast<const char*>(s)) : std::string_view();
}

// The qualified name as getElementsByTagName compares it.
bool QualifiedNameIs(std::string_view prefix, std::string_view local, std::string_view name) {
  if (prefix.empty()) return local == name;
  return name.size() == prefix.size() + 1 + local.size() && name.substr(0, prefix.size()) == prefix &&
         name[prefix.size()] == ':' && name.substr(prefix.size() + 1) == local;
}

std::optional<size_t> NameIndex(const std::vector<std::string>& names, std::string_view prefix,
                                std::string_view local) {
  for (size_t i = 0; i < names.size(); ++i) {
    if (QualifiedNameIs(prefix, local, names[i])) return i;
  }
  return std::nullopt;
}

bool IsWanted(const std::vector<std::string>& names, const xmlNode* node) {
  const std::string_view prefix = node->ns != nullptr ? View(node->ns->prefix) : std::string_view();
  return NameIndex(names, prefix, View(node->name)).has_value();
}

bool HasWantedDescendant(const std::vector<std::string>& names, const xmlNode* top) {
  const xmlNode* cur = top->children;
  while (cur != nullptr && cur != top) {
    if (cur->type == XML_ELEMENT_NODE && IsWanted(names, cur)) return true;
    if (cur->type == XML_ELEMENT_NODE && cur->children != nullptr) {
      cur = cur->children;
      continue;
    }
    while (cur != top && cur->next == nullptr) cur = cur->parent;
    if (cur != top) cur = cur->next;
  }
  return false;
}

// The check pass builds no tree: these take the place of the SAX2 handlers that would add nodes. Everything
// else (the document, its DTD and entities) is left to the defaults, so the parser sees what a load sees.
struct CheckState {
  const std::vector<std::string>* names;
  std::vector<size_t>* counts;
};

void CountElement(void* context, const xmlChar* localname, const xmlChar* prefix, const xmlChar*, int, const xmlChar**,
                  int, int, const xmlChar**) {
  auto* state = static_cast<CheckState*>(static_cast<xmlParserCtxtPtr>(context)->_private);
  if (const std::optional<size_t> i = NameIndex(*state->names, View(prefix), View(localname))) ++(*state->counts)[*i];
}
void IgnoreEnd(void*, const xmlChar*, const xmlChar*, const xmlChar*) {}
void IgnoreCharacters(void*, const xmlChar*, int) {}
void IgnoreComment(void*, const xmlChar*) {}
void IgnoreInstruction(void*, const xmlChar*, const xmlChar*) {}
void IgnoreReference(void*, const xmlChar*) {}

// The reader's first error; the reader outlives any one call, so it cannot use the per-call ErrorCapture.
struct ReaderErrors {
  std::optional<CapturedError> first;

  static void Capture(void* self, xmlErrorPtr error) {
    auto* errors = static_cast<ReaderErrors*>(self);
    if (errors == nullptr || error == nullptr || errors->first || error->level < XML_ERR_ERROR) return;
    errors->first = CapturedError::From(*error);
  }
  const CapturedError* First() const { return first ? &*first : nullptr; }
};

// A copied DTD keeps each entity's declared text only; the parsed content, which is what a reference reads as
// (markup in the declaration left out), comes along here.
void CopyParsedEntity(void* payload, void* source, const xmlChar* name) {
  auto* copy = static_cast<xmlEntityPtr>(payload);
  auto* from = static_cast<xmlEntityPtr>(xmlHashLookup(static_cast<xmlHashTablePtr>(source), name));
  if (copy == nullptr || from == nullptr || from->children == nullptr || copy->children != nullptr) return;
  xmlNodePtr children = xmlDocCopyNodeList(copy->doc, from->children);
  if (children == nullptr) return;
  copy->children = children;
  copy->owner = 1;
  for (xmlNodePtr child = children; child != nullptr; child = child->next) {
    child->parent = reinterpret_cast<xmlNodePtr>(copy);
    copy->last = child;
  }
}

// A copy of the record in a document of its own. The internal DTD goes along, so that entity references in the
// record still read as their text.
std::shared_ptr<DocHolder> CopyRecord(const xmlNode* record) {
  xmlDocPtr doc = xmlNewDoc(BAD_CAST "1.0");
  if (doc == nullptr) return nullptr;
  auto holder = std::make_shared<DocHolder>(doc);
  if (record->doc != nullptr && record->doc->intSubset != nullptr) {
    xmlDtdPtr dtd = xmlCopyDtd(record->doc->intSubset);
    if (dtd != nullptr) {
      xmlSetTreeDoc(reinterpret_cast<xmlNodePtr>(dtd), doc);
      doc->intSubset = dtd;
      xmlAddChild(reinterpret_cast<xmlNodePtr>(doc), reinterpret_cast<xmlNodePtr>(dtd));
      const xmlDtd* source = record->doc->intSubset;
      if (dtd->entities != nullptr && source->entities != nullptr) {
        xmlHashScan(static_cast<xmlHashTablePtr>(dtd->entities), &CopyParsedEntity, source->entities);
      }
    }
  }
  xmlNodePtr copy = xmlDocCopyNode(const_cast<xmlNode*>(record), doc, 1);
  if (copy == nullptr) return nullptr;
  xmlDocSetRootElement(doc, copy);
  return holder;
}

}  // namespace

struct ElementStream::Impl {
  std::string_view text;
  std::vector<std::string> names;
  std::vector<size_t> counts;
  ParseError error;

  TextSource source;
  xmlTextReaderPtr reader = nullptr;
  std::unique_ptr<ReaderErrors> readerErrors = std::make_unique<ReaderErrors>();
  bool parsed = false;
  bool skipSubtree = false;  // the last record yielded holds no wanted element: step over it
  bool ended = false;
  bool failed = false;

  ~Impl() {
    if (reader != nullptr) xmlFreeTextReader(reader);
  }

  void Fail(std::string fallback) {
    ended = true;
    failed = true;
    error = ErrorFrom(readerErrors->First(), text, std::move(fallback));
  }
};

ElementStream::ElementStream(std::string_view text, std::vector<std::string> names) : impl_(std::make_unique<Impl>()) {
  impl_->text = text;
  impl_->names = std::move(names);
  impl_->counts.assign(impl_->names.size(), 0);
  // The parser of a load takes a NUL byte after the root element for the end of the text; the reader would read
  // on and call what follows extra content.
  impl_->source.text = text.substr(0, text.find('\0'));
}

ElementStream::~ElementStream() = default;
ElementStream::ElementStream(ElementStream&&) noexcept = default;
ElementStream& ElementStream::operator=(ElementStream&&) noexcept = default;

bool ElementStream::Check() {
  EnsureLibxml();
  Impl& s = *impl_;
  s.error = ParseError{};
  s.parsed = false;
  std::fill(s.counts.begin(), s.counts.end(), 0);
  if (s.text.size() > static_cast<size_t>(INT_MAX)) {
    s.error = ErrorFrom(nullptr, s.text, kTooLarge);
    return false;
  }
  if (s.text.empty()) {
    // libxml2 makes no parser for an empty text, so a load reports it without a position.
    s.error = ErrorFrom(nullptr, s.text, kUnparsed);
    return false;
  }
  TextSource source{s.text};
  ErrorCapture capture;
  xmlParserCtxtPtr ctxt =
      xmlCreateIOParserCtxt(nullptr, nullptr, &TextSource::Read, &TextSource::Close, &source, XML_CHAR_ENCODING_NONE);
  if (ctxt == nullptr) {
    s.error = ErrorFrom(nullptr, s.text, kUnparsed);
    return false;
  }
  xmlCtxtUseOptions(ctxt, LoadOptions(s.text));
  xmlSwitchEncoding(ctxt, XML_CHAR_ENCODING_UTF8);
  CheckState state{&s.names, &s.counts};
  ctxt->_private = &state;
  ctxt->sax->startElementNs = &CountElement;
  ctxt->sax->endElementNs = &IgnoreEnd;
  ctxt->sax->characters = &IgnoreCharacters;
  ctxt->sax->ignorableWhitespace = &IgnoreCharacters;
  ctxt->sax->cdataBlock = &IgnoreCharacters;
  ctxt->sax->comment = &IgnoreComment;
  ctxt->sax->processingInstruction = &IgnoreInstruction;
  ctxt->sax->reference = &IgnoreReference;
  xmlParseDocument(ctxt);
  const bool ok = ctxt->wellFormed != 0 && ctxt->myDoc != nullptr;
  if (ctxt->myDoc != nullptr) xmlFreeDoc(ctxt->myDoc);
  ctxt->myDoc = nullptr;
  xmlFreeParserCtxt(ctxt);
  if (!ok) {
    s.error = ErrorFrom(capture.FirstError(), s.text, kUnparsed);
    std::fill(s.counts.begin(), s.counts.end(), 0);
  }
  s.parsed = ok;
  return ok;
}

size_t ElementStream::Count(std::string_view name) const {
  for (size_t i = 0; i < impl_->names.size(); ++i) {
    if (impl_->names[i] == name) return impl_->counts[i];
  }
  return 0;
}

const ParseError& ElementStream::parseError() const {
  return impl_->error;
}

bool ElementStream::parsed() const {
  return impl_->parsed;
}

bool ElementStream::failed() const {
  return impl_->failed;
}

Node ElementStream::Next() {
  Impl& s = *impl_;
  if (s.ended) return {};
  EnsureLibxml();
  // Keeps libxml2's own diagnostics off stderr while the reader runs.
  ErrorCapture quiet;
  if (s.reader == nullptr) {
    if (s.text.size() > static_cast<size_t>(INT_MAX)) {
      s.Fail(kTooLarge);
      return {};
    }
    s.reader = xmlReaderForIO(&TextSource::Read, &TextSource::Close, &s.source, nullptr, "UTF-8", LoadOptions(s.text));
    if (s.reader == nullptr) {
      s.Fail(kUnparsed);
      return {};
    }
    xmlTextReaderSetStructuredErrorHandler(s.reader, &ReaderErrors::Capture, s.readerErrors.get());
  }
  while (true) {
    const int step = s.skipSubtree ? xmlTextReaderNext(s.reader) : xmlTextReaderRead(s.reader);
    s.skipSubtree = false;
    // Only what makes the text not well-formed ends the walk: a load, too, parses a text with namespace errors.
    if (step != 1) {
      if (step != 0) {
        s.Fail(kUnparsed);
      } else {
        s.ended = true;
      }
      xmlFreeTextReader(s.reader);
      s.reader = nullptr;
      return {};
    }
    if (xmlTextReaderNodeType(s.reader) != XML_READER_TYPE_ELEMENT) continue;
    xmlNodePtr current = xmlTextReaderCurrentNode(s.reader);
    if (current == nullptr || !IsWanted(s.names, current)) continue;
    xmlNodePtr record = xmlTextReaderExpand(s.reader);
    std::shared_ptr<DocHolder> copy = record != nullptr ? CopyRecord(record) : nullptr;
    if (copy == nullptr) {
      s.Fail(kUnparsed);
      xmlFreeTextReader(s.reader);
      s.reader = nullptr;
      return {};
    }
    xmlNodePtr root = xmlDocGetRootElement(copy->doc);
    s.skipSubtree = !HasWantedDescendant(s.names, root);
    return Node(std::move(copy), root);
  }
}

}  // namespace platform::xml
