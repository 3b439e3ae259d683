// An index of where the records of given names stand in a large response, made in one streaming pass.

#include "platform/xml/element_index.h"

#include <libxml/parserInternals.h>

#include <algorithm>
#include <array>
#include <climits>
#include <cstring>
#include <optional>
#include <thread>
#include <unordered_map>

#include "platform/xml/libxml_private.h"
#include "platform/xml/text_cuts.h"

namespace platform::xml {
namespace {

constexpr const char* kUnparsed = "The document could not be parsed";
constexpr const char* kTooLarge = "The document is larger than 2 GB";
// A prolog read again before every record must stay small beside the records.
constexpr size_t kMaxProlog = 64 * 1024;

std::string_view View(const xmlChar* s) {
  return s ? std::string_view(reinterpret_cast<const char*>(s)) : std::string_view();
}

void PutVarint(std::vector<uint8_t>& out, uint64_t value) {
  while (value >= 0x80) {
    out.push_back(static_cast<uint8_t>(value | 0x80));
    value >>= 7;
  }
  out.push_back(static_cast<uint8_t>(value));
}

uint64_t GetVarint(const std::vector<uint8_t>& in, size_t& offset) {
  uint64_t value = 0;
  for (int shift = 0; offset < in.size(); shift += 7) {
    const uint8_t byte = in[offset++];
    value |= static_cast<uint64_t>(byte & 0x7f) << shift;
    if ((byte & 0x80) == 0) break;
  }
  return value;
}

// Elements close inner first, so a name whose elements nest gets its positions out of document order; the
// start is kept as a signed step from the one before, whichever way it goes.
uint64_t ZigZag(int64_t v) {
  return (static_cast<uint64_t>(v) << 1) ^ static_cast<uint64_t>(v >> 63);
}
int64_t UnZigZag(uint64_t v) {
  return static_cast<int64_t>(v >> 1) ^ -static_cast<int64_t>(v & 1);
}

}  // namespace

std::optional<size_t> WantedName(const std::vector<std::string>& names, std::string_view prefix,
                                 std::string_view local) {
  for (size_t i = 0; i < names.size(); ++i) {
    const std::string& name = names[i];
    if (prefix.empty()
            ? name == local
            : name.size() == prefix.size() + 1 + local.size() && name.compare(0, prefix.size(), prefix) == 0 &&
                  name[prefix.size()] == ':' && name.compare(prefix.size() + 1, local.size(), local) == 0) {
      return i;
    }
  }
  return std::nullopt;
}

struct ElementIndex::Impl {
  std::string_view text;
  std::vector<std::string> names;
  std::vector<size_t> counts;
  ParseError error;
  bool parsed = false;

  bool positioned = false;
  std::vector<std::vector<uint8_t>> positions;  // per name: (start step, length) pairs in closing order
  std::vector<size_t> previousStart;
  std::vector<bool> nests;  // an element of the name opened inside another of the same name
  std::string_view prolog;
  size_t positionBytes = 0;
  size_t budget = 0;
  size_t pieces = 1;

  // The parse in progress. A piece of a cut text is parsed framed: shift takes its parser's places to the text's.
  xmlParserCtxtPtr main = nullptr;
  ptrdiff_t shift = 0;
  DepthGuard depth;
  EntityGuard entities;
  // The open elements an end tag has something to do for: those of the names and those that declare namespaces.
  // Any other element is only counted into the depth, which tells at an end tag whether the element closing is the
  // last one kept here.
  struct Open {
    int32_t name;  // -1 when not one of the names
    bool declaresNamespaces;
    unsigned depth;
    size_t start;
  };
  std::vector<Open> open;
  std::vector<uint32_t> openOfName;
  size_t openDeclaring = 0;
  bool rootSeen = false;

  void Begin(std::string_view whole, bool keepPositions) {
    text = whole;
    counts.assign(names.size(), 0);
    positioned = keepPositions;
    positions.assign(keepPositions ? names.size() : 0, {});
    previousStart.assign(names.size(), 0);
    nests.assign(names.size(), false);
    openOfName.assign(names.size(), 0);
    positionBytes = 0;
    budget = text.size() / 20;
  }

  void DropPositions() {
    positioned = false;
    positions.clear();
    positions.shrink_to_fit();
    positionBytes = 0;
  }

  size_t Position() const {
    const xmlParserInputPtr in = main->input;
    return static_cast<size_t>(static_cast<ptrdiff_t>(in->consumed + static_cast<size_t>(in->cur - in->base)) + shift);
  }

