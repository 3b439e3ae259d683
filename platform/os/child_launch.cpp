// The steps of starting a child between fork and exec: its program, environment and standard streams.

#include "platform/os/child_launch.h"

#include <fcntl.h>
#include <sys/prctl.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <csignal>
#include <cstdlib>
#include <string_view>

extern char** environ;

namespace platform::os::child {
namespace {

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

}  // namespace

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

[[noreturn]] void Fail(int report_fd, Step step, int error) {
  const ChildReport report{static_cast<int>(step), error};
  [[maybe_unused]] const ssize_t n = write(report_fd, &report, sizeof report);
  _exit(127);
}

[[noreturn]] void Exec(ChildPlan& plan) {
  const Launch& launch = *plan.launch;
  sigset_t none;
  sigemptyset(&none);
  sigprocmask(SIG_SETMASK, &none, nullptr);
  if (launch.end_with_parent) {
    prctl(PR_SET_PDEATHSIG, SIGTERM);
    if (getppid() != plan.parent) _exit(1);
  }
  if (launch.new_session && setsid() < 0) Fail(plan.report_fd, Step::kSession, errno);
  if (launch.new_process_group && setpgid(0, 0) < 0) Fail(plan.report_fd, Step::kSession, errno);

  int highest_target = 2;
  for (const Placement& p : plan.placements) highest_target = std::max(highest_target, p.target);
  // Every source first moves above all targets, so that placing one never overwrites another's source.
  const int above = highest_target + 1;
  int report_fd = fcntl(plan.report_fd, F_DUPFD_CLOEXEC, above);
  if (report_fd < 0) Fail(plan.report_fd, Step::kDescriptor, errno);
  for (Placement& p : plan.placements) {
    if (p.kind != Redirect::Kind::kPipe && p.kind != Redirect::Kind::kDescriptor) continue;
    p.source = fcntl(p.source, F_DUPFD_CLOEXEC, above);
    if (p.source < 0) Fail(report_fd, p.step, errno);
  }
  for (const Placement& p : plan.placements) {
    int source = p.source;
    if (p.path != nullptr) {
      source = open(p.path, p.flags | O_CLOEXEC, 0600);
      if (source < 0) Fail(report_fd, p.step, errno);
    }
    if (p.kind == Redirect::Kind::kInherit) continue;
    if (source != p.target && dup2(source, p.target) < 0) Fail(report_fd, p.step, errno);
    // dup2 onto itself keeps close-on-exec; the flag is cleared by hand then.
    if (source == p.target) fcntl(p.target, F_SETFD, 0);
    if (p.path != nullptr && source != p.target) close(source);
  }
  if (!plan.directory.empty() && chdir(plan.directory.c_str()) < 0) Fail(report_fd, Step::kDirectory, errno);
  // Nothing of ours leaks into the program but what it was handed.
  unsigned first = 3;
  for (const int kept : plan.kept) {
    if (static_cast<unsigned>(kept) > first) syscall(SYS_close_range, first, kept - 1, 0);
    first = static_cast<unsigned>(kept) + 1;
  }
  if (static_cast<unsigned>(report_fd) > first) syscall(SYS_close_range, first, report_fd - 1, 0);
  syscall(SYS_close_range, report_fd + 1, ~0U, 0);
  execve(plan.program.c_str(), plan.argv.data(), plan.envp.data());
  Fail(report_fd, Step::kExec, errno);
}

std::optional<ChildReport> ReadReport(int fd) {
  ChildReport report;
  ssize_t n;
  do {
    n = read(fd, &report, sizeof report);
  } while (n < 0 && errno == EINTR);
  if (n == static_cast<ssize_t>(sizeof report)) return report;
  return std::nullopt;
}

void Prepare(const Launch& launch, ChildPlan& plan) {
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

std::system_error Failure(const ChildReport& report, const ChildPlan& plan) {
  return std::system_error(report.error, std::generic_category(), StepText(static_cast<Step>(report.step), plan));
}

}  // namespace platform::os::child
