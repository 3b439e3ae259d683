#pragma once

// The processes a program of the build started, seen from a test through /proc: to catch the QuickBooks stand-in
// a download talks to, and to wait until it has gone.
//
//   std::optional<pid_t> quickbooks = kv::test::ChildWith(kvpage_pid, "serve");
//   kill(*quickbooks, SIGKILL);
//   kv::test::WaitForExit(*quickbooks);

#include <sys/types.h>

#include <chrono>
#include <optional>
#include <string>

namespace kv::test {

// The pid of a child of `parent` whose command line holds `word`, or nothing.
std::optional<pid_t> ChildWith(pid_t parent, const std::string& word);
// Waits until the process is gone (or ended and not yet reaped); false when it is still running after `limit`.
bool WaitForExit(pid_t pid, std::chrono::milliseconds limit = std::chrono::seconds(15));

}  // namespace kv::test
