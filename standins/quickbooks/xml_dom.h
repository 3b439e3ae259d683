#pragma once

#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace standins::quickbooks {

// A small read-only view of a parsed XML document, for qbXML requests (libxml2 stays inside xml_dom.cpp).
class XmlNode {
 public:
  XmlNode() = default;
  explicit XmlNode(void* node) : node_(node) {}
  explicit operator bool() const { return node_ != nullptr; }

  std::string Name() const;
  // The element children, in order.
  std::vector<XmlNode> Children() const;
  // The first element child of that name, or an empty node.
  XmlNode Child(std::string_view name) const;
  // All character data below the node, entities decoded.
  std::string Text() const;
  std::optional<std::string> Attribute(const char* name) const;
  int Line() const;

 private:
  void* node_ = nullptr;
};

class XmlDocument {
 public:
  // Parses a qbXML document. A DOCTYPE is dropped before parsing (qbXML's names a public id without a system
  // id, which XML does not allow, and nothing is ever fetched). Raises std::runtime_error with the reason and
  // line when the text is not well-formed.
  static XmlDocument Parse(std::string_view text);
  XmlDocument(XmlDocument&&) noexcept;
  XmlDocument& operator=(XmlDocument&&) noexcept;
  ~XmlDocument();
  XmlNode Root() const;
  // The version named by a <?qbxml version="..."?> instruction, or "" when there is none.
  std::string QBXMLVersion() const;

 private:
  XmlDocument() = default;
  void* doc_ = nullptr;
};

// The text with its DOCTYPE declaration taken out (what XmlDocument::Parse reads).
std::string WithoutDoctype(std::string_view text);

}  // namespace standins::quickbooks
