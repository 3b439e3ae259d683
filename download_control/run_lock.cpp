// The company file's run lock, taken beside the file.

#include "download_control/run_lock.h"

#include <system_error>
#include <utility>

#include "common/file_identity.h"
#include "platform/base/error.h"

namespace tessarine {
std::filesystem::path RunLock::PathOf(const std::string& company_file) {
  // The same key as the journal's, so that the lock always guards the journal it is taken for.
  return kv::GuardFileOf(company_file, ".tessarine-lock");
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
