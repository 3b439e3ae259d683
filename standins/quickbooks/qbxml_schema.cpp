#include "standins/quickbooks/qbxml_schema.h"

#include <array>
#include <charconv>
#include <filesystem>
#include <map>
#include <mutex>

#include "common/error.h"
#include "platform/com/guid.h"
#include "platform/qb/qb_errors.h"
#include "platform/xml/schema_cache.h"
#include "standins/quickbooks/qbxml_status.h"
#include "standins/quickbooks/xml_dom.h"

namespace standins::quickbooks {

namespace {

struct Family {
  std::string_view version;
  std::string_view schemaFile;
};

constexpr std::array<Family, 9> kFamilies = {{
    {"1.0", "qbxml_us1.xsd"},
    {"1.1", "qbxml_us1.xsd"},
    {"2.0", "qbxml_us2.xsd"},
    {"CA1.0", "qbxml_ca.xsd"},
    {"CA1.1", "qbxml_ca.xsd"},
    {"CA2.0", "qbxml_ca.xsd"},
    {"UK1.0", "qbxml_uk.xsd"},
    {"UK1.1", "qbxml_uk.xsd"},
    {"UK2.0", "qbxml_uk.xsd"},
}};

constexpr std::string_view kSubscriptionSchema = "qbxml_subscription.xsd";

[[noreturn]] void Refuse(const std::string& why) {
  throw kv::Error(platform::qb::kErrRequestNotXml, std::string(kParseErrorText) + " " + why);
}

// The schemas lie at the same place relative to the program in the build tree (bin/ and tests/ beside share/) and
// under an installed prefix, so a program keeps finding them when its tree or prefix is moved as a whole.
std::filesystem::path SchemaFolder() {
  std::error_code ec;
  const std::filesystem::path self = std::filesystem::read_symlink("/proc/self/exe", ec);
  if (ec) {
    throw kv::Error(platform::com::E_FAIL,
                    "The qbXML schemas cannot be found: this program's own path is unknown (" + ec.message() + ").");
  }
  return (self.parent_path() / KV_QBXML_SCHEMA_RELATIVE_DIR).lexically_normal();
}

// Compiling a schema takes far longer than checking a request, and a benchmark sends thousands of them: each
// family is compiled once per process.
const platform::xml::SchemaCache& SchemaOf(std::string_view file) {
  static std::mutex mutex;
  static std::map<std::string, platform::xml::SchemaCache, std::less<>> compiled;
  std::lock_guard lock(mutex);
  auto found = compiled.find(file);
  if (found != compiled.end()) return found->second;
  const std::filesystem::path path = SchemaFolder() / file;
  std::error_code ec;
  if (!std::filesystem::is_regular_file(path, ec)) {
    throw kv::Error(platform::com::E_FAIL,
                    "The qbXML schema " + path.string() + " is missing: install the program with its share folder.");
  }
  platform::xml::SchemaCache cache;
  cache.AddFile("", path.string());
  return compiled.emplace(std::string(file), std::move(cache)).first->second;
}

std::string_view AttributeValue(std::string_view content, std::string_view name) {
  size_t at = 0;
  while ((at = content.find(name, at)) != std::string_view::npos) {
    size_t i = at + name.size();
    while (i < content.size() && content[i] == ' ') ++i;
    if (i < content.size() && content[i] == '=') {
      ++i;
      while (i < content.size() && content[i] == ' ') ++i;
      if (i < content.size() && (content[i] == '"' || content[i] == '\'')) {
        size_t end = content.find(content[i], i + 1);
        if (end != std::string_view::npos) return content.substr(i + 1, end - i - 1);
      }
    }
    at += name.size();
  }
  return {};
}

std::string Describe(const platform::xml::SchemaViolation& violation) {
  std::string text = violation.message;
  if (violation.line > 0) text += " (line " + std::to_string(violation.line) + ")";
  return text;
}

platform::xml::SchemaCheck Check(std::string_view file, std::string_view request) {
  platform::xml::SchemaCheck check = SchemaOf(file).Validate("", WithoutDoctype(request));
  if (!check.wellFormed) Refuse(check.parseError);
  return check;
}

}  // namespace

std::optional<std::string> HeaderVersion(std::string_view request) {
  size_t pos = 0;
  std::optional<std::string> fromDoctype;
  while ((pos = request.find('<', pos)) != std::string_view::npos) {
    std::string_view rest = request.substr(pos);
    if (rest.starts_with("<?")) {
      size_t end = request.find("?>", pos);
      if (end == std::string_view::npos) break;
      std::string_view content = request.substr(pos + 2, end - pos - 2);
      if (content.starts_with("qbxml ") || content.starts_with("qbxml\t")) {
        return std::string(AttributeValue(content.substr(5), "version"));
      }
      pos = end + 2;
    } else if (rest.starts_with("<!--")) {
      size_t end = request.find("-->", pos);
      if (end == std::string_view::npos) break;
      pos = end + 3;
    } else if (rest.starts_with("<!DOCTYPE")) {
      size_t end = request.find('>', pos);
      if (end == std::string_view::npos) break;
      std::string_view doctype = request.substr(pos, end - pos);
      constexpr std::string_view kPrefix = "-//INTUIT//DTD QBXML QBD ";
      size_t id = doctype.find(kPrefix);
      if (id != std::string_view::npos) {
        size_t start = id + kPrefix.size();
        size_t close = doctype.find("//", start);
        if (close != std::string_view::npos) fromDoctype = std::string(doctype.substr(start, close - start));
      }
      pos = end + 1;
    } else {
      break;  // the root element: the prolog is over
    }
  }
  return fromDoctype;
}

std::vector<TooLongText> CheckQBXMLRequest(std::string_view request, const std::vector<std::string>& companyVersions) {
  std::optional<std::string> version = HeaderVersion(request);
  if (!version) Refuse("The request names no qbXML version.");
  const Family* family = nullptr;
  for (const Family& candidate : kFamilies) {
    if (candidate.version == *version) family = &candidate;
  }
  bool listed = false;
  for (const std::string& served : companyVersions) listed = listed || served == *version;
  if (family == nullptr || !listed) Refuse("The qbXML version \"" + *version + "\" is not supported.");

  platform::xml::SchemaCheck check = Check(family->schemaFile, request);
  // A text over its length fails only its message, and only when everything else of the request fits: the
  // validator then reports nothing else about that element.
  std::vector<TooLongText> tooLong;
  for (const platform::xml::SchemaViolation& violation : check.violations) {
    if (violation.tooLong && violation.path.size() >= 2) {
      tooLong.push_back({violation.path[1], violation.element, violation.text});
    }
  }
  for (const platform::xml::SchemaViolation& violation : check.violations) {
    bool ofTooLongText = false;
    for (const platform::xml::SchemaViolation& other : check.violations) {
      ofTooLongText = ofTooLongText || (other.tooLong && other.path == violation.path && other.path.size() >= 2);
    }
    if (!ofTooLongText) Refuse(Describe(violation));
  }
  return tooLong;
}

void CheckSubscriptionRequest(std::string_view request, int libraryMajor, int libraryMinor) {
  std::optional<std::string> version = HeaderVersion(request);
  if (!version) Refuse("The request names no qbXML version.");
  int major = 0;
  int minor = 0;
  size_t dot = version->find('.');
  auto [majorEnd, majorError] = std::from_chars(version->data(), version->data() + dot, major);
  bool numeric = dot != std::string::npos && majorError == std::errc() && majorEnd == version->data() + dot;
  if (numeric) {
    auto [minorEnd, minorError] = std::from_chars(version->data() + dot + 1, version->data() + version->size(), minor);
    numeric = minorError == std::errc() && minorEnd == version->data() + version->size();
  }
  bool served = numeric && major >= 3 && (major < libraryMajor || (major == libraryMajor && minor <= libraryMinor));
  if (!served) Refuse("The qbXML version \"" + *version + "\" is not supported.");
  platform::xml::SchemaCheck check = Check(kSubscriptionSchema, request);
  if (!check.violations.empty()) Refuse(Describe(check.violations.front()));
}

}  // namespace standins::quickbooks
