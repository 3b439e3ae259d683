#pragma once

#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace kvpage {

// An <object> element of a service page and the <param> tags inside it, in page order.
struct PageObject {
  std::string classid;  // the classid attribute as written ("clsid:...")
  std::vector<std::pair<std::string, std::string>> params;
};

// Every <object> of an HTML text. Tag and attribute names in any letter case; values quoted either way or bare;
// character references decoded; comments skipped.
std::vector<PageObject> ParseObjects(std::string_view html);

// The object whose classid names the class id (registry text without braces, any letter case), else the first
// object. Throws kv::Error when the page has no object.
const PageObject& PickObject(const std::vector<PageObject>& objects, std::string_view class_id);

// The text of a page: a local file, or an http(s) address fetched through the browser control. Throws kv::Error
// with a readable description when it cannot be read.
std::string ReadPage(const std::string& file_or_url);

}  // namespace kvpage
