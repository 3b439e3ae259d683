// Percent-encoding query values and joining a service page's address.

#include "platform/web/query_builder.h"

namespace platform::web {
namespace {

bool IsUnreserved(unsigned char c) {
  return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '-' || c == '_' ||
         c == '.' || c == '~';
}

}  // namespace

std::string PercentEncode(std::string_view value) {
  static constexpr char kHex[] = "0123456789ABCDEF";
  std::string out;
  out.reserve(value.size() * 3);
  for (char ch : value) {
    const auto c = static_cast<unsigned char>(ch);
    if (IsUnreserved(c)) {
      out.push_back(ch);
    } else {
      out.push_back('%');
      out.push_back(kHex[c >> 4]);
      out.push_back(kHex[c & 0x0F]);
    }
  }
  return out;
}

QueryBuilder::QueryBuilder(std::string page) : page_(std::move(page)) {}

QueryBuilder& QueryBuilder::Add(std::string_view key, std::string_view value) {
  pairs_.emplace_back(std::string(key), std::string(value));
  return *this;
}

QueryBuilder& QueryBuilder::AddFlag(std::string_view key, bool value) {
  return Add(key, std::string_view(value ? "True" : "False"));
}

std::string QueryBuilder::Query() const {
  std::string query;
  for (const auto& [key, value] : pairs_) {
    if (!query.empty()) query.push_back('&');
    query += key;
    query.push_back('=');
    query += PercentEncode(value);
  }
  return query;
}

std::string QueryBuilder::PageAndQuery() const {
  if (pairs_.empty()) return page_;
  return page_ + "?" + Query();
}

std::string QueryBuilder::Url(std::string_view base) const {
  return std::string(base) + PageAndQuery();
}

}  // namespace platform::web
