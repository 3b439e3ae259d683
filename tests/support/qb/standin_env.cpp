// A private qb-standin state folder for one test, and the paths of the built programs and samples.

#include "tests/support/qb/standin_env.h"

#include <gtest/gtest.h>
#include <stdlib.h>

#include <fstream>
#include <sstream>

namespace platform::qb::testing {

namespace fs = std::filesystem;

namespace {

std::string Env(const char* name) {
  const char* value = std::getenv(name);
  return value != nullptr ? value : "";
}

}  // namespace

fs::path BuildProgram(const std::string& name) {
  std::string bin = Env("KV_BUILD_BIN");
  return bin.empty() ? fs::path(name) : fs::path(bin) / name;
}

fs::path SampleFile(const std::string& name) {
  return fs::path(Env("KV_SOURCE_DIR")) / "samples" / name;
}

StandinEnv::StandinEnv() {
  std::string pattern = (fs::temp_directory_path() / "kv-qb-XXXXXX").string();
  if (mkdtemp(pattern.data()) == nullptr) throw std::runtime_error("mkdtemp failed");
  dir_ = pattern;
  for (const char* name : {"QB_STANDIN_HOME", "QB_STANDIN", "XDG_STATE_HOME"}) {
    const char* value = std::getenv(name);
    saved_[name] = value != nullptr ? std::optional<std::string>(value) : std::nullopt;
  }
  setenv("QB_STANDIN_HOME", StateDir().c_str(), 1);
  setenv("QB_STANDIN", BuildProgram("qb-standin").c_str(), 1);
}

StandinEnv::~StandinEnv() {
  for (const auto& [name, value] : saved_) {
    if (value)
      setenv(name.c_str(), value->c_str(), 1);
    else
      unsetenv(name.c_str());
  }
  std::error_code ec;
  fs::remove_all(dir_, ec);
}

fs::path StandinEnv::CopySample(const std::string& name) const {
  fs::path target = dir_ / name;
  fs::copy_file(SampleFile(name), target, fs::copy_options::overwrite_existing);
  return target;
}

fs::path StandinEnv::Write(const std::string& name, const std::string& text) const {
  fs::path target = dir_ / name;
  std::ofstream(target, std::ios::binary) << text;
  return target;
}

std::string StandinEnv::Read(const fs::path& path) const {
  std::ifstream in(path, std::ios::binary);
  std::stringstream text;
  text << in.rdbuf();
  return text.str();
}

int StandinEnv::Start(const std::vector<std::string>& args, const std::string& tag) const {
  os::Launch launch;
  launch.argv = {BuildProgram("qb-standin").string()};
  launch.argv.insert(launch.argv.end(), args.begin(), args.end());
  const fs::path in = dir_ / (tag + ".in");
  if (!fs::exists(in)) std::ofstream(in).close();
  launch.in = os::Redirect::ReadFrom(in);
  launch.out = os::Redirect::WriteTo(dir_ / (tag + ".out"));
  launch.err = os::Redirect::WriteTo(dir_ / (tag + ".err"));
  os::Process process = os::Process::Start(launch);
  const int pid = process.Id();
  running_.emplace(pid, std::move(process));
  return pid;
}

RunResult StandinEnv::Wait(int pid, const std::string& tag) const {
  RunResult result;
  if (auto it = running_.find(pid); it != running_.end()) {
    result.status = it->second.Wait().ShellStatus();
    running_.erase(it);
  }
  result.out = Read(dir_ / (tag + ".out"));
  result.err = Read(dir_ / (tag + ".err"));
  return result;
}

RunResult StandinEnv::Run(const std::vector<std::string>& args, const std::string& input) const {
  static int counter = 0;
  std::string tag = "run" + std::to_string(++counter);
  std::ofstream(dir_ / (tag + ".in"), std::ios::binary) << input;
  return Wait(Start(args, tag), tag);
}

void StandinEnv::Open(const fs::path& company) const {
  RunResult result = Run({"open", company.string()});
  ASSERT_EQ(result.status, 0) << result.err;
}

}  // namespace platform::qb::testing
