#pragma once

// Reads qbXML responses and company files in tests, with libxml2 directly, so the checks do not share code
// with the stand-in's own reader.

#include <libxml/parser.h>
#include <libxml/tree.h>

#include <map>
#include <string>
#include <vector>

namespace standins::quickbooks::probe {

struct Element {
  std::string name;
  std::map<std::string, std::string> attributes;
  std::map<std::string, std::string> children;  // first child of each name: its text
  std::vector<std::string> childNames;          // all element children, in order
};

class Document {
 public:
  explicit Document(const std::string& text) {
    doc_ = xmlReadMemory(text.data(), static_cast<int>(text.size()), "probe.xml", nullptr,
                         XML_PARSE_NONET | XML_PARSE_NOERROR | XML_PARSE_NOWARNING | XML_PARSE_HUGE);
  }
  ~Document() {
    if (doc_ != nullptr) xmlFreeDoc(doc_);
  }
  Document(const Document&) = delete;
  Document& operator=(const Document&) = delete;
  bool Parsed() const { return doc_ != nullptr; }

  // Every element of that name, in document order, at any depth.
  std::vector<Element> All(const std::string& name) const {
    std::vector<Element> found;
    if (doc_ != nullptr) Walk(xmlDocGetRootElement(doc_), name, found);
    return found;
  }

 private:
  static std::string Text(xmlNodePtr node) {
    xmlChar* content = xmlNodeGetContent(node);
    std::string text = content != nullptr ? reinterpret_cast<const char*>(content) : "";
    xmlFree(content);
    return text;
  }
  static void Walk(xmlNodePtr node, const std::string& name, std::vector<Element>& found) {
    for (; node != nullptr; node = node->next) {
      if (node->type != XML_ELEMENT_NODE) continue;
      if (name == reinterpret_cast<const char*>(node->name)) {
        Element element;
        element.name = name;
        for (xmlAttrPtr attribute = node->properties; attribute != nullptr; attribute = attribute->next) {
          xmlChar* value = xmlNodeListGetString(node->doc, attribute->children, 1);
          element.attributes[reinterpret_cast<const char*>(attribute->name)] =
              value != nullptr ? reinterpret_cast<const char*>(value) : "";
          xmlFree(value);
        }
        for (xmlNodePtr child = node->children; child != nullptr; child = child->next) {
          if (child->type != XML_ELEMENT_NODE) continue;
          std::string childName = reinterpret_cast<const char*>(child->name);
          element.childNames.push_back(childName);
          element.children.emplace(childName, Text(child));
        }
        found.push_back(std::move(element));
      }
      Walk(node->children, name, found);
    }
  }
  xmlDocPtr doc_ = nullptr;
};

// The ListID (or TxnID) of each element.
inline std::vector<std::string> Ids(const std::vector<Element>& elements) {
  std::vector<std::string> ids;
  for (const Element& element : elements) {
    auto found = element.children.find("ListID");
    if (found == element.children.end()) found = element.children.find("TxnID");
    ids.push_back(found != element.children.end() ? found->second : "");
  }
  return ids;
}

}  // namespace standins::quickbooks::probe
