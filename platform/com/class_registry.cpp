// The class registry file: reading it, and changing it under a lock so concurrent registrations never lose one.

#include "platform/com/class_registry.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstring>
#include <sstream>
#include <system_error>

#include "platform/base/error.h"
#include "platform/com/state_directory.h"
#include "platform/os/atomic_file.h"
#include "platform/os/file_lock.h"

namespace platform::com {
namespace {

constexpr char kHeader[] = "# ProgID\tCLSID\tserver program";

// A line of the registry file: an entry, or anything else, which is written back unchanged so that a line this
// version does not understand is never lost by a later change.
struct Line {
  std::optional<ServerRegistration> entry;
  std::string raw;
};

bool SameProgId(const std::string& a, const std::string& b) {
  return std::equal(a.begin(), a.end(), b.begin(), b.end(), [](char x, char y) {
    return std::tolower(static_cast<unsigned char>(x)) == std::tolower(static_cast<unsigned char>(y));
  });
}

bool IsValidProgId(const std::string& progId) {
  if (progId.empty() || progId.size() > 39) return false;
  if (std::isdigit(static_cast<unsigned char>(progId.front()))) return false;
  return std::all_of(progId.begin(), progId.end(),
                     [](char c) { return std::isalnum(static_cast<unsigned char>(c)) || c == '.' || c == '_'; });
}

std::optional<ServerRegistration> ParseEntry(const std::string& line) {
  if (line.empty() || line.front() == '#') return std::nullopt;
  const size_t first = line.find('\t');
  if (first == std::string::npos) return std::nullopt;
  const size_t second = line.find('\t', first + 1);
  if (second == std::string::npos) return std::nullopt;
  ServerRegistration entry;
  entry.progId = line.substr(0, first);
  const std::string clsid = line.substr(first + 1, second - first - 1);
  entry.program = line.substr(second + 1);
  if (!IsValidProgId(entry.progId) || !entry.program.is_absolute()) return std::nullopt;
  if (!clsid.empty()) {
    auto guid = ParseGuid(clsid);
    if (!guid) return std::nullopt;
    entry.clsid = *guid;
  }
  return entry;
}

std::string FormatEntry(const ServerRegistration& entry) {
  return entry.progId + "\t" + GuidToString(entry.clsid) + "\t" + entry.program.string();
}

kv::Error FileError(int err, const std::string& what, const std::filesystem::path& path) {
  return kv::Error(err, "The class registry " + path.string() + " could not be " + what + ": " + std::strerror(err));
}

// A folder that was open to others before it was tightened may still hold a registry another user put there: the
// file must be the user's own, and a link in its place is not followed.
std::vector<Line> ReadLines(const std::filesystem::path& path) {
  std::vector<Line> lines;
  const int fd = open(path.c_str(), O_RDONLY | O_NOFOLLOW | O_CLOEXEC);
  if (fd < 0) {
    if (errno == ENOENT) return lines;
    throw FileError(errno, "read", path);
  }
  std::string text;
  struct stat info {};
  int err = fstat(fd, &info) < 0 ? errno : 0;
  if (err == 0 && info.st_uid != geteuid()) {
    close(fd);
    throw kv::Error(kErrPermissionDenied, "The class registry " + path.string() + " belongs to another user (uid " +
                                              std::to_string(info.st_uid) +
                                              "); it is not used. Remove it and register the servers again.");
  }
  char buffer[8192];
  while (err == 0) {
    const ssize_t n = read(fd, buffer, sizeof buffer);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) err = errno;
    if (n <= 0) break;
    text.append(buffer, static_cast<size_t>(n));
  }
  close(fd);
  if (err != 0) throw FileError(err, "read", path);
  std::istringstream in(text);
  for (std::string line; std::getline(in, line);) lines.push_back({ParseEntry(line), line});
  return lines;
}

// The lock is on a side file because the registry file itself is replaced by rename on every change.
platform::os::FileLock LockRegistry(const std::filesystem::path& path) {
  try {
    platform::os::FileLock lock = platform::os::FileLock::Acquire(path);
    // One left readable to others by an older version would let them hold it for good.
    fchmod(lock.fd(), kPrivateFileMode);
    return lock;
  } catch (const std::system_error& e) {
    // Another user's lock file, left from when the folder was open to others, could be held by them for good.
    if (e.code().value() == EPERM) {
      throw kv::Error(kErrPermissionDenied, "The class registry's lock file " + path.string() +
                                                " belongs to another user; it is not used. Remove it.");
    }
    throw FileError(e.code().value(), "locked", path);
  }
}

std::string RegistryText(const std::vector<Line>& lines) {
  std::string text = std::string(kHeader) + "\n";
  for (const Line& line : lines) {
    if (line.raw == kHeader) continue;
    text += (line.entry ? FormatEntry(*line.entry) : line.raw) + "\n";
  }
  return text;
}

// Runs one change of the registry under its lock; change returns false when nothing needs writing.
template <typename Change>
bool ChangeRegistry(Change change) {
  const std::filesystem::path path = ClassRegistryPath();
  OpenPrivateFolder(path.parent_path());
  const platform::os::FileLock lock = LockRegistry(path.string() + ".lock");
  std::vector<Line> lines = ReadLines(path);
  if (!change(lines)) return false;
  try {
    platform::os::ReplaceFileAtomically(path, RegistryText(lines), kPrivateFileMode);
  } catch (const std::system_error& e) {
    throw FileError(e.code().value(), "written", path);
  }
  return true;
}

// The registry's lines for a reader. An entry names the program a menu pick starts, so one in a folder another
// user could have changed is never read.
std::vector<Line> ReadRegistry() {
  const std::filesystem::path path = ClassRegistryPath();
  if (!CheckPrivateFolder(path.parent_path())) return {};
  return ReadLines(path);
}

}  // namespace

std::filesystem::path ClassRegistryPath() {
  return StateDirectory() / "class-registry";
}

void RegisterLocalServer(const ServerRegistration& registration) {
  if (!IsValidProgId(registration.progId)) {
    throw kv::Error(kv::kErrInvalidArgument, "Invalid ProgID \"" + registration.progId + "\"");
  }
  const std::string program = registration.program.string();
  if (!registration.program.is_absolute() || program.find_first_of("\t\r\n") != std::string::npos) {
    throw kv::Error(kv::kErrInvalidArgument, "Invalid server program path \"" + program + "\"");
  }
  ChangeRegistry([&registration](std::vector<Line>& lines) {
    std::erase_if(lines, [&](const Line& l) { return l.entry && SameProgId(l.entry->progId, registration.progId); });
    lines.push_back({registration, FormatEntry(registration)});
    return true;
  });
}

bool UnregisterLocalServer(const std::string& progId) {
  if (!std::filesystem::exists(ClassRegistryPath())) return false;
  return ChangeRegistry([&progId](std::vector<Line>& lines) {
    return std::erase_if(lines, [&](const Line& l) { return l.entry && SameProgId(l.entry->progId, progId); }) > 0;
  });
}

std::optional<ServerRegistration> FindLocalServer(const std::string& progId) {
  for (const Line& line : ReadRegistry()) {
    if (line.entry && SameProgId(line.entry->progId, progId)) return line.entry;
  }
  return std::nullopt;
}

std::vector<ServerRegistration> ListLocalServers() {
  std::vector<ServerRegistration> entries;
  for (const Line& line : ReadRegistry()) {
    if (line.entry) entries.push_back(*line.entry);
  }
  return entries;
}

}  // namespace platform::com
