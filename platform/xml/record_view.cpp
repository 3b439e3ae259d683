// Reading a record's plain child texts straight from its markup, falling back to the tree for the rest.

#include "platform/xml/record_view.h"

#include <algorithm>
#include <array>
#include <iterator>

#include "platform/xml/libxml_private.h"

namespace platform::xml {
namespace {

// The end of the tag that starts at `open` (its '>'), stepping over quoted attribute values.
size_t TagEnd(std::string_view markup, size_t open) {
  char quote = 0;
  for (size_t i = open + 1; i < markup.size(); ++i) {
    const char c = markup[i];
    if (quote != 0) {
      if (c == quote) quote = 0;
    } else if (c == '"' || c == '\'') {
      quote = c;
    } else if (c == '>') {
      return i;
    }
  }
  return std::string_view::npos;
}

// The end of the end tag that starts at `open` (its '>'): an end tag holds its name and blanks alone, no quotes.
// The library's search beats a loop a character at a time over the end tag of every child of every record.
size_t EndTagEnd(std::string_view markup, size_t open) {
  return markup.find('>', open + 2);
}

// Whether the text holds either character. find_first_of would look each character up in the set in turn; two
// scans for one character each are far faster over the texts of every record of a large answer.
bool HoldsEither(std::string_view text, char a, char b) {
  return text.find(a) != std::string_view::npos || text.find(b) != std::string_view::npos;
}

// The character after the '<' at `open` ('/' for an end tag, '!' or '?' for other markup); 0 at the end. A
// comparison of two characters would call into the library for each of the millions of tags of an answer.
char AfterOpen(std::string_view markup, size_t open) {
  return open + 1 < markup.size() ? markup[open + 1] : '\0';
}

// One look-up a character: names are read character by character for every tag of every record.
constexpr std::array<bool, 256> kNameEnds = [] {
  std::array<bool, 256> ends{};
  for (unsigned char c : {' ', '\t', '\r', '\n', '/', '>'}) ends[c] = true;
  return ends;
}();

bool NameEnds(char c) {
  return kNameEnds[static_cast<unsigned char>(c)];
}

// Where the construct starting with '<' at `open` ends (one past it): a comment, CDATA section or processing
// instruction, or a tag. npos when the markup ends first.
size_t SkipMarkup(std::string_view markup, size_t open) {
  // The end is looked for after the whole opening: in "<!-->" and "<!--->" the "-->" that overlaps the opening
  // does not close the comment.
  auto past = [&](std::string_view begin, std::string_view end) {
    const size_t at = markup.find(end, open + begin.size());
    return at == std::string_view::npos ? at : at + end.size();
  };
  if (markup.compare(open, 4, "<!--") == 0) return past("<!--", "-->");
  if (markup.compare(open, 9, "<![CDATA[") == 0) return past("<![CDATA[", "]]>");
  if (markup.compare(open, 2, "<?") == 0) return past("<?", "?>");
  const size_t end = TagEnd(markup, open);
  return end == std::string_view::npos ? end : end + 1;
}

// Whether an earlier child has the name: a few bits of each name seen are noted, so that only a name whose bits
// were all seen before is compared with those children.
bool NamedBefore(std::string_view name, const std::vector<ScannedChild>& children, uint64_t& seen) {
  const uint64_t bit = uint64_t{1} << ((name.size() * 7 + static_cast<unsigned char>(name.front()) * 3 +
                                        static_cast<unsigned char>(name.back())) &
                                       63);
  const bool maybe = (seen & bit) != 0;
  seen |= bit;
  if (!maybe) return false;
  // Repeated children (lines of a transaction) mostly stand together: the search goes backwards.
  for (size_t i = children.size(); i-- > 0;) {
    if (children[i].name == name) return true;
  }
  return false;
}

using Scan = RecordView::Scan;

// Reads the element's markup on from where the scan stands until one more element child is complete (true), or
// to the element's end tag (false, kDone) or to what a well-formed element cannot hold (false, kFailed). Each child
// comes with its plain text where the text needs nothing decoded: no markup inside, no reference, no carriage
// return (a parser turns those into line feeds).
bool ScanStep(std::string_view markup, Scan& scan, std::vector<ScannedChild>& children) {
  auto fail = [&] {
    scan.status = Scan::kFailed;
    return false;
  };
  if (scan.status == Scan::kNotYet) {
    children.clear();
    scan.status = Scan::kMore;
    if (markup.empty() || markup[0] != '<') return fail();
    scan.pos = TagEnd(markup, 0);
    if (scan.pos == std::string_view::npos) return fail();
    if (markup[scan.pos - 1] == '/') {
      scan.status = Scan::kDone;
      return false;
    }
    ++scan.pos;
  }
  if (scan.status != Scan::kMore) return false;
  size_t pos = scan.pos;
  while (true) {
    const size_t open = markup.find('<', pos);
    if (open == std::string_view::npos) return fail();
    if (AfterOpen(markup, open) == '/') {
      const size_t end = EndTagEnd(markup, open);
      if (end == std::string_view::npos) return fail();
      if (scan.depth == 0) {  // the element's own end tag
        scan.status = Scan::kDone;
        return false;
      }
      pos = end + 1;
      if (--scan.depth == 0) {
        children.back().markup = markup.substr(scan.child_start, end + 1 - scan.child_start);
        scan.pos = pos;
        return true;
      }
      continue;
    }
    if (AfterOpen(markup, open) == '!' || AfterOpen(markup, open) == '?') {
      pos = SkipMarkup(markup, open);
      if (pos == std::string_view::npos) return fail();
      continue;
    }
    // The name first: most tags end right after it, and the rest of the tag is read only when it holds more.
    size_t nameEnd = open + 1;
    while (nameEnd < markup.size() && !NameEnds(markup[nameEnd])) ++nameEnd;
    const size_t end = nameEnd < markup.size() && markup[nameEnd] == '>' ? nameEnd : TagEnd(markup, nameEnd - 1);
    if (end == std::string_view::npos) return fail();
    const bool empty = markup[end - 1] == '/';
    if (scan.depth == 0) {
      ScannedChild child;
      child.name = markup.substr(open + 1, nameEnd - open - 1);
      if (child.name.empty()) return fail();
      child.first = !NamedBefore(child.name, children, scan.seen);
      scan.child_start = open;
      if (empty) {
        child.markup = markup.substr(open, end + 1 - open);
        child.plain = true;
        children.push_back(child);
        scan.pos = end + 1;
        return true;
      }
      const size_t textEnd = markup.find('<', end + 1);
      if (textEnd == std::string_view::npos) return fail();
      const std::string_view text = markup.substr(end + 1, textEnd - end - 1);
      const bool closes = AfterOpen(markup, textEnd) == '/';
      child.plain = closes && !HoldsEither(text, '&', '\r');
      if (child.plain) child.text = text;
      if (closes) {
        // An end tag right after the text is the child's own: the child is read whole without another round.
        const size_t close = EndTagEnd(markup, textEnd);
        if (close == std::string_view::npos) return fail();
        child.markup = markup.substr(open, close + 1 - open);
        children.push_back(child);
        scan.pos = close + 1;
        return true;
      }
      children.push_back(child);
    }
    if (!empty) ++scan.depth;
    pos = end + 1;
  }
}

// Every element child of the element whose markup this is, in document order; false when the markup is not what a
// well-formed element looks like. The buffer is filled afresh, keeping its capacity.
bool ScanChildren(std::string_view markup, std::vector<ScannedChild>& children) {
  Scan scan;
  while (ScanStep(markup, scan, children)) {
  }
  return scan.status == Scan::kDone;
}

// All character data below the element whose markup this is, when none of it needs decoding and no comment,
// processing instruction or CDATA section stands among it; nothing otherwise.
std::optional<std::string> PlainText(std::string_view markup) {
  size_t pos = TagEnd(markup, 0);
  if (pos == std::string_view::npos) return std::nullopt;
  std::string text;
  if (markup[pos - 1] == '/') return text;
  const size_t last = markup.rfind("</");
  for (++pos; pos < last;) {
    const size_t open = markup.find('<', pos);
    const std::string_view piece = markup.substr(pos, std::min(open, last) - pos);
    if (HoldsEither(piece, '&', '\r')) return std::nullopt;
    text.append(piece);
    if (open >= last) break;
    if (AfterOpen(markup, open) == '!' || AfterOpen(markup, open) == '?') return std::nullopt;
    const size_t end = TagEnd(markup, open);
    if (end == std::string_view::npos) return std::nullopt;
    pos = end + 1;
  }
  return text;
}

}  // namespace

std::shared_ptr<DocHolder> RecordParser::Parse(std::string_view markup) {
  std::string_view source = markup;
  if (!prolog.empty()) {
    scratch.assign(prolog);
    scratch.append(markup);
    source = scratch;
  }
  if (ctxt == nullptr) ctxt = xmlNewParserCtxt();
  if (ctxt == nullptr) return nullptr;
  EnsureLibxml();
  ErrorCapture quiet;
  xmlDocPtr doc = xmlCtxtReadMemory(ctxt, source.data(), static_cast<int>(source.size()), nullptr, nullptr, options);
  if (doc == nullptr) return nullptr;
  auto holder = std::make_shared<DocHolder>(doc);
  if (xmlDocGetRootElement(doc) == nullptr) return nullptr;
  return holder;
}

RecordParser::~RecordParser() {
  if (ctxt != nullptr) xmlFreeParserCtxt(ctxt);
}

std::vector<ScannedChild> RecordParser::TakeBuffer() {
  if (spare.empty()) return {};
  std::vector<ScannedChild> buffer = std::move(spare.back());
  spare.pop_back();
  return buffer;
}

void RecordParser::GiveBack(std::vector<ScannedChild>& buffer) {
  // A record and the child it reads below, and a few of the records' own children read as records.
  constexpr size_t kKept = 8;
  if (buffer.capacity() == 0 || spare.size() >= kKept) return;
  buffer.clear();
  spare.push_back(std::move(buffer));
}

RecordView::RecordView(Node node) : node_(std::move(node)) {}

RecordView::~RecordView() {
  if (parser_ == nullptr) return;
  parser_->GiveBack(children_);
  parser_->GiveBack(below_);
}

RecordView RecordView::FromMarkup(std::string_view markup, std::shared_ptr<RecordParser> parser) {
  RecordView view;
  view.markup_ = markup;
  view.parser_ = std::move(parser);
  return view;
}

Node RecordView::node() const {
  if (!node_) {
    std::shared_ptr<DocHolder> doc = parser_ ? parser_->Parse(markup_) : nullptr;
    node_ = doc ? Node(doc, xmlDocGetRootElement(doc->doc)) : Node();
  }
  return *node_;
}

std::vector<RecordView::Element> RecordView::ChildElements() const {
  std::vector<Element> elements;
  const bool scan = !node_ && !markup_.empty() && markup_.find("xmlns") == std::string_view::npos;
  if (const std::vector<Child>* children = scan ? Children() : nullptr) {
    elements.reserve(children->size());
    for (const Child& child : *children)
      elements.push_back({std::string(child.name), FromMarkup(child.markup, parser_)});
    return elements;
  }
  for (Node child = node().firstChild(); child; child = child.nextSibling()) {
    if (child.nodeType() == NodeType::kElement) elements.push_back({child.nodeName(), RecordView(child)});
  }
  return elements;
}

bool RecordView::ScanMore() const {
  if (scan_.status == Scan::kNotYet && children_.capacity() == 0 && parser_) children_ = parser_->TakeBuffer();
  return ScanStep(markup_, scan_, children_);
}

const std::vector<RecordView::Child>* RecordView::Children() const {
  while (ScanMore()) {
  }
  return scan_.status == Scan::kDone ? &children_ : nullptr;
}

const std::vector<RecordView::Child>* RecordView::ChildrenBegun() const {
  if (scan_.status == Scan::kNotYet) ScanMore();
  return scan_.status == Scan::kFailed ? nullptr : &children_;
}

std::string_view RecordView::Keep(std::string text) const {
  return kept_.emplace_front(std::move(text));
}

RecordView::Lookup RecordView::Find(const std::vector<Child>& children, size_t* next,
                                    std::span<const std::string_view> steps, std::string_view& text, int depth) const {
  const std::string_view step = steps.front();
  // The first letters differ for most children: no call to compare the rest.
  auto matches = [&](const Child& child) { return child.name[0] == step[0] && child.name == step; };
  // The first child of the name in document order: looked for from the last match on, where the next child read
  // most often stands; one found there that has a namesake before it, or none, sends the search to the start.
  // The record's own children are scanned only as far as the reads go, and only when none scanned so far has the
  // name: a record dropped after its first few children is never read to its end, nor is one whose reads go back
  // to a child before the last one read.
  const bool grows = depth == 0;
  constexpr size_t kNone = static_cast<size_t>(-1);
  size_t found = kNone;
  const size_t from = std::min(*next, children.size());
  bool before = false;  // the match lies before `from`, or there is none among the children scanned
  for (size_t i = from;; ++i) {
    if (i == children.size()) {
      before = true;
      break;
    }
    if (matches(children[i])) {
      if (children[i].first) {
        found = i;
      } else {
        before = true;
      }
      break;
    }
  }
  if (before) {
    for (size_t i = 0; i < from; ++i) {
      if (matches(children[i])) {
        found = i;
        break;
      }
    }
  }
  if (found == kNone && grows) {
    // Nothing scanned has the name: the first child of the name is the first one the scan comes to.
    for (size_t i = children.size(); ScanMore();) {
      if (matches(children[i])) {
        found = i;
        break;
      }
      i = children.size();
    }
    if (scan_.status == Scan::kFailed) return Lookup::kUnknown;
  }
  if (found == kNone) return Lookup::kNone;
  *next = found + 1;

  if (steps.size() == 1) {
    const Child& child = children[found];
    if (child.plain) {
      text = child.text;
      return Lookup::kFound;
    }
    std::optional<std::string> plain = PlainText(child.markup);
    if (!plain) return Lookup::kUnknown;
    text = Keep(std::move(*plain));
    return Lookup::kFound;
  }
  // The first match below the first child of the name that has one: the first in document order.
  for (size_t i = found;; ++i) {
    if (i == children.size() && !(grows && ScanMore())) break;
    const Child& child = children[i];
    if (!matches(child) || child.plain) continue;
    Lookup below = Lookup::kNone;
    if (depth == 0) {
      if (below_of_.data() != child.markup.data() || below_of_.size() != child.markup.size()) {
        if (below_.capacity() == 0 && parser_) below_ = parser_->TakeBuffer();
        below_of_ = child.markup;
        below_next_ = 0;
        if (!ScanChildren(child.markup, below_)) {
          below_of_ = {};
          return Lookup::kUnknown;
        }
      }
      below = Find(below_, &below_next_, steps.subspan(1), text, depth + 1);
    } else {
      std::vector<Child> grandchildren;
      if (!ScanChildren(child.markup, grandchildren)) return Lookup::kUnknown;
      size_t start = 0;
      below = Find(grandchildren, &start, steps.subspan(1), text, depth + 1);
    }
    if (below != Lookup::kNone) return below;
  }
  if (grows && scan_.status == Scan::kFailed) return Lookup::kUnknown;
  return Lookup::kNone;
}

bool RecordView::HasChild(std::string_view path) const {
  // A name alone, read from the scan: any child of that name will do. Anything else reads its text.
  const bool name = !path.empty() && !HoldsEither(path, '/', '*') && path.find(':') == std::string_view::npos;
  const std::vector<Child>* children = name && !node_ && !markup_.empty() ? ChildrenBegun() : nullptr;
  if (children == nullptr) return ChildView(path).has_value();
  for (size_t i = 0;; ++i) {
    if (i == children->size() && !ScanMore()) break;
    if ((*children)[i].name == path) return true;
  }
  if (scan_.status == Scan::kFailed) return ChildView(path).has_value();
  return false;
}

std::optional<std::string> RecordView::ChildText(std::string_view path) const {
  const std::optional<std::string_view> text = ChildView(path);
  if (!text) return std::nullopt;
  return std::string(*text);
}

std::optional<std::string_view> RecordView::ChildView(std::string_view path) const {
  auto fromTree = [&]() -> std::optional<std::string_view> {
    const Node found = node().selectSingleNode(path);
    if (!found) return std::nullopt;
    return Keep(found.text());
  };
  // Plain names alone: anything else, or a record that is a tree already, is the tree's to answer.
  std::string_view steps[8];
  size_t count = 0;
  bool too_deep = false;
  for (std::string_view rest = path;;) {
    if (count == std::size(steps)) {
      too_deep = true;
      break;
    }
    const size_t slash = rest.find('/');
    steps[count++] = rest.substr(0, slash);
    if (slash == std::string_view::npos) break;
    rest.remove_prefix(slash + 1);
  }
  const bool simple = !too_deep && std::all_of(steps, steps + count, [](std::string_view step) {
    return !step.empty() && !HoldsEither(step, '*', ':');
  });
  if (node_ || markup_.empty() || !simple) return fromTree();
  const std::vector<Child>* children = ChildrenBegun();
  if (children == nullptr) return fromTree();
  std::string_view text;
  switch (Find(*children, &next_, std::span<const std::string_view>(steps, count), text, 0)) {
    case Lookup::kFound:
      return text;
    case Lookup::kNone:
      return std::nullopt;
    case Lookup::kUnknown:
      break;
  }
  return fromTree();
}

}  // namespace platform::xml
