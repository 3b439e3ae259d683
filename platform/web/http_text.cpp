#include "platform/web/http_text.h"

#include <libxml/HTMLparser.h>
#include <libxml/tree.h>

#include <algorithm>
#include <array>
#include <memory>

#include "common/text.h"
#include "platform/web/web_browser.h"

namespace platform::web {
namespace {

std::string CharsetOf(std::string_view content_type) {
  const std::string lower = kv::ToLowerAscii(content_type);
  const size_t at = lower.find("charset=");
  if (at == std::string::npos) return {};
  std::string value = lower.substr(at + 8);
  const size_t end = value.find_first_of("; \t");
  if (end != std::string::npos) value.resize(end);
  std::erase(value, '"');
  std::erase(value, '\'');
  return value;
}

bool IsLatin1Charset(std::string_view charset) {
  static constexpr std::array<std::string_view, 6> kNames = {"iso-8859-1", "iso8859-1",    "latin1",
                                                             "latin-1",    "windows-1252", "us-ascii"};
  return std::find(kNames.begin(), kNames.end(), charset) != kNames.end();
}

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

struct TextCollector {
  std::string out;
  bool pending_break = false;

  bool EndsWithLineBreak() const { return out.size() >= 2 && out.compare(out.size() - 2, 2, "\r\n") == 0; }

  void Append(std::string_view text) {
    if (text.empty()) return;
    if (pending_break && !out.empty() && !EndsWithLineBreak()) out += "\r\n";
    pending_break = false;
    out += text;
  }

  void Walk(xmlNode* node) {
    for (xmlNode* n = node; n != nullptr; n = n->next) {
      if (n->type == XML_TEXT_NODE || n->type == XML_CDATA_SECTION_NODE) {
        if (n->content != nullptr) Append(reinterpret_cast<const char*>(n->content));
      } else if (n->type == XML_ELEMENT_NODE) {
        const std::string name = kv::ToLowerAscii(reinterpret_cast<const char*>(n->name));
        if (IsHiddenElement(name)) continue;
        if (name == "br") {
          out += "\r\n";
          pending_break = false;
          continue;
        }
        const bool block = IsBlockElement(name);
        if (block) pending_break = true;
        Walk(n->children);
        if (block) pending_break = true;
      } else if (n->type == XML_ENTITY_REF_NODE) {
        Walk(n->children);
      }
    }
  }
};

xmlNode* FindElement(xmlNode* node, std::string_view wanted) {
  for (xmlNode* n = node; n != nullptr; n = n->next) {
    if (n->type != XML_ELEMENT_NODE) continue;
    if (kv::EqualsIgnoreCase(reinterpret_cast<const char*>(n->name), wanted)) return n;
    if (xmlNode* found = FindElement(n->children, wanted)) return found;
  }
  return nullptr;
}

}  // namespace

bool IsValidUtf8(std::string_view text) {
  size_t i = 0;
  while (i < text.size()) {
    const auto c = static_cast<unsigned char>(text[i]);
    size_t extra;
    uint32_t cp;
    if (c < 0x80) {
      ++i;
      continue;
    } else if (c >= 0xC2 && c <= 0xDF) {
      extra = 1;
      cp = c & 0x1F;
    } else if (c >= 0xE0 && c <= 0xEF) {
      extra = 2;
      cp = c & 0x0F;
    } else if (c >= 0xF0 && c <= 0xF4) {
      extra = 3;
      cp = c & 0x07;
    } else {
      return false;
    }
    if (i + extra >= text.size()) return false;
    for (size_t k = 1; k <= extra; ++k) {
      const auto cc = static_cast<unsigned char>(text[i + k]);
      if ((cc & 0xC0) != 0x80) return false;
      cp = (cp << 6) | (cc & 0x3F);
    }
    // Overlong forms, surrogates and values past U+10FFFF are not UTF-8.
    if ((extra == 2 && cp < 0x800) || (extra == 3 && cp < 0x10000) || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF)) {
      return false;
    }
    i += extra + 1;
  }
  return true;
}

std::string Latin1ToUtf8(std::string_view bytes) {
  std::string out;
  out.reserve(bytes.size() + bytes.size() / 4);
  for (char ch : bytes) {
    const auto c = static_cast<unsigned char>(ch);
    if (c < 0x80) {
      out.push_back(ch);
    } else {
      out.push_back(static_cast<char>(0xC0 | (c >> 6)));
      out.push_back(static_cast<char>(0x80 | (c & 0x3F)));
    }
  }
  return out;
}

std::string DecodeBodyBytes(std::string_view bytes, std::string_view content_type) {
  if (IsLatin1Charset(CharsetOf(content_type))) return Latin1ToUtf8(bytes);
  if (!IsValidUtf8(bytes)) return Latin1ToUtf8(bytes);
  if (bytes.starts_with("\xEF\xBB\xBF")) bytes.remove_prefix(3);
  return std::string(bytes);
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
  if (utf8_html.empty()) return {};
  const int options = HTML_PARSE_RECOVER | HTML_PARSE_NOERROR | HTML_PARSE_NOWARNING | HTML_PARSE_NONET;
  std::unique_ptr<xmlDoc, decltype(&xmlFreeDoc)> doc(
      htmlReadMemory(utf8_html.data(), static_cast<int>(utf8_html.size()), nullptr, "UTF-8", options), xmlFreeDoc);
  if (!doc) return {};
  xmlNode* root = xmlDocGetRootElement(doc.get());
  xmlNode* body = FindElement(root, "body");
  TextCollector collector;
  if (body != nullptr) {
    collector.Walk(body->children);
  } else if (root != nullptr) {
    collector.Walk(root->children);
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
  std::string line(reason);
  std::replace(line.begin(), line.end(), '\r', ' ');
  std::replace(line.begin(), line.end(), '\n', ' ');
  return std::string(kPageCannotBeDisplayed) + "\r\n" + line;
}

std::string HttpErrorPage(int status, std::string_view reason, std::string_view body_text) {
  std::string page = std::string(kPageCannotBeDisplayed) + "\r\nHTTP " + std::to_string(status);
  if (!reason.empty()) page.append(" ").append(reason);
  if (!body_text.empty()) page.append("\r\n").append(body_text);
  return page;
}

}  // namespace platform::web
