#pragma once

// Shared by the sources of platform/xml only; never included from a public header.

#include <libxml/parser.h>
#include <libxml/schemasInternals.h>
#include <libxml/tree.h>
#include <libxml/xmlerror.h>
#include <libxml/xmlschemas.h>

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "platform/xml/dom.h"
#include "platform/xml/record_view.h"
#include "platform/xml/schema_cache.h"

namespace platform::xml {

// Owns one parsed tree; every Node and NodeList of that tree holds a reference.
struct DocHolder {
  explicit DocHolder(xmlDocPtr d) : doc(d) {}
  ~DocHolder() { xmlFreeDoc(doc); }
  DocHolder(const DocHolder&) = delete;
  DocHolder& operator=(const DocHolder&) = delete;
  xmlDocPtr doc;
};

// Status code the DOM raises for its own failures (the COM "unspecified failure").
inline constexpr int64_t kXmlFailure = static_cast<int32_t>(0x80004005u);

// A parser over the text where it lies, without a copy; the byte after the text must be a NUL, at which the parser
// stops. Nothing when libxml2 cannot make one. Once its options are set, the caller marks it progressive: the whole
// text is there from the start, nothing to grow or shrink, which the parser would get wrong for a text it reads in
// place (it steps back over what it dropped from the front, reading part of it again).
xmlParserCtxtPtr NewInPlaceParser(std::string_view text);

// Initialises libxml2 once per process and keeps it off the network for every later load, schema
// includes and imports among them.
void EnsureLibxml();

struct CapturedError {
  int code = 0;
  int level = 0;
  std::string message;
  int64_t line = 0;
  int64_t column = 0;

  // libxml2's report as kept: message without its line end, line and column where the parser was.
  static CapturedError From(const xmlError& error);
};

// For the lifetime of the object, this thread's libxml2 diagnostics land here instead of on stderr.
class ErrorCapture {
 public:
  ErrorCapture();
  ~ErrorCapture();
  ErrorCapture(const ErrorCapture&) = delete;
  ErrorCapture& operator=(const ErrorCapture&) = delete;

  // Suitable for xmlSchemaSet*StructuredErrors with `this` as context.
  static void OnStructured(void* self, xmlErrorPtr error);

  // Schema validity errors raised while this parser runs take its current position: the validator itself
  // only knows positions of a finished tree.
  void AttachParser(xmlParserCtxtPtr parser) { parser_ = parser; }

  // The first error of level error or fatal; nullptr when there was none.
  const CapturedError* FirstError() const;
  std::string Describe() const;  // the first error's message with its line, or ""

 private:
  std::vector<CapturedError> errors_;
  xmlParserCtxtPtr parser_ = nullptr;
  xmlStructuredErrorFunc oldStructured_;
  void* oldStructuredContext_;
  xmlGenericErrorFunc oldGeneric_;
  void* oldGenericContext_;
};

// Huge mode, needed for very long texts, also lifts libxml2's limit on nesting, and a copy of a record nested
// without bound (a hundred thousand levels) overflows the stack. The guard keeps a limit in every mode, far above
// any real document's nesting and far below what a recursive copy or walk can take: called at each element start,
// it refuses an element nested deeper than kMaxElementDepth with a parse error and stops the parser.
inline constexpr unsigned kMaxElementDepth = 10000;

// Stops the parser with a fatal error of the system's own at the parser's position; returns that error as kept.
CapturedError StopWithError(xmlParserCtxtPtr ctxt, int code, std::string message);

struct DepthGuard {
  unsigned depth = 0;
  std::optional<CapturedError> error;

  // Inline: it runs for every element of every parse.
  bool Enter(xmlParserCtxtPtr ctxt) {
    if (depth < kMaxElementDepth && !error) {
      ++depth;
      return true;
    }
    return Refuse(ctxt);
  }
  void Leave() {
    if (depth > 0) --depth;
  }

 private:
  // False: the error kept, or a new one at the limit.
  bool Refuse(xmlParserCtxtPtr ctxt);
};

// Huge mode (long texts and deep lookups) switches libxml2's own guard against entity amplification off, and
// that guard only counts entities it substitutes, which no load does: a reference stays a node, and the reader
// of a node's text expands it. The guard of a parse therefore
// - turns huge mode off as soon as the document declares an entity, whatever encoding the parser decoded the
//   declaration from, so libxml2's guard runs over everything after it;
// - adds up what every reference in content expands to, nested references included, and stops the parse with a
//   parse error once that passes kMaxEntityText and ten times the text read so far (libxml2's own measure).
// A parse's state keeps it as the member `entities`; InstallEntityGuard wraps the parser's handlers.
inline constexpr size_t kMaxEntityText = 10'000'000;

struct EntityGuard {
  bool declared = false;
  size_t expanded = 0;
  std::optional<CapturedError> error;
  entityDeclSAXFunc declare = nullptr;
  referenceSAXFunc reference = nullptr;

  void OnDeclaration(xmlParserCtxtPtr ctxt);
  // False when the reference passes the ceiling: the parser is stopped and `error` says why.
  bool OnReference(xmlParserCtxtPtr ctxt, const xmlChar* name);
  // The references in an element's attribute values (the parser keeps them as written, and a read of the value
  // expands them), from a start-element handler's arguments; false as above.
  bool OnAttributes(xmlParserCtxtPtr ctxt, int count, const xmlChar** attributes) {
    // Inline for the common case, every element of a text without entity declarations.
    if (!error && (!declared || count == 0)) return true;
    return CheckAttributes(ctxt, count, attributes);
  }

