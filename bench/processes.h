#pragma once

// The processes a benchmark run needs: the service stand-in, one-shot programs of the build, and the measuring
// children (kv-bench itself, run again with "child ..."), whose figures come back as "key=value" lines.

#include <filesystem>
#include <map>
#include <string>
#include <vector>

#include "platform/os/process.h"

namespace kvbench {

// The directory of the running program: the build's bin/, where the stand-ins and the generator are.
std::filesystem::path ProgramDir();

// kalvor-standin on a free loopback port over a data directory; stopped by Stop or the destructor.
class ServiceProcess {
 public:
  explicit ServiceProcess(const std::filesystem::path& data_dir);
  ~ServiceProcess();
  ServiceProcess(const ServiceProcess&) = delete;
  ServiceProcess& operator=(const ServiceProcess&) = delete;

  const std::string& BaseUrl() const { return base_url_; }
  void Stop();

 private:
  platform::os::Process process_;
  std::string base_url_;
};

// Runs a program of the build to its end with standard output into `output` (when given); returns its exit
// status, -1 when it could not run or was killed.
int RunProgram(const std::string& name, const std::vector<std::string>& args, std::string* output = nullptr);

// What a measuring child reported.
struct ChildReport {
  bool ok = false;  // exited with status 0
  std::map<std::string, std::string> values;
  double Number(const std::string& key) const;  // 0 when absent
  std::string Text(const std::string& key) const;
};

// Runs "kv-bench child KIND ARGS..." and collects its "key=value" lines.
ChildReport RunChild(const std::string& kind, const std::vector<std::string>& args);

// In a child: one figure for the parent.
void Emit(const std::string& key, const std::string& value);
void Emit(const std::string& key, double value);

// In a child: the process's peak resident memory (VmHWM) in bytes.
double PeakResidentBytes();
// In a child: CPU time (user and system) used by this process so far, in seconds.
double ProcessCpuSeconds();

}  // namespace kvbench
