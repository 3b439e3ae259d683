#include "platform/com/state_directory.h"

#include <errno.h>
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <string>

namespace platform::com {
namespace {

std::string Variable(const char* name) {
  const char* value = std::getenv(name);
  return value ? std::string(value) : std::string();
}

std::filesystem::path HomeDirectory() {
  std::string home = Variable("HOME");
  if (home.empty()) {
    // A service account started without HOME still has a home in the password database.
    if (const passwd* entry = getpwuid(getuid()); entry && entry->pw_dir) home = entry->pw_dir;
  }
  return home.empty() ? std::filesystem::path("/") : std::filesystem::path(home);
}

}  // namespace

std::filesystem::path StateDirectory() {
  if (std::string own = Variable("QB_STANDIN_HOME"); !own.empty()) return own;
  if (std::filesystem::path xdg = Variable("XDG_STATE_HOME"); !xdg.empty() && xdg.is_absolute()) {
    return xdg / "qb-standin";
  }
  return HomeDirectory() / ".local" / "state" / "qb-standin";
}

void CreatePrivateDirectory(const std::filesystem::path& dir) {
  if (dir.has_parent_path() && dir.parent_path() != dir) std::filesystem::create_directories(dir.parent_path());
  if (mkdir(dir.c_str(), 0700) == 0) {
    // mkdir applies the umask; chmod does not.
    chmod(dir.c_str(), 0700);
    return;
  }
  if (errno == EEXIST && std::filesystem::is_directory(dir)) return;
  throw std::filesystem::filesystem_error("cannot create the directory", dir,
                                          std::error_code(errno, std::generic_category()));
}

}  // namespace platform::com
