#include "standins/service/request_log.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <stdexcept>

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

void WriteAll(int fd, std::string_view data) {
  while (!data.empty()) {
    const ssize_t n = write(fd, data.data(), data.size());
    if (n < 0) {
      if (errno == EINTR) continue;
      throw std::runtime_error(std::string("cannot write the request record: ") + std::strerror(errno));
    }
    data.remove_prefix(static_cast<size_t>(n));
  }
}

// Temporary names start with a dot, so that a reader listing "*.txt" never sees them.
void WriteAtomically(const fs::path& dir, const std::string& name, std::string_view first, std::string_view second) {
  const fs::path temp = dir / ("." + name + ".tmp");
  const int fd = open(temp.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
  if (fd < 0) throw std::runtime_error("cannot create " + temp.string() + ": " + std::strerror(errno));
  try {
    WriteAll(fd, first);
    WriteAll(fd, second);
  } catch (...) {
    close(fd);
    unlink(temp.c_str());
    throw;
  }
  close(fd);
  if (rename(temp.c_str(), (dir / name).c_str()) != 0) {
    unlink(temp.c_str());
    throw std::runtime_error("cannot name the request record " + name + ": " + std::strerror(errno));
  }
}

}  // namespace

RequestLog::RequestLog(fs::path dir) : dir_(std::move(dir)) {
  fs::create_directories(dir_);
  next_ = HighestNumber(dir_) + 1;
}

uint64_t RequestLog::Record(std::string_view request_line,
                            const std::vector<std::pair<std::string, std::string>>& headers, std::string_view body) {
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
