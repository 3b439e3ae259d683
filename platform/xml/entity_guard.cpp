// Bounding what entity references expand to, in every encoding, before the parser expands them.

#include "platform/xml/libxml_private.h"

#include <libxml/dict.h>
#include <libxml/entities.h>
#include <libxml/parserInternals.h>

#include <cstdint>

namespace platform::xml {
namespace {

// Deeper nesting than this is libxml2's to refuse as a loop; the count stops there.
constexpr int kMaxEntityNesting = 40;

size_t SaturatedAdd(size_t a, size_t b) {
  return a > SIZE_MAX - b ? SIZE_MAX : a + b;
}

}  // namespace

void EntityGuard::OnDeclaration(xmlParserCtxtPtr ctxt) {
  declared = true;
  if ((ctxt->options & XML_PARSE_HUGE) == 0) return;
  ctxt->options &= ~XML_PARSE_HUGE;
  if (ctxt->dict != nullptr) xmlDictSetLimit(ctxt->dict, XML_MAX_DICTIONARY_LIMIT);
}

size_t EntityGuard::TextSize(xmlParserCtxtPtr ctxt, std::string_view text, int depth) {
  size_t size = 0;
  for (size_t i = 0; i < text.size(); ++i) {
    const size_t semicolon = text[i] == '&' ? text.find(';', i) : std::string_view::npos;
    if (semicolon == std::string_view::npos) {
      ++size;
      continue;
    }
    if (text[i + 1] == '#') {
      size = SaturatedAdd(size, 4);
    } else if (depth < kMaxEntityNesting) {
      const std::string inner(text.substr(i + 1, semicolon - i - 1));
      size = SaturatedAdd(size, ExpandedSize(ctxt, reinterpret_cast<const xmlChar*>(inner.c_str()), depth + 1));
    }
    i = semicolon;
  }
  return size;
}

// What a reference to the entity expands to: its replacement text with each reference in it expanded in turn
// (character references count their longest encoding).
size_t EntityGuard::ExpandedSize(xmlParserCtxtPtr ctxt, const xmlChar* name, int depth) {
  xmlEntityPtr entity = xmlGetPredefinedEntity(name);
  if (entity == nullptr && ctxt->myDoc != nullptr) entity = xmlGetDocEntity(ctxt->myDoc, name);
  if (entity == nullptr || entity->content == nullptr) return 0;
  if (entity->etype == XML_INTERNAL_PREDEFINED_ENTITY) return 1;
  if (entity->etype != XML_INTERNAL_GENERAL_ENTITY) return 0;  // external entities are never read
  // An entity met again while its own size is being counted refers to itself: without end.
  const auto [known, fresh] = sizes_.try_emplace(entity->content, SIZE_MAX);
  if (!fresh) return known->second;
  const size_t size = TextSize(ctxt, reinterpret_cast<const char*>(entity->content), depth);
  sizes_[entity->content] = size;
  return size;
}

bool EntityGuard::OnReference(xmlParserCtxtPtr ctxt, const xmlChar* name) {
  return !error && Add(ctxt, ExpandedSize(ctxt, name, 0));
}

bool EntityGuard::CheckAttributes(xmlParserCtxtPtr ctxt, int count, const xmlChar** attributes) {
  if (error) return false;
  if (!declared) return true;  // only declared entities stay references in a value
  for (int i = 0; i < count; ++i) {
    const char* value = reinterpret_cast<const char*>(attributes[i * 5 + 3]);
    const char* end = reinterpret_cast<const char*>(attributes[i * 5 + 4]);
    if (value == nullptr || end == nullptr) continue;
    const std::string_view text(value, static_cast<size_t>(end - value));
    if (text.find('&') == std::string_view::npos) continue;
    if (!Add(ctxt, TextSize(ctxt, text, 0))) return false;
  }
  return true;
}

bool EntityGuard::Add(xmlParserCtxtPtr ctxt, size_t size) {
  expanded = SaturatedAdd(expanded, size);
  size_t read = 0;
  if (ctxt->input != nullptr) {
    read = static_cast<size_t>(ctxt->input->consumed) + static_cast<size_t>(ctxt->input->cur - ctxt->input->base);
  }
  if (expanded <= kMaxEntityText || expanded / 10 < read) return true;
  error = StopWithError(ctxt, XML_ERR_ENTITY_LOOP,
                        "Maximum entity amplification factor exceeded: the references expand to more than " +
                            std::to_string(kMaxEntityText) + " characters and ten times the document");
  return false;
}

}  // namespace platform::xml
