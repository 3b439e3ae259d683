#pragma once

// Starting other programs. Every process the system starts goes through Process::Start (or StartDetached),
// so that the rules hold everywhere: only async-signal-safe calls between fork and exec, descriptors above the
// standard streams closed unless handed over, and a program that cannot be started reported as an error here
// rather than as an exit status of 127 later.
//
//   platform::os::Launch launch{{"qb-standin", "serve"}};
//   launch.out = platform::os::Redirect::Pipe();
//   platform::os::Process child = platform::os::Process::Start(launch);
//   ... read child.StdoutFd() ...
//   platform::os::ExitStatus status = child.Wait();

#include <sys/types.h>

#include <chrono>
#include <filesystem>
#include <functional>
#include <optional>
#include <string>
#include <utility>
#include <vector>

namespace platform::os {

// What one standard stream of the started program is.
struct Redirect {
  enum class Kind { kInherit, kNull, kPipe, kFile, kDescriptor, kStream };
  Kind kind = Kind::kInherit;
  std::filesystem::path path;  // kFile
  int flags = 0;               // kFile: open(2) flags
  int fd = -1;                 // kDescriptor: ours, duplicated; kStream: the child's stream number

  static Redirect Inherit() { return {}; }
  static Redirect Null() { return {Kind::kNull, {}, 0, -1}; }
  // A pipe whose other end the Process holds (StdinFd, StdoutFd, StderrFd).
  static Redirect Pipe() { return {Kind::kPipe, {}, 0, -1}; }
  // Opened in the child, after a new session is made, so a terminal opened here becomes its controlling one.
  static Redirect File(std::filesystem::path path, int flags) { return {Kind::kFile, std::move(path), flags, -1}; }
  static Redirect ReadFrom(std::filesystem::path path);
  static Redirect WriteTo(std::filesystem::path path);  // created 0600 or truncated
  static Redirect Descriptor(int fd) { return {Kind::kDescriptor, {}, 0, fd}; }
  // The same as the child's standard stream `number`, set before this one (stdin, then stdout, then stderr).
  static Redirect Stream(int number) { return {Kind::kStream, {}, 0, number}; }
};

struct Launch {
  // argv[0] names the program; without a slash it is looked up on PATH.
  std::vector<std::string> argv;
  // Set in the child on top of this process's environment, replacing variables of the same name.
  std::vector<std::pair<std::string, std::string>> env;
  // The child's working folder; empty for ours.
  std::filesystem::path directory;
  Redirect in, out, err;
  // Our descriptors handed to the child under the given numbers (above 2): {child's number, ours}.
  std::vector<std::pair<int, int>> descriptors;
  bool new_session = false;        // no controlling terminal, as when a desktop starts a program
  bool new_process_group = false;  // Ctrl-C at our terminal does not reach it
  bool end_with_parent = false;    // SIGTERM to the child when the thread that started it ends
};

struct ExitStatus {
  int code = -1;   // the exit status; -1 when a signal ended the process
  int signal = 0;  // the signal that ended it, 0 when it exited

  bool Exited() const { return signal == 0 && code >= 0; }
  // As a shell reports it: the exit status, or 128 plus the signal's number.
  int ShellStatus() const { return signal != 0 ? 128 + signal : code; }
  static ExitStatus FromWaitStatus(int raw);
};

// A started child process. The destructor closes the pipes still held and, when the child has not been waited
// for, kills and reaps it: a Process never leaves a zombie or an orphan behind.
class Process {
 public:
  // Throws std::system_error when the program cannot be found or executed, or a redirection fails; the message
  // names the program.
  static Process Start(const Launch& launch);
  // Runs body in a forked copy of this process, which ends with body's return value. For a child that must
  // share this process's state (e.g. to die holding what this process opened); prefer Start.
  static Process Fork(const std::function<int()>& body);

  Process() = default;
  Process(Process&& other) noexcept;
  Process& operator=(Process&& other) noexcept;
  ~Process();
  Process(const Process&) = delete;
  Process& operator=(const Process&) = delete;

  pid_t Id() const { return pid_; }
  bool Running() const { return pid_ > 0 && !status_; }
  // The ends of the pipes asked for; -1 when none. Take* hands the descriptor over to the caller.
  int StdinFd() const { return in_; }
  int StdoutFd() const { return out_; }
  int StderrFd() const { return err_; }
  int TakeStdin();
  int TakeStdout();
  int TakeStderr();
  void CloseStdin();
  // Readable (POLLIN) once the child has ended; -1 where the kernel offers no such descriptor.
  int EndFd() const { return pidfd_; }

  // Blocks until the child ends.
  ExitStatus Wait();
  // The status when the child has ended, without blocking.
  std::optional<ExitStatus> TryWait();
  // Waits at most `limit`; nothing when the child still runs.
  std::optional<ExitStatus> WaitFor(std::chrono::milliseconds limit);
  // Sends the signal, waits up to `grace` for the child to end, then kills it.
  ExitStatus Stop(int signal, std::chrono::milliseconds grace);
  void Signal(int signal) const;

 private:
  Process(pid_t pid, int in, int out, int err);
  void CloseAll();

  pid_t pid_ = -1;
  int pidfd_ = -1;
  int in_ = -1;
  int out_ = -1;
  int err_ = -1;
  std::optional<ExitStatus> status_;
};

// Starts the program so that it outlives us and never becomes our zombie (a new session, re-parented at once).
// Errors as for Process::Start.
void StartDetached(const Launch& launch);

// Reads the descriptor to its end.
std::string ReadToEnd(int fd);

}  // namespace platform::os
