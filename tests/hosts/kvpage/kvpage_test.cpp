// kvpage as a user runs it: the sample company open in the QuickBooks stand-in and the service stand-in running.

#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <signal.h>
#include <stdlib.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <thread>

#include "tests/support/service/service_standin.h"

namespace {

namespace fs = std::filesystem;

struct Outcome {
  int status = -1;
  std::string out;
  std::string err;
};

// Runs a program of the build with stdin from /dev/null; `during` runs with the child's pid while it runs.
Outcome RunProgram(const std::string& name, const std::vector<std::string>& args,
                   const std::vector<std::pair<std::string, std::string>>& env,
                   const std::function<void(pid_t)>& during = {}) {
  int out_pipe[2], err_pipe[2];
  if (pipe2(out_pipe, O_CLOEXEC) != 0 || pipe2(err_pipe, O_CLOEXEC) != 0) throw std::runtime_error("pipe");
  const std::string program = kv::test::BuildProgram(name).string();
  const pid_t pid = fork();
  if (pid == 0) {
    const int null_fd = open("/dev/null", O_RDONLY);
    dup2(null_fd, STDIN_FILENO);
    dup2(out_pipe[1], STDOUT_FILENO);
    dup2(err_pipe[1], STDERR_FILENO);
    for (const auto& [key, value] : env) setenv(key.c_str(), value.c_str(), 1);
    std::vector<char*> argv{const_cast<char*>(program.c_str())};
    for (const auto& arg : args) argv.push_back(const_cast<char*>(arg.c_str()));
    argv.push_back(nullptr);
    execv(program.c_str(), argv.data());
    _exit(127);
  }
  close(out_pipe[1]);
  close(err_pipe[1]);
  std::thread watcher;
  if (during) watcher = std::thread([&] { during(pid); });
  Outcome outcome;
  pollfd fds[2] = {{out_pipe[0], POLLIN, 0}, {err_pipe[0], POLLIN, 0}};
  int open_fds = 2;
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(25);
  while (open_fds > 0 && std::chrono::steady_clock::now() < deadline) {
    if (poll(fds, 2, 200) <= 0) continue;
    for (int i = 0; i < 2; ++i) {
      if (fds[i].fd < 0 || !(fds[i].revents & (POLLIN | POLLHUP))) continue;
      char buffer[4096];
      const ssize_t n = read(fds[i].fd, buffer, sizeof buffer);
      if (n <= 0) {
        close(fds[i].fd);
        fds[i].fd = -1;
        --open_fds;
      } else {
        (i == 0 ? outcome.out : outcome.err).append(buffer, static_cast<size_t>(n));
      }
    }
  }
  if (open_fds > 0) kill(pid, SIGKILL);
  int status = 0;
  waitpid(pid, &status, 0);
  if (watcher.joinable()) watcher.join();
  for (const auto& fd : fds) {
    if (fd.fd >= 0) close(fd.fd);
  }
  outcome.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  return outcome;
}

class KvpageTest : public ::testing::Test {
 protected:
  void SetUp() override {
    std::string pattern = (fs::temp_directory_path() / "kv-kvpage-XXXXXX").string();
    ASSERT_NE(mkdtemp(pattern.data()), nullptr);
    dir_ = pattern;
    company_ = (dir_ / "Sample Company.QBW").string();
    const char* source = std::getenv("KV_SOURCE_DIR");
    ASSERT_NE(source, nullptr) << "KV_SOURCE_DIR names the source tree (ctest sets it)";
    fs::copy_file(fs::path(source) / "samples" / "company.xml", company_);
    env_ = {{"QB_STANDIN_HOME", (dir_ / "qb").string()},
            {"KV_WEB_CONNECT_TIMEOUT_MS", "2000"},
            {"KV_WEB_STALL_TIMEOUT_MS", "5000"}};
    const Outcome opened = RunProgram("qb-standin", {"open", company_}, env_);
    ASSERT_EQ(opened.status, 0) << opened.out << opened.err;
  }
  void TearDown() override { fs::remove_all(dir_); }

  std::vector<std::string> PageArgs(const std::string& url) const {
    return {"--control", "brintavel",  "--param", "KVSecureServerURL=" + url, "--param", "SiteCode=AC01",
            "--param",   "SiteKey=K9", "--param", "KalvorUser=pat",           "--param", "QBFilePath=" + company_};
  }
  static std::vector<std::string> Plus(std::vector<std::string> args, std::initializer_list<std::string> more) {
    args.insert(args.end(), more);
    return args;
  }

