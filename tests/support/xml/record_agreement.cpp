// Comparing the record view with libxml2's tree on every path of a record, for tests and the fuzz target.

#include "tests/support/xml/record_agreement.h"

#include <algorithm>
#include <optional>
#include <set>

#include "platform/xml/dom.h"
#include "platform/xml/element_index.h"
#include "platform/xml/element_stream.h"
#include "platform/xml/record_view.h"

namespace kv::test_support::xml {
namespace {

using platform::xml::Document;
using platform::xml::ElementIndex;
using platform::xml::ElementStream;
using platform::xml::Node;
using platform::xml::NodeType;
using platform::xml::RecordView;

// Deep or wide records would ask for paths without end; these bound the questions, not the records read.
constexpr size_t kMaxPaths = 400;
constexpr size_t kMaxSteps = 8;
constexpr int kMaxChildLevels = 4;

std::string Shown(const std::optional<std::string>& text) {
  return text ? "\"" + *text + "\"" : "nothing";
}

std::vector<Node> ElementChildren(const Node& node) {
  std::vector<Node> children;
  for (Node child = node.firstChild(); child; child = child.nextSibling()) {
    if (child.nodeType() == NodeType::kElement) children.push_back(child);
  }
  return children;
}

// Every path of element names below the node, each once, and beside each a step that names nothing.
void CollectPaths(const Node& node, const std::string& prefix, size_t steps, std::vector<std::string>& paths) {
  if (steps == kMaxSteps) return;
  paths.push_back(prefix + "NotThere");
  for (const Node& child : ElementChildren(node)) {
    if (paths.size() >= kMaxPaths) return;
    const std::string path = prefix + child.nodeName();
    if (std::find(paths.begin(), paths.end(), path) != paths.end()) continue;
    paths.push_back(path);
    CollectPaths(child, path + "/", steps + 1, paths);
  }
}

// A view keeps the tree it once needed and answers every later question from it, so each question goes to a
// fresh copy of the record's view: the scanner answers all it can.
void Compare(const RecordView& record, const Node& tree, const std::string& where, int level,
             std::vector<std::string>& out) {
  std::vector<std::string> paths;
  CollectPaths(tree, "", 0, paths);
  for (const std::string& path : paths) {
    const Node found = tree.selectSingleNode(path);
    const std::optional<std::string> expected = found ? std::optional(found.text()) : std::nullopt;
    const std::optional<std::string> got = RecordView(record).ChildText(path);
    if (got != expected) {
      out.push_back(where + ": ChildText(\"" + path + "\") is " + Shown(got) + ", the tree's " + Shown(expected));
    }
    if (RecordView(record).HasChild(path) != expected.has_value()) {
      out.push_back(where + ": HasChild(\"" + path + "\") is " + (expected ? "false" : "true"));
    }
  }
  const std::vector<RecordView::Element> elements = RecordView(record).ChildElements();
  const std::vector<Node> children = ElementChildren(tree);
  std::string gotNames;
  std::string expectedNames;
  // Appended piece by piece: " " + name would insert before the name, which -O3 takes for an overlapping copy.
  for (const RecordView::Element& element : elements) gotNames.append(" ").append(element.name);
  for (const Node& child : children) expectedNames.append(" ").append(child.nodeName());
  if (gotNames != expectedNames) {
    out.push_back(where + ": ChildElements are [" + gotNames + " ], the tree's [" + expectedNames + " ]");
    return;
  }
  if (level == kMaxChildLevels) return;
  for (size_t i = 0; i < children.size(); ++i) {
    Compare(elements[i].view, children[i], where + "/" + children[i].nodeName() + "[" + std::to_string(i) + "]",
            level + 1, out);
  }
}

}  // namespace

std::vector<std::string> RecordDisagreements(std::string_view text, const std::vector<std::string>& names) {
  std::vector<std::string> out;
  const ElementIndex index(text, names);
  Document doc;
  const bool loaded = doc.LoadXml(text);
  if (index.parsed() != loaded) {
    out.push_back(std::string("the index ") + (index.parsed() ? "parses" : "refuses") + " the text, a load " +
                  (loaded ? "parses it" : "refuses it: " + doc.parseError().reason));
  }
  if (!index.parsed() || !loaded) return out;
  for (const std::string& name : names) {
    const platform::xml::NodeList records = doc.getElementsByTagName(name);
    if (index.Count(name) != records.length()) {
      out.push_back("the index counts " + std::to_string(index.Count(name)) + " " + name + ", the tree " +
                    std::to_string(records.length()));
      continue;
    }
    ElementStream stream(index, {name});
    std::set<std::string> asked;
    for (size_t i = 0; i < records.length(); ++i) {
      const RecordView view = stream.NextRecord();
      const Node tree = records.item(i);
      const std::string where = name + "[" + std::to_string(i) + "]";
      if (!view) {
        out.push_back(where + ": the stream ends early");
        break;
      }
      // A record like one asked already (a copy elsewhere in the text) gets the same answers; its place is still
      // checked below.
      if (asked.insert(tree.xml()).second) Compare(view, tree, where, 0, out);
      // The record read from its place is the tree's record, markup and all.
      const std::string placed = RecordView(view).node().xml();
      if (placed != tree.xml())
        out.push_back(where + ": read from its place as " + placed + ", in the tree " + tree.xml());
    }
  }
  return out;
}

}  // namespace kv::test_support::xml
