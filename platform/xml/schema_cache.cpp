#include <map>
#include <mutex>

#include "common/error.h"
#include "platform/xml/libxml_private.h"

namespace platform::xml {

struct SchemaCache::Impl {
  mutable std::mutex mutex;
  std::map<std::string, std::shared_ptr<CompiledSchema>, std::less<>> schemas;
};

SchemaCache::SchemaCache() : impl_(std::make_shared<Impl>()) {}

void SchemaCache::Add(std::string_view namespaceUri, const Document& schema) {
  xmlDocPtr source = schema.RawDocument();
  if (source == nullptr) throw kv::Error(kXmlFailure, "The schema document is not loaded");
  EnsureLibxml();
  ErrorCapture capture;
  // Compiling may change the tree it reads, and the caller keeps using its document.
  xmlDocPtr copy = xmlCopyDoc(source, 1);
  if (copy == nullptr) throw kv::Error(kXmlFailure, "Out of memory while copying the schema");
  xmlSchemaParserCtxtPtr parser = xmlSchemaNewDocParserCtxt(copy);
  if (parser == nullptr) {
    xmlFreeDoc(copy);
    throw kv::Error(kXmlFailure, "Out of memory while compiling the schema");
  }
  xmlSchemaSetParserStructuredErrors(parser, &ErrorCapture::OnStructured, &capture);
  xmlSchemaPtr compiled = xmlSchemaParse(parser);
  xmlSchemaFreeParserCtxt(parser);
  if (compiled == nullptr) {
    xmlFreeDoc(copy);
    std::string why = capture.Describe();
    throw kv::Error(kXmlFailure, "The schema does not compile: " + (why.empty() ? "unknown reason" : why));
  }
  auto entry = std::make_shared<CompiledSchema>(copy, compiled);
  std::string_view target =
      compiled->targetNamespace ? reinterpret_cast<const char*>(compiled->targetNamespace) : std::string_view();
  if (target != namespaceUri) {
    throw kv::Error(kXmlFailure, "The schema's target namespace \"" + std::string(target) +
                                     "\" does not match the namespace \"" + std::string(namespaceUri) + "\"");
  }
  std::lock_guard lock(impl_->mutex);
  impl_->schemas[std::string(namespaceUri)] = std::move(entry);
}

void SchemaCache::AddFile(std::string_view namespaceUri, const std::string& path) {
  Document schema;
  if (!schema.Load(path)) {
    const ParseError& e = schema.parseError();
    throw kv::Error(kXmlFailure, "The schema " + path + " does not load: " + e.reason +
                                     (e.line > 0 ? " (line " + std::to_string(e.line) + ")" : ""));
  }
  Add(namespaceUri, schema);
}

void SchemaCache::AddText(std::string_view namespaceUri, std::string_view xsdText) {
  Document schema;
  if (!schema.LoadXml(xsdText)) {
    const ParseError& e = schema.parseError();
    throw kv::Error(kXmlFailure, "The schema does not load: " + e.reason +
                                     (e.line > 0 ? " (line " + std::to_string(e.line) + ")" : ""));
  }
  Add(namespaceUri, schema);
}

size_t SchemaCache::length() const {
  std::lock_guard lock(impl_->mutex);
  return impl_->schemas.size();
}

bool SchemaCache::Has(std::string_view namespaceUri) const {
  std::lock_guard lock(impl_->mutex);
  return impl_->schemas.find(namespaceUri) != impl_->schemas.end();
}

std::shared_ptr<CompiledSchema> FindSchema(const SchemaCache::Impl& cache, std::string_view namespaceUri) {
  std::lock_guard lock(cache.mutex);
  auto it = cache.schemas.find(namespaceUri);
  return it == cache.schemas.end() ? nullptr : it->second;
}

std::shared_ptr<CompiledSchema> SingleSchema(const SchemaCache::Impl& cache) {
  std::lock_guard lock(cache.mutex);
  return cache.schemas.size() == 1 ? cache.schemas.begin()->second : nullptr;
}

}  // namespace platform::xml
