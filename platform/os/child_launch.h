#pragma once

// The child's side of starting a process (process.cpp): what it needs prepared before fork, and its steps
// between fork and exec. Internal to platform/os.

#include <fcntl.h>
#include <sys/types.h>
#include <unistd.h>

#include <cerrno>
#include <optional>
#include <string>
#include <system_error>
#include <utility>
#include <vector>

#include "platform/os/process.h"

namespace platform::os::child {

// What failed in the child before exec, as it reports it over the error pipe.
enum class Step : int { kExec, kStdin, kStdout, kStderr, kDescriptor, kDirectory, kSession };

struct ChildReport {
  int step = 0;
  int error = 0;
};

// One standard stream or handed-over descriptor as the child sets it up.
struct Placement {
  int target = -1;
  Redirect::Kind kind = Redirect::Kind::kInherit;
  int source = -1;  // kPipe, kDescriptor: our descriptor; kStream: the child's stream
  const char* path = nullptr;
  int flags = 0;
  Step step = Step::kDescriptor;
};

// Everything the child needs, prepared before fork: after it only async-signal-safe calls are made.
struct ChildPlan {
  std::string program;
  std::vector<std::string> argv_text;
  std::vector<char*> argv;
  std::vector<std::string> env_text;
  std::vector<char*> envp;
  std::string directory;
  std::vector<Placement> placements;
  std::vector<int> kept;  // the handed-over descriptors' numbers in the child, in order
  const Launch* launch = nullptr;
  pid_t parent = -1;
  int report_fd = -1;
};

// A close-on-exec pipe; the ends not taken close with it.
class Pipe {
 public:
  Pipe() {
    if (pipe2(fds_, O_CLOEXEC) != 0) throw std::system_error(errno, std::generic_category(), "cannot make a pipe");
  }
  ~Pipe() {
    CloseRead();
    CloseWrite();
  }
  Pipe(const Pipe&) = delete;
  Pipe& operator=(const Pipe&) = delete;
  int read_end() const { return fds_[0]; }
  int write_end() const { return fds_[1]; }
  int TakeRead() { return std::exchange(fds_[0], -1); }
  int TakeWrite() { return std::exchange(fds_[1], -1); }
  void CloseRead() {
    if (fds_[0] >= 0) close(std::exchange(fds_[0], -1));
  }
  void CloseWrite() {
    if (fds_[1] >= 0) close(std::exchange(fds_[1], -1));
  }

 private:
  int fds_[2] = {-1, -1};
};

// Resolves the program and builds its argument vector and environment.
void Prepare(const Launch& launch, ChildPlan& plan);
// Where standard stream `target` comes from in the child.
Placement PlaceStream(int target, const Redirect& redirect, int pipe_child_end);
// Runs in the child between fork and exec: async-signal-safe calls only. Never returns.
[[noreturn]] void Exec(ChildPlan& plan);
[[noreturn]] void Fail(int report_fd, Step step, int error);
// Waits for the child's exec: the report pipe closes on success, or carries what failed.
std::optional<ChildReport> ReadReport(int fd);
// The error a failed start raises, naming the program and the step.
std::system_error Failure(const ChildReport& report, const ChildPlan& plan);

}  // namespace platform::os::child
