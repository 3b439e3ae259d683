// An answer as a browser's document text, the error pages, and header lines made well-formed.

#include "platform/web/http_text.h"

#include <algorithm>
#include <array>
#include <cctype>
#include <memory>

#include "platform/base/text.h"
#include "platform/web/charset.h"
#include "platform/web/web_browser.h"
#include "platform/xml/dom.h"

namespace platform::web {
namespace {

// Elements whose start and end separate lines of the page's text.
bool IsBlockElement(std::string_view name) {
  static constexpr std::array<std::string_view, 33> kBlocks = {
      "address", "article", "aside", "blockquote", "center", "dd",      "div",   "dl", "dt",     "fieldset", "figure",
      "footer",  "form",    "h1",    "h2",         "h3",     "h4",      "h5",    "h6", "header", "hr",       "li",
      "main",    "nav",     "ol",    "p",          "pre",    "section", "table", "tr", "ul",     "caption",  "tbody"};
  return std::find(kBlocks.begin(), kBlocks.end(), name) != kBlocks.end();
}

bool IsHiddenElement(std::string_view name) {
  return name == "script" || name == "style" || name == "head" || name == "title" || name == "noscript" ||
         name == "template";
}

bool IsSourceWhiteSpace(char c) {
  return c == ' ' || c == '\t' || c == '\r' || c == '\n' || c == '\f';
}

// Builds the document text as a browser lays it out: a blank or a line break is only written once the next
// visible character comes, so none is left at the start or end of the text or of a line.
struct TextCollector {
  std::string out;
  bool pending_break = false;
  bool pending_blank = false;
  int preformatted = 0;

  bool EndsWithLineBreak() const { return out.size() >= 2 && out.compare(out.size() - 2, 2, "\r\n") == 0; }

  void Visible(char c) {
    if (pending_break && !out.empty() && !EndsWithLineBreak()) {
      out += "\r\n";
    } else if (pending_blank && !out.empty() && !EndsWithLineBreak()) {
      out += ' ';
    }
    pending_break = false;
    pending_blank = false;
    out += c;
  }

  void Append(std::string_view text) {
    for (char c : text) {
      if (preformatted > 0) {
        if (c == '\n') {
          if (pending_break && !out.empty() && !EndsWithLineBreak()) out += "\r\n";
          pending_break = false;
          out += "\r\n";
        } else if (c != '\r') {
          Visible(c);
        }
      } else if (IsSourceWhiteSpace(c)) {
        pending_blank = true;
      } else {
        Visible(c);
      }
    }
  }

