#include "tests/support/programs/program_run.h"

#include <fcntl.h>
#include <poll.h>
#include <pty.h>
#include <signal.h>
#include <stdlib.h>
#include <sys/wait.h>
#include <unistd.h>

#include <stdexcept>
#include <thread>

#include "tests/support/service/service_standin.h"

namespace kv::test {

namespace {

// execv's argument vector; it points into `program` and `args`, which must outlive it.
std::vector<char*> ArgumentVector(const std::string& program, const std::vector<std::string>& args) {
  std::vector<char*> argv{const_cast<char*>(program.c_str())};
  for (const auto& arg : args) argv.push_back(const_cast<char*>(arg.c_str()));
  argv.push_back(nullptr);
  return argv;
}

void TakeExitStatus(int status, ProgramRun& run) {
  if (WIFEXITED(status)) {
    run.status = WEXITSTATUS(status);
  } else if (WIFSIGNALED(status)) {
    run.killed_by = WTERMSIG(status);
  }
}

}  // namespace

ProgramRun RunProgram(const std::string& name, const std::vector<std::string>& args, const ProgramOptions& options) {
  const std::string program = BuildProgram(name).string();
  std::vector<char*> argv = ArgumentVector(program, args);

  int out_pipe[2], err_pipe[2];
  if (pipe2(out_pipe, O_CLOEXEC) != 0) throw std::runtime_error("pipe2 failed");
  if (pipe2(err_pipe, O_CLOEXEC) != 0) {
    close(out_pipe[0]);
    close(out_pipe[1]);
    throw std::runtime_error("pipe2 failed");
  }
  const auto started = std::chrono::steady_clock::now();
  const pid_t pid = fork();
  if (pid == 0) {
    const int null_fd = open("/dev/null", O_RDONLY);
    dup2(null_fd, STDIN_FILENO);
    dup2(out_pipe[1], STDOUT_FILENO);
    dup2(err_pipe[1], STDERR_FILENO);
    for (const auto& [key, value] : options.env) setenv(key.c_str(), value.c_str(), 1);
    execv(program.c_str(), argv.data());
    _exit(127);
  }
  close(out_pipe[1]);
  close(err_pipe[1]);
  if (pid < 0) {
    close(out_pipe[0]);
    close(err_pipe[0]);
    throw std::runtime_error("fork failed");
  }
  std::thread watcher;
  if (options.during) watcher = std::thread([&options, pid] { options.during(pid); });

  ProgramRun run;
  pollfd fds[2] = {{out_pipe[0], POLLIN, 0}, {err_pipe[0], POLLIN, 0}};
  int open_fds = 2;
  int status = 0;
  bool exited = false;
  // A grandchild may keep the pipes open after the program ended; its output is waited for only briefly.
  std::chrono::steady_clock::time_point drain_until{};
  for (;;) {
    const auto now = std::chrono::steady_clock::now();
    if (!exited && waitpid(pid, &status, WNOHANG) == pid) {
      exited = true;
      run.elapsed = std::chrono::duration_cast<std::chrono::milliseconds>(now - started);
      drain_until = now + std::chrono::seconds(2);
    }
    if (!exited && now - started > options.time_limit) {
      run.timed_out = true;
      kill(pid, SIGKILL);
      waitpid(pid, &status, 0);
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
  TakeExitStatus(status, run);
  return run;
}

ProgramRun RunProgramOnTerminal(const std::string& name, const std::vector<std::string>& args,
                                const ProgramOptions& options, const std::string& input, unsigned short columns) {
  const std::string program = BuildProgram(name).string();
  std::vector<char*> argv = ArgumentVector(program, args);

  winsize size{};
  size.ws_row = 30;
  size.ws_col = columns;
  int master = -1;
  const auto started = std::chrono::steady_clock::now();
  const pid_t pid = forkpty(&master, nullptr, nullptr, &size);
  if (pid == 0) {
    setenv("TERM", "xterm", 1);
    for (const auto& [key, value] : options.env) setenv(key.c_str(), value.c_str(), 1);
    execv(program.c_str(), argv.data());
    _exit(127);
  }
  if (pid < 0) throw std::runtime_error("forkpty failed");
  std::thread watcher;
  if (options.during) watcher = std::thread([&options, pid] { options.during(pid); });

  ProgramRun run;
  size_t typed = 0;
  int status = 0;
  bool exited = false;
  for (;;) {
    if (!exited && std::chrono::steady_clock::now() - started > options.time_limit) {
      run.timed_out = true;
      kill(pid, SIGKILL);
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
    if (!exited && waitpid(pid, &status, WNOHANG) == pid) {
      exited = true;
      run.elapsed = std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - started);
    }
  }
  close(master);
  if (!exited) {
    waitpid(pid, &status, 0);
    run.elapsed = std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - started);
  }
  if (watcher.joinable()) watcher.join();
  TakeExitStatus(status, run);
  return run;
}

}  // namespace kv::test
