// The stand-in's state directory: where it is, its files, and the checks on who owns it.

#include "standins/quickbooks/state.h"

#include <errno.h>
#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cctype>
#include <cstring>
#include <sstream>
#include <stdexcept>
#include <vector>

#include "platform/com/state_directory.h"
#include "platform/os/atomic_file.h"

namespace standins::quickbooks {

namespace {

std::runtime_error FileError(const std::string& what, const std::filesystem::path& path, int error) {
  return std::runtime_error(what + " " + path.string() + ": " + std::strerror(error));
}

// Whether an open state file is a regular file of ours; closes it and sets errno to EPERM when not.
bool KeepIfOurs(int fd) {
  struct stat info {};
  if (fstat(fd, &info) == 0 && S_ISREG(info.st_mode) && info.st_uid == geteuid()) return true;
  close(fd);
  errno = EPERM;
  return false;
}

std::string ReadOpened(int fd, const std::filesystem::path& path) {
  std::string content;
  struct stat info {};
  size_t expected = fstat(fd, &info) == 0 && info.st_size > 0 ? static_cast<size_t>(info.st_size) : 0;
  content.reserve(expected + 1);
  // Company files reach hundreds of megabytes; huge pages make filling such a buffer several times faster.
  if (expected >= (size_t{4} << 20)) {
    uintptr_t begin = (reinterpret_cast<uintptr_t>(content.data()) + 4095) & ~uintptr_t{4095};
    uintptr_t end = (reinterpret_cast<uintptr_t>(content.data()) + expected) & ~uintptr_t{4095};
    if (end > begin) madvise(reinterpret_cast<void*>(begin), end - begin, MADV_HUGEPAGE);
  }
  content.resize(expected);
  size_t done = 0;
  char spill[1 << 16];
  while (true) {
    // Into the buffer while the file is as large as it was; a file that grew meanwhile goes on through spill.
    bool inside = done < content.size();
    ssize_t got = inside ? read(fd, content.data() + done, content.size() - done) : read(fd, spill, sizeof spill);
    if (got < 0) {
      if (errno == EINTR) continue;
      int error = errno;
      close(fd);
      throw FileError("cannot read", path, error);
    }
    if (got == 0) break;
    if (!inside) content.append(spill, static_cast<size_t>(got));
    done += static_cast<size_t>(got);
  }
  close(fd);
  content.resize(done);
  return content;
}

}  // namespace

int OpenPrivate(const std::filesystem::path& path, int flags) {
  int fd = open(path.c_str(), flags | O_CREAT | O_NOFOLLOW | O_CLOEXEC, platform::com::kPrivateFileMode);
  if (fd < 0 || !KeepIfOurs(fd)) return -1;
  // open() applies the umask to a new file; fchmod does not.
  fchmod(fd, platform::com::kPrivateFileMode);
  return fd;
}

namespace {

std::string TrimLine(std::string text) {
  while (!text.empty() && (text.back() == '\n' || text.back() == '\r' || text.back() == ' ')) text.pop_back();
  return text;
}

}  // namespace

std::filesystem::path StateDir() {
  std::filesystem::path dir = platform::com::StateDirectory();
  platform::com::CheckPrivateFolder(dir);
  return dir;
}

std::filesystem::path EnsureStateDir() {
  return platform::com::OpenPrivateFolder(platform::com::StateDirectory());
}

std::optional<std::filesystem::path> OpenCompanyFile() {
  const std::optional<std::string> text = ReadStateFile(StateDir() / "open-company");
  if (!text) return std::nullopt;
  std::string path = TrimLine(*text);
  if (path.empty()) return std::nullopt;
  return std::filesystem::path(path);
}

void SetOpenCompanyFile(const std::filesystem::path& path) {
  WriteStateFile(EnsureStateDir() / "open-company", path.string() + "\n");
}

void ClearOpenCompanyFile() {
  std::error_code ec;
  std::filesystem::remove(StateDir() / "open-company", ec);
}

namespace {
std::vector<std::string> DeniedApplications() {
  std::vector<std::string> names;
  const std::optional<std::string> text = ReadStateFile(StateDir() / "denied-applications");
  if (!text) return names;
  std::istringstream in(*text);
  for (std::string line; std::getline(in, line);) {
    if (!line.empty()) names.push_back(line);
  }
  return names;
}
}  // namespace

bool IsAccessDenied(const std::string& appName) {
  for (const std::string& name : DeniedApplications()) {
    if (name == appName) return true;
  }
  return false;
}

void SetAccessDenied(const std::string& appName, bool denied) {
  std::vector<std::string> names = DeniedApplications();
  std::erase(names, appName);
  if (denied) names.push_back(appName);
  std::string text;
  for (const std::string& name : names) text += name + "\n";
  WriteStateFile(EnsureStateDir() / "denied-applications", text);
}

std::filesystem::path AddHeldMarker() {
  return EnsureStateDir() / "add-held";
}

std::filesystem::path SessionHeldMarker() {
  return EnsureStateDir() / "session-held";
}

void HoldWhile(const std::filesystem::path& marker) {
  WriteStateFile(marker, "");
  std::error_code ec;
  // A test's fault only: polled, so the test needs nothing but to remove the file.
  while (std::filesystem::exists(marker, ec)) usleep(2000);
}

std::optional<std::string> TakeFault(std::string_view event) {
  const std::filesystem::path file = StateDir() / "faults";
  std::error_code ec;
  if (!std::filesystem::exists(file, ec)) return std::nullopt;
  // Sessions of several processes take from the same file: one at a time, so none takes a line twice.
  const platform::os::FileLock lock = platform::os::FileLock::Acquire(StateDir() / "faults.lock");
  std::istringstream in(ReadStateFile(file).value_or(""));
  std::string kept;
  std::optional<std::string> taken;
  for (std::string line; std::getline(in, line);) {
    if (!taken) {
      std::istringstream words(line.substr(0, line.find('#')));
      std::string word, rest;
      if (words >> word && word == event) {
        std::getline(words >> std::ws, rest);
        taken = rest;
        continue;
      }
    }
    kept += line + "\n";
  }
  if (taken) WriteStateFile(file, kept);
  return taken;
}

void AddFaults(const std::vector<std::string>& lines) {
  const std::filesystem::path file = EnsureStateDir() / "faults";
  const platform::os::FileLock lock = platform::os::FileLock::Acquire(StateDir() / "faults.lock");
  std::string text = ReadStateFile(file).value_or("");
  for (const std::string& line : lines) text += line + "\n";
  WriteStateFile(file, text);
}

std::vector<std::string> PendingFaults() {
  const std::filesystem::path file = StateDir() / "faults";
  std::error_code ec;
  if (!std::filesystem::exists(file, ec)) return {};
  std::vector<std::string> lines;
  std::istringstream in(ReadStateFile(file).value_or(""));
  for (std::string line; std::getline(in, line);) {
    if (line.find_first_not_of(" \t") != std::string::npos) lines.push_back(line);
  }
  return lines;
}

void ClearFaults() {
  const std::filesystem::path file = StateDir() / "faults";
  std::error_code ec;
  if (!std::filesystem::exists(file, ec)) return;
  const platform::os::FileLock lock = platform::os::FileLock::Acquire(StateDir() / "faults.lock");
  WriteStateFile(file, "");
}

platform::qb::QBVersion LibraryVersion() {
  platform::qb::QBVersion version{3, 0, 0, 0};
  const std::optional<std::string> text = ReadStateFile(StateDir() / "library-version");
  if (!text) return version;
  std::istringstream in(*text);
  int major = 0, minor = 0, level = 0, number = 0;
  if (in >> major >> minor) {
    in >> level >> number;
    version = {static_cast<int16_t>(major), static_cast<int16_t>(minor), static_cast<int16_t>(level),
               static_cast<int16_t>(number)};
  }
  return version;
}

void SetLibraryVersion(const platform::qb::QBVersion& version) {
  WriteStateFile(EnsureStateDir() / "library-version",
                 std::to_string(version.major) + " " + std::to_string(version.minor) + " " +
                     std::to_string(version.releaseLevel) + " " + std::to_string(version.releaseNumber) + "\n");
}

std::string ReadFile(const std::filesystem::path& path) {
  const int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) throw FileError("cannot open", path, errno);
  return ReadOpened(fd, path);
}

