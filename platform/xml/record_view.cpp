// Reading a record's plain child texts straight from its markup, falling back to the tree for the rest.

#include "platform/xml/record_view.h"

#include <algorithm>
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

bool NameEnds(char c) {
  return c == ' ' || c == '\t' || c == '\r' || c == '\n' || c == '/' || c == '>';
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

// The element children of the element whose markup this is, in document order, each with its plain text where
// the text needs nothing decoded: no markup inside, no reference, no carriage return (a parser turns those into
// line feeds). Nothing when the markup is not what a well-formed element looks like.
template <class Child>
std::optional<std::vector<Child>> ScanChildren(std::string_view markup) {
  std::vector<Child> children;
  if (markup.empty() || markup[0] != '<') return std::nullopt;
  size_t pos = TagEnd(markup, 0);
  if (pos == std::string_view::npos) return std::nullopt;
  if (markup[pos - 1] == '/') return children;
  ++pos;
  size_t depth = 0;
  size_t childStart = 0;
  while (true) {
    const size_t open = markup.find('<', pos);
    if (open == std::string_view::npos) return std::nullopt;
    if (AfterOpen(markup, open) == '/') {
      const size_t end = TagEnd(markup, open);
      if (end == std::string_view::npos) return std::nullopt;
      if (depth == 0) return children;  // the record's own end tag
      if (--depth == 0) children.back().markup = markup.substr(childStart, end + 1 - childStart);
      pos = end + 1;
      continue;
    }
    if (AfterOpen(markup, open) == '!' || AfterOpen(markup, open) == '?') {
      pos = SkipMarkup(markup, open);
      if (pos == std::string_view::npos) return std::nullopt;
      continue;
    }
    const size_t end = TagEnd(markup, open);
    if (end == std::string_view::npos) return std::nullopt;
    const bool empty = markup[end - 1] == '/';
    if (depth == 0) {
      size_t nameEnd = open + 1;
      while (nameEnd < end && !NameEnds(markup[nameEnd])) ++nameEnd;
      Child child;
      child.name = markup.substr(open + 1, nameEnd - open - 1);
      childStart = open;
      if (empty) {
        child.markup = markup.substr(open, end + 1 - open);
        child.plain = true;
      } else {
        const size_t textEnd = markup.find('<', end + 1);
        if (textEnd == std::string_view::npos) return std::nullopt;
        const std::string_view text = markup.substr(end + 1, textEnd - end - 1);
        child.plain = AfterOpen(markup, textEnd) == '/' && !HoldsEither(text, '&', '\r');
        if (child.plain) child.text = text;
      }
      children.push_back(child);
    }
    if (!empty) ++depth;
    pos = end + 1;
  }
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

RecordView::RecordView(Node node) : node_(std::move(node)) {}

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

const std::vector<RecordView::Child>* RecordView::Children() const {
  if (!children_) children_ = ScanChildren<Child>(markup_);
  return children_->has_value() ? &**children_ : nullptr;
}

RecordView::Lookup RecordView::Find(const std::vector<Child>& children, std::span<const std::string_view> steps,
                                    std::string& text) {
  for (const Child& child : children) {
    // The first letters differ for most children: no call to compare the rest.
    if (child.name.empty() || child.name[0] != steps.front()[0] || child.name != steps.front()) continue;
    if (steps.size() == 1) {
      if (child.plain) {
        text.assign(child.text);
        return Lookup::kFound;
      }
      std::optional<std::string> plain = PlainText(child.markup);
      if (!plain) return Lookup::kUnknown;
      text = std::move(*plain);
      return Lookup::kFound;
    }
    // The first match below the first step that has one: the first in document order.
    if (child.plain) continue;
    const std::optional<std::vector<Child>> grandchildren = ScanChildren<Child>(child.markup);
    if (!grandchildren) return Lookup::kUnknown;
    const Lookup below = Find(*grandchildren, steps.subspan(1), text);
    if (below != Lookup::kNone) return below;
  }
  return Lookup::kNone;
}

std::optional<std::string> RecordView::ChildText(std::string_view path) const {
  auto fromTree = [&]() -> std::optional<std::string> {
    const Node found = node().selectSingleNode(path);
    if (!found) return std::nullopt;
    return found.text();
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
  const std::vector<Child>* children = Children();
  if (children == nullptr) return fromTree();
  std::string text;
  switch (Find(*children, std::span<const std::string_view>(steps, count), text)) {
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
