// Loading, querying and atomically saving a company file of the QuickBooks stand-in.

#include "standins/quickbooks/company_file.h"

#include <sys/stat.h>

#include <mutex>

#include "platform/xml/escape.h"
#include "platform/xml/prolog.h"
#include "standins/quickbooks/state.h"

namespace standins::quickbooks {

namespace {

bool IsBlank(char c) {
  return c == ' ' || c == '\t' || c == '\r' || c == '\n';
}

std::vector<std::string> SplitBlanks(std::string_view text) {
  std::vector<std::string> parts;
  size_t pos = 0;
  while (pos < text.size()) {
    while (pos < text.size() && IsBlank(text[pos])) ++pos;
    size_t start = pos;
    while (pos < text.size() && !IsBlank(text[pos])) ++pos;
    if (pos > start) parts.emplace_back(text.substr(start, pos - start));
  }
  return parts;
}

std::vector<std::string> FieldNames() {
  return {std::begin(kRecordFields), std::end(kRecordFields)};
}

std::optional<uint32_t> FieldIndex(std::string_view name) {
  for (size_t i = 0; i < std::size(kRecordFields); ++i) {
    if (kRecordFields[i] == name) return static_cast<uint32_t>(i);
  }
  return std::nullopt;
}

std::string Located(const platform::xml::ParseError& error) {
  std::string text = error.line > 0 ? "(line " + std::to_string(error.line) + "): " : "";
  return text + error.reason;
}

}  // namespace

std::optional<std::string_view> FieldText(const Record& record, std::string_view name) {
  std::optional<uint32_t> index = FieldIndex(name);
  if (record.places == nullptr || !index) return std::nullopt;
  const platform::xml::ChildPlaces::Child& child = record.places->children()[record.child];
  for (uint32_t i = 0; i < child.fieldsCount; ++i) {
    const platform::xml::ChildPlaces::Field& field = record.places->fields()[child.fieldsBegin + i];
    if (field.name == *index) return record.places->Text(child, field);
  }
  return std::nullopt;
}

std::vector<platform::xml::ChildPlaces::Span> FieldSpans(const Record& record, std::string_view name) {
  std::vector<platform::xml::ChildPlaces::Span> spans;
  std::optional<uint32_t> index = FieldIndex(name);
  if (record.places == nullptr || !index) return spans;
  const platform::xml::ChildPlaces::Child& child = record.places->children()[record.child];
  for (uint32_t i = 0; i < child.fieldsCount; ++i) {
    const platform::xml::ChildPlaces::Field& field = record.places->fields()[child.fieldsBegin + i];
    if (field.name == *index) spans.push_back({field.start, field.length});
  }
  return spans;
}

std::shared_ptr<const platform::xml::ChildPlaces> PlaceRecord(std::string_view wrapped) {
  auto places = std::make_shared<const platform::xml::ChildPlaces>(wrapped, FieldNames());
  if (!places->parsed() || places->children().size() != 1) {
    throw CompanyError("A record the stand-in built does not parse: " + Located(places->parseError()) + ".");
  }
  return places;
}

std::shared_ptr<const Company> Company::Load(const std::filesystem::path& path) {
  std::string content;
  try {
    content = ReadFile(path);
  } catch (const std::exception& e) {
    throw CompanyError(e.what());
  }
  return FromText(std::move(content), path);
}

std::shared_ptr<const Company> Company::FromText(std::string content, const std::filesystem::path& path) {
  auto company = std::shared_ptr<Company>(new Company());
  company->path_ = path;
  const std::string malformed = "The company file " + path.string() + " is not well-formed ";
  try {
    platform::xml::Utf8Text decoded = platform::xml::ToUtf8(std::move(content));
    company->content_ = std::move(decoded.text);
    company->encoding_ = std::move(decoded.encoding);
    company->byte_order_mark_ = decoded.byteOrderMark;
  } catch (const std::exception& e) {
    throw CompanyError(malformed + "text: " + e.what());
  }
  std::string_view text = company->content_;
  company->places_ = std::make_unique<platform::xml::ChildPlaces>(text, FieldNames());
  const platform::xml::ChildPlaces& places = *company->places_;
  if (!places.parsed()) throw CompanyError(malformed + Located(places.parseError()) + ".");
  if (places.rootName() != kRootElement) {
    throw CompanyError(malformed + "(line 1): the root element is <" + std::string(places.rootName()) + ">, not <" +
                       std::string(kRootElement) + ">.");
  }
  if (places.rootHoldsText()) {
    throw CompanyError(malformed + "(line " + std::to_string(places.rootTextLine()) +
                       "): text stands between its records.");
  }
  std::optional<std::string> versions;
  for (const auto& [name, value] : places.rootAttributes()) {
    if (name == "qbxmlVersions") versions = value;
  }
  company->versions_ = SplitBlanks(versions ? *versions : std::string(kDefaultVersions));
  company->records_.reserve(places.children().size());
  for (uint32_t i = 0; i < places.children().size(); ++i) {
    const platform::xml::ChildPlaces::Child& child = places.children()[i];
    size_t begin = child.span.start;
    size_t lineStart = begin;
    while (lineStart > 0 && (text[lineStart - 1] == ' ' || text[lineStart - 1] == '\t')) --lineStart;
    std::string_view indent;
    if (lineStart == 0 || text[lineStart - 1] == '\n') indent = text.substr(lineStart, begin - lineStart);
    company->records_.push_back({child.name, text.substr(begin, child.span.length), indent, &places, i});
  }
  const platform::xml::ChildPlaces::Span root = places.root();
  if (places.rootIsEmptyTag()) {
    company->self_closing_ = true;
    company->root_tag_close_ = root.start + root.length - 2;
    company->insert_at_ = root.start + root.length;
  } else {
    // Records go on their own lines before the end tag, keeping whatever indentation that line has.
    size_t at = places.rootEndTag();
    while (at > root.start && (text[at - 1] == ' ' || text[at - 1] == '\t')) --at;
    company->insert_at_ = at;
  }
  return company;
}

std::vector<std::string_view> Company::WithRecordsAppended(const std::vector<std::string>& indentedRecords,
                                                           const Record* dropped) const {
  std::string_view text = content_;
  std::vector<std::string_view> pieces;
  pieces.reserve(indentedRecords.size() * 2 + 5);
  static const std::string kNewline = "\n";
  if (self_closing_) {
    // A self-closing root holds no records, so there is none to drop.
    static const std::string kOpen = ">\n";
    static const std::string kClose = "</QBStandinCompany>";
    pieces.push_back(text.substr(0, root_tag_close_));
    pieces.push_back(kOpen);
    for (const std::string& record : indentedRecords) {
      pieces.push_back(record);
      pieces.push_back(kNewline);
    }
    pieces.push_back(kClose);
    pieces.push_back(text.substr(insert_at_));
    return pieces;
  }
  std::string_view before = text.substr(0, insert_at_);
  if (dropped != nullptr) {
    size_t begin = static_cast<size_t>(dropped->text.data() - text.data()) - dropped->indent.size();
    size_t end = begin + dropped->indent.size() + dropped->text.size();
    if (text.substr(end).starts_with("\r\n"))
      end += 2;
    else if (text.substr(end).starts_with("\n"))
      end += 1;
    pieces.push_back(text.substr(0, begin));
    before = text.substr(end, insert_at_ - end);
  }
  pieces.push_back(before);
  if (!before.empty() && before.back() != '\n') pieces.push_back(kNewline);
  for (const std::string& record : indentedRecords) {
    pieces.push_back(record);
    pieces.push_back(kNewline);
  }
  pieces.push_back(text.substr(insert_at_));
  return pieces;
}

std::vector<std::string_view> Company::Encoded(std::vector<std::string_view> pieces, std::string& storage) const {
  if (encoding_ == "UTF-8") {
    if (byte_order_mark_) {
      static const std::string kMark = platform::xml::ByteOrderMark("UTF-8");
      pieces.insert(pieces.begin(), kMark);
    }
    return pieces;
  }
  std::string utf8;
  for (std::string_view piece : pieces) utf8.append(piece);
  try {
    storage = platform::xml::FromUtf8(utf8, encoding_, byte_order_mark_);
  } catch (const std::exception& e) {
    throw CompanyError("The company file " + path_.string() + " cannot take the new text in its encoding " + encoding_ +
                       ": " + e.what());
  }
  return {storage};
}

std::shared_ptr<const Company> LoadCompanyCached(const std::filesystem::path& path) {
  struct Key {
    std::filesystem::path path;
    dev_t dev = 0;
    ino_t ino = 0;
    off_t size = 0;
    timespec mtime{};
  };
  static std::mutex mutex;
  static Key cachedKey;
  static std::shared_ptr<const Company> cached;

  struct stat info {};
  if (stat(path.c_str(), &info) != 0) return Company::Load(path);  // raises with the reason
  std::lock_guard<std::mutex> lock(mutex);
  if (cached && cachedKey.path == path && cachedKey.dev == info.st_dev && cachedKey.ino == info.st_ino &&
      cachedKey.size == info.st_size && cachedKey.mtime.tv_sec == info.st_mtim.tv_sec &&
      cachedKey.mtime.tv_nsec == info.st_mtim.tv_nsec) {
    return cached;
  }
  cached = Company::Load(path);
  cachedKey = {path, info.st_dev, info.st_ino, info.st_size, info.st_mtim};
  return cached;
}

std::string EmptyCompanyText(std::string_view versions) {
  return "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<QBStandinCompany qbxmlVersions=\"" +
         platform::xml::EscapeXmlAttribute(versions) + "\">\n</QBStandinCompany>\n";
}

std::string IndentRecord(std::string_view element) {
  std::string out;
  out.reserve(element.size() + element.size() / 8);
  out += "  ";
  for (size_t i = 0; i < element.size(); ++i) {
    out += element[i];
    if (element[i] == '\n' && i + 1 < element.size()) out += "  ";
  }
  while (!out.empty() && out.back() == '\n') out.pop_back();
  return out;
}

}  // namespace standins::quickbooks
