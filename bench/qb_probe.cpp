// A request processor that times QuickBooks' share of a run and records its calls to replay them.

#include "bench/qb_probe.h"

#include <fstream>
#include <map>
#include <stdexcept>

#include "bench/processes.h"
#include "platform/base/error.h"

namespace kvbench {
namespace {

using Clock = std::chrono::steady_clock;

// Adds the time of its scope to a total, however the scope ends, and the process's processor time to a second
// total when given one.
class Stopwatch {
 public:
  explicit Stopwatch(double& total, double* cpu_total = nullptr)
      : total_(total), cpu_total_(cpu_total), start_(Clock::now()), cpu_start_(cpu_total ? ProcessCpuSeconds() : 0) {}
  ~Stopwatch() {
    total_ += std::chrono::duration<double>(Clock::now() - start_).count();
    if (cpu_total_ != nullptr) *cpu_total_ += ProcessCpuSeconds() - cpu_start_;
  }
  Stopwatch(const Stopwatch&) = delete;
  Stopwatch& operator=(const Stopwatch&) = delete;

 private:
  double& total_;
  double* cpu_total_;
  Clock::time_point start_;
  double cpu_start_;
};

}  // namespace

class ProbeProcessor : public platform::qb::RequestProcessor {
 public:
  ProbeProcessor(ProbeFactory& probe, int index, std::unique_ptr<platform::qb::RequestProcessor> inner)
      : probe_(probe), index_(index), inner_(std::move(inner)) {}
  ~ProbeProcessor() override {
    Stopwatch watch(probe_.qb_seconds, &probe_.qb_cpu_seconds);
    probe_.Record(index_, "Release", {});
    inner_.reset();
  }

  void OpenConnection(const std::string& appID, const std::string& appName) override {
    Call("OpenConnection", {appID, appName}, [&] { inner_->OpenConnection(appID, appName); });
  }
  std::string BeginSession(const std::string& qbFileName, int openMode) override {
    std::string ticket;
    Call("BeginSession", {qbFileName, std::to_string(openMode)},
         [&] { ticket = inner_->BeginSession(qbFileName, openMode); });
    return ticket;
  }
  std::string GetCurrentCompanyFileName(const std::string& ticket) override {
    std::string name;
    Call("GetCurrentCompanyFileName", {}, [&] { name = inner_->GetCurrentCompanyFileName(ticket); });
    return name;
  }
  std::optional<std::vector<std::string>> QBXMLVersionsForSession(const std::string& ticket) override {
    std::optional<std::vector<std::string>> versions;
    Call("QBXMLVersionsForSession", {}, [&] { versions = inner_->QBXMLVersionsForSession(ticket); });
    return versions;
  }
  std::string ProcessRequest(const std::string& ticket, const std::string& request) override {
    std::string response;
    {
      Stopwatch request_watch(probe_.request_seconds);
      Call("ProcessRequest", {request}, [&] { response = inner_->ProcessRequest(ticket, request); });
    }
    ++probe_.requests;
    probe_.response_bytes += response.size();
    probe_.SaveResponse(response);
    return response;
  }
  void EndSession(const std::string& ticket) override {
    Call("EndSession", {}, [&] { inner_->EndSession(ticket); });
  }
  void CloseConnection() override {
    Call("CloseConnection", {}, [&] { inner_->CloseConnection(); });
  }

 private:
  template <class Body>
  void Call(const char* operation, std::vector<std::string> args, Body&& body) {
    probe_.Record(index_, operation, std::move(args));
    Stopwatch watch(probe_.qb_seconds, &probe_.qb_cpu_seconds);
    try {
      body();
    } catch (...) {
      ++probe_.failed_calls;
      throw;
    }
  }

