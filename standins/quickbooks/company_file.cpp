#include "standins/quickbooks/company_file.h"

#include <sys/stat.h>

#include <mutex>

#include "platform/qb/xml_text.h"
#include "standins/quickbooks/state.h"
#include "standins/quickbooks/xml_scan.h"

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

// The position of the root's start tag, after the prolog (declaration, comments, instructions, doctype).
size_t RootStart(std::string_view text) {
  size_t pos = 0;
  if (text.starts_with("\xEF\xBB\xBF")) pos = 3;
  while (pos < text.size()) {
    if (IsBlank(text[pos])) {
      ++pos;
      continue;
    }
    if (text[pos] != '<') throw XmlScanError("text before the root element", pos);
    std::string_view rest = text.substr(pos);
    std::string_view close;
    if (rest.starts_with("<?"))
      close = "?>";
    else if (rest.starts_with("<!--"))
      close = "-->";
    else if (rest.starts_with("<!"))
      close = ">";
    else
      return pos;
    size_t end = text.find(close, pos + 2);
    if (end == std::string_view::npos) throw XmlScanError("unterminated markup before the root element", pos);
    pos = end + close.size();
  }
  throw XmlScanError("no root element", pos);
}

}  // namespace

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
  company->content_ = std::move(content);
  std::string_view text = company->content_;
  try {
    size_t rootStart = RootStart(text);
    std::vector<ElementSpan> children;
    ElementSpan root = ScanElement(text, rootStart, &children);
    if (root.name != kRootElement) {
      throw XmlScanError(
          "the root element is <" + std::string(root.name) + ">, not <" + std::string(kRootElement) + ">", rootStart);
    }
    // Comments and instructions may follow the root; anything else would be a second root.
    size_t pos = root.end;
    while (pos < text.size()) {
      if (IsBlank(text[pos])) {
        ++pos;
        continue;
      }
      std::string_view rest = text.substr(pos);
      std::string_view close = rest.starts_with("<!--") ? "-->" : rest.starts_with("<?") ? "?>" : "";
      if (close.empty()) throw XmlScanError("content after the root element", pos);
      size_t end = text.find(close, pos + 2);
      if (end == std::string_view::npos) throw XmlScanError("unterminated markup after the root element", pos);
      pos = end + close.size();
    }
    std::optional<std::string> versions = AttributeOf(text, root, "qbxmlVersions");
    company->versions_ = SplitBlanks(versions ? *versions : std::string(kDefaultVersions));
    company->records_.reserve(children.size());
    for (const ElementSpan& child : children) {
      size_t lineStart = child.begin;
      while (lineStart > 0 && (text[lineStart - 1] == ' ' || text[lineStart - 1] == '\t')) --lineStart;
      std::string_view indent;
      if (lineStart == 0 || text[lineStart - 1] == '\n') indent = text.substr(lineStart, child.begin - lineStart);
      company->records_.push_back({child.name, text.substr(child.begin, child.end - child.begin), indent});
    }
    if (root.end == root.contentBegin && root.contentBegin == root.contentEnd &&
        text.substr(root.begin, root.end - root.begin).ends_with("/>")) {
      company->self_closing_ = true;
      company->root_tag_close_ = root.end - 2;
      company->insert_at_ = root.end;
    } else {
      // Records go on their own lines before the end tag, keeping whatever indentation that line has.
      size_t at = root.contentEnd;
      while (at > root.contentBegin && (text[at - 1] == ' ' || text[at - 1] == '\t')) --at;
      company->insert_at_ = at;
    }
  } catch (const XmlScanError& e) {
    throw CompanyError("The company file " + path.string() + " is not well-formed (line " +
                       std::to_string(LineOf(text, e.offset)) + "): " + e.what() + ".");
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
         platform::qb::EscapeXmlAttribute(versions) + "\">\n</QBStandinCompany>\n";
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
