#pragma once

// Finding the qb-standin program and one serve process of it, the channel of the default factory's objects.

#include <filesystem>
#include <optional>
#include <string>
#include <vector>

#include "platform/os/process.h"
#include "platform/qb/standin_wire.h"

namespace platform::qb {

// The stand-in program: $QB_STANDIN when set, else qb-standin next to the running program, else in ../bin
// from it, else the first qb-standin on PATH. Nothing when none is found.
std::optional<std::filesystem::path> FindStandinProgram();

// One "qb-standin serve" process and the socket to it. Calls are synchronous; a stand-in that dies or breaks
// the protocol turns into kv::Error kErrCannotReachQuickBooks and the process is reaped.
class StandinConnection {
 public:
  explicit StandinConnection(std::filesystem::path program) : program_(std::move(program)) {}
  ~StandinConnection() { Stop(); }
  StandinConnection(const StandinConnection&) = delete;
  StandinConnection& operator=(const StandinConnection&) = delete;

  bool Running() const { return fd_ >= 0; }
  // Starts the process unless it runs already.
  void Start();
  // Sends the operation and its arguments and returns the result fields of an "ok" reply; an "error" reply
  // raises kv::Error with its number and description. A call gets KV_COM_TIMEOUT_SECONDS (com::RemoteCallTimeout)
  // for its request and answer; past that it raises kErrQBNoAnswer and the process is killed and reaped, so the
  // next call starts a new one.
  std::vector<std::string> Call(const std::vector<std::string_view>& message);
  // Ends the process: closes the socket (the stand-in ends on end of input) and reaps it, killing it when it
  // has not ended within a few seconds.
  void Stop();

 private:
  void Kill();

  std::filesystem::path program_;
  os::Process process_;
  int fd_ = -1;
};

}  // namespace platform::qb
