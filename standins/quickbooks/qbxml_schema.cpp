// Checking a request document against the qbXML message set of its version, as strictly as QuickBooks.

#include "standins/quickbooks/qbxml_schema.h"

#include <array>
#include <charconv>
#include <filesystem>
#include <map>
#include <mutex>

#include "platform/base/error.h"
#include "platform/com/guid.h"
#include "platform/qb/qb_errors.h"
#include "platform/xml/prolog.h"
#include "platform/xml/schema_cache.h"
#include "standins/quickbooks/qbxml_status.h"

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
    {"CA2.0", "qbxml_ca2.xsd"},
    {"UK1.0", "qbxml_uk.xsd"},
    {"UK1.1", "qbxml_uk.xsd"},
    {"UK2.0", "qbxml_uk2.xsd"},
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

std::string Describe(const platform::xml::SchemaViolation& violation) {
  std::string text = violation.message;
  if (violation.line > 0) text += " (line " + std::to_string(violation.line) + ")";
  return text;
}

platform::xml::SchemaCheck Check(std::string_view file, std::string_view request) {
  platform::xml::SchemaCheck check = SchemaOf(file).Validate("", request);
  if (!check.wellFormed) Refuse(check.parseError);
  return check;
}

}  // namespace

QBXMLRequestText ReadQBXMLRequest(std::string_view request) {
  QBXMLRequestText read;
  try {
    read.text = platform::xml::ToUtf8(std::string(request)).text;
  } catch (const kv::Error& e) {
    Refuse(e.description());
  }
  const platform::xml::Prolog prolog = platform::xml::ReadProlog(read.text, true);
  for (const platform::xml::Prolog::Instruction& instruction : prolog.instructions) {
    if (instruction.target == "qbxml") {
      read.version = platform::xml::PseudoAttribute(instruction.data, "version").value_or("");
      break;
    }
  }
  if (prolog.doctype) {
    constexpr std::string_view kPrefix = "-//INTUIT//DTD QBXML QBD ";
    const std::string& id = prolog.doctype->publicId;
    if (!read.version && id.starts_with(kPrefix) && id.ends_with("//EN")) {
      read.version = id.substr(kPrefix.size(), id.size() - kPrefix.size() - 4);
    }
    read.text.erase(prolog.doctype->begin, prolog.doctype->end - prolog.doctype->begin);
  }
  return read;
}

std::optional<std::string> HeaderVersion(std::string_view request) {
  return ReadQBXMLRequest(request).version;
}

std::vector<TooLongText> CheckQBXMLRequest(std::string_view request, const std::vector<std::string>& companyVersions) {
  return CheckQBXMLRequest(ReadQBXMLRequest(request), companyVersions);
}

std::vector<TooLongText> CheckQBXMLRequest(const QBXMLRequestText& request,
                                           const std::vector<std::string>& companyVersions) {
  const std::optional<std::string>& version = request.version;
  if (!version) Refuse("The request names no qbXML version.");
  const Family* family = nullptr;
  for (const Family& candidate : kFamilies) {
    if (candidate.version == *version) family = &candidate;
  }
  bool listed = false;
  for (const std::string& served : companyVersions) listed = listed || served == *version;
  if (family == nullptr || !listed) Refuse("The qbXML version \"" + *version + "\" is not supported.");

  platform::xml::SchemaCheck check = Check(family->schemaFile, request.text);
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

void CheckSubscriptionRequest(std::string_view requestText, int libraryMajor, int libraryMinor) {
  const QBXMLRequestText request = ReadQBXMLRequest(requestText);
  const std::optional<std::string>& version = request.version;
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
  platform::xml::SchemaCheck check = Check(kSubscriptionSchema, request.text);
  if (!check.violations.empty()) Refuse(Describe(check.violations.front()));
}

}  // namespace standins::quickbooks