  fs::path dir_;
  std::string company_;
  std::vector<std::pair<std::string, std::string>> env_;
};

TEST_F(KvpageTest, PaymentTermsRunIsAlreadyInSync) {
  kv::test::ServiceStandinProcess service;
  const Outcome run =
      RunProgram("kvpage", Plus(PageArgs(service.BaseUrl()), {"--select", "payterms", "--start"}), env_);
  EXPECT_EQ(run.status, 0) << run.err;
  EXPECT_EQ(run.out, "[Information]\nYour Kalvor data is already in sync with your Quickbooks data..\n\n");
  EXPECT_EQ(service.ReceivedCount(), 0u);
}

TEST_F(KvpageTest, ParametersFromTheServicePage) {
  kv::test::ServiceStandinProcess service;
  service.WriteFile("page-params.txt", "KalvorUser=pat\nQBFilePath=" + company_ + "\n");
  const Outcome run =
      RunProgram("kvpage",
                 {"--control", "brintavel", "--page", service.BaseUrl() + "BrintavelCall.asp?sitecode=AC01&siteid=K9",
                  "--select", "payterms", "--start"},
                 env_);
  EXPECT_EQ(run.status, 0) << run.err;
  EXPECT_EQ(run.out, "[Information]\nYour Kalvor data is already in sync with your Quickbooks data..\n\n");
}

TEST_F(KvpageTest, StoppedServiceShowsTheFailureInsteadOfHanging) {
  // Classes are in the sample company, so the run has something to upload.
  const Outcome run =
      RunProgram("kvpage", Plus(PageArgs("http://127.0.0.1:1/"), {"--select", "classes", "--start"}), env_);
  EXPECT_EQ(run.status, 0) << run.err;
  EXPECT_EQ(run.out.rfind(
                "[Critical]\nThe following error occured while executing ASP.\n\nThe page cannot be displayed\n", 0),
            0u)
      << run.out;
}

TEST_F(KvpageTest, CtrlCDuringAnUploadPressesCancel) {
  kv::test::ServiceStandinProcess service;
  service.SetFault("brintavel.asp", "delay-ms 8000");
  const auto started = std::chrono::steady_clock::now();
  const Outcome run = RunProgram("kvpage", Plus(PageArgs(service.BaseUrl()), {"--select", "classes", "--start"}), env_,
                                 [&service](pid_t pid) {
                                   // The upload has reached the service: the wizard waits on it now.
                                   if (service.WaitForReceived(1, std::chrono::seconds(10))) kill(pid, SIGINT);
                                 });
  EXPECT_LT(std::chrono::steady_clock::now() - started, std::chrono::seconds(7));
  EXPECT_EQ(run.status, 0) << run.err;
  EXPECT_EQ(run.out, "[Critical]\nSync process cancelled on user request.\n\n");
}

TEST_F(KvpageTest, UsageAndHostFailures) {
  EXPECT_EQ(RunProgram("kvpage", {}, env_).status, 2);
  EXPECT_EQ(RunProgram("kvpage", {"--control", "nothing"}, env_).status, 2);
  EXPECT_EQ(RunProgram("kvpage", {"--control", "brintavel", "--select", "payroll"}, env_).status, 2);
  EXPECT_EQ(RunProgram("kvpage", {"--control", "brintavel", "--param", "NoValue"}, env_).status, 2);
  EXPECT_EQ(RunProgram("kvpage", {"--control", "brintavel", "--continue-on-error"}, env_).status, 2);

  const Outcome mismatch = RunProgram("kvpage", {"--control", "brintavel", "--param", "ResetKalvor=perhaps"}, env_);
  EXPECT_EQ(mismatch.status, 1);
  EXPECT_NE(mismatch.err.find("ResetKalvor"), std::string::npos) << mismatch.err;
  EXPECT_EQ(RunProgram("kvpage", {"--control", "brintavel", "--page", (dir_ / "none.html").string()}, env_).status, 1);

  // Without a terminal and without Start the page shows itself with what the options ticked.
  const Outcome shown =
      RunProgram("kvpage", {"--control", "brintavel", "--select", "time", "--debug", "--continue-on-error"}, env_);
  EXPECT_EQ(shown.status, 0);
  EXPECT_NE(shown.out.find("[x] Time"), std::string::npos) << shown.out;
  EXPECT_NE(shown.out.find("(o) Continue on error"), std::string::npos) << shown.out;
}

}  // namespace
