#pragma once

// Counts an event loop's waits, for tests that tell a wait that blocks from one that spins without timing either:
// every wait asks each source what to watch first, so a loop that spins waits thousands of times a second and one
// that blocks waits once for each thing that happens, however busy the machine.

#include <poll.h>

#include <span>
#include <vector>

#include "platform/forms/event_loop.h"

namespace kv::test {

class WaitCounter final : public platform::forms::EventSource {
 public:
  explicit WaitCounter(platform::forms::EventLoop& loop) : loop_(loop) { loop_.AddSource(this); }
  ~WaitCounter() override { loop_.RemoveSource(this); }
  WaitCounter(const WaitCounter&) = delete;
  WaitCounter& operator=(const WaitCounter&) = delete;
  int Prepare(std::vector<pollfd>&) override {
    ++waits;
    return -1;
  }
  void Dispatch(std::span<const pollfd>) override {}
  int waits = 0;

 private:
  platform::forms::EventLoop& loop_;
};

}  // namespace kv::test
