#pragma once

// A cache of compiled XSD schemas, keyed by target namespace ("" for schemas without one), that a Document
// validates against while it loads. Copies share the same cache; a schema, once added, is read-only and may
// be used by documents on any thread.

#include <memory>
#include <string>
#include <string_view>

namespace platform::xml {

class Document;

class SchemaCache {
 public:
  SchemaCache();

  // Compiles the schema held by a loaded document, a local file or a text and stores it under the namespace,
  // replacing an earlier one. Raises kv::Error when the schema does not load or compile, or when its target
  // namespace is not the one named; the description carries the reason and, when known, the line.
  void Add(std::string_view namespaceUri, const Document& schema);
  void AddFile(std::string_view namespaceUri, const std::string& path);
  void AddText(std::string_view namespaceUri, std::string_view xsdText);

  size_t length() const;
  bool Has(std::string_view namespaceUri) const;

  struct Impl;  // private

 private:
  friend class Document;
  std::shared_ptr<Impl> impl_;
};

}  // namespace platform::xml
