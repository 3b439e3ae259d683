#pragma once

// Menu picks are handled one at a time, in the order they arrive, whichever server process QuickBooks started
// for each: a pick that comes while another waits on the service waits its turn instead of being lost.

#include <cstdint>
#include <filesystem>

#include "platform/os/file_lock.h"

namespace corvalink {

// Guards taking a place in the queue; each holder keeps its exclusive lock only for a moment.
std::filesystem::path PickLockPath();
// The queue: one file per pick that waits or runs, named by its place, locked by its process for as long as
// the pick lasts. A file left unlocked belongs to a process that died; the next pick removes it.
std::filesystem::path PickQueuePath();

// A pick's turn. The constructor takes the next place and waits until every pick ahead has ended (or its
// process has died); the destructor hands the turn on. Without a usable state directory the pick goes at once:
// it is never refused for a file it could not open.
class PickTurn {
 public:
  PickTurn();
  ~PickTurn();
  PickTurn(const PickTurn&) = delete;
  PickTurn& operator=(const PickTurn&) = delete;

 private:
  void WaitForTurn(uint64_t place) const;

  platform::os::FileLock turn_;
};

}  // namespace corvalink
