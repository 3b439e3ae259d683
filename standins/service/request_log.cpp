// The numbered record of every request in the data directory's received/ folder.

#include "standins/service/request_log.h"

#include <cstdio>
#include <stdexcept>
#include <system_error>
#include <vector>

#include "platform/os/atomic_file.h"

namespace standins::service {
namespace fs = std::filesystem;

namespace {

uint64_t HighestNumber(const fs::path& dir) {
  uint64_t highest = 0;
  std::error_code ec;
  for (fs::directory_iterator it(dir, ec), end; !ec && it != end; it.increment(ec)) {
    const std::string name = it->path().filename().string();
    if (name.size() < 5 || !name.ends_with(".txt")) continue;
    const std::string digits = name.substr(0, name.size() - 4);
    if (digits.empty() || digits.find_first_not_of("0123456789") != std::string::npos) continue;
    highest = std::max<uint64_t>(highest, std::stoull(digits));
  }
  return highest;
}

// Temporary names start with a dot, so that a reader listing "*.txt" never sees them. The records matter only
// to whoever reads them while the stand-in runs: no flush to disk.
void WriteAtomically(const fs::path& dir, const std::string& name, std::string_view first, std::string_view second) {
  try {
    platform::os::ReplaceFileAtomically(dir / name, std::vector<std::string_view>{first, second}, 0644,
                                        platform::os::Flush::kNone);
  } catch (const std::system_error& e) {
    throw std::runtime_error("cannot write the request record " + name + ": " + e.what());
  }
}

}  // namespace

RequestLog::RequestLog(fs::path dir) : dir_(std::move(dir)) {
  fs::create_directories(dir_);
  next_ = HighestNumber(dir_) + 1;
}

uint64_t RequestLog::Record(std::string_view request_line, const RecordedHeaders& headers, std::string_view body) {
  const uint64_t number = next_.fetch_add(1);
  char stem[32];
  std::snprintf(stem, sizeof stem, "%06llu", static_cast<unsigned long long>(number));
  std::string header_text;
  for (const auto& [name, value] : headers) header_text += name + ": " + value + "\n";
  // Headers first: once the .txt is there, a reader may look for its headers.
  WriteAtomically(dir_, std::string(stem) + ".headers", header_text, {});
  WriteAtomically(dir_, std::string(stem) + ".txt", std::string(request_line) + "\n\n", body);
  return number;
}

}  // namespace standins::service
