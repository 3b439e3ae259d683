// The service stand-in's data directory: accounts, pending lines, scripted answers, faults, transfers.

#include "standins/service/data_dir.h"

#include <charconv>
#include <fstream>
#include <sstream>

#include "platform/base/text.h"
#include "platform/os/atomic_file.h"

namespace standins::service {
namespace fs = std::filesystem;

namespace {

std::string ReadWhole(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  if (!in) return {};
  std::ostringstream out;
  out << in.rdbuf();
  return out.str();
}

std::vector<std::string> Lines(std::string_view text) {
  std::vector<std::string> lines = kv::Split(text, "\n");
  for (std::string& line : lines) {
    if (!line.empty() && line.back() == '\r') line.pop_back();
  }
  return lines;
}

std::vector<std::pair<std::string, std::string>> NameValueLines(std::string_view text) {
  std::vector<std::pair<std::string, std::string>> params;
  for (const std::string& line : Lines(text)) {
    if (line.empty() || line.front() == '#') continue;
    const size_t eq = line.find('=');
    if (eq == std::string::npos) continue;
    params.emplace_back(std::string(kv::TrimBlanks(std::string_view(line).substr(0, eq))), line.substr(eq + 1));
  }
  return params;
}

std::optional<uint64_t> ParseNumber(std::string_view text) {
  uint64_t value = 0;
  const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
  if (error != std::errc() || end != text.data() + text.size() || text.empty()) return std::nullopt;
  return value;
}

}  // namespace

DataDir::DataDir(fs::path root) : root_(std::move(root)) {}

std::optional<std::string> DataDir::TakeScripted(std::string_view folder, std::string_view page) {
  const fs::path dir = root_ / folder;
  std::error_code ec;
  if (!fs::is_directory(dir, ec)) return std::nullopt;
  const std::string wanted = kv::ToLowerAscii(page);
  std::lock_guard lock(queue_mutex_);
  std::optional<fs::path> single;
  std::optional<std::pair<uint64_t, fs::path>> first_queued;
  for (fs::directory_iterator it(dir, ec), end; !ec && it != end; it.increment(ec)) {
    const std::string name = kv::ToLowerAscii(it->path().filename().string());
    if (name == wanted) {
      single = it->path();
    } else if (name.size() > wanted.size() + 1 && name.starts_with(wanted) && name[wanted.size()] == '.') {
      const auto number = ParseNumber(std::string_view(name).substr(wanted.size() + 1));
      if (number && (!first_queued || *number < first_queued->first)) first_queued.emplace(*number, it->path());
    }
  }
  if (first_queued) {
    std::string text = ReadWhole(first_queued->second);
    fs::path used = first_queued->second;
    used += ".used";
    fs::rename(first_queued->second, used, ec);
    return text;
  }
  if (single) return ReadWhole(*single);
  return std::nullopt;
}

std::optional<std::string> DataDir::TakeAnswer(std::string_view page) {
  return TakeScripted("answers", page);
}

Fault DataDir::TakeFault(std::string_view page) {
  const auto text = TakeScripted("faults", page);
  return text ? ParseFault(*text) : Fault{};
}

Fault ParseFault(std::string_view text) {
  Fault fault;
  for (const std::string& raw : Lines(text)) {
    const std::string_view line = kv::TrimBlanks(raw);
    if (line.empty() || line.front() == '#') continue;
    const size_t blank = line.find(' ');
    const std::string_view word = line.substr(0, blank);
    const std::string_view arg =
        blank == std::string_view::npos ? std::string_view() : kv::TrimBlanks(line.substr(blank));
    if (word == "drop") {
      fault.drop = true;
    } else if (word == "delay-ms") {
      if (const auto ms = ParseNumber(arg)) fault.delay = std::chrono::milliseconds(*ms);
    } else if (word == "answer-lost") {
      fault.answer_lost = true;
    } else if (word == "chunked") {
      fault.chunked = true;
    } else if (word == "redirect") {
      fault.redirect = std::string(arg);
    } else if (word == "trickle-ms") {
      if (const auto ms = ParseNumber(arg)) fault.trickle = std::chrono::milliseconds(*ms);
    } else if (word == "status") {
      if (const auto code = ParseNumber(arg); code && *code >= 100 && *code <= 999)
        fault.status = static_cast<int>(*code);
    }
  }
  return fault;
}

std::string DataDir::ReadFile(std::string_view name) const {
  return ReadWhole(root_ / name);
}

std::optional<std::vector<std::string>> DataDir::AccountLines(std::string_view user, std::string_view password) const {
  for (const std::string& line : Lines(ReadFile("accounts.txt"))) {
    if (line.empty() || line.front() == '#') continue;
    std::vector<std::string> fields = kv::Split(line, "\t");
    if (fields.size() < 2 || fields[0] != user || fields[1] != password) continue;
    fields.erase(fields.begin(), fields.begin() + 2);
    return fields;
  }
  return std::nullopt;
}

std::vector<std::pair<std::string, std::string>> DataDir::PageParams() const {
  return NameValueLines(ReadFile("page-params.txt"));
}

std::optional<std::vector<std::string>> DataDir::SiteLines(std::string_view code, std::string_view key) const {
  const std::string site = CanonicalSite(code);
  for (const std::string& line : Lines(ReadFile("accounts.txt"))) {
    if (line.empty() || line.front() == '#') continue;
    std::vector<std::string> fields = kv::Split(line, "\t");
    if (fields.size() < 4 || CanonicalSite(fields[2]) != site || fields[3] != key) continue;
    fields.erase(fields.begin(), fields.begin() + 2);
    return fields;
  }
  return std::nullopt;
}

bool DataDir::IsSite(std::string_view code, std::string_view key) const {
  std::error_code ec;
  if (!fs::exists(root_ / "accounts.txt", ec)) return true;
  return SiteLines(code, key).has_value();
}

std::vector<std::pair<std::string, std::string>> DataDir::SiteParams(std::string_view code) const {
  const std::string wanted = kv::ToLowerAscii(CanonicalSite(code)) + ".txt";
  std::error_code ec;
  for (fs::directory_iterator it(root_ / "sites", ec), end; !ec && it != end; it.increment(ec)) {
    if (kv::ToLowerAscii(it->path().filename().string()) == wanted) return NameValueLines(ReadWhole(it->path()));
  }
  return {};
}

std::set<RecordKey> DataDir::Transferred(std::string_view code) const {
  return TransferredOf(ReadFile("transferred.txt"), CanonicalSite(code));
}

void DataDir::MarkTransferred(std::string_view code, const std::vector<RecordKey>& records) {
  std::lock_guard lock(transfer_mutex_);
  const std::string before = ReadFile("transferred.txt");
  const std::string after = WithTransferred(before, CanonicalSite(code), records);
  if (after != before) platform::os::ReplaceFileAtomically(root_ / "transferred.txt", after, 0644);
}

}  // namespace standins::service
