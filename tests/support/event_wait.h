#pragma once

// How long a test waits for an event it means (a request recorded, a file appearing, a prompt shown) before it
// gives up: far beyond what a loaded machine (ctest -j$(nproc), the sanitizers) takes for any of them, and well
// inside ctest's time-out, so a fault shows as a failed wait rather than a hang, and load never fails a test.

#include <chrono>

namespace kv::test {

inline constexpr std::chrono::minutes kEventWait{3};

}  // namespace kv::test
