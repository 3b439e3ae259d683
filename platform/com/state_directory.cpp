#include "platform/com/state_directory.h"

#include <pwd.h>
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

}  // namespace platform::com
