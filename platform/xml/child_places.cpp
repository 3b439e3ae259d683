// Where each record's plain children stand in its markup, found by a SAX pass over the record.

#include "platform/xml/child_places.h"

#include <libxml/parserInternals.h>

#include <algorithm>
#include <climits>
#include <unordered_map>

#include "platform/xml/libxml_private.h"

namespace platform::xml {
namespace {

constexpr const char* kUnparsed = "The document could not be parsed";

std::string_view View(const xmlChar* s) {
  return s ? std::string_view(reinterpret_cast<const char*>(s)) : std::string_view();
}

}  // namespace

struct ChildPlaces::Impl {
  ChildPlaces& out;
  xmlParserCtxtPtr main = nullptr;
  DepthGuard guard;
  EntityGuard entities;
  unsigned depth = 0;
  bool failed = false;  // a record the text cannot place: one out of an entity's replacement text
  std::string failure;

  // The parser keeps one copy of each name in its dictionary: the answer for a name is found again by its address.
  std::unordered_map<const xmlChar*, std::optional<size_t>> wantedByAddress;

  std::optional<size_t> Wanted(const xmlChar* localname, const xmlChar* prefix) {
    if (prefix != nullptr || main->dict == nullptr || !xmlDictOwns(main->dict, localname)) {
      return WantedName(out.fieldNames_, View(prefix), View(localname));
    }
    const auto [known, fresh] = wantedByAddress.try_emplace(localname);
    if (fresh) known->second = WantedName(out.fieldNames_, {}, View(localname));
    return known->second;
  }

  // The field being read (depth 3), when it is one of the names.
  bool inField = false;
  size_t fieldStartTagEnd = 0;
  std::string decoded;

  explicit Impl(ChildPlaces& places) : out(places) {}

  size_t Position() const {
    const xmlParserInputPtr in = main->input;
    return static_cast<size_t>(in->consumed) + static_cast<size_t>(in->cur - in->base);
  }
  size_t StartOfTag(size_t here) const {
    const size_t at =
        here <= out.text_.size() ? out.text_.rfind('<', here == 0 ? 0 : here - 1) : std::string_view::npos;
    return at == std::string_view::npos ? 0 : at;
  }
  std::string_view QualifiedName(size_t tagStart, std::string_view prefix, std::string_view local) const {
    return out.text_.substr(tagStart + 1, prefix.empty() ? local.size() : prefix.size() + 1 + local.size());
  }

  void Start(xmlParserCtxtPtr ctxt, const xmlChar* localname, const xmlChar* prefix, int attributeCount,
             const xmlChar** attributes) {
    if (ctxt != main) {
      // Markup out of an entity's replacement text has no place in the text.
      if (depth <= 2 && !failed) {
        failed = true;
        failure = "an element of the root comes out of an entity's replacement text, which has no place in the text";
      }
      return;
    }
    ++depth;
    const size_t here = Position();
    const size_t tagStart = StartOfTag(here);
    if (depth == 1) {
      out.rootName_ = QualifiedName(tagStart, View(prefix), View(localname));
      out.root_.start = tagStart;
      for (int i = 0; i < attributeCount; ++i) {
        const xmlChar** a = attributes + 5 * i;
        std::string name =
            a[1] != nullptr ? std::string(View(a[1])) + ":" + std::string(View(a[0])) : std::string(View(a[0]));
        std::string value(reinterpret_cast<const char*>(a[3]), static_cast<size_t>(a[4] - a[3]));
        if (value.find('&') != std::string::npos) {
          // Without entity substitution the parser hands references over as written ("&#38;" for "&amp;"); its
          // own tree builder decodes them so.
          xmlChar* decodedValue =
              xmlStringLenDecodeEntities(main, a[3], static_cast<int>(a[4] - a[3]), XML_SUBSTITUTE_REF, 0, 0, 0);
          if (decodedValue != nullptr) {
            value = reinterpret_cast<const char*>(decodedValue);
            xmlFree(decodedValue);
          }
        }
        out.rootAttributes_.emplace_back(std::move(name), std::move(value));
      }
    } else if (depth == 2) {
      Child child;
      child.name = QualifiedName(tagStart, View(prefix), View(localname));
      child.span.start = tagStart;
      child.fieldsBegin = static_cast<uint32_t>(out.fields_.size());
      out.children_.push_back(child);
    } else if (depth == 3) {
      std::optional<size_t> wanted = Wanted(localname, prefix);
      if (wanted) {
        const size_t recordStart = out.children_.back().span.start;
        Field field;
        field.name = static_cast<uint32_t>(*wanted);
        field.start = static_cast<uint32_t>(tagStart - recordStart);
        field.contentStart = static_cast<uint32_t>(here - recordStart);
        out.fields_.push_back(field);
        inField = true;
        fieldStartTagEnd = here;
        decoded.clear();
      }
    } else if (inField) {
      out.fields_.back().hasElements = true;
    }
  }

