#include "bench/processes.h"

#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <stdexcept>
#include <thread>

extern char** environ;

namespace kvbench {
namespace {

std::vector<char*> Argv(std::vector<std::string>& words) {
  std::vector<char*> argv;
  for (std::string& word : words) argv.push_back(word.data());
  argv.push_back(nullptr);
  return argv;
}

// Starts a program with standard input from /dev/null and standard output into a pipe; returns the pid and the
// pipe's read end.
pid_t SpawnWithPipe(const std::string& program, std::vector<std::string> words, int& read_fd) {
  int fds[2];
  if (pipe2(fds, O_CLOEXEC) != 0) throw std::runtime_error("cannot make a pipe");
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, STDIN_FILENO, "/dev/null", O_RDONLY, 0);
  posix_spawn_file_actions_adddup2(&actions, fds[1], STDOUT_FILENO);
  std::vector<char*> argv = Argv(words);
  pid_t pid = -1;
  const int rc = posix_spawn(&pid, program.c_str(), &actions, nullptr, argv.data(), environ);
  posix_spawn_file_actions_destroy(&actions);
  close(fds[1]);
  if (rc != 0) {
    close(fds[0]);
    throw std::runtime_error("cannot start " + program);
  }
  read_fd = fds[0];
  return pid;
}

std::string ReadAll(int fd) {
  std::string text;
  char buffer[65536];
  for (;;) {
    const ssize_t got = read(fd, buffer, sizeof buffer);
    if (got > 0) {
      text.append(buffer, static_cast<size_t>(got));
    } else if (got == 0 || errno != EINTR) {
      break;
    }
  }
  return text;
}

int WaitStatus(pid_t pid) {
  int status = 0;
  while (waitpid(pid, &status, 0) < 0) {
    if (errno != EINTR) return -1;
  }
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

}  // namespace

std::filesystem::path ProgramDir() {
  return std::filesystem::read_symlink("/proc/self/exe").parent_path();
}

ServiceProcess::ServiceProcess(const std::filesystem::path& data_dir) {
  std::filesystem::create_directories(data_dir);
  int fd = -1;
  pid_ = SpawnWithPipe((ProgramDir() / "kalvor-standin").string(),
                       {"kalvor-standin", "--data", data_dir.string(), "--port", "0"}, fd);
  // The first line is the base URL; the rest of the output is read by nobody, so the pipe is closed after it.
  std::string line;
  char c = 0;
  while (read(fd, &c, 1) == 1 && c != '\n') line += c;
  close(fd);
  if (line.rfind("http://", 0) != 0) {
    Stop();
    throw std::runtime_error("kalvor-standin did not start (it printed \"" + line + "\")");
  }
  base_url_ = line;
}

ServiceProcess::~ServiceProcess() {
  Stop();
}

void ServiceProcess::Stop() {
  if (pid_ <= 0) return;
  kill(pid_, SIGTERM);
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(5);
  int status = 0;
  while (waitpid(pid_, &status, WNOHANG) == 0) {
    if (std::chrono::steady_clock::now() > deadline) {
      kill(pid_, SIGKILL);
      waitpid(pid_, &status, 0);
      break;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  pid_ = -1;
}

int RunProgram(const std::string& name, const std::vector<std::string>& args, std::string* output) {
  std::vector<std::string> words{name};
  words.insert(words.end(), args.begin(), args.end());
  int fd = -1;
  pid_t pid = -1;
  try {
    pid = SpawnWithPipe((ProgramDir() / name).string(), words, fd);
  } catch (const std::exception&) {
    return -1;
  }
  std::string text = ReadAll(fd);
  close(fd);
  if (output) *output = std::move(text);
  return WaitStatus(pid);
}

double ChildReport::Number(const std::string& key) const {
  auto it = values.find(key);
  return it == values.end() ? 0.0 : std::strtod(it->second.c_str(), nullptr);
}

std::string ChildReport::Text(const std::string& key) const {
  auto it = values.find(key);
  return it == values.end() ? std::string() : it->second;
}

ChildReport RunChild(const std::string& kind, const std::vector<std::string>& args) {
  std::vector<std::string> words{"kv-bench", "child", kind};
  words.insert(words.end(), args.begin(), args.end());
  ChildReport report;
  int fd = -1;
  const pid_t pid = SpawnWithPipe(std::filesystem::read_symlink("/proc/self/exe").string(), words, fd);
  const std::string text = ReadAll(fd);
  close(fd);
  report.ok = WaitStatus(pid) == 0;
  size_t start = 0;
  while (start < text.size()) {
    size_t end = text.find('\n', start);
    if (end == std::string::npos) end = text.size();
    const std::string line = text.substr(start, end - start);
    if (const size_t eq = line.find('='); eq != std::string::npos) {
      report.values[line.substr(0, eq)] = line.substr(eq + 1);
    }
    start = end + 1;
  }
  return report;
}

void Emit(const std::string& key, const std::string& value) {
  std::string flat = value;
  for (char& c : flat) {
    if (c == '\n' || c == '\r') c = ' ';
  }
  std::printf("%s=%s\n", key.c_str(), flat.c_str());
  std::fflush(stdout);
}

void Emit(const std::string& key, double value) {
  char text[64];
  std::snprintf(text, sizeof text, "%.9g", value);
  Emit(key, std::string(text));
}

double PeakResidentBytes() {
  std::ifstream status("/proc/self/status");
  std::string line;
  while (std::getline(status, line)) {
    if (line.rfind("VmHWM:", 0) == 0) return std::strtod(line.c_str() + 6, nullptr) * 1024.0;
  }
  return 0;
}

double ProcessCpuSeconds() {
  rusage usage{};
  getrusage(RUSAGE_SELF, &usage);
  auto seconds = [](const timeval& t) { return static_cast<double>(t.tv_sec) + static_cast<double>(t.tv_usec) / 1e6; };
  return seconds(usage.ru_utime) + seconds(usage.ru_stime);
}

}  // namespace kvbench