  ProbeFactory& probe_;
  int index_;
  std::unique_ptr<platform::qb::RequestProcessor> inner_;
};

std::unique_ptr<platform::qb::RequestProcessor> ProbeFactory::CreateRequestProcessor() {
  Stopwatch watch(qb_seconds, &qb_cpu_seconds);
  const int index = next_processor_++;
  Record(index, "Create", {});
  return std::make_unique<ProbeProcessor>(*this, index, platform::qb::StandinClassFactory().CreateRequestProcessor());
}

std::unique_ptr<platform::qb::QBSessionManager> ProbeFactory::CreateSessionManager() {
  return platform::qb::StandinClassFactory().CreateSessionManager();
}

void ProbeFactory::Record(int processor, std::string operation, std::vector<std::string> args) {
  if (keep_trace_) trace.push_back(QBCall{processor, std::move(operation), std::move(args)});
}

void ProbeFactory::SaveResponse(const std::string& response) {
  if (response_path_.empty()) return;
  Stopwatch watch(excluded_seconds, &excluded_cpu_seconds);
  std::ofstream out(response_path_, std::ios::binary | std::ios::trunc);
  out.write(response.data(), static_cast<std::streamsize>(response.size()));
  if (!out) throw std::runtime_error("cannot write " + response_path_.string());
}

void WriteTrace(const std::vector<QBCall>& trace, const std::filesystem::path& path) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  for (const QBCall& call : trace) {
    out << call.processor << ' ' << call.operation << ' ' << call.args.size() << '\n';
    for (const std::string& arg : call.args) out << arg.size() << '\n' << arg << '\n';
  }
  if (!out) throw std::runtime_error("cannot write " + path.string());
}

std::vector<QBCall> ReadTrace(const std::filesystem::path& path) {
  std::ifstream in(path, std::ios::binary);
  if (!in) throw std::runtime_error("cannot read " + path.string());
  std::vector<QBCall> trace;
  QBCall call;
  size_t count = 0;
  while (in >> call.processor >> call.operation >> count) {
    in.get();
    call.args.assign(count, std::string());
    for (std::string& arg : call.args) {
      size_t size = 0;
      in >> size;
      in.get();
      arg.resize(size);
      in.read(arg.data(), static_cast<std::streamsize>(size));
      in.get();
    }
    if (!in) throw std::runtime_error("the trace " + path.string() + " is cut short");
    trace.push_back(call);
  }
  return trace;
}

size_t ReplayTrace(const std::vector<QBCall>& trace) {
  struct Bare {
    std::unique_ptr<platform::qb::RequestProcessor> processor;
    std::string ticket;
  };
  std::map<int, Bare> bare;
  size_t failures = 0;
  for (const QBCall& call : trace) {
    Bare& b = bare[call.processor];
    const auto arg = [&call](size_t i) -> const std::string& {
      if (i >= call.args.size()) throw std::runtime_error("a trace call of " + call.operation + " lacks arguments");
      return call.args[i];
    };
    try {
      if (call.operation == "Create") {
        b.processor = platform::qb::CreateRequestProcessor();
      } else if (call.operation == "Release") {
        b.processor.reset();
      } else if (!b.processor) {
        throw std::runtime_error("a trace call of " + call.operation + " comes before its processor");
      } else if (call.operation == "OpenConnection") {
        b.processor->OpenConnection(arg(0), arg(1));
      } else if (call.operation == "BeginSession") {
        b.ticket = b.processor->BeginSession(arg(0), std::stoi(arg(1)));
      } else if (call.operation == "GetCurrentCompanyFileName") {
        b.processor->GetCurrentCompanyFileName(b.ticket);
      } else if (call.operation == "QBXMLVersionsForSession") {
        b.processor->QBXMLVersionsForSession(b.ticket);
      } else if (call.operation == "ProcessRequest") {
        b.processor->ProcessRequest(b.ticket, arg(0));
      } else if (call.operation == "EndSession") {
        b.processor->EndSession(b.ticket);
      } else if (call.operation == "CloseConnection") {
        b.processor->CloseConnection();
      }
    } catch (const kv::Error&) {
      ++failures;
    }
  }
  return failures;
}

}  // namespace kvbench
