// XSD schemas by namespace and the validating load, over libxml2's schema support.

#include <climits>
#include <map>
#include <mutex>

#include "platform/base/error.h"
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

namespace {

struct ViolationSink {
  std::vector<SchemaViolation> violations;

  static void OnError(void* self, xmlErrorPtr error) {
    if (self == nullptr || error == nullptr || error->level < XML_ERR_ERROR) return;
    auto* sink = static_cast<ViolationSink*>(self);
    if (sink->violations.size() >= 1000) return;
    SchemaViolation v;
    v.code = error->code;
    v.tooLong = error->code == XML_SCHEMAV_CVC_MAXLENGTH_VALID;
    v.message = error->message ? error->message : "Unknown schema error";
    while (!v.message.empty() && (v.message.back() == '\n' || v.message.back() == '\r')) v.message.pop_back();
    v.line = error->line;
    auto* node = static_cast<xmlNodePtr>(error->node);
    if (node != nullptr && node->type != XML_ELEMENT_NODE) node = node->parent;
    if (node != nullptr && node->type == XML_ELEMENT_NODE) {
      v.element = reinterpret_cast<const char*>(node->name);
      xmlChar* content = xmlNodeGetContent(node);
      v.text = content != nullptr ? reinterpret_cast<const char*>(content) : "";
      xmlFree(content);
      for (xmlNodePtr at = node; at->parent != nullptr && at->parent->type == XML_ELEMENT_NODE; at = at->parent) {
        size_t position = 0;
        for (xmlNodePtr sibling = at->prev; sibling != nullptr; sibling = sibling->prev) {
          if (sibling->type == XML_ELEMENT_NODE) ++position;
        }
        v.path.insert(v.path.begin(), position);
      }
    }
    sink->violations.push_back(std::move(v));
  }
};

}  // namespace

SchemaCheck SchemaCache::Validate(std::string_view namespaceUri, std::string_view text) const {
  std::shared_ptr<CompiledSchema> schema = FindSchema(*impl_, namespaceUri);
  if (schema == nullptr) {
    throw kv::Error(kXmlFailure,
                    "There is no schema in the cache for the namespace \"" + std::string(namespaceUri) + "\"");
  }
  EnsureLibxml();
  SchemaCheck check;
  if (text.size() > static_cast<size_t>(INT_MAX)) {
    check.parseError = "The document is larger than 2 GB";
    return check;
  }
  ErrorCapture capture;
  xmlDocPtr doc =
      xmlReadMemory(text.data(), static_cast<int>(text.size()), nullptr, "UTF-8", LoadOptions() & ~XML_PARSE_HUGE);
  if (doc == nullptr) {
    check.parseError = capture.Describe();
    if (check.parseError.empty()) check.parseError = "The document could not be parsed";
    return check;
  }
  check.wellFormed = true;
  ViolationSink sink;
  xmlSchemaValidCtxtPtr valid = xmlSchemaNewValidCtxt(schema->schema);
  if (valid == nullptr) {
    xmlFreeDoc(doc);
    throw kv::Error(kXmlFailure, "Out of memory while validating");
  }
  xmlSchemaSetValidStructuredErrors(valid, &ViolationSink::OnError, &sink);
  int result = xmlSchemaValidateDoc(valid, doc);
  xmlSchemaFreeValidCtxt(valid);
  xmlFreeDoc(doc);
  check.violations = std::move(sink.violations);
  if (result != 0 && check.violations.empty()) {
    SchemaViolation v;
    v.code = result;
    v.message = "The document does not fit its schema";
    check.violations.push_back(std::move(v));
  }
  return check;
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