  void End(xmlParserCtxtPtr ctxt) {
    if (ctxt != main || depth == 0) return;
    const size_t end = Position();
    if (depth == 3 && inField) {
      inField = false;
      Child& child = out.children_.back();
      Field& field = out.fields_.back();
      const size_t recordStart = child.span.start;
      field.length = static_cast<uint32_t>(end - (recordStart + field.start));
      // An empty-element tag: the parser reports its end where it reported its start.
      const size_t contentEnd = end == fieldStartTagEnd ? end : StartOfTag(end);
      field.contentLength = contentEnd > fieldStartTagEnd ? static_cast<uint32_t>(contentEnd - fieldStartTagEnd) : 0;
      if (end == fieldStartTagEnd) field.contentStart = static_cast<uint32_t>(end - recordStart);
      const std::string_view raw = out.text_.substr(recordStart + field.contentStart, field.contentLength);
      if (!field.hasElements && raw != decoded) {
        field.decoded = static_cast<uint32_t>(out.texts_.size());
        out.texts_.push_back(decoded);
      }
    } else if (depth == 2) {
      Child& child = out.children_.back();
      child.span.length = end - child.span.start;
      child.fieldsCount = static_cast<uint32_t>(out.fields_.size()) - child.fieldsBegin;
    } else if (depth == 1) {
      out.root_.length = end - out.root_.start;
      out.rootEmptyTag_ = end >= 2 && out.text_.substr(end - 2, 2) == "/>" && out.children_.empty() &&
                          StartOfTag(end) == out.root_.start;
      out.rootEndTag_ = out.rootEmptyTag_ ? end : StartOfTag(end);
    }
    --depth;
  }

