#pragma once

// The Kalvor service stand-in as a server object, for the kalvor-standin program and tests in one process.

#include <cstddef>
#include <filesystem>
#include <memory>
#include <string>

#include "standins/service/request_log.h"

namespace standins::service {

struct StandinOptions {
  std::filesystem::path data_dir;
  int port = 0;                 // 0: any free port
  size_t max_body = 64u << 20;  // larger request bodies are answered with 413
  // Both given: HTTPS with this certificate and key (PEM files); the base URL then starts with https://.
  std::filesystem::path tls_cert;
  std::filesystem::path tls_key;
};

// The Kalvor service stand-in: serves the service's pages on 127.0.0.1 from a data directory (data_dir.h), and
// records every request (request_log.h).
class ServiceStandin {
 public:
  // Records into DIR/received (RequestLog).
  explicit ServiceStandin(StandinOptions options);
  // Records through `recorder` instead; DIR/received is left alone.
  ServiceStandin(StandinOptions options, std::unique_ptr<RequestRecorder> recorder);
  ~ServiceStandin();
  ServiceStandin(const ServiceStandin&) = delete;
  ServiceStandin& operator=(const ServiceStandin&) = delete;

  // Binds the port and returns the base URL ("http://127.0.0.1:PORT/"). Throws std::runtime_error on failure.
  // Throws std::runtime_error also when the certificate or key cannot be used.
  std::string Bind();
  // Serves until Stop; call after Bind.
  void Run();
  // From any thread; ends delays in progress at once. A thread in Run must be joined before destruction.
  void Stop();

  const std::string& BaseUrl() const { return base_url_; }

 private:
  struct Server;
  StandinOptions options_;
  std::string base_url_;
  std::unique_ptr<Server> server_;
};

}  // namespace standins::service