  // The parser keeps one copy of each name in its dictionary, so the answer for a name is found again by its
  // address instead of comparing it with every name wanted, for each of millions of elements.
  std::unordered_map<const xmlChar*, int32_t> wantedByAddress;
  // The answers by address, in front of the map: an answer's few hundred names lie together in the dictionary, and
  // a table this large keeps nearly every one of them in a slot of its own.
  struct Recent {
    const xmlChar* name = nullptr;
    int32_t wanted = -1;
  };
  std::array<Recent, 512> recent{};

  static int32_t Index(std::optional<size_t> wanted) { return wanted ? static_cast<int32_t>(*wanted) : -1; }

  // True when the element needs nothing noted, told from the table alone: the common case, kept small enough to
  // stay in the handler. Anything else is Start's to tell.
  bool Unremarkable(xmlParserCtxtPtr ctxt, const xmlChar* localname, const xmlChar* prefix, int namespaces) const {
    const Recent& slot = recent[(reinterpret_cast<uintptr_t>(localname) >> 3) % recent.size()];
    return slot.name == localname && slot.wanted < 0 && prefix == nullptr && namespaces <= 0 && ctxt == main &&
           (rootSeen || !positioned);
  }

  // The index of the name among those wanted, -1 when it is none of them.
  int32_t Wanted(xmlParserCtxtPtr ctxt, const xmlChar* localname, const xmlChar* prefix) {
    Recent& slot = recent[(reinterpret_cast<uintptr_t>(localname) >> 3) % recent.size()];
    if (slot.name == localname && prefix == nullptr && ctxt == main) return slot.wanted;
    if (prefix != nullptr || ctxt != main || ctxt->dict == nullptr || !xmlDictOwns(ctxt->dict, localname)) {
      return Index(WantedName(names, View(prefix), View(localname)));
    }
    const auto [known, fresh] = wantedByAddress.try_emplace(localname, -1);
    if (fresh) known->second = Index(WantedName(names, {}, View(localname)));
    slot = {localname, known->second};
    return known->second;
  }

  // At the start of an element, the depth guard having counted it in.
  [[gnu::noinline]] void Start(xmlParserCtxtPtr ctxt, const xmlChar* localname, const xmlChar* prefix, int namespaces) {
    const int32_t name = Wanted(ctxt, localname, prefix);
    // Most elements are none of the names, declare nothing and come after the root: nothing to note.
    if (name < 0 && namespaces <= 0 && (rootSeen || !positioned)) return;
    const std::optional<size_t> wanted = name < 0 ? std::nullopt : std::optional<size_t>(name);
    if (wanted) ++counts[*wanted];
    Open element{name, namespaces > 0, depth.depth, 0};
    if (positioned && ctxt != main) {
      // Inside an entity's replacement text: a record there has no place in the text.
      if (wanted) DropPositions();
    } else if (positioned && (wanted || !rootSeen)) {
      // Only a record's start and the root's are ever needed; the parser stands past the start tag.
      const size_t here = Position();
      const size_t start = here <= text.size() ? text.rfind('<', here) : std::string_view::npos;
      if (!rootSeen) {
        rootSeen = true;
        if (start != std::string_view::npos && start > 0 && entities.declared) {
          prolog = text.substr(0, start);
          if (prolog.size() > kMaxProlog) DropPositions();
        }
      }
      if (wanted && (start == std::string_view::npos || openDeclaring > 0)) DropPositions();
      element.start = start;
    }
    if (wanted && positioned) {
      if (openOfName[*wanted] > 0) nests[*wanted] = true;
      ++openOfName[*wanted];
    }
    if (element.declaresNamespaces) ++openDeclaring;
    if (wanted || element.declaresNamespaces) open.push_back(element);
  }

  // Whether the element closing is the last one kept open, at its end tag, before the depth guard counts it out.
  bool EndsKept() const { return !open.empty() && open.back().depth == depth.depth; }

