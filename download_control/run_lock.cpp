#include "download_control/run_lock.h"

#include <system_error>
#include <utility>

#include "platform/base/error.h"

namespace tessarine {
namespace {

namespace fs = std::filesystem;

// The file the path leads to: links and "." or ".." steps lead to the same lock. Not its inode, which changes
// whenever a program saves the file by writing a new one in its place.
fs::path CompanyIdentity(const std::string& company_file) {
  std::error_code ec;
  const fs::path absolute = fs::absolute(company_file, ec);
  if (ec) return company_file;
  const fs::path canonical = fs::weakly_canonical(absolute, ec);
  return ec ? absolute.lexically_normal() : canonical;
}

}  // namespace

fs::path RunLock::PathOf(const std::string& company_file) {
  const fs::path company = CompanyIdentity(company_file);
  // Appended piece by piece: GCC 12 at -O3 takes "." + std::string&& for an overlapping copy (-Wrestrict).
  std::string name = ".";
  name += company.filename().string();
  name += ".tessarine-lock";
  return company.parent_path() / name;
}

std::optional<RunLock> RunLock::TryTake(const std::string& company_file) {
  try {
    // Never through a link, never another user's file: either would let someone else decide which file this
    // run creates or whether any download can run at all.
    platform::os::FileLock lock = platform::os::FileLock::TryAcquire(PathOf(company_file));
    if (!lock.Held()) return std::nullopt;
    return RunLock(std::move(lock));
  } catch (const std::system_error& e) {
    throw kv::Error(e.code().value(), std::string(e.what()) + "; no download can run until it is removed.");
  }
}

}  // namespace tessarine
