// A sync that ends before its lists are sent: kvpage sends employees and classes while the user presses Ctrl-C
// (Cancel) during a status report, or the service answers "Error". The run ends with the message of what happened
// and sends nothing after it.

#include <gtest/gtest.h>
#include <signal.h>
#include <stdlib.h>

#include <chrono>
#include <filesystem>
#include <string>
#include <vector>

#include "tests/support/programs/program_run.h"
#include "tests/support/service/service_standin.h"

namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;

class SyncStopsTest : public ::testing::Test {
 protected:
  void SetUp() override {
    std::string pattern = (fs::temp_directory_path() / "kv-e2e-stops-XXXXXX").string();
    ASSERT_NE(mkdtemp(pattern.data()), nullptr);
    dir_ = pattern;
    company_ = (dir_ / "Sample Company.QBW").string();
    const char* source = std::getenv("KV_SOURCE_DIR");
    ASSERT_NE(source, nullptr) << "KV_SOURCE_DIR names the source tree (ctest sets it)";
    fs::copy_file(fs::path(source) / "samples" / "company.xml", company_);
    options_.env = {{"QB_STANDIN_HOME", (dir_ / "qb").string()}};
    options_.time_limit = 20s;
    const kv::test::ProgramRun opened = kv::test::RunProgram("qb-standin", {"open", company_}, options_);
    ASSERT_EQ(opened.status, 0) << opened.out << opened.err;
  }
  void TearDown() override { fs::remove_all(dir_); }

  kv::test::ProgramRun Sync() const {
    return kv::test::RunProgram("kvpage",
                                {"--control", "brintavel", "--param", "KVSecureServerURL=" + service_.BaseUrl(),
                                 "--param", "SiteCode=AC01", "--param", "SiteKey=K9", "--param", "KalvorUser=pat",
                                 "--param", "QBFilePath=" + company_, "--select", "employees,classes", "--start"},
                                options_);
  }

  // Every request the service received: its page and options letter.
  std::vector<std::string> Requests() const {
    std::vector<std::string> requests;
    for (const auto& request : service_.Received()) {
      requests.push_back(request.Page() + " " + request.QueryValue("options"));
    }
    return requests;
  }

  fs::path dir_;
  std::string company_;
  kv::test::ProgramOptions options_;
  kv::test::ServiceStandinProcess service_;
};

TEST_F(SyncStopsTest, CtrlCDuringAStatusReportEndsTheRunAndNothingIsSentAfterIt) {
  service_.WriteFile("faults/brintavelupdatestatus.asp.1", "delay-ms 8000\n");
  options_.during = [this](pid_t pid) {
    // The employees' upload, then their status report, which the service holds.
    if (service_.WaitForReceived(2, 10s)) kill(pid, SIGINT);
  };
  const kv::test::ProgramRun run = Sync();

  EXPECT_FALSE(run.timed_out);
  EXPECT_EQ(run.killed_by, 0) << run.err;
  EXPECT_EQ(run.status, 4) << run.err;
  EXPECT_NE(run.out.find("[Critical]\nSync process cancelled on user request.\n"), std::string::npos) << run.out;
  EXPECT_EQ(run.out.find("successfully"), std::string::npos) << run.out;
  EXPECT_EQ(Requests(), (std::vector<std::string>{"brintavel.asp E", "brintavelupdatestatus.asp E"}));
}

TEST_F(SyncStopsTest, TheAnswerErrorEndsTheRunWithABoxThatSaysSo) {
  service_.QueueAnswers("brintavel.asp", {"Error"});
  const kv::test::ProgramRun run = Sync();

  EXPECT_FALSE(run.timed_out);
  EXPECT_EQ(run.status, 3) << run.err;
  EXPECT_EQ(run.out.rfind("[Information]\nCould not sync QB's data with Kalvor. Please try later.\n\n"
                          "[Critical]\nThe following error occured while executing ASP.\n\n"
                          "The Kalvor service answered \"Error\".\n",
                          0),
            0u)
      << run.out;
  EXPECT_EQ(run.out.find("successfully"), std::string::npos) << run.out;
  EXPECT_EQ(Requests(), (std::vector<std::string>{"brintavel.asp E"}));
}

}  // namespace