 private:
  bool CheckAttributes(xmlParserCtxtPtr ctxt, int count, const xmlChar** attributes);
  bool Add(xmlParserCtxtPtr ctxt, size_t size);
  size_t ExpandedSize(xmlParserCtxtPtr ctxt, const xmlChar* name, int depth);
  // What the references in a run of text expand to, the rest of the text counted as it stands.
  size_t TextSize(xmlParserCtxtPtr ctxt, std::string_view text, int depth);
  std::unordered_map<const xmlChar*, size_t> sizes_;  // by the entity's content, which the parser keeps
};

// Called before a schema plugs in, like the depth guard's handlers.
template <class State>
void InstallEntityGuard(xmlParserCtxtPtr ctxt) {
  EntityGuard& guard = static_cast<State*>(ctxt->_private)->entities;
  guard.declare = ctxt->sax->entityDecl;
  guard.reference = ctxt->sax->reference;
  ctxt->sax->entityDecl = [](void* context, const xmlChar* name, int type, const xmlChar* publicId,
                             const xmlChar* systemId, xmlChar* content) {
    auto* parser = static_cast<xmlParserCtxtPtr>(context);
    EntityGuard& entities = static_cast<State*>(parser->_private)->entities;
    if (entities.declare != nullptr) entities.declare(context, name, type, publicId, systemId, content);
    entities.OnDeclaration(parser);
  };
  ctxt->sax->reference = [](void* context, const xmlChar* name) {
    auto* parser = static_cast<xmlParserCtxtPtr>(context);
    EntityGuard& entities = static_cast<State*>(parser->_private)->entities;
    if (!entities.OnReference(parser, name)) return;
    if (entities.reference != nullptr) entities.reference(context, name);
  };
}

// A text handed to libxml2 piece by piece from where it lies, so that a parse keeps no copy of it. A piece of a longer
// text parsed as a document of its own comes between the start tags and the end tags that frame it.
struct TextSource {
  std::string_view text;
  std::string_view before{};
  std::string_view after{};
  size_t offset = 0;  // into before, text and after, read one after the other

  static int Read(void* context, char* buffer, int length) {
    auto* self = static_cast<TextSource*>(context);
    const auto wanted = static_cast<size_t>(std::max(length, 0));
    size_t n = 0;
    size_t start = 0;  // where the part stands in the whole that is read
    for (const std::string_view part : {self->before, self->text, self->after}) {
      if (self->offset < start + part.size() && n < wanted) {
        const size_t from = self->offset - start;
        const size_t step = std::min(wanted - n, part.size() - from);
        std::memcpy(buffer + n, part.data() + from, step);
        n += step;
        self->offset += step;
      }
      start += part.size();
    }
    return static_cast<int>(n);
  }
  static int Close(void*) { return 0; }
};

// True when the parser reads the text as UTF-16 or UCS-4 (told by its first bytes), whatever the options say.
bool ReadAsWide(std::string_view text);

// Parses records of a text from their places, each as a small document of its own, keeping its dictionary of
// names from one record to the next. The prolog (the text's entity declarations, when it has any) goes before
// each record.
struct RecordParser {
  std::string_view prolog;
  int options = 0;
  xmlParserCtxtPtr ctxt = nullptr;
  std::string scratch;
  // Scan buffers of views gone, kept with their capacity for the records after them.
  std::vector<std::vector<ScannedChild>> spare;
  std::vector<ScannedChild> TakeBuffer();
  void GiveBack(std::vector<ScannedChild>& buffer);

  RecordParser() = default;
  ~RecordParser();
  RecordParser(const RecordParser&) = delete;
  RecordParser& operator=(const RecordParser&) = delete;

  // nullptr when the markup does not parse.
  std::shared_ptr<DocHolder> Parse(std::string_view markup);
};

// Index of the qualified name in names, compared as getElementsByTagName compares it.
std::optional<size_t> WantedName(const std::vector<std::string>& names, std::string_view prefix,
                                 std::string_view local);

// The source line the error points at, without its line end ("" when the line is out of range).
std::string SourceLine(std::string_view text, int64_t line);

// The parse options of every load of a text: no network, no DTD load, no entity substitution, the text read as
// UTF-8, and huge mode, which the entity guard turns off in a document that declares entities.
int LoadOptions();

// The parse error of a failed load from its first captured error; `fallback` is the reason when there is none.
ParseError ErrorFrom(const CapturedError* e, std::string_view text, std::string fallback);

// A compiled schema keeps pointers into the tree it was compiled from (annotations among them), so the
// tree lives exactly as long as the schema. Shared, so a validation in progress keeps its schema even when
// the cache entry is replaced meanwhile.
struct CompiledSchema {
  CompiledSchema(xmlDocPtr d, xmlSchemaPtr s) : doc(d), schema(s) {}
  ~CompiledSchema() {
    xmlSchemaFree(schema);
    xmlFreeDoc(doc);
  }
  CompiledSchema(const CompiledSchema&) = delete;
  CompiledSchema& operator=(const CompiledSchema&) = delete;
  xmlDocPtr doc;
  xmlSchemaPtr schema;
};

// Schema for a document root in that namespace (nullptr when the cache has none).
std::shared_ptr<CompiledSchema> FindSchema(const SchemaCache::Impl& cache, std::string_view namespaceUri);
// The schema when the cache holds exactly one, else nullptr.
std::shared_ptr<CompiledSchema> SingleSchema(const SchemaCache::Impl& cache);

}  // namespace platform::xml
