#pragma once

// Runs kalvor-standin for a test: a fresh data directory, a free port on 127.0.0.1, and a clean stop.
//
//   kv::test::ServiceStandinProcess service;          // started; service.BaseUrl() ends in "/"
//   service.SetAnswer("brintavel.asp", "No data to upload. ");
//   ... navigate to service.BaseUrl() + "brintavel.asp?..." ...
//   auto requests = service.Received();               // every request, in order of arrival
//
// The data directory's layout is the stand-in's (standins/service/data_dir.h); files may be changed at any time.

#include <sys/types.h>

#include <chrono>
#include <cstdint>
#include <filesystem>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "platform/os/process.h"
#include "tests/support/event_wait.h"

namespace kv::test {

struct ReceivedRequest {
  uint64_t number = 0;
  std::string method;   // "GET", "POST"
  std::string target;   // "/brintavel.asp?sitecode=A", as sent
  std::string version;  // "HTTP/1.1"
  std::string body;     // the bytes as they arrived
  std::vector<std::pair<std::string, std::string>> headers;

  // Last segment of the path ("brintavel.asp").
  std::string Page() const;
  // The query's pairs in order, percent-decoded ("+" stays "+").
  std::vector<std::pair<std::string, std::string>> Query() const;
  // The first value of the key (exact); "" when absent.
  std::string QueryValue(std::string_view key) const;
  // The first header of that name (any letter case); "" when absent.
  std::string Header(std::string_view name) const;
};

class ServiceStandinProcess {
 public:
  // extra_args go to the command line after --data and --port 0 (e.g. {"--max-body", "1000"}).
  explicit ServiceStandinProcess(std::vector<std::string> extra_args = {});
  ~ServiceStandinProcess();
  ServiceStandinProcess(const ServiceStandinProcess&) = delete;
  ServiceStandinProcess& operator=(const ServiceStandinProcess&) = delete;

  const std::string& BaseUrl() const { return base_url_; }
  int Port() const { return port_; }
  pid_t Pid() const { return process_.Id(); }
  const std::filesystem::path& DataDir() const { return data_dir_; }

  // Writes a file of the data directory whole (temporary name, then rename), creating its folders.
  void WriteFile(const std::string& relative, std::string_view content) const;
  void RemoveFile(const std::string& relative) const;

  // answers/<page>: the answer to every request of the page.
  void SetAnswer(const std::string& page, std::string_view text) const;
  // answers/<page>.<N>: answers taken one per request, after any already queued.
  void QueueAnswers(const std::string& page, const std::vector<std::string>& texts) const;
  // faults/<page>: e.g. "delay-ms 3000", "drop", "status 500".
  void SetFault(const std::string& page, std::string_view instructions) const;
  void ClearFault(const std::string& page) const;

  // Every request recorded so far, in order of their numbers.
  std::vector<ReceivedRequest> Received() const;
  size_t ReceivedCount() const;
  // Waits until at least count requests are recorded; false when they are not within the hang guard.
  bool WaitForReceived(size_t count, std::chrono::milliseconds timeout = kEventWait) const;

  // Ends the stand-in (SIGTERM, then SIGKILL after 5 s); the destructor also removes the data directory.
  void Stop();
  // Stops it and starts it again on the same data directory, with the same arguments and a new free port: what
  // the service keeps (transferred.txt) must survive this.
  void Restart();

 private:
  void Start();

  std::filesystem::path data_dir_;
  std::vector<std::string> extra_args_;
  std::string base_url_;
  int port_ = 0;
  platform::os::Process process_;
};

// A self-signed certificate for 127.0.0.1 and localhost, and its key, for HTTPS tests:
//   ServiceStandinProcess service({"--tls-cert", TestCertificate(), "--tls-key", TestCertificateKey()});
// Clients trust it through KV_WEB_CA_FILE.
std::string TestCertificate();
std::string TestCertificateKey();

// The path of a program of the build (KV_BUILD_BIN, else the folder the build put the stand-in in).
std::filesystem::path BuildProgram(const std::string& name);

}  // namespace kv::test
