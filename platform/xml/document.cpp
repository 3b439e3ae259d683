// Loading documents: XML with any declared encoding, HTML pages, files, and their parse errors.

#include <libxml/HTMLparser.h>
#include <libxml/parserInternals.h>
#include <libxml/uri.h>
#include <libxml/xmlsave.h>

#include <cctype>
#include <climits>
#include <cstring>
#include <fstream>
#include <mutex>
#include <optional>
#include <sstream>

#include "platform/base/error.h"
#include "platform/xml/libxml_private.h"
#include "platform/xml/schema_cache.h"

namespace platform::xml {

void EnsureLibxml() {
  static std::once_flag once;
  std::call_once(once, [] {
    xmlInitParser();
    // Schema includes and imports are fetched through the entity loader, not through our load options.
    xmlSetExternalEntityLoader(xmlNoNetExternalEntityLoader);
  });
}

namespace {

void IgnoreGeneric(void*, const char*, ...) {}

}  // namespace

// libxml2 keeps these handlers per thread, so installing and restoring them around a call is thread-safe.
ErrorCapture::ErrorCapture()
    : oldStructured_(xmlStructuredError),
      oldStructuredContext_(xmlStructuredErrorContext),
      oldGeneric_(xmlGenericError),
      oldGenericContext_(xmlGenericErrorContext) {
  xmlSetStructuredErrorFunc(this, &ErrorCapture::OnStructured);
  xmlSetGenericErrorFunc(nullptr, &IgnoreGeneric);
}

ErrorCapture::~ErrorCapture() {
  xmlSetStructuredErrorFunc(oldStructuredContext_, oldStructured_);
  xmlSetGenericErrorFunc(oldGenericContext_, oldGeneric_);
}

CapturedError CapturedError::From(const xmlError& error) {
  CapturedError e;
  e.code = error.code;
  e.level = error.level;
  e.message = error.message ? error.message : "Unknown XML error";
  while (!e.message.empty() && (e.message.back() == '\n' || e.message.back() == '\r')) e.message.pop_back();
  e.line = error.line;
  e.column = error.int2;
  return e;
}

void ErrorCapture::OnStructured(void* self, xmlErrorPtr error) {
  if (self == nullptr || error == nullptr) return;
  auto* capture = static_cast<ErrorCapture*>(self);
  if (capture->errors_.size() >= 100) return;  // a broken document can report an error per line
  CapturedError e = CapturedError::From(*error);
  if (error->domain == XML_FROM_SCHEMASV && capture->parser_ != nullptr && capture->parser_->input != nullptr) {
    e.line = capture->parser_->input->line;
    e.column = capture->parser_->input->col;
  }
  capture->errors_.push_back(std::move(e));
}

const CapturedError* ErrorCapture::FirstError() const {
  for (const auto& e : errors_) {
    if (e.level >= XML_ERR_ERROR) return &e;
  }
  return nullptr;
}

std::string ErrorCapture::Describe() const {
  const CapturedError* e = FirstError();
  if (e == nullptr) return {};
  return e->line > 0 ? e->message + " (line " + std::to_string(e->line) + ")" : e->message;
}

CapturedError StopWithError(xmlParserCtxtPtr ctxt, int code, std::string message) {
  CapturedError e;
  e.code = code;
  e.level = XML_ERR_FATAL;
  e.message = std::move(message);
  if (ctxt->input != nullptr) {
    e.line = ctxt->input->line;
    e.column = ctxt->input->col;
  }
  xmlStopParser(ctxt);
  ctxt->wellFormed = 0;
  return e;
}

bool DepthGuard::Refuse(xmlParserCtxtPtr ctxt) {
  if (error) return false;
  error =
      StopWithError(ctxt, XML_ERR_INTERNAL_ERROR, "Excessive depth in document: " + std::to_string(kMaxElementDepth));
  return false;
}

std::string SourceLine(std::string_view text, int64_t line) {
  if (line < 1) return {};
  size_t start = 0;
  for (int64_t n = 1; n < line; ++n) {
    size_t nl = text.find('\n', start);
    if (nl == std::string_view::npos) return {};
    start = nl + 1;
  }
  size_t end = text.find('\n', start);
  std::string_view src = text.substr(start, end == std::string_view::npos ? text.npos : end - start);
  if (!src.empty() && src.back() == '\r') src.remove_suffix(1);
  return std::string(src);
}

struct Document::State {
  std::shared_ptr<DocHolder> doc;
  ParseError error;
  std::shared_ptr<SchemaCache::Impl> schemas;
  std::string baseUrl;  // of the file being loaded, so a schema's relative includes resolve
};

bool ReadAsWide(std::string_view text) {
  if (text.size() < 4) return false;
  switch (xmlDetectCharEncoding(reinterpret_cast<const unsigned char*>(text.data()), 4)) {
    case XML_CHAR_ENCODING_UTF16LE:
    case XML_CHAR_ENCODING_UTF16BE:
    case XML_CHAR_ENCODING_UCS4LE:
    case XML_CHAR_ENCODING_UCS4BE:
    case XML_CHAR_ENCODING_UCS4_2143:
    case XML_CHAR_ENCODING_UCS4_3412:
      return true;
    default:
      return false;
  }
}

int LoadOptions() {
  return XML_PARSE_NONET | XML_PARSE_NOERROR | XML_PARSE_NOWARNING | XML_PARSE_IGNORE_ENC | XML_PARSE_COMPACT |
         XML_PARSE_HUGE;
}

namespace {

struct ParseResult {
  xmlDocPtr doc = nullptr;  // owned by the caller
  bool wellFormed = false;
  std::optional<CapturedError> guardError;  // the depth or entity guard's, which libxml2 never reports
};

// The tree builder's element handlers behind the depth guard; the parser's _private leads here.
struct GuardedTree {
  DepthGuard guard;
  EntityGuard entities;
  startElementNsSAX2Func start = nullptr;
  endElementNsSAX2Func end = nullptr;
};

void GuardedStart(void* context, const xmlChar* localname, const xmlChar* prefix, const xmlChar* uri, int namespaces,
                  const xmlChar** declared, int attributes, int defaulted, const xmlChar** values) {
  auto* ctxt = static_cast<xmlParserCtxtPtr>(context);
  auto* tree = static_cast<GuardedTree*>(ctxt->_private);
  if (!tree->guard.Enter(ctxt) || !tree->entities.OnAttributes(ctxt, attributes, values)) return;
  tree->start(context, localname, prefix, uri, namespaces, declared, attributes, defaulted, values);
}

void GuardedEnd(void* context, const xmlChar* localname, const xmlChar* prefix, const xmlChar* uri) {
  auto* tree = static_cast<GuardedTree*>(static_cast<xmlParserCtxtPtr>(context)->_private);
  tree->guard.Leave();
  tree->end(context, localname, prefix, uri);
}

// One parse of the text as UTF-8; with a schema, validation runs alongside so an error carries the parser's
// position (at the end of the offending tag), which is what a reader of the message needs.
ParseResult Parse(std::string_view text, const char* url, xmlSchemaPtr schema, ErrorCapture& capture) {
  ParseResult result;
  // libxml2 copies the text into its own buffer; its static buffers mis-parse once the parser shrinks them.
  xmlParserCtxtPtr ctxt = xmlCreateMemoryParserCtxt(text.data(), static_cast<int>(text.size()));
  if (ctxt == nullptr) return result;
  xmlSchemaValidCtxtPtr valid = nullptr;
  xmlSchemaSAXPlugPtr plug = nullptr;
  if (url != nullptr && ctxt->input != nullptr && ctxt->input->filename == nullptr) {
    ctxt->input->filename = reinterpret_cast<char*>(xmlCanonicPath(BAD_CAST url));
  }
  xmlCtxtUseOptions(ctxt, LoadOptions());
  xmlSwitchEncoding(ctxt, XML_CHAR_ENCODING_UTF8);
  // Wrapped before a schema plugs in: the plug passes each element on to the handlers it found in place.
  GuardedTree tree;
  tree.start = ctxt->sax->startElementNs;
  tree.end = ctxt->sax->endElementNs;
  ctxt->_private = &tree;
  ctxt->sax->startElementNs = &GuardedStart;
  ctxt->sax->endElementNs = &GuardedEnd;
  InstallEntityGuard<GuardedTree>(ctxt);
  if (schema != nullptr) {
    valid = xmlSchemaNewValidCtxt(schema);
    if (valid != nullptr) {
      xmlSchemaSetValidStructuredErrors(valid, &ErrorCapture::OnStructured, &capture);
      plug = xmlSchemaSAXPlug(valid, &ctxt->sax, &ctxt->userData);
    }
  }
  capture.AttachParser(ctxt);
  xmlParseDocument(ctxt);
  capture.AttachParser(nullptr);
  bool schemaValid = true;
  if (plug != nullptr) {
    xmlSchemaSAXUnplug(plug);
    schemaValid = xmlSchemaIsValid(valid) == 1;
  } else if (schema != nullptr) {
    schemaValid = false;
  }
  if (valid != nullptr) xmlSchemaFreeValidCtxt(valid);
  result.wellFormed = ctxt->wellFormed != 0 && schemaValid && !tree.guard.error && !tree.entities.error;
  result.guardError = tree.guard.error ? tree.guard.error : tree.entities.error;
  result.doc = ctxt->myDoc;
  ctxt->myDoc = nullptr;
  xmlFreeParserCtxt(ctxt);
  return result;
}

}  // namespace

Document::Document() : state_(std::make_unique<State>()) {}
Document::~Document() = default;
Document::Document(Document&&) noexcept = default;
Document& Document::operator=(Document&&) noexcept = default;

ParseError ErrorFrom(const CapturedError* e, std::string_view text, std::string fallback) {
  ParseError error;
  if (e == nullptr) {
    error.errorCode = XML_ERR_INTERNAL_ERROR;
    error.reason = std::move(fallback);
    return error;
  }
  error.errorCode = e->code != 0 ? e->code : XML_ERR_INTERNAL_ERROR;
  error.reason = e->message;
  error.line = e->line;
  error.linepos = e->column;
  error.srcText = SourceLine(text, e->line);
  return error;
}

bool Document::LoadXml(std::string_view text) {
  EnsureLibxml();
  state_->doc.reset();
  state_->error = ParseError{};
  if (text.size() > static_cast<size_t>(INT_MAX)) {
    state_->error = ErrorFrom(nullptr, text, "The document is larger than 2 GB");
    return false;
  }
  std::shared_ptr<CompiledSchema> schema = state_->schemas ? SingleSchema(*state_->schemas) : nullptr;
  if (state_->schemas && schema == nullptr) {
    // The schema follows the root element's namespace, which a scan of the text would get wrong for
    // prefixed roots; a first parse without validation settles it (and any well-formedness error).
    ErrorCapture probeCapture;
    ParseResult probe = Parse(text, nullptr, nullptr, probeCapture);
    if (!probe.wellFormed || probe.doc == nullptr) {
      if (probe.doc != nullptr) xmlFreeDoc(probe.doc);
      state_->error = ErrorFrom(probe.guardError ? &*probe.guardError : probeCapture.FirstError(), text,
                                "The document could not be parsed");
      return false;
    }
    xmlNodePtr root = xmlDocGetRootElement(probe.doc);
    std::string ns = root && root->ns && root->ns->href ? reinterpret_cast<const char*>(root->ns->href) : "";
    std::string rootName = root ? reinterpret_cast<const char*>(root->name) : "";
    xmlFreeDoc(probe.doc);
    schema = FindSchema(*state_->schemas, ns);
    if (schema == nullptr) {
      state_->error.errorCode = XML_SCHEMAV_CVC_ELT_1;
      state_->error.reason = "Validation failed: no schema in the cache for the namespace \"" + ns +
                             "\" of the root element '" + rootName + "'";
      state_->error.line = 1;
      state_->error.srcText = SourceLine(text, 1);
      return false;
    }
  }
  ErrorCapture capture;
  ParseResult parsed = Parse(text, state_->baseUrl.empty() ? nullptr : state_->baseUrl.c_str(),
                             schema ? schema->schema : nullptr, capture);
  if (!parsed.wellFormed || parsed.doc == nullptr) {
    if (parsed.doc != nullptr) xmlFreeDoc(parsed.doc);
    state_->error = ErrorFrom(parsed.guardError ? &*parsed.guardError : capture.FirstError(), text,
                              "The document could not be parsed");
    return false;
  }
  state_->doc = std::make_shared<DocHolder>(parsed.doc);
  return true;
}

namespace {

// A character reference without digits ("&#;", "&#x;") is text to a browser, but libxml2's HTML parser drops it;
// its "&" is written as a reference of its own so the text stays as written.
std::string KeepReferencesWithoutDigits(std::string_view html) {
  std::string out;
  size_t copied = 0;
  for (size_t at = html.find("&#"); at != std::string_view::npos; at = html.find("&#", at + 2)) {
    size_t digit = at + 2;
    const bool hex = digit < html.size() && (html[digit] == 'x' || html[digit] == 'X');
    if (hex) ++digit;
    const auto c = static_cast<unsigned char>(digit < html.size() ? html[digit] : '\0');
    if (hex ? std::isxdigit(c) != 0 : std::isdigit(c) != 0) continue;
    out.append(html.substr(copied, at - copied)).append("&amp;");
    copied = at + 1;
  }
  if (copied == 0) return std::string(html);
  out.append(html.substr(copied));
  return out;
}

}  // namespace

bool Document::LoadHtml(std::string_view html) {
  EnsureLibxml();
  state_->doc.reset();
  state_->error = ParseError{};
  if (html.empty() || html.size() > static_cast<size_t>(INT_MAX)) {
    state_->error = ErrorFrom(nullptr, html, html.empty() ? "The page is empty" : "The page is larger than 2 GB");
    return false;
  }
  ErrorCapture quiet;
  const int options = HTML_PARSE_RECOVER | HTML_PARSE_NOERROR | HTML_PARSE_NOWARNING | HTML_PARSE_NONET;
  const std::string page = KeepReferencesWithoutDigits(html);
  htmlDocPtr doc = htmlReadMemory(page.data(), static_cast<int>(page.size()), nullptr, "UTF-8", options);
  if (doc == nullptr) {
    state_->error = ErrorFrom(quiet.FirstError(), html, "The page could not be parsed");
    return false;
  }
  state_->doc = std::make_shared<DocHolder>(doc);
  return true;
}

bool Document::Load(const std::string& path) {
  state_->doc.reset();
  state_->error = ParseError{};
  if (path.find("://") != std::string::npos) {
    state_->error.errorCode = XML_IO_NETWORK_ATTEMPT;
    state_->error.reason = "Only local files can be loaded: " + path;
    return false;
  }
  std::ifstream in(path, std::ios::binary);
  std::ostringstream content;
  if (!in || !(content << in.rdbuf())) {
    // An empty file reads as a failed stream copy too; it is simply not a document.
    if (in && in.peek() == std::ifstream::traits_type::eof()) return LoadXml("");
    state_->error.errorCode = XML_IO_LOAD_ERROR;
    state_->error.reason = "The file could not be read: " + path;
    return false;
  }
  state_->baseUrl = path;
  bool ok = LoadXml(content.str());
  state_->baseUrl.clear();
  return ok;
}

bool Document::parsed() const {
  return state_->doc != nullptr;
}

const ParseError& Document::parseError() const {
  return state_->error;
}

void Document::SetSchemas(const SchemaCache& schemas) {
  state_->schemas = schemas.impl_;
}

void Document::ClearSchemas() {
  state_->schemas.reset();
}

Node Document::AsNode() const {
  if (!state_->doc) return {};
  return Node(state_->doc, reinterpret_cast<xmlNode*>(state_->doc->doc));
}

Node Document::documentElement() const {
  if (!state_->doc) return {};
  xmlNodePtr root = xmlDocGetRootElement(state_->doc->doc);
  return root ? Node(state_->doc, root) : Node();
}

NodeList Document::getElementsByTagName(std::string_view name) const {
  return AsNode().getElementsByTagName(name);
}

Node Document::selectSingleNode(std::string_view path) const {
  return AsNode().selectSingleNode(path);
}

NodeList Document::selectNodes(std::string_view path) const {
  return AsNode().selectNodes(path);
}

std::string Document::xml() const {
  return AsNode().xml();
}

xmlDocPtr Document::RawDocument() const {
  return state_->doc ? state_->doc->doc : nullptr;
}

}  // namespace platform::xml
