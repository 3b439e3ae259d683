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
#include <vector>

#include "platform/xml/dom.h"
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

struct DepthGuard {
  unsigned depth = 0;
  std::optional<CapturedError> error;

  bool Enter(xmlParserCtxtPtr ctxt);
  void Leave() {
    if (depth > 0) --depth;
  }
};

// A text handed to libxml2 piece by piece from where it lies, so that a parse keeps no copy of it.
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

// Parses records of a text from their places, each as a small document of its own, keeping its dictionary of
// names from one record to the next. The prolog (the text's entity declarations, when it has any) goes before
// each record.
struct RecordParser {
  std::string_view prolog;
  int options = 0;
  xmlParserCtxtPtr ctxt = nullptr;
  std::string scratch;

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
// UTF-8, and huge mode unless the text declares entities.
int LoadOptions(std::string_view text);

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
