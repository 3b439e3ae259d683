// The queue that keeps picks in the order they came, across the agent's processes.

#include "menu_agent/pick_queue.h"

#include <algorithm>
#include <charconv>
#include <iostream>
#include <map>
#include <string>
#include <system_error>

#include "platform/base/error.h"
#include "platform/com/state_directory.h"

namespace corvalink {
namespace {

using platform::os::FileLock;
using platform::os::LockMode;
using platform::os::LockOpen;

// Places are named with a fixed width, so that the queue folder lists them in order.
constexpr size_t kPlaceDigits = 20;

std::string PlaceName(uint64_t place) {
  std::string digits = std::to_string(place);
  return std::string(kPlaceDigits - std::min(kPlaceDigits, digits.size()), '0') + digits;
}

// The places in the queue now, in order; names that are no place are not the queue's.
std::map<uint64_t, std::filesystem::path> Places() {
  std::map<uint64_t, std::filesystem::path> places;
  std::error_code ec;
  for (std::filesystem::directory_iterator it(PickQueuePath(), ec), end; !ec && it != end; it.increment(ec)) {
    const std::string name = it->path().filename().string();
    uint64_t place = 0;
    const auto [last, error] = std::from_chars(name.data(), name.data() + name.size(), place);
    if (error == std::errc() && last == name.data() + name.size() && name.size() == kPlaceDigits) {
      places.emplace(place, it->path());
    }
  }
  return places;
}

}  // namespace

std::filesystem::path PickLockPath() {
  return platform::com::StateDirectory() / "corvalink-pick.lock";
}

std::filesystem::path PickQueuePath() {
  return platform::com::StateDirectory() / "corvalink-picks";
}

PickTurn::PickTurn() {
  // The queue lives in the stand-in's state folder, which must be this user's alone. One another user could
  // change is not used: the pick goes at once, as without a usable folder.
  try {
    platform::com::OpenPrivateFolder(platform::com::StateDirectory());
    platform::com::OpenPrivateFolder(PickQueuePath());
  } catch (const kv::Error& e) {
    std::cerr << "corvalink: " << e.description() << "\n";
    return;
  }
  try {
    uint64_t place = 0;
    {
      const FileLock guard = FileLock::Acquire(PickLockPath());
      const auto places = Places();
      place = places.empty() ? 1 : places.rbegin()->first + 1;
      // Taken before the guard goes: no one may see the new place unheld and take it for a dead one.
      turn_ = FileLock::TryAcquire(PickQueuePath() / PlaceName(place), LockMode::kExclusive, LockOpen::kNew);
      if (!turn_.Held()) return;
    }
    WaitForTurn(place);
  } catch (const std::system_error&) {
    // The pick goes at once: it is never refused for a file that could not be had.
  }
}

PickTurn::~PickTurn() {
  // The name goes before the lock, so that the place is never seen unheld.
  turn_.RemoveAndRelease();
}

void PickTurn::WaitForTurn(uint64_t place) const {
  while (true) {
    FileLock ahead;
    {
      const FileLock guard = FileLock::Acquire(PickLockPath());
      for (const auto& [other, file] : Places()) {
        if (other >= place) break;
        FileLock probe = FileLock::TryAcquire(file, LockMode::kShared, LockOpen::kExisting);
        if (probe.Busy()) {
          ahead = std::move(probe);
          break;
        }
        // A file nobody holds was left by a process that died: it goes, so that no later pick looks at it again.
        probe.RemoveAndRelease();
      }
    }
    if (!ahead.Busy()) return;
    // Sleeps until the pick ahead ends: its process lets go of the file when the pick is over or when it dies.
    ahead.Wait();
  }
}

}  // namespace corvalink
