// The processes a program of the build started, seen through /proc (child_process.h).

#include "tests/support/programs/child_process.h"

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <filesystem>
#include <sstream>
#include <system_error>
#include <thread>
#include <utility>

namespace kv::test {

namespace fs = std::filesystem;

namespace {

// A file of /proc, or "" when the process is gone: its files fail to read then, which a stream would throw for.
std::string ReadProcFile(const fs::path& path) {
  std::string text;
  const int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) return text;
  char buffer[4096];
  for (ssize_t n; (n = read(fd, buffer, sizeof buffer)) > 0;) text.append(buffer, static_cast<size_t>(n));
  close(fd);
  return text;
}

// The state letter and the parent of a process, from its stat file; nothing when it is gone.
std::optional<std::pair<char, pid_t>> StateOf(const fs::path& process) {
  const std::string text = ReadProcFile(process / "stat");
  const size_t end_of_name = text.rfind(')');
  if (end_of_name == std::string::npos) return std::nullopt;
  std::istringstream fields(text.substr(end_of_name + 1));
  char state = 0;
  pid_t ppid = 0;
  if (!(fields >> state >> ppid)) return std::nullopt;
  return std::make_pair(state, ppid);
}

}  // namespace

std::optional<pid_t> ChildWith(pid_t parent, const std::string& word) {
  std::error_code ec;
  for (fs::directory_iterator entry("/proc", ec), end; !ec && entry != end; entry.increment(ec)) {
    const std::string name = entry->path().filename().string();
    if (name.empty() || !std::all_of(name.begin(), name.end(), [](unsigned char c) { return std::isdigit(c); })) {
      continue;
    }
    const auto state = StateOf(entry->path());
    if (!state || state->second != parent) continue;
    if (ReadProcFile(entry->path() / "cmdline").find(word) != std::string::npos) {
      return static_cast<pid_t>(std::stol(name));
    }
  }
  return std::nullopt;
}

bool WaitForExit(pid_t pid, std::chrono::milliseconds limit) {
  const auto end = std::chrono::steady_clock::now() + limit;
  for (;;) {
    const auto state = StateOf("/proc/" + std::to_string(pid));
    if (!state || state->first == 'Z') return true;
    if (std::chrono::steady_clock::now() > end) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
}

}  // namespace kv::test
