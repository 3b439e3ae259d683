#include "standins/quickbooks/state.h"

#include <errno.h>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cctype>
#include <cstring>
#include <sstream>
#include <stdexcept>
#include <vector>

#include "platform/com/state_directory.h"

namespace standins::quickbooks {

namespace {

std::runtime_error FileError(const std::string& what, const std::filesystem::path& path, int error) {
  return std::runtime_error(what + " " + path.string() + ": " + std::strerror(error));
}

void WriteFully(int fd, std::string_view bytes, const std::filesystem::path& path) {
  while (!bytes.empty()) {
    ssize_t written = write(fd, bytes.data(), bytes.size());
    if (written < 0) {
      if (errno == EINTR) continue;
      throw FileError("cannot write", path, errno);
    }
    bytes.remove_prefix(static_cast<size_t>(written));
  }
}

}  // namespace

int OpenPrivate(const std::filesystem::path& path, int flags) {
  int fd = open(path.c_str(), flags | O_CREAT | O_CLOEXEC, platform::com::kPrivateFileMode);
  // open() applies the umask to a new file; fchmod does not.
  if (fd >= 0) fchmod(fd, platform::com::kPrivateFileMode);
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
  std::filesystem::path file = StateDir() / "open-company";
  std::error_code ec;
  if (!std::filesystem::exists(file, ec)) return std::nullopt;
  std::string path = TrimLine(ReadFile(file));
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
  std::filesystem::path file = StateDir() / "denied-applications";
  std::error_code ec;
  if (!std::filesystem::exists(file, ec)) return names;
  std::istringstream in(ReadFile(file));
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

std::optional<std::string> TakeFault(std::string_view event) {
  const std::filesystem::path file = StateDir() / "faults";
  std::error_code ec;
  if (!std::filesystem::exists(file, ec)) return std::nullopt;
  // Sessions of several processes take from the same file: one at a time, so none takes a line twice.
  FileLock lock = FileLock::Exclusive(StateDir() / "faults.lock");
  std::istringstream in(ReadFile(file));
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
  FileLock lock = FileLock::Exclusive(StateDir() / "faults.lock");
  std::error_code ec;
  std::string text = std::filesystem::exists(file, ec) ? ReadFile(file) : "";
  for (const std::string& line : lines) text += line + "\n";
  WriteStateFile(file, text);
}

platform::qb::QBVersion LibraryVersion() {
  platform::qb::QBVersion version{3, 0, 0, 0};
  std::filesystem::path file = StateDir() / "library-version";
  std::error_code ec;
  if (!std::filesystem::exists(file, ec)) return version;
  std::istringstream in(ReadFile(file));
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
  int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) throw FileError("cannot open", path, errno);
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

void WriteFileAtomically(const std::filesystem::path& path, std::string_view content) {
  WriteFileAtomically(path, std::vector<std::string_view>{content});
}

void WriteStateFile(const std::filesystem::path& path, std::string_view content) {
  WriteFileAtomically(path, std::vector<std::string_view>{content}, platform::com::kPrivateFileMode);
}

void WriteFileAtomically(const std::filesystem::path& path, const std::vector<std::string_view>& pieces,
                         std::optional<unsigned> mode) {
  std::filesystem::path dir = path.parent_path().empty() ? std::filesystem::path(".") : path.parent_path();
  std::string hidden_name(".");
  hidden_name.append(path.filename().string()).append(".XXXXXX");
  std::string pattern = (dir / hidden_name).string();
  std::vector<char> name(pattern.begin(), pattern.end());
  name.push_back('\0');
  int fd = mkstemp(name.data());
  if (fd < 0) throw FileError("cannot create a temporary file beside", path, errno);
  std::filesystem::path temporary(name.data());
  try {
    // Unless told, keep the permissions of the file being replaced, else the usual ones of a new file.
    struct stat info {};
    mode_t fileMode = 0644;
    if (mode)
      fileMode = static_cast<mode_t>(*mode);
    else if (stat(path.c_str(), &info) == 0)
      fileMode = info.st_mode & 07777;
    fchmod(fd, fileMode);
    for (std::string_view piece : pieces) WriteFully(fd, piece, temporary);
    if (fsync(fd) != 0) throw FileError("cannot flush", temporary, errno);
    if (close(fd) != 0) {
      fd = -1;
      throw FileError("cannot close", temporary, errno);
    }
    fd = -1;
    if (rename(temporary.c_str(), path.c_str()) != 0) throw FileError("cannot replace", path, errno);
  } catch (...) {
    if (fd >= 0) close(fd);
    unlink(temporary.c_str());
    throw;
  }
  // The rename is done and seen by every reader: a directory that cannot be flushed is no reason to call the
  // write failed, which would have its caller report a saved record as lost.
  int dirFd = open(dir.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (dirFd >= 0) {
    fsync(dirFd);
    close(dirFd);
  }
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

void RemoveLeftoverTemporaries(const std::filesystem::path& path) {
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

FileLock& FileLock::operator=(FileLock&& other) noexcept {
  if (this != &other) {
    if (fd_ >= 0) close(fd_);
    fd_ = other.fd_;
    other.fd_ = -1;
  }
  return *this;
}

FileLock::~FileLock() {
  if (fd_ >= 0) close(fd_);
}

FileLock FileLock::Exclusive(const std::filesystem::path& path) {
  int fd = OpenPrivate(path, O_RDWR);
  if (fd < 0) throw FileError("cannot open the lock file", path, errno);
  while (flock(fd, LOCK_EX) != 0) {
    if (errno != EINTR) {
      int error = errno;
      close(fd);
      throw FileError("cannot lock", path, error);
    }
  }
  return FileLock(fd);
}

FileLock FileLock::TryLock(const std::filesystem::path& path, bool exclusive) {
  int fd = OpenPrivate(path, O_RDWR);
  if (fd < 0) throw FileError("cannot open the lock file", path, errno);
  if (flock(fd, (exclusive ? LOCK_EX : LOCK_SH) | LOCK_NB) != 0) {
    int error = errno;
    close(fd);
    if (error == EWOULDBLOCK) return FileLock();
    throw FileError("cannot lock", path, error);
  }
  return FileLock(fd);
}

FileLock FileLock::ExclusiveOnReplacedFile(const std::filesystem::path& path) {
  while (true) {
    int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) throw FileError("cannot open", path, errno);
    while (flock(fd, LOCK_EX) != 0) {
      if (errno != EINTR) {
        int error = errno;
        close(fd);
        throw FileError("cannot lock", path, error);
      }
    }
    struct stat locked {};
    struct stat current {};
    if (fstat(fd, &locked) == 0 && stat(path.c_str(), &current) == 0 && locked.st_dev == current.st_dev &&
        locked.st_ino == current.st_ino) {
      return FileLock(fd);
    }
    // Another process replaced the file while we waited: the lock we hold guards a file nobody reads any more.
    close(fd);
  }
}

}  // namespace standins::quickbooks
