#pragma once

// A class factory between a control and the QuickBooks stand-in: it times every call into QuickBooks, so that a
// control's own time can be told apart from QuickBooks', and keeps a trace of the calls, so that a reference run
// can make exactly the same calls through bare processors.

#include <chrono>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "platform/qb/class_factory.h"

namespace kvbench {

// One call into QuickBooks as a control made it. `processor` numbers the processors in order of creation;
// "Create" and "Release" mark a processor's life.
struct QBCall {
  int processor = 0;
  std::string operation;
  std::vector<std::string> args;
};

class ProbeFactory : public platform::qb::ClassFactory {
 public:
  // keep_trace: record every call (the download runs); the sync's one huge request is not worth keeping.
  explicit ProbeFactory(bool keep_trace) : keep_trace_(keep_trace) {}

  std::unique_ptr<platform::qb::RequestProcessor> CreateRequestProcessor() override;
  std::unique_ptr<platform::qb::QBSessionManager> CreateSessionManager() override;

  // Each ProcessRequest answer is written to this file (the time it takes counts as excluded).
  void SaveResponsesTo(std::filesystem::path path) { response_path_ = std::move(path); }

  // Seconds spent inside QuickBooks calls (process start and end, sessions, requests), of which ProcessRequest.
  double qb_seconds = 0;
  double request_seconds = 0;
  // Seconds spent on the probe's own bookkeeping (writing responses), to be taken out of the control's time.
  double excluded_seconds = 0;
  // The control's process's own processor time during each of those: receiving QuickBooks' answers counts on the
  // process's clock but is QuickBooks' part, as is the probe's bookkeeping.
  double qb_cpu_seconds = 0;
  double excluded_cpu_seconds = 0;
  size_t requests = 0;
  size_t response_bytes = 0;
  size_t failed_calls = 0;
  std::vector<QBCall> trace;

 private:
  friend class ProbeProcessor;
  void Record(int processor, std::string operation, std::vector<std::string> args);
  void SaveResponse(const std::string& response);

  bool keep_trace_;
  int next_processor_ = 0;
  std::filesystem::path response_path_;
};

// The trace as a file and back (length-prefixed fields, so request texts keep every byte).
void WriteTrace(const std::vector<QBCall>& trace, const std::filesystem::path& path);
std::vector<QBCall> ReadTrace(const std::filesystem::path& path);

// Makes the calls of a trace through the default factory's bare processors, with the tickets their own sessions
// give. Returns the number of calls that raised an error (a control's failing calls fail again).
size_t ReplayTrace(const std::vector<QBCall>& trace);

}  // namespace kvbench
