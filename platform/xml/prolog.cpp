// Reading a document's prolog: declaration, processing instructions and DOCTYPE, nothing fetched.

#include "platform/xml/prolog.h"

#include <errno.h>
#include <iconv.h>
#include <libxml/parserInternals.h>

#include "platform/base/error.h"
#include "platform/xml/libxml_private.h"

namespace platform::xml {
namespace {

std::string Str(const xmlChar* s) {
  return s != nullptr ? reinterpret_cast<const char*>(s) : "";
}

struct PrologReader {
  Prolog prolog;
  std::string_view text;
  xmlParserCtxtPtr ctxt = nullptr;

  size_t Position() const {
    const xmlParserInputPtr in = ctxt->input;
    return static_cast<size_t>(in->consumed) + static_cast<size_t>(in->cur - in->base);
  }
};

PrologReader& Reader(void* context) {
  return *static_cast<PrologReader*>(static_cast<xmlParserCtxtPtr>(context)->_private);
}

void OnInternalSubset(void* context, const xmlChar* name, const xmlChar* publicId, const xmlChar* systemId) {
  PrologReader& reader = Reader(context);
  Prolog::DocumentType doctype{Str(name), Str(publicId), Str(systemId), 0, 0};
  const size_t here = std::min(reader.Position(), reader.text.size());
  const size_t begin = reader.text.rfind("<!DOCTYPE", here);
  doctype.begin = begin == std::string_view::npos ? 0 : begin;
  doctype.end = here;
  reader.prolog.doctype = std::move(doctype);
}

// Called once the whole declaration, internal subset included, is read: the parser stands after its ">".
void OnExternalSubset(void* context, const xmlChar*, const xmlChar*, const xmlChar*) {
  PrologReader& reader = Reader(context);
  if (reader.prolog.doctype) reader.prolog.doctype->end = std::min(reader.Position(), reader.text.size());
}

void OnInstruction(void* context, const xmlChar* target, const xmlChar* data) {
  PrologReader& reader = Reader(context);
  if (!reader.prolog.rootReached) reader.prolog.instructions.push_back({Str(target), Str(data)});
}

void OnRoot(void* context, const xmlChar*, const xmlChar*, const xmlChar*, int, const xmlChar**, int, int,
            const xmlChar**) {
  auto* ctxt = static_cast<xmlParserCtxtPtr>(context);
  Reader(context).prolog.rootReached = true;
  xmlStopParser(ctxt);
}

}  // namespace

Prolog ReadProlog(std::string_view text, bool asUtf8) {
  EnsureLibxml();
  PrologReader reader;
  reader.text = text;
  reader.prolog.byteOrderMark =
      text.starts_with("\xEF\xBB\xBF") || text.starts_with("\xFF\xFE") || text.starts_with("\xFE\xFF");
  TextSource source{text};
  ErrorCapture capture;  // a prolog that breaks off is told by rootReached; its messages go nowhere
  xmlParserCtxtPtr ctxt =
      xmlCreateIOParserCtxt(nullptr, nullptr, &TextSource::Read, &TextSource::Close, &source, XML_CHAR_ENCODING_NONE);
  if (ctxt == nullptr) return reader.prolog;
  reader.ctxt = ctxt;
  int options = XML_PARSE_NONET | XML_PARSE_NOERROR | XML_PARSE_NOWARNING | XML_PARSE_RECOVER;
  if (asUtf8) options = LoadOptions() | XML_PARSE_RECOVER;
  xmlCtxtUseOptions(ctxt, options);
  if (asUtf8) xmlSwitchEncoding(ctxt, XML_CHAR_ENCODING_UTF8);
  ctxt->_private = &reader;
  ctxt->sax->internalSubset = &OnInternalSubset;
  ctxt->sax->externalSubset = &OnExternalSubset;
  ctxt->sax->processingInstruction = &OnInstruction;
  ctxt->sax->startElementNs = &OnRoot;
  xmlParseDocument(ctxt);
  reader.prolog.version = Str(ctxt->version);
  reader.prolog.declaredEncoding = Str(ctxt->encoding);
  if (ctxt->input != nullptr && ctxt->input->encoding != nullptr && reader.prolog.declaredEncoding.empty()) {
    reader.prolog.declaredEncoding = Str(ctxt->input->encoding);
  }
  if (ctxt->myDoc != nullptr) xmlFreeDoc(ctxt->myDoc);
  ctxt->myDoc = nullptr;
  xmlFreeParserCtxt(ctxt);
  if (!asUtf8) {
    // As the parser decides: the first bytes (a byte-order mark, or "<?" in a wide encoding) before the
    // declaration; a declaration of UTF-16 on bytes that are not is the mismatch libxml2 reads past as UTF-8.
    const xmlCharEncoding detected = text.size() >= 4
                                         ? xmlDetectCharEncoding(reinterpret_cast<const unsigned char*>(text.data()), 4)
                                         : XML_CHAR_ENCODING_NONE;
    const std::string& declared = reader.prolog.declaredEncoding;
    const bool wide = declared.size() >= 6 && (xmlStrncasecmp(BAD_CAST declared.c_str(), BAD_CAST "UTF-16", 6) == 0 ||
                                               xmlStrncasecmp(BAD_CAST declared.c_str(), BAD_CAST "UTF16", 5) == 0);
    if (detected == XML_CHAR_ENCODING_UTF16LE) {
      reader.prolog.encoding = "UTF-16LE";  // libxml2's own name for it says no byte order
    } else if (detected == XML_CHAR_ENCODING_UTF16BE) {
      reader.prolog.encoding = "UTF-16BE";
    } else if (detected == XML_CHAR_ENCODING_UCS4LE) {
      reader.prolog.encoding = "UCS-4LE";
    } else if (detected == XML_CHAR_ENCODING_UCS4BE) {
      reader.prolog.encoding = "UCS-4BE";
    } else if (detected != XML_CHAR_ENCODING_NONE && detected != XML_CHAR_ENCODING_UTF8) {
      const char* name = xmlGetCharEncodingName(detected);
      if (name != nullptr) reader.prolog.encoding = name;
    } else if (!reader.prolog.byteOrderMark && !declared.empty() && !wide) {
      // "<?xm" tells only that the bytes are ASCII-compatible; the declaration names which such encoding.
      reader.prolog.encoding = declared;
    }
  }
  return reader.prolog;
}

std::optional<std::string> PseudoAttribute(std::string_view data, std::string_view name) {
  size_t at = 0;
  auto blank = [](char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n'; };
  while (at < data.size()) {
    while (at < data.size() && blank(data[at])) ++at;
    size_t nameEnd = at;
    while (nameEnd < data.size() && data[nameEnd] != '=' && !blank(data[nameEnd])) ++nameEnd;
    std::string_view found = data.substr(at, nameEnd - at);
    size_t i = nameEnd;
    while (i < data.size() && blank(data[i])) ++i;
    if (found.empty() || i >= data.size() || data[i] != '=') return std::nullopt;
    ++i;
    while (i < data.size() && blank(data[i])) ++i;
    if (i >= data.size() || (data[i] != '"' && data[i] != '\'')) return std::nullopt;
    size_t close = data.find(data[i], i + 1);
    if (close == std::string_view::npos) return std::nullopt;
    if (found == name) return std::string(data.substr(i + 1, close - i - 1));
    at = close + 1;
  }
  return std::nullopt;
}

namespace {

bool IsUtf8(std::string_view encoding) {
  const std::string name(encoding);
  return name.empty() || xmlStrcasecmp(BAD_CAST name.c_str(), BAD_CAST "UTF-8") == 0 ||
         xmlStrcasecmp(BAD_CAST name.c_str(), BAD_CAST "UTF8") == 0;
}

std::string Convert(std::string_view bytes, const std::string& to, const std::string& from) {
  iconv_t cd = iconv_open(to.c_str(), from.c_str());
  if (cd == reinterpret_cast<iconv_t>(-1)) {
    throw kv::Error(kXmlFailure, "The text's encoding " + from + " cannot be read here.");
  }
  std::string out(bytes.size() * 2 + 16, '\0');
  char* in = const_cast<char*>(bytes.data());
  size_t inLeft = bytes.size();
  size_t done = 0;
  while (true) {
    char* outPtr = out.data() + done;
    size_t outLeft = out.size() - done;
    size_t result = iconv(cd, inLeft > 0 ? &in : nullptr, &inLeft, &outPtr, &outLeft);
    done = out.size() - outLeft;
    if (result != static_cast<size_t>(-1) && inLeft == 0) break;
    if (result == static_cast<size_t>(-1) && errno == E2BIG) {
      out.resize(out.size() * 2);
      continue;
    }
    if (result == static_cast<size_t>(-1)) {
      const size_t at = bytes.size() - inLeft;
      iconv_close(cd);
      throw kv::Error(kXmlFailure,
                      "The text does not convert from " + from + " to " + to + " at byte " + std::to_string(at) + ".");
    }
  }
  iconv_close(cd);
  out.resize(done);
  return out;
}

}  // namespace

std::string ByteOrderMark(std::string_view encoding) {
  if (encoding == "UTF-16LE") return "\xFF\xFE";
  if (encoding == "UTF-16BE") return "\xFE\xFF";
  if (IsUtf8(encoding)) return "\xEF\xBB\xBF";
  return "";
}

Utf8Text ToUtf8(std::string bytes) {
  const Prolog prolog = ReadProlog(bytes, false);
  Utf8Text result;
  result.encoding = prolog.encoding;
  result.byteOrderMark = prolog.byteOrderMark;
  const size_t mark = !prolog.byteOrderMark ? 0 : bytes.starts_with("\xEF\xBB\xBF") ? 3 : 2;
  if (IsUtf8(prolog.encoding)) {
    result.encoding = "UTF-8";
    bytes.erase(0, mark);
    result.text = std::move(bytes);
  } else {
    result.text = Convert(std::string_view(bytes).substr(mark), "UTF-8", prolog.encoding);
  }
  return result;
}

std::string FromUtf8(std::string_view utf8, std::string_view encoding, bool byteOrderMark) {
  std::string out = byteOrderMark ? ByteOrderMark(encoding) : "";
  if (IsUtf8(encoding)) return out.append(utf8);
  return out + Convert(utf8, std::string(encoding), "UTF-8");
}

}  // namespace platform::xml
