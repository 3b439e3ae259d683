#include "standins/quickbooks/xml_dom.h"

#include <libxml/parser.h>
#include <libxml/tree.h>

#include <cstring>
#include <stdexcept>

namespace standins::quickbooks {

namespace {
xmlNodePtr N(void* node) {
  return static_cast<xmlNodePtr>(node);
}
}  // namespace

std::string XmlNode::Name() const {
  return node_ ? reinterpret_cast<const char*>(N(node_)->name) : "";
}

std::vector<XmlNode> XmlNode::Children() const {
  std::vector<XmlNode> children;
  if (!node_) return children;
  for (xmlNodePtr child = N(node_)->children; child != nullptr; child = child->next) {
    if (child->type == XML_ELEMENT_NODE) children.emplace_back(child);
  }
  return children;
}

XmlNode XmlNode::Child(std::string_view name) const {
  if (!node_) return XmlNode();
  for (xmlNodePtr child = N(node_)->children; child != nullptr; child = child->next) {
    if (child->type == XML_ELEMENT_NODE && name == reinterpret_cast<const char*>(child->name)) return XmlNode(child);
  }
  return XmlNode();
}

std::string XmlNode::Text() const {
  if (!node_) return "";
  xmlChar* content = xmlNodeGetContent(N(node_));
  std::string text = content ? reinterpret_cast<const char*>(content) : "";
  xmlFree(content);
  return text;
}

std::optional<std::string> XmlNode::Attribute(const char* name) const {
  if (!node_) return std::nullopt;
  xmlChar* value = xmlGetProp(N(node_), reinterpret_cast<const xmlChar*>(name));
  if (value == nullptr) return std::nullopt;
  std::string text = reinterpret_cast<const char*>(value);
  xmlFree(value);
  return text;
}

int XmlNode::Line() const {
  return node_ ? static_cast<int>(xmlGetLineNo(N(node_))) : 0;
}

std::string WithoutDoctype(std::string_view text) {
  size_t pos = 0;
  while (pos < text.size()) {
    size_t lt = text.find('<', pos);
    if (lt == std::string_view::npos) break;
    std::string_view rest = text.substr(lt);
    if (rest.starts_with("<?")) {
      size_t end = text.find("?>", lt + 2);
      if (end == std::string_view::npos) break;
      pos = end + 2;
    } else if (rest.starts_with("<!--")) {
      size_t end = text.find("-->", lt + 4);
      if (end == std::string_view::npos) break;
      pos = end + 3;
    } else if (rest.starts_with("<!DOCTYPE")) {
      // Up to the ">" that closes it, past any quoted ids and an internal subset in brackets.
      size_t at = lt + 9;
      int bracket = 0;
      char quote = 0;
      while (at < text.size()) {
        char c = text[at];
        if (quote) {
          if (c == quote) quote = 0;
        } else if (c == '"' || c == '\'') {
          quote = c;
        } else if (c == '[') {
          ++bracket;
        } else if (c == ']') {
          --bracket;
        } else if (c == '>' && bracket <= 0) {
          break;
        }
        ++at;
      }
      if (at >= text.size()) break;
      std::string out(text.substr(0, lt));
      out.append(text.substr(at + 1));
      return out;
    } else {
      break;  // the root element: there is no DOCTYPE
    }
  }
  return std::string(text);
}

XmlDocument XmlDocument::Parse(std::string_view text) {
  std::string source = WithoutDoctype(text);
  xmlResetLastError();
  xmlDocPtr doc = xmlReadMemory(source.data(), static_cast<int>(source.size()), "request.xml", nullptr,
                                XML_PARSE_NONET | XML_PARSE_NOERROR | XML_PARSE_NOWARNING | XML_PARSE_HUGE);
  if (doc == nullptr || xmlDocGetRootElement(doc) == nullptr) {
    std::string reason = "no root element";
    int line = 0;
    if (const xmlError* error = xmlGetLastError(); error != nullptr && error->message != nullptr) {
      reason = error->message;
      while (!reason.empty() && (reason.back() == '\n' || reason.back() == ' ')) reason.pop_back();
      line = error->line;
    }
    if (doc != nullptr) xmlFreeDoc(doc);
    throw std::runtime_error(reason + (line > 0 ? " (line " + std::to_string(line) + ")" : std::string()));
  }
  XmlDocument document;
  document.doc_ = doc;
  return document;
}

XmlDocument::XmlDocument(XmlDocument&& other) noexcept : doc_(other.doc_) {
  other.doc_ = nullptr;
}

XmlDocument& XmlDocument::operator=(XmlDocument&& other) noexcept {
  if (this != &other) {
    if (doc_) xmlFreeDoc(static_cast<xmlDocPtr>(doc_));
    doc_ = other.doc_;
    other.doc_ = nullptr;
  }
  return *this;
}

XmlDocument::~XmlDocument() {
  if (doc_) xmlFreeDoc(static_cast<xmlDocPtr>(doc_));
}

XmlNode XmlDocument::Root() const {
  return XmlNode(xmlDocGetRootElement(static_cast<xmlDocPtr>(doc_)));
}

std::string XmlDocument::QBXMLVersion() const {
  for (xmlNodePtr node = static_cast<xmlDocPtr>(doc_)->children; node != nullptr; node = node->next) {
    if (node->type != XML_PI_NODE || std::strcmp(reinterpret_cast<const char*>(node->name), "qbxml") != 0) continue;
    std::string content = node->content ? reinterpret_cast<const char*>(node->content) : "";
    size_t open = content.find_first_of("\"'");
    if (open == std::string::npos) return "";
    size_t close = content.find(content[open], open + 1);
    if (close == std::string::npos) return "";
    return content.substr(open + 1, close - open - 1);
  }
  return "";
}

}  // namespace standins::quickbooks
