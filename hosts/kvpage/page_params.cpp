#include "hosts/kvpage/page_params.h"

#include <fstream>
#include <sstream>

#include "platform/base/error.h"
#include "platform/base/text.h"
#include "platform/forms/caret_escape.h"
#include "platform/forms/event_loop.h"
#include "platform/web/http_text.h"
#include "platform/web/web_browser.h"

namespace kvpage {
namespace {

bool IsSpace(char c) {
  return c == ' ' || c == '\t' || c == '\r' || c == '\n' || c == '\f';
}
bool IsNameChar(char c) {
  return !IsSpace(c) && c != '=' && c != '>' && c != '/' && c != '"' && c != '\'';
}

// Character references of attribute values; an unknown or broken one stays as written.
std::string DecodeEntities(std::string_view text) {
  static const std::pair<std::string_view, std::string_view> kNamed[] = {
      {"amp", "&"}, {"lt", "<"}, {"gt", ">"}, {"quot", "\""}, {"apos", "'"}, {"nbsp", "\xC2\xA0"}};
  std::string out;
  for (size_t i = 0; i < text.size(); ++i) {
    if (text[i] != '&') {
      out += text[i];
      continue;
    }
    const size_t semi = text.find(';', i);
    if (semi == std::string_view::npos || semi - i > 10) {
      out += '&';
      continue;
    }
    const std::string_view ref = text.substr(i + 1, semi - i - 1);
    bool decoded = false;
    if (ref.size() > 1 && ref[0] == '#') {
      const bool hex = ref[1] == 'x' || ref[1] == 'X';
      const std::string digits(ref.substr(hex ? 2 : 1));
      if (!digits.empty() &&
          digits.find_first_not_of(hex ? "0123456789abcdefABCDEF" : "0123456789") == std::string::npos &&
          digits.size() <= 7) {
        const auto cp = static_cast<uint32_t>(std::stoul(digits, nullptr, hex ? 16 : 10));
        kv::AppendUtf8(out, cp == 0 ? 0xFFFD : cp);
        decoded = true;
      }
    } else {
      for (const auto& [name, value] : kNamed) {
        if (kv::EqualsIgnoreCase(ref, name)) {
          out += value;
          decoded = true;
          break;
        }
      }
    }
    if (decoded) {
      i = semi;
    } else {
      out += '&';
    }
  }
  return out;
}

struct Tag {
  std::string name;                                             // lower case; "/object" for an end tag
  std::vector<std::pair<std::string, std::string>> attributes;  // names lower case
};

// Reads the tag that starts at html[pos] == '<'; pos ends after its '>'.
Tag ReadTag(std::string_view html, size_t& pos) {
  Tag tag;
  size_t i = pos + 1;
  const size_t name_start = i;
  if (i < html.size() && html[i] == '/') ++i;
  while (i < html.size() && IsNameChar(html[i])) ++i;
  tag.name = kv::ToLowerAscii(html.substr(name_start, i - name_start));
  while (i < html.size() && html[i] != '>') {
    if (IsSpace(html[i]) || html[i] == '/') {
      ++i;
      continue;
    }
    const size_t attr_start = i;
    while (i < html.size() && IsNameChar(html[i])) ++i;
    if (i == attr_start) {  // a stray quote or '=': step over it
      ++i;
      continue;
    }
    std::string name = kv::ToLowerAscii(html.substr(attr_start, i - attr_start));
    while (i < html.size() && IsSpace(html[i])) ++i;
    std::string value;
    if (i < html.size() && html[i] == '=') {
      ++i;
      while (i < html.size() && IsSpace(html[i])) ++i;
      if (i < html.size() && (html[i] == '"' || html[i] == '\'')) {
        const char quote = html[i++];
        const size_t end = html.find(quote, i);
        const size_t stop = end == std::string_view::npos ? html.size() : end;
        value = DecodeEntities(html.substr(i, stop - i));
        i = stop == html.size() ? stop : stop + 1;
      } else {
        const size_t value_start = i;
        while (i < html.size() && !IsSpace(html[i]) && html[i] != '>') ++i;
        value = DecodeEntities(html.substr(value_start, i - value_start));
      }
    }
    tag.attributes.emplace_back(std::move(name), std::move(value));
  }
  pos = i < html.size() ? i + 1 : html.size();
  return tag;
}

std::string Attribute(const Tag& tag, std::string_view name) {
  for (const auto& [key, value] : tag.attributes) {
    if (key == name) return value;
  }
  return "";
}

bool HasAttribute(const Tag& tag, std::string_view name) {
  for (const auto& attribute : tag.attributes) {
    if (attribute.first == name) return true;
  }
  return false;
}

}  // namespace

std::vector<PageObject> ParseObjects(std::string_view html) {
  std::vector<PageObject> objects;
  bool inside = false;
  size_t pos = 0;
  while ((pos = html.find('<', pos)) != std::string_view::npos) {
    if (html.substr(pos, 4) == "<!--") {
      const size_t end = html.find("-->", pos + 4);
      pos = end == std::string_view::npos ? html.size() : end + 3;
      continue;
    }
    const Tag tag = ReadTag(html, pos);
    if (tag.name == "object") {
      objects.push_back({Attribute(tag, "classid"), {}});
      inside = true;
    } else if (tag.name == "/object") {
      inside = false;
    } else if (tag.name == "param" && inside && HasAttribute(tag, "name")) {
      objects.back().params.emplace_back(Attribute(tag, "name"), Attribute(tag, "value"));
    }
  }
  return objects;
}

namespace {

// The class a classid attribute names: "clsid:{GUID}" or "progid:Name", the scheme and braces left out.
std::string_view NamedClass(std::string_view classid) {
  classid = kv::TrimBlanks(classid);
  const size_t colon = classid.find(':');
  if (colon != std::string_view::npos) classid = classid.substr(colon + 1);
  classid = kv::TrimBlanks(classid);
  if (classid.size() >= 2 && classid.front() == '{' && classid.back() == '}')
    classid = classid.substr(1, classid.size() - 2);
  return classid;
}

}  // namespace

const PageObject& PickObject(const std::vector<PageObject>& objects, const std::vector<std::string>& identities,
                             std::string_view control_name) {
  if (objects.empty()) throw kv::Error(kv::kErrInvalidArgument, "The page holds no <object> element");
  for (const PageObject& object : objects) {
    for (const std::string& identity : identities) {
      if (kv::EqualsIgnoreCase(NamedClass(object.classid), identity)) return object;
    }
  }
  // Another control's parameters must not reach this one: it would run against the page's data all the same.
  std::string found;
  for (const PageObject& object : objects) {
    // The page's text reaches the terminal: its control characters must not drive it.
    const std::string shown = platform::forms::CaretEscape(object.classid, platform::forms::LineBreaks::kMarked);
    found += (found.empty() ? "" : ", ") + (shown.empty() ? std::string("none") : "\"" + shown + "\"");
  }
  throw kv::Error(kv::kErrInvalidArgument, "The page embeds no " + std::string(control_name) +
                                               " control; the class ids of its objects: " + found);
}

std::string ReadPage(const std::string& file_or_url) {
  if (kv::StartsWith(kv::ToLowerAscii(file_or_url), "http://") ||
      kv::StartsWith(kv::ToLowerAscii(file_or_url), "https://")) {
    platform::web::WebBrowser browser;
    bool done = false;
    browser.OnDocumentComplete([&done](platform::web::WebBrowser&, const std::string&) { done = true; });
    browser.Navigate(file_or_url, platform::web::kNavNoHistory | platform::web::kNavNoReadFromCache);
    platform::forms::EventLoop::Current().WaitWhile([&done] { return !done; });
    if (browser.IsErrorPage()) {
      throw kv::Error(kv::kErrInvalidArgument,
                      "The page " + platform::web::HideSecrets(file_or_url) + " could not be read:\n" +
                          platform::forms::CaretEscape(browser.BodyText(), platform::forms::LineBreaks::kKept));
    }
    return browser.RawBody();
  }
  std::ifstream in(file_or_url, std::ios::binary);
  if (!in) throw kv::Error(kv::kErrInvalidArgument, "The page file " + file_or_url + " cannot be read");
  std::ostringstream text;
  text << in.rdbuf();
  return text.str();
}

}  // namespace kvpage
