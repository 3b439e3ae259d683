// kalvor-standin --data DIR [--create] [--port N] [--max-body BYTES] [--tls-cert PEM --tls-key PEM]: the Kalvor
// service stand-in on 127.0.0.1.
// The first line of output is the base URL; SIGINT or SIGTERM end it.

#include <pthread.h>
#include <CLI/CLI.hpp>

#include <csignal>
#include <cstdio>
#include <filesystem>
#include <iostream>
#include <thread>

#include "standins/service/service_standin.h"

int main(int argc, char** argv) {
  CLI::App app{"Kalvor service stand-in: serves the service pages on 127.0.0.1 from a data directory"};
  standins::service::StandinOptions options;
  std::string data_dir;
  auto* data_option =
      app.add_option("--data", data_dir, "data directory (answers, faults, accounts, pending lines, received/)");
  bool create = false;
  app.add_flag("--create", create, "create the data directory when it does not exist");
  app.add_option("--port", options.port, "port to listen on; 0 picks a free one")->check(CLI::Range(0, 65535));
  app.add_option("--max-body", options.max_body, "largest request body in bytes; larger ones get HTTP 413");
  std::string tls_cert, tls_key;
  auto* cert_option =
      app.add_option("--tls-cert", tls_cert, "serve HTTPS with this certificate (PEM)")->check(CLI::ExistingFile);
  auto* key_option =
      app.add_option("--tls-key", tls_key, "the certificate's private key (PEM)")->check(CLI::ExistingFile);
  cert_option->needs(key_option);
  key_option->needs(cert_option);
  try {
    app.parse(argc, argv);
  } catch (const CLI::CallForHelp& e) {
    return app.exit(e);
  } catch (const CLI::ParseError& e) {
    app.exit(e);
    return 2;
  }
  if (data_option->count() == 0 || data_dir.empty()) {
    std::cerr << "kalvor-standin: --data is required: the folder the service's files are served from\n\n" << app.help();
    return 2;
  }
  // A mistyped folder would otherwise serve an empty service without a word.
  std::error_code error;
  if (!std::filesystem::is_directory(data_dir, error)) {
    if (!create) {
      std::cerr << "kalvor-standin: the data folder \"" << data_dir
                << "\" does not exist or is no folder (--create makes a new one)\n";
      return 2;
    }
    if (!std::filesystem::create_directories(data_dir, error) || error) {
      std::cerr << "kalvor-standin: the data folder \"" << data_dir << "\" cannot be created: " << error.message()
                << "\n";
      return 2;
    }
  }
  options.data_dir = data_dir;
  options.tls_cert = tls_cert;
  options.tls_key = tls_key;

  // A client that hangs up must not end the process.
  std::signal(SIGPIPE, SIG_IGN);
  // Ending signals are taken by one thread, so that stopping never runs inside a signal handler.
  sigset_t ending;
  sigemptyset(&ending);
  sigaddset(&ending, SIGINT);
  sigaddset(&ending, SIGTERM);
  sigaddset(&ending, SIGHUP);
  pthread_sigmask(SIG_BLOCK, &ending, nullptr);

  try {
    standins::service::ServiceStandin standin(options);
    std::cout << standin.Bind() << std::endl;
    std::thread waiter([&] {
      int signal = 0;
      sigwait(&ending, &signal);
      standin.Stop();
    });
    standin.Run();
    // Run also ends when listening fails; wake the waiter so that it can be joined.
    pthread_kill(waiter.native_handle(), SIGTERM);
    waiter.join();
  } catch (const std::exception& e) {
    std::cerr << "kalvor-standin: " << e.what() << "\n";
    return 1;
  }
  return 0;
}
