#include "platform/os/process.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/prctl.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <stdexcept>
#include <system_error>
#include <thread>

extern char** environ;

namespace platform::os {
namespace {

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

bool IsExecutableFile(const std::string& path) {
  struct stat info {};
  return stat(path.c_str(), &info) == 0 && S_ISREG(info.st_mode) && access(path.c_str(), X_OK) == 0;
}

std::string ResolveProgram(const std::string& name) {
  if (name.empty()) throw std::system_error(ENOENT, std::generic_category(), "cannot start a program without name");
  if (name.find('/') != std::string::npos) return name;
  const char* path = std::getenv("PATH");
  std::string_view dirs = path != nullptr && *path != '\0' ? path : "/usr/local/bin:/usr/bin:/bin";
  while (true) {
    const size_t colon = dirs.find(':');
    const std::string_view dir = dirs.substr(0, colon);
    const std::string candidate = (dir.empty() ? std::string(".") : std::string(dir)) + "/" + name;
    if (IsExecutableFile(candidate)) return candidate;
    if (colon == std::string_view::npos) break;
    dirs.remove_prefix(colon + 1);
  }
  throw std::system_error(ENOENT, std::generic_category(), "cannot start " + name);
}

void BuildEnvironment(const Launch& launch, ChildPlan& plan) {
  for (char** entry = environ; entry != nullptr && *entry != nullptr; ++entry) {
    const std::string_view text(*entry);
    const std::string_view name = text.substr(0, text.find('='));
    const bool replaced =
        std::any_of(launch.env.begin(), launch.env.end(), [&](const auto& v) { return v.first == name; });
    if (!replaced) plan.env_text.emplace_back(text);
  }
  for (const auto& [name, value] : launch.env) plan.env_text.push_back(name + "=" + value);
  for (std::string& text : plan.env_text) plan.envp.push_back(text.data());
  plan.envp.push_back(nullptr);
}

Placement PlaceStream(int target, const Redirect& redirect, int pipe_child_end) {
  Placement p;
  p.target = target;
  p.kind = redirect.kind;
  p.step = static_cast<Step>(static_cast<int>(Step::kStdin) + target);
  switch (redirect.kind) {
    case Redirect::Kind::kNull:
      p.path = "/dev/null";
      p.flags = O_RDWR;
      break;
    case Redirect::Kind::kPipe:
      p.source = pipe_child_end;
      break;
    case Redirect::Kind::kFile:
      p.path = redirect.path.c_str();
      p.flags = redirect.flags;
      break;
    case Redirect::Kind::kDescriptor:
    case Redirect::Kind::kStream:
      p.source = redirect.fd;
      break;
    case Redirect::Kind::kInherit:
      break;
  }
  return p;
}

[[noreturn]] void FailInChild(int report_fd, Step step, int error) {
  const ChildReport report{static_cast<int>(step), error};
  [[maybe_unused]] const ssize_t n = write(report_fd, &report, sizeof report);
  _exit(127);
}

// Runs in the child between fork and exec: async-signal-safe calls only.
[[noreturn]] void ExecChild(ChildPlan& plan) {
  const Launch& launch = *plan.launch;
  sigset_t none;
  sigemptyset(&none);
  sigprocmask(SIG_SETMASK, &none, nullptr);
  if (launch.end_with_parent) {
    prctl(PR_SET_PDEATHSIG, SIGTERM);
    if (getppid() != plan.parent) _exit(1);
  }
  if (launch.new_session && setsid() < 0) FailInChild(plan.report_fd, Step::kSession, errno);
  if (launch.new_process_group && setpgid(0, 0) < 0) FailInChild(plan.report_fd, Step::kSession, errno);

  int highest_target = 2;
  for (const Placement& p : plan.placements) highest_target = std::max(highest_target, p.target);
  // Every source first moves above all targets, so that placing one never overwrites another's source.
  const int above = highest_target + 1;
  int report_fd = fcntl(plan.report_fd, F_DUPFD_CLOEXEC, above);
  if (report_fd < 0) FailInChild(plan.report_fd, Step::kDescriptor, errno);
  for (Placement& p : plan.placements) {
    if (p.kind != Redirect::Kind::kPipe && p.kind != Redirect::Kind::kDescriptor) continue;
    p.source = fcntl(p.source, F_DUPFD_CLOEXEC, above);
    if (p.source < 0) FailInChild(report_fd, p.step, errno);
  }
  for (const Placement& p : plan.placements) {
    int source = p.source;
    if (p.path != nullptr) {
      source = open(p.path, p.flags | O_CLOEXEC, 0600);
      if (source < 0) FailInChild(report_fd, p.step, errno);
    }
    if (p.kind == Redirect::Kind::kInherit) continue;
    if (source != p.target && dup2(source, p.target) < 0) FailInChild(report_fd, p.step, errno);
    // dup2 onto itself keeps close-on-exec; the flag is cleared by hand then.
    if (source == p.target) fcntl(p.target, F_SETFD, 0);
    if (p.path != nullptr && source != p.target) close(source);
  }
  if (!plan.directory.empty() && chdir(plan.directory.c_str()) < 0) FailInChild(report_fd, Step::kDirectory, errno);
  // Nothing of ours leaks into the program but what it was handed.
  unsigned first = 3;
  for (const int kept : plan.kept) {
    if (static_cast<unsigned>(kept) > first) syscall(SYS_close_range, first, kept - 1, 0);
    first = static_cast<unsigned>(kept) + 1;
  }
  if (static_cast<unsigned>(report_fd) > first) syscall(SYS_close_range, first, report_fd - 1, 0);
  syscall(SYS_close_range, report_fd + 1, ~0U, 0);
  execve(plan.program.c_str(), plan.argv.data(), plan.envp.data());
  FailInChild(report_fd, Step::kExec, errno);
}

std::string StepText(Step step, const ChildPlan& plan) {
  switch (step) {
    case Step::kExec:
      return "cannot start " + plan.program;
    case Step::kStdin:
    case Step::kStdout:
    case Step::kStderr: {
      static const char* const kNames[] = {"standard input", "standard output", "standard error"};
      const int stream = static_cast<int>(step) - static_cast<int>(Step::kStdin);
      const Placement& p = plan.placements[static_cast<size_t>(stream)];
      return "cannot start " + plan.program + ": its " + kNames[stream] +
             (p.path != nullptr ? " (" + std::string(p.path) + ")" : std::string()) + " could not be set";
    }
    case Step::kDescriptor:
      return "cannot start " + plan.program + ": a descriptor could not be handed over";
    case Step::kDirectory:
      return "cannot start " + plan.program + " in " + plan.directory;
    case Step::kSession:
      return "cannot start " + plan.program + " in a session of its own";
  }
  return "cannot start " + plan.program;
}

// Waits for the child's exec: the report pipe closes on success, or carries what failed.
std::optional<ChildReport> ReadReport(int fd) {
  ChildReport report;
  ssize_t n;
  do {
    n = read(fd, &report, sizeof report);
  } while (n < 0 && errno == EINTR);
  if (n == static_cast<ssize_t>(sizeof report)) return report;
  return std::nullopt;
}

int WaitRaw(pid_t pid) {
  int raw = 0;
  while (waitpid(pid, &raw, 0) < 0) {
    if (errno != EINTR) return -1;
  }
  return raw;
}

void PrepareCommon(const Launch& launch, ChildPlan& plan) {
  if (launch.argv.empty()) throw std::invalid_argument("a program to start needs at least its name");
  plan.launch = &launch;
  plan.program = ResolveProgram(launch.argv.front());
  plan.argv_text = launch.argv;
  for (std::string& word : plan.argv_text) plan.argv.push_back(word.data());
  plan.argv.push_back(nullptr);
  BuildEnvironment(launch, plan);
  plan.directory = launch.directory.string();
  plan.parent = getpid();
}

}  // namespace

Redirect Redirect::ReadFrom(std::filesystem::path path) {
  return File(std::move(path), O_RDONLY);
}

Redirect Redirect::WriteTo(std::filesystem::path path) {
  return File(std::move(path), O_WRONLY | O_CREAT | O_TRUNC);
}

ExitStatus ExitStatus::FromWaitStatus(int raw) {
  ExitStatus status;
  if (WIFEXITED(raw)) status.code = WEXITSTATUS(raw);
  if (WIFSIGNALED(raw)) status.signal = WTERMSIG(raw);
  return status;
}

Process Process::Start(const Launch& launch) {
  ChildPlan plan;
  PrepareCommon(launch, plan);
  std::optional<Pipe> pipes[3];
  const Redirect* streams[3] = {&launch.in, &launch.out, &launch.err};
  for (int i = 0; i < 3; ++i) {
    if (streams[i]->kind == Redirect::Kind::kPipe) pipes[i].emplace();
  }
  for (int i = 0; i < 3; ++i) {
    const int child_end = !pipes[i] ? -1 : i == 0 ? pipes[i]->read_end() : pipes[i]->write_end();
    plan.placements.push_back(PlaceStream(i, *streams[i], child_end));
  }
  for (const auto& [target, ours] : launch.descriptors) {
    Placement p;
    p.target = target;
    p.kind = Redirect::Kind::kDescriptor;
    p.source = ours;
    plan.placements.push_back(p);
  }
  for (const auto& [target, ours] : launch.descriptors) {
    if (target < 3) throw std::invalid_argument("handed-over descriptors take numbers above the standard streams");
    plan.kept.push_back(target);
  }
  std::sort(plan.kept.begin(), plan.kept.end());
  Pipe report;
  plan.report_fd = report.write_end();
  const pid_t pid = fork();
  if (pid < 0) throw std::system_error(errno, std::generic_category(), "cannot start " + plan.program);
  if (pid == 0) ExecChild(plan);
  report.CloseWrite();
  if (const std::optional<ChildReport> failed = ReadReport(report.read_end())) {
    WaitRaw(pid);
    throw std::system_error(failed->error, std::generic_category(), StepText(static_cast<Step>(failed->step), plan));
  }
  // The child has its ends by now; ours are the writing end of its input and the reading ends of its output.
  const int in = pipes[0] ? pipes[0]->TakeWrite() : -1;
  const int out = pipes[1] ? pipes[1]->TakeRead() : -1;
  const int err = pipes[2] ? pipes[2]->TakeRead() : -1;
  return Process(pid, in, out, err);
}

Process Process::Fork(const std::function<int()>& body) {
  const pid_t pid = fork();
  if (pid < 0) throw std::system_error(errno, std::generic_category(), "cannot fork");
  if (pid == 0) {
    int code = 1;
    try {
      code = body();
    } catch (...) {
    }
    _exit(code);
  }
  return Process(pid, -1, -1, -1);
}

void StartDetached(const Launch& launch) {
  const Redirect* streams[3] = {&launch.in, &launch.out, &launch.err};
  for (int i = 0; i < 3; ++i) {
    if (streams[i]->kind == Redirect::Kind::kPipe)
      throw std::invalid_argument("a detached program has no pipes to this process");
  }
  ChildPlan plan;
  PrepareCommon(launch, plan);
  for (int i = 0; i < 3; ++i) plan.placements.push_back(PlaceStream(i, *streams[i], -1));
  Pipe report;
  plan.report_fd = report.write_end();
  // Two forks: the program's parent ends at once, so the program is re-parented and never waited for by us.
  const pid_t middle = fork();
  if (middle < 0) throw std::system_error(errno, std::generic_category(), "cannot start " + plan.program);
  if (middle == 0) {
    setsid();
    const pid_t child = fork();
    if (child == 0) ExecChild(plan);
    if (child < 0) FailInChild(plan.report_fd, Step::kExec, errno);
    _exit(0);
  }
  report.CloseWrite();
  WaitRaw(middle);
  if (const std::optional<ChildReport> failed = ReadReport(report.read_end())) {
    throw std::system_error(failed->error, std::generic_category(), StepText(static_cast<Step>(failed->step), plan));
  }
}

Process::Process(pid_t pid, int in, int out, int err) : pid_(pid), in_(in), out_(out), err_(err) {
  pidfd_ = static_cast<int>(syscall(SYS_pidfd_open, pid, 0));
}

Process::Process(Process&& other) noexcept
    : pid_(std::exchange(other.pid_, -1)),
      pidfd_(std::exchange(other.pidfd_, -1)),
      in_(std::exchange(other.in_, -1)),
      out_(std::exchange(other.out_, -1)),
      err_(std::exchange(other.err_, -1)),
      status_(std::exchange(other.status_, std::nullopt)) {}

Process& Process::operator=(Process&& other) noexcept {
  if (this != &other) {
    this->~Process();
    new (this) Process(std::move(other));
  }
  return *this;
}

Process::~Process() {
  CloseAll();
  if (Running()) {
    kill(pid_, SIGKILL);
    Wait();
  }
  if (pidfd_ >= 0) close(std::exchange(pidfd_, -1));
}

void Process::CloseAll() {
  for (int* fd : {&in_, &out_, &err_}) {
    if (*fd >= 0) close(std::exchange(*fd, -1));
  }
}

int Process::TakeStdin() {
  return std::exchange(in_, -1);
}
int Process::TakeStdout() {
  return std::exchange(out_, -1);
}
int Process::TakeStderr() {
  return std::exchange(err_, -1);
}
void Process::CloseStdin() {
  if (in_ >= 0) close(std::exchange(in_, -1));
}

ExitStatus Process::Wait() {
  if (status_ || pid_ <= 0) return status_.value_or(ExitStatus{});
  const int raw = WaitRaw(pid_);
  status_ = raw < 0 ? ExitStatus{} : ExitStatus::FromWaitStatus(raw);
  return *status_;
}

std::optional<ExitStatus> Process::TryWait() {
  if (status_ || pid_ <= 0) return status_;
  int raw = 0;
  pid_t done;
  do {
    done = waitpid(pid_, &raw, WNOHANG);
  } while (done < 0 && errno == EINTR);
  if (done == 0) return std::nullopt;
  status_ = done < 0 ? ExitStatus{} : ExitStatus::FromWaitStatus(raw);
  return status_;
}

std::optional<ExitStatus> Process::WaitFor(std::chrono::milliseconds limit) {
  const auto deadline = std::chrono::steady_clock::now() + limit;
  while (true) {
    if (auto status = TryWait()) return status;
    const auto left = std::chrono::ceil<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
    if (left.count() <= 0) return std::nullopt;
    if (pidfd_ >= 0) {
      pollfd p{pidfd_, POLLIN, 0};
      poll(&p, 1, static_cast<int>(std::min<int64_t>(left.count(), 1 << 30)));
    } else {
      std::this_thread::sleep_for(std::min(left, std::chrono::milliseconds(10)));
    }
  }
}

ExitStatus Process::Stop(int signal, std::chrono::milliseconds grace) {
  if (!Running()) return Wait();
  kill(pid_, signal);
  if (auto status = WaitFor(grace)) return *status;
  kill(pid_, SIGKILL);
  return Wait();
}

void Process::Signal(int signal) const {
  if (pid_ > 0 && !status_) kill(pid_, signal);
}

std::string ReadToEnd(int fd) {
  std::string text;
  char buffer[65536];
  while (true) {
    const ssize_t got = read(fd, buffer, sizeof buffer);
    if (got > 0) {
      text.append(buffer, static_cast<size_t>(got));
    } else if (got == 0 || errno != EINTR) {
      break;
    }
  }
  return text;
}

}  // namespace platform::os
