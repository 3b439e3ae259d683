// The DOM's nodes: names, children, attributes, text and child paths.

#include <libxml/entities.h>
#include <libxml/xmlsave.h>

#include <cstring>

#include "platform/base/error.h"
#include "platform/xml/libxml_private.h"

namespace platform::xml {
namespace {

// Entity references nest; beyond this the document is pathological and the rest is left out.
constexpr int kMaxEntityDepth = 40;

std::string_view View(const xmlChar* s) {
  return s ? std::string_view(reinterpret_cast<const char*>(s)) : std::string_view();
}

// Tag names compare as written in the document, prefix included, like the platform's getElementsByTagName.
bool NameIs(const xmlNode* node, std::string_view name) {
  if (name == "*") return true;
  std::string_view local = View(node->name);
  if (node->ns == nullptr || node->ns->prefix == nullptr) return local == name;
  std::string_view prefix = View(node->ns->prefix);
  return name.size() == prefix.size() + 1 + local.size() && name.substr(0, prefix.size()) == prefix &&
         name[prefix.size()] == ':' && name.substr(prefix.size() + 1) == local;
}

void AppendCharacterData(const xmlNode* first, std::string& out, int entityDepth);

void AppendEntity(const xmlNode* ref, std::string& out, int entityDepth) {
  if (entityDepth >= kMaxEntityDepth) return;
  xmlEntityPtr entity = xmlGetDocEntity(ref->doc, ref->name);
  if (entity == nullptr) return;
  if (entity->children != nullptr) {
    AppendCharacterData(entity->children, out, entityDepth + 1);
  } else if (entity->content != nullptr && entity->etype != XML_EXTERNAL_GENERAL_PARSED_ENTITY) {
    out.append(View(entity->content));
  }
}

// Character data of a run of siblings and everything below them, in document order; walks without recursion
// on elements so a deep tree cannot exhaust the stack.
void AppendCharacterData(const xmlNode* first, std::string& out, int entityDepth) {
  const xmlNode* top = first ? first->parent : nullptr;
  const xmlNode* cur = first;
  while (cur != nullptr) {
    bool descend = false;
    switch (cur->type) {
      case XML_TEXT_NODE:
      case XML_CDATA_SECTION_NODE:
        out.append(View(cur->content));
        break;
      case XML_ENTITY_REF_NODE:
        AppendEntity(cur, out, entityDepth);
        break;
      case XML_ELEMENT_NODE:
      case XML_DOCUMENT_FRAG_NODE:
        descend = cur->children != nullptr;
        break;
      default:
        break;
    }
    if (descend) {
      cur = cur->children;
      continue;
    }
    while (cur != nullptr && cur->next == nullptr) {
      cur = cur->parent;
      if (cur == top) cur = nullptr;
    }
    if (cur != nullptr) cur = cur->next;
  }
}

// Elements strictly below `root` with that name, in document order.
void CollectElements(xmlNode* root, std::string_view name, std::vector<xmlNode*>& out) {
  xmlNode* cur = root->children;
  while (cur != nullptr) {
    bool descend = false;
    if (cur->type == XML_ELEMENT_NODE) {
      if (NameIs(cur, name)) out.push_back(cur);
      descend = cur->children != nullptr;
    }
    if (descend) {
      cur = cur->children;
      continue;
    }
    while (cur != nullptr && cur->next == nullptr) {
      cur = cur->parent;
      if (cur == root) cur = nullptr;
    }
    if (cur != nullptr) cur = cur->next;
  }
}

// Checks the path once so the walk itself needs no error handling; returns the path without a leading "/"
// and whether it started at the document.
std::string_view CheckPath(std::string_view path, bool& fromDocument) {
  fromDocument = !path.empty() && path.front() == '/';
  if (fromDocument) path.remove_prefix(1);
  auto fail = [&]() { return kv::Error(kXmlFailure, "Unsupported node path: \"" + std::string(path) + "\""); };
  if (path.empty()) throw fail();
  size_t start = 0;
  while (true) {
    size_t slash = path.find('/', start);
    std::string_view step = path.substr(start, slash == std::string_view::npos ? path.npos : slash - start);
    if (step.empty() || step == "." || step == "..") throw fail();
    for (char c : step) {
      if (std::strchr("[]@()=|'\" \t\r\n,$!<>", c) != nullptr) throw fail();
    }
    if (step.find('*') != std::string_view::npos && step != "*") throw fail();
    if (slash == std::string_view::npos) break;
    start = slash + 1;
  }
  return path;
}

xmlNode* FirstMatch(xmlNode* parent, std::string_view path) {
  size_t slash = path.find('/');
  std::string_view step = path.substr(0, slash);
  for (xmlNode* child = parent->children; child != nullptr; child = child->next) {
    if (child->type != XML_ELEMENT_NODE || !NameIs(child, step)) continue;
    if (slash == std::string_view::npos) return child;
    if (xmlNode* found = FirstMatch(child, path.substr(slash + 1))) return found;
  }
  return nullptr;
}

void AllMatches(xmlNode* parent, std::string_view path, std::vector<xmlNode*>& out) {
  size_t slash = path.find('/');
  std::string_view step = path.substr(0, slash);
  for (xmlNode* child = parent->children; child != nullptr; child = child->next) {
    if (child->type != XML_ELEMENT_NODE || !NameIs(child, step)) continue;
    if (slash == std::string_view::npos) {
      out.push_back(child);
    } else {
      AllMatches(child, path.substr(slash + 1), out);
    }
  }
}

xmlNode* StartOf(xmlNode* node, bool fromDocument) {
  return fromDocument ? reinterpret_cast<xmlNode*>(node->doc) : node;
}

}  // namespace

NodeType Node::nodeType() const {
  if (node_ == nullptr) return NodeType::kNone;
  switch (node_->type) {
    case XML_ELEMENT_NODE:
      return NodeType::kElement;
    case XML_ATTRIBUTE_NODE:
      return NodeType::kAttribute;
    case XML_TEXT_NODE:
      return NodeType::kText;
    case XML_CDATA_SECTION_NODE:
      return NodeType::kCData;
    case XML_ENTITY_REF_NODE:
      return NodeType::kEntityReference;
    case XML_PI_NODE:
      return NodeType::kProcessingInstruction;
    case XML_COMMENT_NODE:
      return NodeType::kComment;
    case XML_DOCUMENT_NODE:
    case XML_HTML_DOCUMENT_NODE:
      return NodeType::kDocument;
    case XML_DTD_NODE:
      return NodeType::kDocumentType;
    default:
      return NodeType::kOther;
  }
}

std::string Node::nodeName() const {
  if (node_ == nullptr) return {};
  switch (node_->type) {
    case XML_TEXT_NODE:
      return "#text";
    case XML_CDATA_SECTION_NODE:
      return "#cdata-section";
    case XML_COMMENT_NODE:
      return "#comment";
    case XML_DOCUMENT_NODE:
    case XML_HTML_DOCUMENT_NODE:
      return "#document";
    case XML_DOCUMENT_FRAG_NODE:
      return "#document-fragment";
    case XML_ELEMENT_NODE:
    case XML_ATTRIBUTE_NODE:
      if (node_->ns != nullptr && node_->ns->prefix != nullptr) {
        std::string name(View(node_->ns->prefix));
        name += ':';
        name += View(node_->name);
        return name;
      }
      return std::string(View(node_->name));
    default:
      return std::string(View(node_->name));
  }
}

std::string Node::text() const {
  std::string out;
  AppendText(out);
  return out;
}

void Node::AppendText(std::string& out) const {
  if (node_ == nullptr) return;
  switch (node_->type) {
    case XML_TEXT_NODE:
    case XML_CDATA_SECTION_NODE:
    case XML_COMMENT_NODE:
    case XML_PI_NODE:
      out.append(View(node_->content));
      return;
    case XML_ENTITY_REF_NODE:
      AppendEntity(node_, out, 0);
      return;
    default:
      if (node_->children != nullptr) AppendCharacterData(node_->children, out, 0);
  }
}

Node Node::selectSingleNode(std::string_view path) const {
  bool fromDocument = false;
  std::string_view steps = CheckPath(path, fromDocument);
  if (node_ == nullptr) return {};
  xmlNode* found = FirstMatch(StartOf(node_, fromDocument), steps);
  return found ? Node(doc_, found) : Node();
}

NodeList Node::selectNodes(std::string_view path) const {
  bool fromDocument = false;
  std::string_view steps = CheckPath(path, fromDocument);
  auto nodes = std::make_shared<std::vector<xmlNode*>>();
  if (node_ != nullptr) AllMatches(StartOf(node_, fromDocument), steps, *nodes);
  return NodeList(doc_, std::move(nodes));
}

NodeList Node::getElementsByTagName(std::string_view name) const {
  auto nodes = std::make_shared<std::vector<xmlNode*>>();
  if (node_ != nullptr &&
      (node_->type == XML_ELEMENT_NODE || node_->type == XML_DOCUMENT_NODE || node_->type == XML_HTML_DOCUMENT_NODE)) {
    CollectElements(node_, name, *nodes);
  }
  return NodeList(doc_, std::move(nodes));
}

NodeList Node::childNodes() const {
  auto nodes = std::make_shared<std::vector<xmlNode*>>();
  if (node_ != nullptr && node_->type != XML_ENTITY_REF_NODE && node_->type != XML_ATTRIBUTE_NODE) {
    for (xmlNode* child = node_->children; child != nullptr; child = child->next) nodes->push_back(child);
  }
  return NodeList(doc_, std::move(nodes));
}

Node Node::firstChild() const {
  if (node_ == nullptr || node_->type == XML_ENTITY_REF_NODE || node_->type == XML_ATTRIBUTE_NODE) return {};
  return node_->children ? Node(doc_, node_->children) : Node();
}

Node Node::nextSibling() const {
  if (node_ == nullptr || node_->type == XML_ATTRIBUTE_NODE) return {};
  return node_->next ? Node(doc_, node_->next) : Node();
}

Node Node::parentNode() const {
  if (node_ == nullptr || node_->type == XML_ATTRIBUTE_NODE) return {};
  return node_->parent ? Node(doc_, node_->parent) : Node();
}

bool Node::hasChildNodes() const {
  return !firstChild().IsNull();
}

namespace {

xmlAttr* FindAttribute(const xmlNode* node, std::string_view name) {
  if (node == nullptr || node->type != XML_ELEMENT_NODE) return nullptr;
  for (xmlAttr* attr = node->properties; attr != nullptr; attr = attr->next) {
    if (NameIs(reinterpret_cast<xmlNode*>(attr), name)) return attr;
  }
  return nullptr;
}

}  // namespace

std::string Node::getAttribute(std::string_view name) const {
  if (name == "*") return {};
  xmlAttr* attr = FindAttribute(node_, name);
  std::string out;
  if (attr != nullptr && attr->children != nullptr) AppendCharacterData(attr->children, out, 0);
  return out;
}

bool Node::hasAttribute(std::string_view name) const {
  return name != "*" && FindAttribute(node_, name);
}

std::string Node::xml() const {
  if (node_ == nullptr) return {};
  EnsureLibxml();
  ErrorCapture quiet;
  xmlBufferPtr buffer = xmlBufferCreate();
  if (buffer == nullptr) throw kv::Error(kXmlFailure, "Out of memory");
  // An explicit UTF-8 output keeps non-ASCII text as characters instead of character references.
  xmlSaveCtxtPtr save = xmlSaveToBuffer(buffer, "UTF-8", XML_SAVE_NO_DECL);
  if (save != nullptr) {
    if (node_->type == XML_DOCUMENT_NODE) {
      xmlSaveDoc(save, reinterpret_cast<xmlDocPtr>(node_));
    } else {
      xmlSaveTree(save, node_);
    }
    xmlSaveClose(save);
  }
  std::string out(reinterpret_cast<const char*>(xmlBufferContent(buffer)), xmlBufferLength(buffer));
  xmlBufferFree(buffer);
  return out;
}

Node NodeList::item(size_t i) const {
  if (!nodes_ || i >= nodes_->size()) return {};
  return Node(doc_, (*nodes_)[i]);
}

}  // namespace platform::xml
