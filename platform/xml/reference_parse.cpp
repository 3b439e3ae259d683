// Plain libxml2 parses, tree and stream, that the benchmarks measure the system's own reading against.

#include "platform/xml/reference_parse.h"

#include "platform/xml/libxml_private.h"

#include <libxml/parser.h>
#include <libxml/parserInternals.h>

#include <climits>
#include <cstring>

namespace platform::xml {
namespace {

// No network, compact text nodes, no size limit, the text taken as it is.
constexpr int kOptions = XML_PARSE_NONET | XML_PARSE_NOERROR | XML_PARSE_NOWARNING | XML_PARSE_COMPACT |
                         XML_PARSE_HUGE | XML_PARSE_IGNORE_ENC;

}  // namespace

bool ParseTreeOnce(std::string_view text) {
  if (text.size() > static_cast<size_t>(INT_MAX)) return false;
  xmlDocPtr doc = xmlReadMemory(text.data(), static_cast<int>(text.size()), nullptr, nullptr, kOptions);
  if (doc == nullptr) return false;
  xmlFreeDoc(doc);
  return true;
}

bool ParseStreamOnce(const std::string& text) {
  if (text.size() > static_cast<size_t>(INT_MAX)) return false;
  // Read where it lies; a memory parser context would first copy all of it.
  xmlParserCtxtPtr ctxt = NewInPlaceParser(text);
  if (ctxt == nullptr) return false;
  // The parser's own handlers would build the tree; none at all leaves the bare parse.
  std::memset(ctxt->sax, 0, sizeof *ctxt->sax);
  ctxt->sax->initialized = XML_SAX2_MAGIC;
  ctxt->userData = ctxt;
  xmlCtxtUseOptions(ctxt, kOptions);
  ctxt->progressive = 1;  // see NewInPlaceParser
  xmlParseDocument(ctxt);
  const bool ok = ctxt->wellFormed != 0;
  if (ctxt->myDoc != nullptr) xmlFreeDoc(ctxt->myDoc);
  xmlFreeParserCtxt(ctxt);
  return ok;
}

}  // namespace platform::xml
