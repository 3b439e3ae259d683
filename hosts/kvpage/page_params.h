#pragma once

// The parameters a page hands its control, read from the page's <object> element, for kvpage --page.

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

// The first object whose classid ("clsid:GUID" with or without braces, or "progid:Name") names one of the
// identities (class id registry text without braces, or ProgID; any letter case). Throws kv::Error, naming the
// control and the class ids found, when the page has no object or none of the control.
const PageObject& PickObject(const std::vector<PageObject>& objects, const std::vector<std::string>& identities,
                             std::string_view control_name);

// The text of a page: a local file, or an http(s) address fetched through the browser control. Throws kv::Error
// with a readable description when it cannot be read: the browser's error page keeps its lines, its control
// characters escaped.
std::string ReadPage(const std::string& file_or_url);

}  // namespace kvpage