std::optional<std::string> ReadStateFile(const std::filesystem::path& path) {
  // O_NONBLOCK: a FIFO planted in the place must not hang the open; it is refused as not a regular file.
  const int fd = open(path.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
  if (fd < 0 && errno == ENOENT) return std::nullopt;
  if (fd < 0 && errno == ELOOP) throw FileError("refusing to read through the link", path, errno);
  if (fd < 0) throw FileError("cannot open", path, errno);
  if (!KeepIfOurs(fd)) throw FileError("refusing to read the file of another user or not a regular file", path, EPERM);
  return ReadOpened(fd, path);
}

void WriteFileAtomically(const std::filesystem::path& path, std::string_view content) {
  WriteFileAtomically(path, std::vector<std::string_view>{content});
}

void WriteStateFile(const std::filesystem::path& path, std::string_view content) {
  WriteFileAtomically(path, std::vector<std::string_view>{content}, platform::com::kPrivateFileMode);
}

void WriteFileAtomically(const std::filesystem::path& path, const std::vector<std::string_view>& pieces,
                         std::optional<unsigned> mode) {
  // Unless told, keep the permissions of the file being replaced, else the usual ones of a new file.
  mode_t fileMode = 0644;
  struct stat info {};
  if (mode)
    fileMode = static_cast<mode_t>(*mode);
  else if (stat(path.c_str(), &info) == 0)
    fileMode = info.st_mode & 07777;
  platform::os::ReplaceFileAtomically(path, pieces, fileMode);
}

namespace {

// The names mkstemp gives: the template's prefix and six letters or digits.
bool IsTemporaryOf(const std::string& name, const std::string& target) {
  const std::string prefix = "." + target + ".";
  if (name.size() != prefix.size() + 6 || !name.starts_with(prefix)) return false;
  for (size_t i = prefix.size(); i < name.size(); ++i) {
    if (!std::isalnum(static_cast<unsigned char>(name[i]))) return false;
  }
  return true;
}

}  // namespace

std::filesystem::path CompanyFileBehindLinks(const std::filesystem::path& path) {
  std::error_code ec;
  const std::filesystem::path file = std::filesystem::canonical(path, ec);
  return ec ? path : file;
}

void RemoveLeftoverTemporaries(const std::filesystem::path& named) {
  const std::filesystem::path path = CompanyFileBehindLinks(named);
  std::filesystem::path dir = path.parent_path().empty() ? std::filesystem::path(".") : path.parent_path();
  const std::string target = path.filename().string();
  std::error_code ec;
  std::filesystem::directory_iterator entries(dir, ec);
  if (ec) return;  // nothing can be cleaned where nothing can be listed; the write itself reports the folder
  for (const std::filesystem::directory_entry& entry : entries) {
    if (!IsTemporaryOf(entry.path().filename().string(), target)) continue;
    struct stat info {};
    // Only regular files of ours: never follow a link planted under such a name.
    if (lstat(entry.path().c_str(), &info) == 0 && S_ISREG(info.st_mode) && info.st_uid == geteuid()) {
      unlink(entry.path().c_str());
    }
  }
}

platform::os::FileLock LockCompanyFile(const std::filesystem::path& path) {
  platform::os::FileLock lock = platform::os::FileLock::Acquire(
      CompanyFileBehindLinks(path), platform::os::LockMode::kExclusive, platform::os::LockOpen::kExisting);
  if (!lock.Held()) throw FileError("cannot open", path, ENOENT);
  return lock;
}

}  // namespace standins::quickbooks
