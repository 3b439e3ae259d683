#pragma once

// What the menu agent's tests share: a private QuickBooks state directory and browser log per test, fresh
// module state and forms, and the sign-in answers of the service stand-in.

#include <gtest/gtest.h>
#include <stdlib.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <optional>
#include <sstream>
#include <string>
#include <vector>

#include "menu_agent/main_mod.h"
#include "platform/base/text.h"
#include "platform/forms/form.h"
#include "tests/support/scoped_env.h"

namespace menutest {

using kv::test::ScopedEnv;

class TempDir {
 public:
  TempDir() {
    std::string pattern = (std::filesystem::temp_directory_path() / "corvalink-test-XXXXXX").string();
    if (mkdtemp(pattern.data()) == nullptr) throw std::runtime_error("mkdtemp failed");
    path_ = pattern;
  }
  ~TempDir() {
    std::error_code ec;
    std::filesystem::remove_all(path_, ec);
  }
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;
  const std::filesystem::path& Path() const { return path_; }

 private:
  std::filesystem::path path_;
};

inline std::string ReadAll(const std::filesystem::path& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream out;
  out << in.rdbuf();
  return out.str();
}

inline void WriteAll(const std::filesystem::path& path, const std::string& text) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out << text;
}

// The addresses OpenBrowser was asked to open, in order.
inline std::vector<std::string> BrowserLog(const std::filesystem::path& log) {
  std::vector<std::string> lines;
  std::istringstream in(ReadAll(log));
  for (std::string line; std::getline(in, line);) lines.push_back(line);
  return lines;
}

// Every test starts like a new agent process: empty module values, no forms, its own QuickBooks state
// directory and browser log.
class AgentTest : public ::testing::Test {
 protected:
  AgentTest()
      : state_env_("QB_STANDIN_HOME", (dir_.Path() / "qb-state").string()),
        browser_env_("KV_BROWSER_LOG", (dir_.Path() / "browser.log").string()),
        connect_env_("KV_WEB_CONNECT_TIMEOUT_MS", "5000"),
        stall_env_("KV_WEB_STALL_TIMEOUT_MS", "5000") {
    corvalink::ResetMainMod();
    platform::forms::ResetDefaultInstances();
    platform::forms::Screen().MousePointer = platform::forms::vbDefault;
  }
  ~AgentTest() override {
    platform::forms::ResetDefaultInstances();
    corvalink::ResetMainMod();
  }

  std::vector<std::string> Opened() const { return BrowserLog(dir_.Path() / "browser.log"); }
  const std::filesystem::path& Dir() const { return dir_.Path(); }

  TempDir dir_;

 private:
  ScopedEnv state_env_;
  ScopedEnv browser_env_;
  ScopedEnv connect_env_;
  ScopedEnv stall_env_;
};

// Five answer lines as the service gives them for a known account.
inline std::string AccountLine(const std::string& user, const std::string& password, const std::string& site_code,
                               const std::string& site_id, const std::string& qb_file) {
  return user + "\t" + password + "\t" + site_code + "\t" + site_id + "\t" + qb_file + "\tline4\tline5\n";
}

}  // namespace menutest