  void Characters(xmlParserCtxtPtr ctxt, const xmlChar* chars, int length) {
    if (ctxt != main) return;
    if (depth == 3 && inField) decoded.append(reinterpret_cast<const char*>(chars), static_cast<size_t>(length));
    if (depth == 1 && out.rootTextLine_ == 0) {
      for (int i = 0; i < length; ++i) {
        const xmlChar c = chars[i];
        if (c != ' ' && c != '\t' && c != '\r' && c != '\n') {
          // The parser hands text over once it stands at its end: count back the line ends after it.
          const int64_t after = std::count(chars + i, chars + length, '\n');
          out.rootTextLine_ = std::max<int64_t>(1, main->input->line - after);
          break;
        }
      }
    }
  }
};

namespace {

ChildPlaces::Impl& Of(void* context) {
  return *static_cast<ChildPlaces::Impl*>(static_cast<xmlParserCtxtPtr>(context)->_private);
}

void StartElement(void* context, const xmlChar* localname, const xmlChar* prefix, const xmlChar*, int, const xmlChar**,
                  int attributeCount, int, const xmlChar** attributes) {
  auto* ctxt = static_cast<xmlParserCtxtPtr>(context);
  ChildPlaces::Impl& impl = Of(context);
  if (ctxt == impl.main && (!impl.guard.Enter(ctxt) || !impl.entities.OnAttributes(ctxt, attributeCount, attributes))) {
    return;
  }
  impl.Start(ctxt, localname, prefix, attributeCount, attributes);
}

void EndElement(void* context, const xmlChar*, const xmlChar*, const xmlChar*) {
  auto* ctxt = static_cast<xmlParserCtxtPtr>(context);
  ChildPlaces::Impl& impl = Of(context);
  if (ctxt == impl.main) impl.guard.Leave();
  impl.End(ctxt);
}

void OnCharacters(void* context, const xmlChar* chars, int length) {
  Of(context).Characters(static_cast<xmlParserCtxtPtr>(context), chars, length);
}

void IgnoreComment(void*, const xmlChar*) {}
void IgnoreInstruction(void*, const xmlChar*, const xmlChar*) {}
void IgnoreReference(void*, const xmlChar*) {}

}  // namespace

ChildPlaces::ChildPlaces(std::string_view text, std::vector<std::string> fieldNames)
    : text_(text), fieldNames_(std::move(fieldNames)) {
  EnsureLibxml();
  if (text.size() > static_cast<size_t>(INT_MAX) * 2ull) {
    error_ = ErrorFrom(nullptr, text, "The document is too large");
    return;
  }
  Impl impl(*this);
  // Reserved, not touched: the pages of what a file does not need are never had, and the lists are not copied
  // over and over while they grow through a file of hundreds of thousands of records.
  children_.reserve(text.size() / 128 + 16);
  fields_.reserve(text.size() / 32 + 16);
  // The parser of a load takes a NUL byte after the root element for the end of the text.
  TextSource source{text.substr(0, text.find('\0'))};
  ErrorCapture capture;
  xmlParserCtxtPtr ctxt =
      xmlCreateIOParserCtxt(nullptr, nullptr, &TextSource::Read, &TextSource::Close, &source, XML_CHAR_ENCODING_NONE);
  if (ctxt == nullptr) {
    error_ = ErrorFrom(nullptr, text, kUnparsed);
    return;
  }
  xmlCtxtUseOptions(ctxt, LoadOptions());
  xmlSwitchEncoding(ctxt, XML_CHAR_ENCODING_UTF8);
  impl.main = ctxt;
  ctxt->_private = &impl;
  ctxt->sax->startElementNs = &StartElement;
  ctxt->sax->endElementNs = &EndElement;
  ctxt->sax->characters = &OnCharacters;
  ctxt->sax->ignorableWhitespace = &OnCharacters;
  ctxt->sax->cdataBlock = &OnCharacters;
  ctxt->sax->comment = &IgnoreComment;
  ctxt->sax->processingInstruction = &IgnoreInstruction;
  ctxt->sax->reference = &IgnoreReference;
  InstallEntityGuard<Impl>(ctxt);
  xmlParseDocument(ctxt);
  const bool ok = ctxt->wellFormed != 0 && !impl.guard.error && !impl.entities.error && !impl.failed;
  if (ctxt->myDoc != nullptr) xmlFreeDoc(ctxt->myDoc);
  ctxt->myDoc = nullptr;
  xmlFreeParserCtxt(ctxt);
  if (!ok) {
    if (impl.failed) {
      error_ = ErrorFrom(nullptr, text, impl.failure);
    } else {
      const std::optional<CapturedError>& guarded = impl.guard.error ? impl.guard.error : impl.entities.error;
      error_ = ErrorFrom(guarded ? &*guarded : capture.FirstError(), text, kUnparsed);
    }
    children_.clear();
    fields_.clear();
    texts_.clear();
    return;
  }
  parsed_ = true;
}

std::string_view ChildPlaces::Text(const Child& child, const Field& field) const {
  if (field.decoded != kNone) return texts_[field.decoded];
  return text_.substr(child.span.start + field.contentStart, field.contentLength);
}

}  // namespace platform::xml
