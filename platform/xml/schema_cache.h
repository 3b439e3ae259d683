#pragma once

// A cache of compiled XSD schemas, keyed by target namespace ("" for schemas without one), that a Document
// validates against while it loads. Copies share the same cache; a schema, once added, is read-only and may
// be used by documents on any thread.

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

namespace platform::xml {

class Document;

// One way in which a document departs from its schema.
struct SchemaViolation {
  int code = 0;  // libxml2's error number
  // The element's text is longer than its type allows; nothing else is said about the element's place.
  bool tooLong = false;
  std::string message;
  int64_t line = 0;
  // Where the element stands: its position among the element children of its parent, for each level below
  // the root (empty for the root itself or when the error names no element).
  std::vector<size_t> path;
  std::string element;  // its name, "" when the error names no element
  std::string text;     // its character data
};

struct SchemaCheck {
  bool wellFormed = false;
  std::string parseError;  // why the text is not well-formed, with its line
  std::vector<SchemaViolation> violations;
  bool Valid() const { return wellFormed && violations.empty(); }
};

class SchemaCache {
 public:
  SchemaCache();

  // Compiles the schema held by a loaded document, a local file or a text and stores it under the namespace,
  // replacing an earlier one. Raises kv::Error when the schema does not load or compile, or when its target
  // namespace is not the one named; the description carries the reason and, when known, the line.
  void Add(std::string_view namespaceUri, const Document& schema);
  void AddFile(std::string_view namespaceUri, const std::string& path);
  void AddText(std::string_view namespaceUri, std::string_view xsdText);

  // Parses the text and checks the whole tree against the schema of the namespace, reporting every violation
  // (a load stops at the first). Raises kv::Error when the cache holds no schema for the namespace.
  SchemaCheck Validate(std::string_view namespaceUri, std::string_view text) const;

  size_t length() const;
  bool Has(std::string_view namespaceUri) const;

  struct Impl;  // private

 private:
  friend class Document;
  std::shared_ptr<Impl> impl_;
};

}  // namespace platform::xml
