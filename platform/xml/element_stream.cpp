// Reading a large response's records one at a time with libxml2's reader, each as a small tree.

#include "platform/xml/element_stream.h"

#include <libxml/entities.h>
#include <libxml/hash.h>
#include <libxml/parserInternals.h>
#include <libxml/xmlreader.h>

#include <algorithm>
#include <climits>
#include <cstring>
#include <optional>

#include "platform/xml/element_index.h"
#include "platform/xml/libxml_private.h"

namespace platform::xml {
namespace {

constexpr const char* kUnparsed = "The document could not be parsed";
constexpr const char* kTooLarge = "The document is larger than 2 GB";

bool IsWanted(const std::vector<std::string>& names, const xmlNode* node) {
  const std::string_view prefix =
      node->ns != nullptr && node->ns->prefix != nullptr ? reinterpret_cast<const char*>(node->ns->prefix) : "";
  return WantedName(names, prefix, reinterpret_cast<const char*>(node->name)).has_value();
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
  ParseError error;
  std::optional<ElementIndex> index;  // after a check, or given

  // Reading from the index.
  std::vector<ElementIndex::SpanReader> spans;
  std::vector<std::optional<ElementIndex::Span>> upcoming;
  std::shared_ptr<RecordParser> records;
  bool spansReady = false;

  // Walking the text, when the index has no positions.
  TextSource source;
  xmlTextReaderPtr reader = nullptr;
  std::unique_ptr<ReaderErrors> readerErrors = std::make_unique<ReaderErrors>();
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

  RecordView NextFromIndex();
  Node NextFromText();
};

ElementStream::ElementStream(std::string_view text, std::vector<std::string> names) : impl_(std::make_unique<Impl>()) {
  impl_->text = text;
  impl_->names = std::move(names);
}

ElementStream::ElementStream(const ElementIndex& index, std::vector<std::string> names)
    : ElementStream(index.text(), std::move(names)) {
  const bool holdsAll = std::all_of(impl_->names.begin(), impl_->names.end(),
                                    [&index](const std::string& name) { return index.Holds(name); });
  if (!holdsAll) return;
  impl_->index = index;
  impl_->error = index.parseError();
}

ElementStream::~ElementStream() = default;
ElementStream::ElementStream(ElementStream&&) noexcept = default;
ElementStream& ElementStream::operator=(ElementStream&&) noexcept = default;

bool ElementStream::Check() {
  Impl& s = *impl_;
  if (!s.index) s.index.emplace(s.text, s.names);
  s.error = s.index->parseError();
  return s.index->parsed();
}

size_t ElementStream::Count(std::string_view name) const {
  if (!impl_->index) return 0;
  for (const std::string& mine : impl_->names) {
    if (mine == name) return impl_->index->Count(name);
  }
  return 0;
}

const ParseError& ElementStream::parseError() const {
  return impl_->error;
}

bool ElementStream::parsed() const {
  return impl_->index && impl_->index->parsed();
}

bool ElementStream::failed() const {
  return impl_->failed;
}

Node ElementStream::Next() {
  return NextRecord().node();
}

RecordView ElementStream::NextRecord() {
  Impl& s = *impl_;
  if (s.ended) return {};
  // A record is only ever read from a text known to be well-formed and nested no deeper than a load allows.
  if (!s.index) Check();
  if (!s.index->parsed()) {
    s.ended = true;
    s.failed = true;
    s.error = s.index->parseError();
    return {};
  }
  if (s.index->positioned()) return s.NextFromIndex();
  Node node = s.NextFromText();
  return node ? RecordView(std::move(node)) : RecordView();
}

RecordView ElementStream::Impl::NextFromIndex() {
  if (!spansReady) {
    spansReady = true;
    records = std::make_shared<RecordParser>();
    records->prolog = index->Prolog();
    // Records read with the text's entity declarations before them keep libxml2's guard on, as the index did.
    records->options = records->prolog.empty() ? LoadOptions() : LoadOptions() & ~XML_PARSE_HUGE;
    for (size_t i = 0; i < names.size(); ++i) {
      if (std::find(names.begin(), names.begin() + static_cast<std::ptrdiff_t>(i), names[i]) !=
          names.begin() + static_cast<std::ptrdiff_t>(i)) {
        continue;  // a name given twice yields its records once
      }
      spans.push_back(index->Reader(names[i]));
      ElementIndex::Span span;
      upcoming.push_back(spans.back().Next(span) ? std::optional(span) : std::nullopt);
    }
  }
  std::optional<size_t> first;
  for (size_t i = 0; i < upcoming.size(); ++i) {
    if (upcoming[i] && (!first || upcoming[i]->start < upcoming[*first]->start)) first = i;
  }
  if (!first) {
    ended = true;
    return {};
  }
  const ElementIndex::Span span = *upcoming[*first];
  ElementIndex::Span after;
  upcoming[*first] = spans[*first].Next(after) ? std::optional(after) : std::nullopt;

  return RecordView::FromMarkup(index->text().substr(span.start, span.length), records);
}

Node ElementStream::Impl::NextFromText() {
  EnsureLibxml();
  // Keeps libxml2's own diagnostics off stderr while the reader runs.
  ErrorCapture quiet;
  if (reader == nullptr) {
    // The parser of a load takes a NUL byte after the root element for the end of the text; the reader would
    // read on and call what follows extra content.
    const bool wide = ReadAsWide(text);
    source.text = wide ? text : text.substr(0, text.find('\0'));
    if (text.size() > static_cast<size_t>(INT_MAX)) {
      Fail(kTooLarge);
      return {};
    }
    reader = xmlReaderForIO(&TextSource::Read, &TextSource::Close, &source, nullptr, wide ? nullptr : "UTF-8",
                            LoadOptions());
    if (reader == nullptr) {
      Fail(kUnparsed);
      return {};
    }
    xmlTextReaderSetStructuredErrorHandler(reader, &ReaderErrors::Capture, readerErrors.get());
  }
  while (true) {
    const int step = skipSubtree ? xmlTextReaderNext(reader) : xmlTextReaderRead(reader);
    skipSubtree = false;
    // Only what makes the text not well-formed ends the walk: a load, too, parses a text with namespace errors.
    if (step != 1) {
      if (step != 0) {
        Fail(kUnparsed);
      } else {
        ended = true;
      }
      xmlFreeTextReader(reader);
      reader = nullptr;
      return {};
    }
    if (xmlTextReaderNodeType(reader) != XML_READER_TYPE_ELEMENT) continue;
    xmlNodePtr current = xmlTextReaderCurrentNode(reader);
    if (current == nullptr || !IsWanted(names, current)) continue;
    xmlNodePtr record = xmlTextReaderExpand(reader);
    std::shared_ptr<DocHolder> copy = record != nullptr ? CopyRecord(record) : nullptr;
    if (copy == nullptr) {
      Fail(kUnparsed);
      xmlFreeTextReader(reader);
      reader = nullptr;
      return {};
    }
    xmlNodePtr root = xmlDocGetRootElement(copy->doc);
    skipSubtree = !HasWantedDescendant(names, root);
    return Node(std::move(copy), root);
  }
}

}  // namespace platform::xml
