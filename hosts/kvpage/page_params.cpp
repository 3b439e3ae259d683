#include "hosts/kvpage/page_params.h"

#include <fstream>
#include <sstream>

#include "common/error.h"
#include "common/text.h"
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

const PageObject& PickObject(const std::vector<PageObject>& objects, std::string_view class_id) {
  if (objects.empty()) throw kv::Error(kv::kErrInvalidArgument, "The page holds no <object> element");
  const std::string wanted = kv::ToUpperAscii(class_id);
  for (const PageObject& object : objects) {
    if (kv::ToUpperAscii(object.classid).find(wanted) != std::string::npos) return object;
  }
  return objects.front();
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
                      "The page " + platform::web::HideSecrets(file_or_url) +
                          " could not be read: " + kv::ReplaceAll(browser.BodyText(), "\r\n", " "));
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