  void Walk(const xml::Node& first) {
    for (xml::Node n = first; n; n = n.nextSibling()) {
      const xml::NodeType type = n.nodeType();
      if (type == xml::NodeType::kText || type == xml::NodeType::kCData) {
        Append(n.text());
      } else if (type == xml::NodeType::kElement) {
        const std::string name = kv::ToLowerAscii(n.nodeName());
        if (IsHiddenElement(name)) continue;
        if (name == "br") {
          out += "\r\n";
          pending_break = false;
          pending_blank = false;
          continue;
        }
        const bool block = IsBlockElement(name);
        const bool pre = name == "pre" || name == "textarea";
        if (block) pending_break = true;
        if (pre) ++preformatted;
        Walk(n.firstChild());
        if (pre) --preformatted;
        if (block) pending_break = true;
      }
    }
  }
};

constexpr std::string_view kHidden = "(hidden)";

bool IsPasswordName(std::string_view name) {
  const std::string lower = kv::ToLowerAscii(name);
  return lower.ends_with("pwd") || lower.ends_with("password") || lower.ends_with("passwd");
}

xml::Node FindElement(const xml::Node& first, std::string_view wanted) {
  for (xml::Node n = first; n; n = n.nextSibling()) {
    if (n.nodeType() != xml::NodeType::kElement) continue;
    if (kv::EqualsIgnoreCase(n.nodeName(), wanted)) return n;
    if (xml::Node found = FindElement(n.firstChild(), wanted)) return found;
  }
  return {};
}

}  // namespace

std::string HideSecrets(std::string_view text) {
  std::string out;
  out.reserve(text.size());
  size_t copied = 0;
  for (size_t eq = text.find('='); eq != std::string_view::npos; eq = text.find('=', eq + 1)) {
    size_t name_start = eq;
    while (name_start > 0) {
      const char c = text[name_start - 1];
      if (!std::isalnum(static_cast<unsigned char>(c)) && c != '_' && c != '-' && c != '.') break;
      --name_start;
    }
    if (name_start == eq || !IsPasswordName(text.substr(name_start, eq - name_start))) continue;
    if (text.substr(eq + 1).starts_with(kHidden)) continue;
    if (name_start > 0 && std::string_view("?&; \t\r\n\"'(:").find(text[name_start - 1]) == std::string_view::npos) {
      continue;
    }
    size_t value_end = text.find_first_of("&# \t\r\n\"'<>)", eq + 1);
    if (value_end == std::string_view::npos) value_end = text.size();
    if (value_end == eq + 1) continue;
    out.append(text.substr(copied, eq + 1 - copied));
    out += kHidden;
    copied = value_end;
    eq = value_end - 1;
  }
  out.append(text.substr(copied));
  return out;
}

std::string DecodeBodyBytes(std::string_view bytes, std::string_view content_type) {
  std::string charset = CharsetOf(content_type);
  if (charset.empty() && IsHtmlAnswer(content_type, bytes)) charset = MetaCharsetOf(bytes);
  return DecodeCharset(bytes, charset);
}

bool IsHtmlAnswer(std::string_view content_type, std::string_view body) {
  const std::string type = kv::ToLowerAscii(content_type);
  if (!type.empty()) return type.find("html") != std::string::npos;
  const size_t start = body.find_first_not_of(" \t\r\n");
  if (start == std::string_view::npos) return false;
  const std::string head = kv::ToLowerAscii(body.substr(start, 14));
  return head.starts_with("<!doctype html") || head.starts_with("<html");
}

std::string HtmlBodyText(std::string_view utf8_html) {
  xml::Document page;
  if (!page.LoadHtml(utf8_html)) return {};
  const xml::Node root = page.documentElement();
  const xml::Node body = FindElement(root, "body");
  TextCollector collector;
  if (body) {
    collector.Walk(body.firstChild());
  } else if (root) {
    collector.Walk(root.firstChild());
  }
  return std::move(collector.out);
}

std::vector<std::string> NormalizeHeaderLines(std::string_view headers) {
  std::vector<std::string> lines;
  size_t start = 0;
  while (start < headers.size()) {
    size_t end = headers.find_first_of("\r\n", start);
    if (end == std::string_view::npos) end = headers.size();
    const std::string_view line = headers.substr(start, end - start);
    start = end + 1;
    const size_t colon = line.find(':');
    if (colon == std::string_view::npos) continue;
    const std::string_view name = kv::TrimBlanks(line.substr(0, colon));
    std::string_view value = line.substr(colon + 1);
    while (!value.empty() && (value.front() == ' ' || value.front() == '\t')) value.remove_prefix(1);
    while (!value.empty() && (value.back() == ' ' || value.back() == '\t')) value.remove_suffix(1);
    if (name.empty() || name.find_first_of(" \t") != std::string_view::npos) continue;
    lines.push_back(std::string(name) + ": " + std::string(value));
  }
  return lines;
}

std::string_view ReasonPhrase(int status) {
  switch (status) {
    case 200:
      return "OK";
    case 201:
      return "Created";
    case 204:
      return "No Content";
    case 301:
      return "Moved Permanently";
    case 302:
      return "Found";
    case 304:
      return "Not Modified";
    case 400:
      return "Bad Request";
    case 401:
      return "Unauthorized";
    case 403:
      return "Forbidden";
    case 404:
      return "Not Found";
    case 405:
      return "Method Not Allowed";
    case 408:
      return "Request Timeout";
    case 413:
      return "Payload Too Large";
    case 414:
      return "URI Too Long";
    case 429:
      return "Too Many Requests";
    case 500:
      return "Internal Server Error";
    case 501:
      return "Not Implemented";
    case 502:
      return "Bad Gateway";
    case 503:
      return "Service Unavailable";
    case 504:
      return "Gateway Timeout";
    default:
      return "";
  }
}

std::string TransportErrorPage(std::string_view reason) {
  std::string line = HideSecrets(reason);
  std::replace(line.begin(), line.end(), '\r', ' ');
  std::replace(line.begin(), line.end(), '\n', ' ');
  return std::string(kPageCannotBeDisplayed) + "\r\n" + line;
}

std::string HttpErrorPage(int status, std::string_view reason, std::string_view body_text) {
  std::string page = std::string(kPageCannotBeDisplayed) + "\r\nHTTP " + std::to_string(status);
  if (!reason.empty()) page.append(" ").append(reason);
  if (!body_text.empty()) page.append("\r\n").append(body_text);
  return HideSecrets(page);
}

}  // namespace platform::web
