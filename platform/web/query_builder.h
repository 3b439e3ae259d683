#pragma once

// Service page addresses with their queries, built one way for every request.

#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace platform::web {

// Every byte outside A-Z a-z 0-9 - _ . ~ becomes %XX (upper-case hex); UTF-8 text is encoded byte by byte.
std::string PercentEncode(std::string_view value);

// The address of a service page with its query: base + page + "?" + key=value&key=value...
// Keys, their order and the page name are written as given; values are percent-encoded, so a value holding
// "&", "#", "+", "%" or "=" arrives intact and cannot add keys.
//
//   QueryBuilder("brintavel.asp").Add("sitecode", code).Add("sitekey", key).Url(base_url)
class QueryBuilder {
 public:
  explicit QueryBuilder(std::string page);

  QueryBuilder& Add(std::string_view key, std::string_view value);
  // The flag as the words "True" or "False" (a separate name: a string literal would convert to bool).
  QueryBuilder& AddFlag(std::string_view key, bool value);

  const std::string& Page() const { return page_; }
  // "k=v&k2=v2" (empty without keys).
  std::string Query() const;
  // page + "?" + Query(), or the page alone without keys.
  std::string PageAndQuery() const;
  // base (expected to end in "/") + PageAndQuery().
  std::string Url(std::string_view base) const;

 private:
  std::string page_;
  std::vector<std::pair<std::string, std::string>> pairs_;
};

}  // namespace platform::web
