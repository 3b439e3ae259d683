#pragma once

// A small XML DOM over libxml2, shaped after the platform parser the system was written against: load from
// text, parsed flag and parse error, element lists by tag name, child paths, node text.
//
// Nodes and lists are thin handles that share ownership of the parsed tree, so they stay usable after the
// Document that produced them is gone (callers routinely release the document and keep walking a list).
// Handles are cheap to copy; none of them may be used from two threads at once.

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

struct _xmlNode;
struct _xmlDoc;

namespace platform::xml {

class SchemaCache;
struct DocHolder;  // private: owns the libxml2 tree

// What went wrong in the last load; errorCode 0 when the load succeeded.
struct ParseError {
  int64_t errorCode = 0;  // libxml2's error number (parser or schema validity), never 0 on failure
  std::string reason;     // one line, without a trailing line end
  int64_t line = 0;       // 1-based; 0 when unknown
  int64_t linepos = 0;    // 1-based column on that line; 0 when unknown
  std::string srcText;    // the whole source line the error points at, untrimmed, without its line end
};

enum class NodeType {
  kNone = 0,
  kElement = 1,
  kAttribute = 2,
  kText = 3,
  kCData = 4,
  kEntityReference = 5,
  kProcessingInstruction = 7,
  kComment = 8,
  kDocument = 9,
  kDocumentType = 10,
  kOther = 99
};

class NodeList;

// A node of a parsed document, or the empty node (what a lookup returns when nothing matched).
class Node {
 public:
  Node() = default;

  bool IsNull() const { return node_ == nullptr; }
  explicit operator bool() const { return node_ != nullptr; }

  NodeType nodeType() const;
  // Qualified element name ("p:Name" with a prefix); "#text", "#cdata-section", "#comment", "#document";
  // the target of a processing instruction. "" for the empty node.
  std::string nodeName() const;
  // All character data below the node in document order (text, CDATA, entity references decoded), not trimmed.
  // Comments and processing instructions are left out. "" for the empty node.
  std::string text() const;
  // Appends text() to out; lets a caller reuse one buffer across many records.
  void AppendText(std::string& out) const;

  // The first node matching a child name or a relative child path "A/B/C" (each step: element children with
  // that name, "*" any element); first in document order. A leading "/" starts at the document. The empty node
  // when nothing matches or this node is empty. Anything beyond names, "*" and "/" raises kv::Error.
  Node selectSingleNode(std::string_view path) const;
  // Every match of the same kind of path, in document order.
  NodeList selectNodes(std::string_view path) const;
  // Elements below this node (not the node itself) with that qualified name, "*" for all; document order.
  NodeList getElementsByTagName(std::string_view name) const;

  NodeList childNodes() const;
  Node firstChild() const;
  Node nextSibling() const;
  Node parentNode() const;
  bool hasChildNodes() const;

  // Attribute value, entities decoded; "" when absent (see hasAttribute).
  std::string getAttribute(std::string_view name) const;
  bool hasAttribute(std::string_view name) const;

  // The node as markup (outer XML), UTF-8.
  std::string xml() const;

  // Same underlying node.
  friend bool operator==(const Node& a, const Node& b) { return a.node_ == b.node_; }

 private:
  friend class NodeList;
  friend class Document;
  friend class ElementStream;
  friend class RecordView;
  Node(std::shared_ptr<DocHolder> doc, _xmlNode* node) : doc_(std::move(doc)), node_(node) {}

  std::shared_ptr<DocHolder> doc_;
  _xmlNode* node_ = nullptr;
};

// A snapshot list of nodes (the tree is never changed through this API, so a snapshot is the live list).
class NodeList {
 public:
  NodeList() = default;

  size_t length() const { return nodes_ ? nodes_->size() : 0; }
  // The empty node when i is out of range.
  Node item(size_t i) const;

 private:
  friend class Node;
  friend class Document;
  NodeList(std::shared_ptr<DocHolder> doc, std::shared_ptr<const std::vector<_xmlNode*>> nodes)
      : doc_(std::move(doc)), nodes_(std::move(nodes)) {}

  std::shared_ptr<DocHolder> doc_;
  std::shared_ptr<const std::vector<_xmlNode*>> nodes_;
};

// The document object. Loading never touches the network, never reads external entities or DTDs and never
// expands entities into the tree; the text is read as UTF-8 whatever its XML declaration names (the system
// builds its texts as strings, so a declaration of "utf-16" on them is common and harmless).
class Document {
 public:
  Document();
  ~Document();
  Document(Document&&) noexcept;
  Document& operator=(Document&&) noexcept;
  Document(const Document&) = delete;
  Document& operator=(const Document&) = delete;

  // Parses the text (validating it when schemas are attached). False on any error, with parseError() filled
  // and the document left empty; true when parsed.
  bool LoadXml(std::string_view text);
  // Parses an HTML page as a browser's parser reads it: errors recovered, element and attribute names in lower
  // case, character references decoded (an unknown one stays as written), the text read as UTF-8, nothing
  // fetched. False only for an empty text.
  bool LoadHtml(std::string_view html);
  // The same from a local file (no URLs: a name with a scheme fails to load).
  bool Load(const std::string& path);

  bool parsed() const;
  const ParseError& parseError() const;

  // Later loads validate against these XSD schemas; the root element's namespace picks the schema.
  void SetSchemas(const SchemaCache& schemas);
  void ClearSchemas();

  Node documentElement() const;
  // The document node itself (nodeName "#document"); empty before a successful load.
  Node AsNode() const;
  NodeList getElementsByTagName(std::string_view name) const;
  Node selectSingleNode(std::string_view path) const;
  NodeList selectNodes(std::string_view path) const;
  // The whole document as UTF-8 markup, without an XML declaration (its encoding name would be wrong).
  std::string xml() const;

 private:
  friend class SchemaCache;
  _xmlDoc* RawDocument() const;
  struct State;
  std::unique_ptr<State> state_;
};

}  // namespace platform::xml
