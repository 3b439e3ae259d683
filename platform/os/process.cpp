// Child processes: starting them with their redirections, waiting for them and ending them.

#include "platform/os/process.h"

#include <poll.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <csignal>
#include <stdexcept>
#include <system_error>
#include <thread>

#include "platform/os/child_launch.h"

namespace platform::os {
namespace {

using child::ChildPlan;
using child::ChildReport;
using child::Pipe;
using child::Placement;

int WaitRaw(pid_t pid) {
  int raw = 0;
  while (waitpid(pid, &raw, 0) < 0) {
    if (errno != EINTR) return -1;
  }
  return raw;
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
  child::Prepare(launch, plan);
  std::optional<Pipe> pipes[3];
  const Redirect* streams[3] = {&launch.in, &launch.out, &launch.err};
  for (int i = 0; i < 3; ++i) {
    if (streams[i]->kind == Redirect::Kind::kPipe) pipes[i].emplace();
  }
  for (int i = 0; i < 3; ++i) {
    const int child_end = !pipes[i] ? -1 : i == 0 ? pipes[i]->read_end() : pipes[i]->write_end();
    plan.placements.push_back(child::PlaceStream(i, *streams[i], child_end));
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
  if (pid == 0) child::Exec(plan);
  report.CloseWrite();
  if (const std::optional<ChildReport> failed = child::ReadReport(report.read_end())) {
    WaitRaw(pid);
    throw child::Failure(*failed, plan);
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
  child::Prepare(launch, plan);
  for (int i = 0; i < 3; ++i) plan.placements.push_back(child::PlaceStream(i, *streams[i], -1));
  Pipe report;
  plan.report_fd = report.write_end();
  // Two forks: the program's parent ends at once, so the program is re-parented and never waited for by us.
  const pid_t middle = fork();
  if (middle < 0) throw std::system_error(errno, std::generic_category(), "cannot start " + plan.program);
  if (middle == 0) {
    setsid();
    const pid_t child = fork();
    if (child == 0) child::Exec(plan);
    if (child < 0) child::Fail(plan.report_fd, child::Step::kExec, errno);
    _exit(0);
  }
  report.CloseWrite();
  WaitRaw(middle);
  if (const std::optional<ChildReport> failed = child::ReadReport(report.read_end())) {
    throw child::Failure(*failed, plan);
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
    // What this held is ended (killed and reaped when still running) as `old` goes.
    Process old(std::move(*this));
    pid_ = std::exchange(other.pid_, -1);
    pidfd_ = std::exchange(other.pidfd_, -1);
    in_ = std::exchange(other.in_, -1);
    out_ = std::exchange(other.out_, -1);
    err_ = std::exchange(other.err_, -1);
    status_ = std::exchange(other.status_, std::nullopt);
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
