// Cutting a long text at its records, so that its pieces parse at once.

#include "platform/xml/text_cuts.h"

#include <algorithm>
#include <atomic>
#include <cstring>
#include <exception>
#include <thread>

namespace platform::xml {
namespace {

// What a piece does to the elements open before it, as a scan of its tags alone tells.
struct TagBalance {
  bool readable = true;                  // every markup token of the piece ends inside it, and none is a DTD
  std::vector<std::string_view> closed;  // names of the end tags of elements opened before the piece, in order
  std::vector<std::string_view> opened;  // start tags left open at its end, outermost first, '<' to '>'
};

bool IsBlank(char c) {
  return c == ' ' || c == '\t' || c == '\r' || c == '\n';
}

// The qualified name at the front of a tag's text (after "<" or "</").
std::string_view NameAt(const char* from, const char* end) {
  const char* p = from;
  while (p < end && !IsBlank(*p) && *p != '/' && *p != '>') ++p;
  return {from, static_cast<size_t>(p - from)};
}

std::string_view NameOfStartTag(std::string_view tag) {
  return NameAt(tag.data() + 1, tag.data() + tag.size());
}

// Past the first `what` at or after from; nullptr when it does not end before end.
const char* Past(const char* from, const char* end, std::string_view what) {
  if (from >= end) return nullptr;
  const void* at = memmem(from, static_cast<size_t>(end - from), what.data(), what.size());
  return at == nullptr ? nullptr : static_cast<const char*>(at) + what.size();
}

// Tokenises the piece as an XML parser in content would, from one '<' to the next, stepping over comments, CDATA
// sections, processing instructions and quoted attribute values, where a '<' or '>' is no tag's.
TagBalance Balance(std::string_view piece) {
  TagBalance b;
  const char* p = piece.data();
  const char* const end = p + piece.size();
  const auto unreadable = [&b] {
    b.readable = false;
    return b;
  };
  while (p < end && (p = static_cast<const char*>(std::memchr(p, '<', static_cast<size_t>(end - p)))) != nullptr) {
    if (end - p < 2) return unreadable();
    const char kind = p[1];
    if (kind == '/') {
      const auto* gt = static_cast<const char*>(std::memchr(p + 2, '>', static_cast<size_t>(end - p - 2)));
      if (gt == nullptr) return unreadable();
      const std::string_view name = NameAt(p + 2, gt);
      if (b.opened.empty()) {
        b.closed.push_back(name);
      } else {
        if (NameOfStartTag(b.opened.back()) != name) return unreadable();
        b.opened.pop_back();
      }
      p = gt + 1;
    } else if (kind == '?') {
      if ((p = Past(p + 2, end, "?>")) == nullptr) return unreadable();
    } else if (kind == '!') {
      const std::string_view rest(p, static_cast<size_t>(end - p));
      if (rest.starts_with("<!--")) {
        p = Past(p + 4, end, "-->");
      } else if (rest.starts_with("<![CDATA[")) {
        p = Past(p + 9, end, "]]>");
      } else {
        p = nullptr;  // a document type declaration, or no markup at all
      }
      if (p == nullptr) return unreadable();
    } else {
      const char* q = p + 1;
      while (q < end && *q != '>') {
        if (*q == '"' || *q == '\'') {
          q = static_cast<const char*>(std::memchr(q + 1, *q, static_cast<size_t>(end - q - 1)));
          if (q == nullptr) return unreadable();
        }
        ++q;
      }
      if (q == end) return unreadable();
      if (q[-1] != '/') b.opened.emplace_back(p, static_cast<size_t>(q + 1 - p));
      p = q + 1;
    }
  }
  return b;
}

// Whether a piece may end, and the next begin, inside these elements.
bool CanCutWithin(const std::vector<std::string_view>& open, const std::vector<std::string>& names) {
  if (open.empty()) return false;
  for (std::string_view tag : open) {
    if (std::find(names.begin(), names.end(), NameOfStartTag(tag)) != names.end()) return false;
  }
  return true;
}

// The first start tag of a record of the names at or after from and before to; npos when there is none.
size_t NextRecordStart(std::string_view text, const std::vector<std::string>& names, size_t from, size_t to) {
  while (from < to) {
    const void* at = std::memchr(text.data() + from, '<', to - from);
    if (at == nullptr) break;
    const size_t lt = static_cast<size_t>(static_cast<const char*>(at) - text.data());
    for (const std::string& name : names) {
      const size_t after = lt + 1 + name.size();
      if (after < text.size() && text.compare(lt + 1, name.size(), name) == 0 &&
          (IsBlank(text[after]) || text[after] == '/' || text[after] == '>')) {
        return lt;
      }
    }
    from = lt + 1;
  }
  return std::string_view::npos;
}

}  // namespace

std::vector<TextPiece> CutAtRecords(std::string_view text, const std::vector<std::string>& names, size_t parts,
                                    size_t minPart) {
  if (minPart == 0) minPart = 1;
  parts = std::min(parts, text.size() / minPart);
  if (parts < 2) return {};
  std::vector<size_t> cuts{0};
  for (size_t k = 1; k < parts; ++k) {
    const size_t at = NextRecordStart(text, names, k * text.size() / parts, (k + 1) * text.size() / parts);
    if (at != std::string_view::npos && at > cuts.back()) cuts.push_back(at);
  }
  if (cuts.size() < 2) return {};
  cuts.push_back(text.size());

  const size_t count = cuts.size() - 1;
  std::vector<TagBalance> balances(count);
  const bool scanned =
      RunAtOnce(count, [&](size_t i) { balances[i] = Balance(text.substr(cuts[i], cuts[i + 1] - cuts[i])); });
  if (!scanned) return {};

  std::vector<TextPiece> pieces;
  std::vector<std::string_view> open;  // the start tags open where the scan stands
  TextPiece piece;                     // the piece being made
  for (size_t i = 0; i < count; ++i) {
    const TagBalance& b = balances[i];
    if (!b.readable) return {};
    // A cut outside every element, or with a record open around it, is left out: the pieces on both sides are one.
    if (i > 0 && CanCutWithin(open, names)) {
      piece.length = cuts[i] - piece.start;
      for (auto tag = open.rbegin(); tag != open.rend(); ++tag)
        piece.close.append("</").append(NameOfStartTag(*tag)).append(">");
      pieces.push_back(std::move(piece));
      piece = TextPiece{cuts[i], 0, {}, {}};
      for (std::string_view tag : open) piece.frame += tag;
    }
    for (std::string_view name : b.closed) {
      if (open.empty() || NameOfStartTag(open.back()) != name) return {};
      open.pop_back();
    }
    open.insert(open.end(), b.opened.begin(), b.opened.end());
  }
  // A text left open at its end is cut off: its last piece, with nothing to close it, could not parse.
  if (!open.empty() || pieces.empty()) return {};
  piece.length = text.size() - piece.start;
  pieces.push_back(std::move(piece));
  return pieces;
}

bool RunAtOnce(size_t count, const std::function<void(size_t)>& job) {
  std::atomic<bool> whole{true};
  const auto guarded = [&](size_t i) {
    try {
      job(i);
    } catch (const std::exception&) {
      whole = false;  // out of memory, say: the caller does the work the usual way
    }
  };
  std::vector<std::jthread> threads;
  try {
    threads.reserve(count);
    for (size_t i = 0; i < count; ++i) threads.emplace_back(guarded, i);
  } catch (const std::exception&) {
    whole = false;
  }
  threads.clear();  // joins them
  return whole;
}

}  // namespace platform::xml
