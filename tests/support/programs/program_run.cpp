// Running one of the built programs from a test, with its input, environment and exit status.

#include "tests/support/programs/program_run.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <stdlib.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <stdexcept>
#include <thread>

#include "platform/os/process.h"
#include "tests/support/service/service_standin.h"

namespace kv::test {

namespace {

std::vector<std::string> ArgumentVector(const std::string& name, const std::vector<std::string>& args) {
  std::vector<std::string> argv{BuildProgram(name).string()};
  argv.insert(argv.end(), args.begin(), args.end());
  return argv;
}

void TakeExitStatus(const platform::os::ExitStatus& status, ProgramRun& run) {
  run.status = status.code;
  run.killed_by = status.signal;
}

}  // namespace

ProgramRun RunProgram(const std::string& name, const std::vector<std::string>& args, const ProgramOptions& options) {
  platform::os::Launch launch;
  launch.argv = ArgumentVector(name, args);
  launch.env = options.env;
  launch.in = platform::os::Redirect::Null();
  launch.out = platform::os::Redirect::Pipe();
  launch.err = platform::os::Redirect::Pipe();
  const auto started = std::chrono::steady_clock::now();
  platform::os::Process process = platform::os::Process::Start(launch);
  const pid_t pid = process.Id();
  std::thread watcher;
  if (options.during) watcher = std::thread([&options, pid] { options.during(pid); });

  ProgramRun run;
  pollfd fds[2] = {{process.TakeStdout(), POLLIN, 0}, {process.TakeStderr(), POLLIN, 0}};
  int open_fds = 2;
  bool exited = false;
  // A grandchild may keep the pipes open after the program ended; its output is waited for only briefly.
  std::chrono::steady_clock::time_point drain_until{};
  for (;;) {
    const auto now = std::chrono::steady_clock::now();
    if (!exited && process.TryWait()) {
      exited = true;
      run.elapsed = std::chrono::duration_cast<std::chrono::milliseconds>(now - started);
      drain_until = now + std::chrono::seconds(2);
    }
    if (!exited && now - started > options.time_limit) {
      run.timed_out = true;
      process.Stop(SIGKILL, {});
      exited = true;
      run.elapsed = std::chrono::duration_cast<std::chrono::milliseconds>(now - started);
      drain_until = now + std::chrono::seconds(2);
    }
    if (open_fds == 0 ? exited : exited && now > drain_until) break;
    if (open_fds == 0) {
      std::this_thread::sleep_for(std::chrono::milliseconds(10));
      continue;
    }
    if (poll(fds, 2, 20) <= 0) continue;
    for (int i = 0; i < 2; ++i) {
      if (fds[i].fd < 0 || !(fds[i].revents & (POLLIN | POLLHUP | POLLERR))) continue;
      char buffer[4096];
      const ssize_t n = read(fds[i].fd, buffer, sizeof buffer);
      if (n > 0) {
        (i == 0 ? run.out : run.err).append(buffer, static_cast<size_t>(n));
      } else {
        close(fds[i].fd);
        fds[i].fd = -1;
        --open_fds;
      }
    }
  }
  for (const auto& fd : fds) {
    if (fd.fd >= 0) close(fd.fd);
  }
  if (watcher.joinable()) watcher.join();
  TakeExitStatus(process.Wait(), run);
  return run;
}

ProgramRun RunProgramOnTerminal(const std::string& name, const std::vector<std::string>& args,
                                const ProgramOptions& options, const std::string& input, unsigned short columns) {
  const int master = posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
  if (master < 0 || grantpt(master) != 0 || unlockpt(master) != 0) throw std::runtime_error("no pseudo-terminal");
  winsize size{};
  size.ws_row = 30;
  size.ws_col = columns;
  ioctl(master, TIOCSWINSZ, &size);
  platform::os::Launch launch;
  launch.argv = ArgumentVector(name, args);
  launch.env = {{"TERM", "xterm"}};
  for (const auto& variable : options.env) {
    if (variable.first == "TERM")
      launch.env.front() = variable;
    else
      launch.env.push_back(variable);
  }
  // Opened after the new session is made, the terminal becomes the program's controlling one, as in a shell.
  launch.new_session = true;
  launch.in = platform::os::Redirect::File(ptsname(master), O_RDWR);
  launch.out = platform::os::Redirect::Stream(0);
  launch.err = platform::os::Redirect::Stream(0);
  const auto started = std::chrono::steady_clock::now();
  platform::os::Process process;
  try {
    process = platform::os::Process::Start(launch);
  } catch (...) {
    close(master);
    throw;
  }
  const pid_t pid = process.Id();
  std::thread watcher;
  if (options.during) watcher = std::thread([&options, pid] { options.during(pid); });

  ProgramRun run;
  size_t typed = 0;
  bool exited = false;
  for (;;) {
    if (!exited && std::chrono::steady_clock::now() - started > options.time_limit) {
      run.timed_out = true;
      process.Signal(SIGKILL);
    }
    pollfd fd{master, static_cast<short>(POLLIN | (typed < input.size() ? POLLOUT : 0)), 0};
    if (poll(&fd, 1, 20) > 0) {
      if (fd.revents & POLLOUT) {
        const ssize_t n = write(master, input.data() + typed, input.size() - typed);
        if (n > 0) typed += static_cast<size_t>(n);
      }
      if (fd.revents & (POLLIN | POLLHUP | POLLERR)) {
        char buffer[4096];
        const ssize_t n = read(master, buffer, sizeof buffer);
        // EIO: the program and everything it started let go of the terminal.
        if (n <= 0) break;
        run.out.append(buffer, static_cast<size_t>(n));
      }
    }
    if (!exited && process.TryWait()) {
      exited = true;
      run.elapsed = std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - started);
    }
  }
  close(master);
  if (!exited) {
    process.Wait();
    run.elapsed = std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - started);
  }
  if (watcher.joinable()) watcher.join();
  TakeExitStatus(process.Wait(), run);
  return run;
}

}  // namespace kv::test
