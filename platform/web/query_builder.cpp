#include "platform/web/query_builder.h"

namespace platform::web {
namespace {

bool IsUnreserved(unsigned char c) {
  return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '-' || c == '_' ||
         c == '.' || c == '~';
}

int HexValue(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  return -1;
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

std::string PercentDecode(std::string_view text) {
  std::string out;
  out.reserve(text.size());
  for (size_t i = 0; i < text.size(); ++i) {
    if (text[i] == '%' && i + 2 < text.size()) {
      const int hi = HexValue(text[i + 1]);
      const int lo = HexValue(text[i + 2]);
      if (hi >= 0 && lo >= 0) {
        out.push_back(static_cast<char>(hi * 16 + lo));
        i += 2;
        continue;
      }
    }
    out.push_back(text[i]);
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

std::vector<std::pair<std::string, std::string>> ParseQuery(std::string_view query) {
  if (!query.empty() && query.front() == '?') query.remove_prefix(1);
  if (const size_t hash = query.find('#'); hash != std::string_view::npos) query = query.substr(0, hash);
  std::vector<std::pair<std::string, std::string>> pairs;
  if (query.empty()) return pairs;
  size_t start = 0;
  while (start <= query.size()) {
    size_t end = query.find('&', start);
    if (end == std::string_view::npos) end = query.size();
    const std::string_view item = query.substr(start, end - start);
    const size_t eq = item.find('=');
    if (eq == std::string_view::npos) {
      pairs.emplace_back(PercentDecode(item), std::string());
    } else {
      pairs.emplace_back(PercentDecode(item.substr(0, eq)), PercentDecode(item.substr(eq + 1)));
    }
    start = end + 1;
  }
  return pairs;
}

}  // namespace platform::web
