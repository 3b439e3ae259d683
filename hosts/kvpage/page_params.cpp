// The <object> elements of a service page and their <param> tags, read from a file or a URL through
// platform/xml's HTML reader, and the parameters no control asked for.

#include "hosts/kvpage/page_params.h"

#include <fstream>
#include <iostream>
#include <sstream>

#include "hosts/kvpage/page_host.h"
#include "platform/base/error.h"
#include "platform/base/text.h"
#include "platform/forms/caret_escape.h"
#include "platform/forms/event_loop.h"
#include "platform/web/http_text.h"
#include "platform/web/web_browser.h"
#include "platform/xml/dom.h"

namespace kvpage {
namespace {

// The nearest <object> around a node of the page; the empty node when there is none.
platform::xml::Node EnclosingObject(const platform::xml::Node& node) {
  for (platform::xml::Node up = node.parentNode(); up; up = up.parentNode()) {
    if (up.nodeType() == platform::xml::NodeType::kElement && up.nodeName() == "object") return up;
  }
  return {};
}

}  // namespace

std::vector<PageObject> ParseObjects(std::string_view html) {
  std::vector<PageObject> objects;
  platform::xml::Document page;
  if (!page.LoadHtml(html)) return objects;
  const platform::xml::NodeList found = page.getElementsByTagName("object");
  for (size_t i = 0; i < found.length(); ++i) {
    const platform::xml::Node object = found.item(i);
    PageObject entry{object.getAttribute("classid"), {}};
    const platform::xml::NodeList params = object.getElementsByTagName("param");
    for (size_t k = 0; k < params.length(); ++k) {
      const platform::xml::Node param = params.item(k);
      // A param of an object nested in this one is that object's.
      if (!param.hasAttribute("name") || !(EnclosingObject(param) == object)) continue;
      entry.params.emplace_back(param.getAttribute("name"), param.getAttribute("value"));
    }
    objects.push_back(std::move(entry));
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
  const std::string lower = kv::ToLowerAscii(file_or_url);
  if (lower.starts_with("http://") || lower.starts_with("https://")) {
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

void WarnOfUnreadParams(const HostContext& context, std::string_view control_name) {
  if (!context.bag) return;
  for (const std::string& name : context.commandLineParams) {
    if (context.bag->Asked(name)) continue;
    std::cerr << "kvpage: warning: the " << control_name << " control reads no parameter \""
              << platform::forms::CaretEscape(name, platform::forms::LineBreaks::kMarked)
              << "\" given with --param; check its spelling\n";
  }
}

}  // namespace kvpage
