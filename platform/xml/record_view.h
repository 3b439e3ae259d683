#pragma once

// One record of a large answer, read from its markup in place.
//
// Most reads of a record ask for the plain text of a few children (its time stamps, whether it is active), and
// most records of an incremental sync are dropped after just that. A view answers such reads from a scan of the
// record's markup, and parses the record into a tree only when a read needs one (text with references, line ends
// to normalise, comments or CDATA sections, a path with more than names, or the node itself). Its answers are
// those of the tree.

#include <cstddef>
#include <cstdint>
#include <forward_list>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "platform/xml/dom.h"

namespace platform::xml {

struct RecordParser;  // private: the parser a stream's records share

// One element child as a scan of its parent's markup notes it.
struct ScannedChild {
  std::string_view name;
  std::string_view markup;  // the whole element
  std::string_view text;    // its text, when it is character data alone with nothing to decode
  bool plain = false;
  bool first = true;  // no earlier sibling has its name
};

class RecordView {
 public:
  RecordView() = default;
  // Gives its scan's buffers back to the stream's parser, for the next record.
  ~RecordView();
  RecordView(const RecordView&) = default;
  RecordView(RecordView&&) noexcept = default;
  RecordView& operator=(const RecordView&) = default;
  RecordView& operator=(RecordView&&) noexcept = default;
  // A record that is a tree already.
  explicit RecordView(Node node);
  // The markup of one element of a well-formed text (start tag to end tag), parsed when needed by the parser of
  // its stream; the text must outlive the view.
  static RecordView FromMarkup(std::string_view markup, std::shared_ptr<RecordParser> parser);

  explicit operator bool() const { return !markup_.empty() || static_cast<bool>(node_); }

  // The text of node().selectSingleNode(path) (a child name or a path of names "A/B/C"), nullopt when it selects
  // nothing.
  std::optional<std::string> ChildText(std::string_view path) const;
  // The same text as a view, valid as long as this view and the text it reads: into the markup where the text needs
  // nothing decoded, else into a copy the view keeps.
  std::optional<std::string_view> ChildView(std::string_view path) const;
  // Whether the path selects anything: ChildView(path).has_value(), without reading the text of a child that holds
  // more than text.
  bool HasChild(std::string_view path) const;
  // The record as the root of a small document of its own; the empty node when it cannot be parsed.
  Node node() const;

  // The record's element children in document order, each a view of its own under its qualified name: read from
  // the markup in place when it scans and declares no namespace (a child read alone would lose it), else from the
  // tree.
  struct Element;
  std::vector<Element> ChildElements() const;

 private:
  using Child = ScannedChild;

 public:
  // How far a scan of a record's markup has come; the scan goes on as reads need more children.
  struct Scan {
    enum Status : unsigned char { kNotYet, kMore, kDone, kFailed };
    size_t pos = 0;
    size_t depth = 0;
    size_t child_start = 0;
    uint64_t seen = 0;  // bits of the names seen so far
    Status status = kNotYet;
  };

 private:
  enum class Lookup { kFound, kNone, kUnknown };  // unknown: only a tree can tell
  // The record's children, all of them, or nullptr when its markup could not be scanned.
  const std::vector<Child>* Children() const;
  // The children scanned so far, the first of them at least when there is one; nullptr when the scan failed.
  const std::vector<Child>* ChildrenBegun() const;
  // Scans one more child; false at the end or when the scan failed.
  bool ScanMore() const;
  // Looks the steps up among the children from *next on (the children a record is read for come in the order
  // they stand), moving *next past the match; depth 0 is the record's own children.
  Lookup Find(const std::vector<Child>& children, size_t* next, std::span<const std::string_view> steps,
              std::string_view& text, int depth) const;
  std::string_view Keep(std::string text) const;

  std::string_view markup_;
  std::shared_ptr<RecordParser> parser_;
  mutable std::optional<Node> node_;
  mutable Scan scan_;
  mutable std::vector<Child> children_;
  mutable size_t next_ = 0;
  // The children of the child last looked below (paths "A/B"), kept for the next path through the same child.
  mutable std::string_view below_of_;
  mutable std::vector<Child> below_;
  mutable size_t below_next_ = 0;
  // Decoded texts the views handed out point into: a list, which allocates nothing for the many records that never
  // need one, and never moves a text it holds.
  mutable std::forward_list<std::string> kept_;
};

struct RecordView::Element {
  std::string name;
  RecordView view;
};

}  // namespace platform::xml
