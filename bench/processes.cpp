// Starting the programs and child runs the benchmark measures, and reading their figures back.

#include "bench/processes.h"

#include <signal.h>
#include <sys/resource.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <stdexcept>

#include "platform/os/process.h"

namespace kvbench {
namespace {

// Starts a program with standard input from /dev/null and standard output into a pipe.
platform::os::Process StartWithPipe(const std::string& program, std::vector<std::string> words) {
  platform::os::Launch launch;
  launch.argv = std::move(words);
  launch.argv.front() = program;
  launch.in = platform::os::Redirect::Null();
  launch.out = platform::os::Redirect::Pipe();
  return platform::os::Process::Start(launch);
}

int ExitCode(platform::os::Process& process) {
  const platform::os::ExitStatus status = process.Wait();
  return status.Exited() ? status.code : -1;
}

}  // namespace

std::filesystem::path ProgramDir() {
  return std::filesystem::read_symlink("/proc/self/exe").parent_path();
}

ServiceProcess::ServiceProcess(const std::filesystem::path& data_dir) {
  std::filesystem::create_directories(data_dir);
  process_ = StartWithPipe((ProgramDir() / "kalvor-standin").string(),
                           {"kalvor-standin", "--data", data_dir.string(), "--port", "0"});
  // The first line is the base URL; the rest of the output is read by nobody, so the pipe is closed after it.
  const int fd = process_.TakeStdout();
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
  if (process_.Running()) process_.Stop(SIGTERM, std::chrono::seconds(5));
}

int RunProgram(const std::string& name, const std::vector<std::string>& args, std::string* output) {
  std::vector<std::string> words{name};
  words.insert(words.end(), args.begin(), args.end());
  platform::os::Process process;
  try {
    process = StartWithPipe((ProgramDir() / name).string(), words);
  } catch (const std::exception&) {
    return -1;
  }
  std::string text = platform::os::ReadToEnd(process.StdoutFd());
  if (output) *output = std::move(text);
  return ExitCode(process);
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
  platform::os::Process process = StartWithPipe(std::filesystem::read_symlink("/proc/self/exe").string(), words);
  const std::string text = platform::os::ReadToEnd(process.StdoutFd());
  report.ok = ExitCode(process) == 0;
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