  // At the end of the element EndsKept found.
  [[gnu::noinline]] void End(xmlParserCtxtPtr ctxt) {
    const Open element = open.back();
    open.pop_back();
    if (element.declaresNamespaces) --openDeclaring;
    if (element.name < 0 || !positioned || ctxt != main) return;
    const auto name = static_cast<size_t>(element.name);
    --openOfName[name];
    const size_t end = Position();
    if (end > text.size() || end <= element.start || text[end - 1] != '>' || text[element.start] != '<') {
      DropPositions();
      return;
    }
    std::vector<uint8_t>& bytes = positions[name];
    const size_t before = bytes.size();
    PutVarint(bytes, ZigZag(static_cast<int64_t>(element.start) - static_cast<int64_t>(previousStart[name])));
    PutVarint(bytes, end - element.start);
    previousStart[name] = element.start;
    positionBytes += bytes.size() - before;
    if (positionBytes > budget) DropPositions();
  }
};

namespace {

ElementIndex::Impl& StateOf(void* context) {
  return *static_cast<ElementIndex::Impl*>(static_cast<xmlParserCtxtPtr>(context)->_private);
}

// The scan builds no tree: these take the place of the SAX2 handlers that would add nodes. Everything else (the
// document, its DTD and entities) is left to the defaults, so the parser sees what a load sees.
void StartElement(void* context, const xmlChar* localname, const xmlChar* prefix, const xmlChar*, int namespaces,
                  const xmlChar**, int attributeCount, int, const xmlChar** attributes) {
  auto* ctxt = static_cast<xmlParserCtxtPtr>(context);
  ElementIndex::Impl& state = StateOf(context);
  if (!state.depth.Enter(ctxt) || !state.entities.OnAttributes(ctxt, attributeCount, attributes)) return;
  if (state.Unremarkable(ctxt, localname, prefix, namespaces)) return;
  state.Start(ctxt, localname, prefix, namespaces);
}
void EndElement(void* context, const xmlChar*, const xmlChar*, const xmlChar*) {
  ElementIndex::Impl& state = StateOf(context);
  if (state.EndsKept()) state.End(static_cast<xmlParserCtxtPtr>(context));
  state.depth.Leave();
}
void IgnoreComment(void*, const xmlChar*) {}
void IgnoreInstruction(void*, const xmlChar*, const xmlChar*) {}
void IgnoreReference(void*, const xmlChar*) {}

}  // namespace

xmlParserCtxtPtr NewInPlaceParser(std::string_view text) {
  xmlParserCtxtPtr ctxt = xmlNewParserCtxt();
  if (ctxt == nullptr) return nullptr;
  xmlParserInputBufferPtr buffer =
      xmlParserInputBufferCreateStatic(text.data(), static_cast<int>(text.size()), XML_CHAR_ENCODING_NONE);
  xmlParserInputPtr input = buffer ? xmlNewIOInputStream(ctxt, buffer, XML_CHAR_ENCODING_NONE) : nullptr;
  if (input == nullptr) {
    if (buffer != nullptr) xmlFreeParserInputBuffer(buffer);
    xmlFreeParserCtxt(ctxt);
    return nullptr;
  }
  inputPush(ctxt, input);
  return ctxt;
}

namespace {

// Runs the parse of the index over the parser, which it frees; true when the text was well-formed.
bool RunParse(ElementIndex::Impl& s, xmlParserCtxtPtr ctxt, bool inPlace) {
  xmlCtxtUseOptions(ctxt, LoadOptions());
  if (inPlace) ctxt->progressive = 1;  // see NewInPlaceParser
  xmlSwitchEncoding(ctxt, XML_CHAR_ENCODING_UTF8);
  s.main = ctxt;
  ctxt->_private = &s;
  ctxt->sax->startElementNs = &StartElement;
  ctxt->sax->endElementNs = &EndElement;
  // No handler at all for character data, rather than one that ignores it: the parser then makes no call for each
  // of the millions of texts. The two stay equal, so the parser asks nothing more about blanks than it did.
  ctxt->sax->characters = nullptr;
  ctxt->sax->ignorableWhitespace = nullptr;
  ctxt->sax->cdataBlock = nullptr;
  ctxt->sax->comment = &IgnoreComment;
  ctxt->sax->processingInstruction = &IgnoreInstruction;
  ctxt->sax->reference = &IgnoreReference;
  InstallEntityGuard<ElementIndex::Impl>(ctxt);
  xmlParseDocument(ctxt);
  const bool ok = ctxt->wellFormed != 0 && ctxt->myDoc != nullptr && !s.depth.error && !s.entities.error;
  if (ctxt->myDoc != nullptr) xmlFreeDoc(ctxt->myDoc);
  ctxt->myDoc = nullptr;
  xmlFreeParserCtxt(ctxt);
  s.main = nullptr;
  s.wantedByAddress.clear();  // the addresses were the parser's
  s.recent.fill({});
  s.open.clear();
  s.open.shrink_to_fit();
  return ok;
}

// One piece of a cut text, framed as a document of its own, into its own state; true when it parsed.
bool ParsePiece(ElementIndex::Impl& part, const TextPiece& piece) {
  ErrorCapture capture;  // this thread's diagnostics: a piece that fails is parsed again whole, which reports them
  TextSource source{part.text.substr(piece.start, piece.length), piece.frame, piece.close};
  xmlParserCtxtPtr ctxt =
      xmlCreateIOParserCtxt(nullptr, nullptr, &TextSource::Read, &TextSource::Close, &source, XML_CHAR_ENCODING_NONE);
  if (ctxt == nullptr) return false;
  part.shift = static_cast<ptrdiff_t>(piece.start) - static_cast<ptrdiff_t>(piece.frame.size());
  part.rootSeen = piece.start > 0;  // in the frame
  return RunParse(part, ctxt, false);
}

// The index of a text cut into pieces, each parsed at once on its own thread and then joined in order; false, the
// state untouched, when the text is not cut or a piece fails, and the text is to be parsed whole. A text without a
// document type declares no entity, so the pieces need no prolog, and no record stands across a cut, so each piece's
// records are complete.
bool ParseInPieces(ElementIndex::Impl& s, IndexSplit split) {
  const size_t parts = split.parts > 0 ? split.parts : std::clamp<size_t>(std::thread::hardware_concurrency(), 1, 8);
  const std::vector<TextPiece> pieces = CutAtRecords(s.text, s.names, parts, split.minPart);
  if (pieces.empty()) return false;
  std::vector<ElementIndex::Impl> states(pieces.size());
  std::vector<char> parsed(pieces.size(), 0);
  for (ElementIndex::Impl& part : states) {
    part.names = s.names;
    part.Begin(s.text, s.positioned);
    // A piece's first start of each name is a step from 0: up to two varints of ten bytes more than the whole writes.
    part.budget = s.budget + 20 * s.names.size();
  }
  if (!RunAtOnce(pieces.size(), [&](size_t i) { parsed[i] = ParsePiece(states[i], pieces[i]) ? 1 : 0; })) return false;
  if (std::find(parsed.begin(), parsed.end(), 0) != parsed.end()) return false;

  for (const ElementIndex::Impl& part : states) {
    for (size_t n = 0; n < s.names.size(); ++n) s.counts[n] += part.counts[n];
    if (!part.positioned) s.DropPositions();
    if (!s.positioned) continue;
    for (size_t n = 0; n < s.names.size(); ++n) {
      const std::vector<uint8_t>& bytes = part.positions[n];
      if (bytes.empty()) continue;
      // A piece's first start is a step from 0; the whole's steps from the last start before it.
      size_t offset = 0;
      const auto start = static_cast<size_t>(UnZigZag(GetVarint(bytes, offset)));
      const uint64_t length = GetVarint(bytes, offset);
      std::vector<uint8_t>& out = s.positions[n];
      const size_t before = out.size();
      PutVarint(out, ZigZag(static_cast<int64_t>(start) - static_cast<int64_t>(s.previousStart[n])));
      PutVarint(out, length);
      out.insert(out.end(), bytes.begin() + static_cast<ptrdiff_t>(offset), bytes.end());
      s.previousStart[n] = part.previousStart[n];
      if (part.nests[n]) s.nests[n] = true;
      s.positionBytes += out.size() - before;
    }
  }
  if (s.positionBytes > s.budget) s.DropPositions();
  s.pieces = pieces.size();
  return true;
}

// The index of the text in one parse; false when it is not well-formed, the error kept and every count 0.
bool ParseWhole(ElementIndex::Impl& s, bool terminated, bool wide) {
  const std::string_view text = s.text;
  if (wide) s.DropPositions();
  TextSource source{wide ? text : text.substr(0, text.find('\0'))};
  ErrorCapture capture;
  // A text with a NUL byte after it is read where it lies; any other is handed to the parser a part at a time.
  const bool in_place = terminated && !wide;
  xmlParserCtxtPtr ctxt = in_place ? NewInPlaceParser(source.text) : nullptr;
  if (!in_place) {
    ctxt =
        xmlCreateIOParserCtxt(nullptr, nullptr, &TextSource::Read, &TextSource::Close, &source, XML_CHAR_ENCODING_NONE);
  }
  if (ctxt == nullptr) {
    s.error = ErrorFrom(nullptr, text, kUnparsed);
    s.DropPositions();
    return false;
  }
  if (!RunParse(s, ctxt, in_place)) {
    const std::optional<CapturedError>& guarded = s.depth.error ? s.depth.error : s.entities.error;
    s.error = ErrorFrom(guarded ? &*guarded : capture.FirstError(), text, kUnparsed);
    std::fill(s.counts.begin(), s.counts.end(), 0);
    s.DropPositions();
    return false;
  }
  return true;
}

}  // namespace

ElementIndex::ElementIndex(std::string_view text, std::vector<std::string> names, bool keepPositions, IndexSplit split)
    : ElementIndex(text, std::move(names), keepPositions, split, false) {}

ElementIndex::ElementIndex(const std::string& text, std::vector<std::string> names, bool keepPositions,
                           IndexSplit split)
    : ElementIndex(std::string_view(text), std::move(names), keepPositions, split, true) {}

ElementIndex::ElementIndex(std::string_view text, std::vector<std::string> names, bool keepPositions, IndexSplit split,
                           bool terminated)
    : impl_(std::make_shared<Impl>()) {
  EnsureLibxml();
  Impl& s = *impl_;
  s.names = std::move(names);
  s.Begin(text, keepPositions);
  if (text.size() > static_cast<size_t>(INT_MAX)) {
    s.error = ErrorFrom(nullptr, text, kTooLarge);
    s.DropPositions();
    return;
  }
  if (text.empty()) {
    // libxml2 makes no parser for an empty text, so a load reports it without a position.
    s.error = ErrorFrom(nullptr, text, kUnparsed);
    s.DropPositions();
    return;
  }

  // The parser of a load takes a NUL byte after the root element for the end of the text, unless it decodes the
  // text from a wider encoding; then the places it knows are in the decoded text, not in this one.
  const bool wide = ReadAsWide(text);
  const bool wellFormed = (!wide && ParseInPieces(s, split)) || ParseWhole(s, terminated, wide);
  if (!wellFormed) return;
  s.parsed = true;
  for (std::vector<uint8_t>& bytes : s.positions) bytes.shrink_to_fit();
}

bool ElementIndex::parsed() const {
  return impl_->parsed;
}

const ParseError& ElementIndex::parseError() const {
  return impl_->error;
}

size_t ElementIndex::Count(std::string_view name) const {
  for (size_t i = 0; i < impl_->names.size(); ++i) {
    if (impl_->names[i] == name) return impl_->counts[i];
  }
  return 0;
}

bool ElementIndex::Holds(std::string_view name) const {
  return std::find(impl_->names.begin(), impl_->names.end(), name) != impl_->names.end();
}

const std::vector<std::string>& ElementIndex::names() const {
  return impl_->names;
}

std::string_view ElementIndex::text() const {
  return impl_->text;
}

bool ElementIndex::positioned() const {
  return impl_->positioned;
}

size_t ElementIndex::pieces() const {
  return impl_->pieces;
}

size_t ElementIndex::PositionBytes() const {
  size_t bytes = 0;
  for (const std::vector<uint8_t>& v : impl_->positions) bytes += v.capacity();
  return bytes;
}

std::string_view ElementIndex::Prolog() const {
  return impl_->prolog;
}

ElementIndex::SpanReader ElementIndex::Reader(std::string_view name) const {
  SpanReader reader;
  if (!impl_->positioned) return reader;
  for (size_t i = 0; i < impl_->names.size(); ++i) {
    if (impl_->names[i] != name) continue;
    reader.keep_ = impl_;
    reader.bytes_ = &impl_->positions[i];
    if (impl_->nests[i]) {
      Span span;
      while (reader.Next(span)) reader.sorted_.push_back(span);
      std::sort(reader.sorted_.begin(), reader.sorted_.end(),
                [](const Span& a, const Span& b) { return a.start < b.start; });
      reader.use_sorted_ = true;
    }
    break;
  }
  return reader;
}

bool ElementIndex::SpanReader::Next(Span& span) {
  if (use_sorted_) {
    if (next_sorted_ >= sorted_.size()) return false;
    span = sorted_[next_sorted_++];
    return true;
  }
  if (bytes_ == nullptr || offset_ >= bytes_->size()) return false;
  const int64_t step = UnZigZag(GetVarint(*bytes_, offset_));
  span.start = static_cast<size_t>(static_cast<int64_t>(previous_) + step);
  span.length = static_cast<size_t>(GetVarint(*bytes_, offset_));
  previous_ = span.start;
  return true;
}

std::vector<ElementIndex::Span> ElementIndex::Spans(std::string_view name) const {
  std::vector<Span> spans;
  SpanReader reader = Reader(name);
  Span span;
  while (reader.Next(span)) spans.push_back(span);
  return spans;
}

}  // namespace platform::xml
