#pragma once

// A private QuickBooks stand-in for one test: a temporary directory holding the stand-in's state
// ($QB_STANDIN_HOME) and the test's company files, with $QB_STANDIN naming the built qb-standin, so the default
// class factory of platform/qb talks to it. The environment is put back and the directory removed at the end.
//
//   platform::qb::testing::StandinEnv env;
//   auto company = env.CopySample();          // samples/company.xml, copied into the directory
//   env.Open(company);                        // qb-standin open
//   auto processor = platform::qb::CreateRequestProcessor();   // talks to the stand-in
//
// Needs the variables ctest sets: KV_BUILD_BIN (programs) and KV_SOURCE_DIR (samples).

#include <filesystem>
#include <functional>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "platform/base/error.h"
#include "platform/os/process.h"

namespace platform::qb::testing {

struct RunResult {
  int status = -1;  // exit status, or 128 + signal
  std::string out;
  std::string err;
};

class StandinEnv {
 public:
  StandinEnv();
  ~StandinEnv();
  StandinEnv(const StandinEnv&) = delete;
  StandinEnv& operator=(const StandinEnv&) = delete;

  const std::filesystem::path& dir() const { return dir_; }
  std::filesystem::path StateDir() const { return dir_ / "state"; }
  // A copy of samples/company.xml (or another file of samples/) in the directory.
  std::filesystem::path CopySample(const std::string& name = "company.xml") const;
  std::filesystem::path Write(const std::string& name, const std::string& text) const;
  std::string Read(const std::filesystem::path& path) const;

  // Runs qb-standin with the arguments (and the text on its standard input) and waits for it.
  RunResult Run(const std::vector<std::string>& args, const std::string& input = "") const;
  // Starts qb-standin without waiting; Wait collects it.
  int Start(const std::vector<std::string>& args, const std::string& tag) const;
  RunResult Wait(int pid, const std::string& tag) const;
  // qb-standin open FILE; the test fails when it does.
  void Open(const std::filesystem::path& company) const;

 private:
  std::filesystem::path dir_;
  std::map<std::string, std::optional<std::string>> saved_;
  // Started and not yet waited for, by pid.
  mutable std::map<int, os::Process> running_;
};

// $KV_BUILD_BIN/name and $KV_SOURCE_DIR/samples/name.
std::filesystem::path BuildProgram(const std::string& name);
std::filesystem::path SampleFile(const std::string& name);

// The error the call raises; error 0 "no error" when it raises none, so that a test's comparison fails readably.
inline kv::Error ErrorOf(const std::function<void()>& call) {
  try {
    call();
  } catch (const kv::Error& e) {
    return e;
  }
  return kv::Error(0, "no error");
}

}  // namespace platform::qb::testing
