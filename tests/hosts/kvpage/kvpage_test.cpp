// kvpage as a user runs it: the sample company open in the QuickBooks stand-in and the service stand-in running.

#include <gtest/gtest.h>
#include <signal.h>

#include <chrono>
#include <filesystem>
#include <fstream>

#include "tests/support/programs/program_run.h"
#include "tests/support/programs/sample_company.h"
#include "tests/support/service/service_standin.h"

namespace {

using kv::test::ProgramRun;
using kv::test::RunProgram;

class KvpageTest : public ::testing::Test {
 protected:
  static kv::test::ProgramOptions WithWebTimeouts(kv::test::ProgramOptions options) {
    options.env.insert(options.env.end(), {{"KV_WEB_CONNECT_TIMEOUT_MS", "2000"}, {"KV_WEB_STALL_TIMEOUT_MS", "5000"}});
    return options;
  }

  const kv::test::SampleCompany company_{"kv-kvpage"};
  const kv::test::ProgramOptions options_ = WithWebTimeouts(company_.options());
};

TEST_F(KvpageTest, PaymentTermsRunIsAlreadyInSync) {
  kv::test::ServiceStandinProcess service;
  const ProgramRun run =
      RunProgram("kvpage", company_.SyncArgs(service.BaseUrl(), {"--select", "payterms", "--start"}), options_);
  EXPECT_EQ(run.status, 0) << run.err;
  EXPECT_EQ(run.out, "[Information]\nYour Kalvor data is already in sync with your Quickbooks data..\n\n");
  EXPECT_EQ(service.ReceivedCount(), 0u);
}

TEST_F(KvpageTest, ParametersFromTheServicePage) {
  kv::test::ServiceStandinProcess service;
  service.WriteFile("page-params.txt", "KalvorUser=pat\nQBFilePath=" + company_.file() + "\n");
  const ProgramRun run =
      RunProgram("kvpage",
                 {"--control", "brintavel", "--page", service.BaseUrl() + "BrintavelCall.asp?sitecode=AC01&siteid=K9",
                  "--select", "payterms", "--start"},
                 options_);
  EXPECT_EQ(run.status, 0) << run.err;
  EXPECT_EQ(run.out, "[Information]\nYour Kalvor data is already in sync with your Quickbooks data..\n\n");
}

TEST_F(KvpageTest, StoppedServiceShowsTheFailureInsteadOfHanging) {
  // Classes are in the sample company, so the run has something to upload.
  const ProgramRun run =
      RunProgram("kvpage", company_.SyncArgs("http://127.0.0.1:1/", {"--select", "classes", "--start"}), options_);
  EXPECT_EQ(run.status, 3) << run.err;
  EXPECT_EQ(run.out.rfind(
                "[Critical]\nThe following error occured while executing ASP.\n\nThe page cannot be displayed\n", 0),
            0u)
      << run.out;
}

TEST_F(KvpageTest, CtrlCDuringAnUploadPressesCancel) {
  kv::test::ServiceStandinProcess service;
  service.SetFault("brintavel.asp", "delay-ms 8000");
  const auto started = std::chrono::steady_clock::now();
  kv::test::ProgramOptions options = options_;
  options.during = [&service](pid_t pid) {
    // The upload has reached the service: the wizard waits on it now.
    if (service.WaitForReceived(1)) kill(pid, SIGINT);
  };
  const ProgramRun run =
      RunProgram("kvpage", company_.SyncArgs(service.BaseUrl(), {"--select", "classes", "--start"}), options);
  EXPECT_LT(std::chrono::steady_clock::now() - started, std::chrono::seconds(7));
  EXPECT_EQ(run.status, 4) << run.err;
  EXPECT_EQ(run.out, "[Critical]\nSync process cancelled on user request.\n\n");
}

// A page that writes its last-sync dates in another usual form still shows the wizard; a text that is no date
// still stops it.
TEST_F(KvpageTest, LastSyncDatesInTheUsualFormsShowTheWizard) {
  const ProgramRun shown = RunProgram(
      "kvpage",
      {"--control", "brintavel", "--param", "CustomerLastSyncDate=May 2, 2006", "--param",
       "EmployeeLastSyncDate=05/02/06", "--param", "TimeLastSyncDate=2006-05-02 16:40:12", "--select", "classes"},
      options_);
  EXPECT_EQ(shown.status, 0) << shown.err;
  EXPECT_NE(shown.out.find("[x] Classes"), std::string::npos) << shown.out;

  const ProgramRun refused =
      RunProgram("kvpage", {"--control", "brintavel", "--param", "CustomerLastSyncDate=2 Mai 2006"}, options_);
  EXPECT_EQ(refused.status, 1);
  EXPECT_NE(refused.err.find("CustomerLastSyncDate"), std::string::npos) << refused.err;
}

TEST_F(KvpageTest, UsageAndHostFailures) {
  EXPECT_EQ(RunProgram("kvpage", {}, options_).status, 2);
  EXPECT_EQ(RunProgram("kvpage", {"--control", "nothing"}, options_).status, 2);
  EXPECT_EQ(RunProgram("kvpage", {"--control", "brintavel", "--select", "payroll"}, options_).status, 2);
  EXPECT_EQ(RunProgram("kvpage", {"--control", "brintavel", "--param", "NoValue"}, options_).status, 2);
  EXPECT_EQ(RunProgram("kvpage", {"--control", "brintavel", "--continue-on-error"}, options_).status, 2);

  const ProgramRun mismatch =
      RunProgram("kvpage", {"--control", "brintavel", "--param", "ResetKalvor=perhaps"}, options_);
  EXPECT_EQ(mismatch.status, 1);
  EXPECT_NE(mismatch.err.find("ResetKalvor"), std::string::npos) << mismatch.err;
  EXPECT_EQ(
      RunProgram("kvpage", {"--control", "brintavel", "--page", (company_.dir() / "none.html").string()}, options_)
          .status,
      1);

  // Without a terminal and without Start the page shows itself with what the options ticked.
  const ProgramRun shown =
      RunProgram("kvpage", {"--control", "brintavel", "--select", "time", "--debug", "--continue-on-error"}, options_);
  EXPECT_EQ(shown.status, 0);
  EXPECT_NE(shown.out.find("[x] Time"), std::string::npos) << shown.out;
  EXPECT_NE(shown.out.find("(o) Continue on error"), std::string::npos) << shown.out;
}

TEST_F(KvpageTest, TheExitStatusTellsHowTheRunEnded) {
  kv::test::ServiceStandinProcess service;
  // No list ticked: the run does not start.
  EXPECT_EQ(RunProgram("kvpage", company_.SyncArgs(service.BaseUrl(), {"--start"}), options_).status, 3);
  // A parameter missing.
  EXPECT_EQ(
      RunProgram("kvpage", {"--control", "brintavel", "--param", "SiteCode=AC01", "--select", "classes", "--start"},
                 options_)
          .status,
      3);
  // Debug mode going on after a failed upload: the summary lists what could not be sent.
  service.SetAnswer("brintavel.asp", "The statement failed");
  const ProgramRun failed = RunProgram(
      "kvpage",
      company_.SyncArgs(service.BaseUrl(), {"--select", "classes", "--debug", "--continue-on-error", "--start"}),
      options_);
  EXPECT_EQ(failed.status, 5) << failed.out;
  EXPECT_NE(failed.out.find("Following data could not be sent.."), std::string::npos) << failed.out;
  // The download: connection parameters missing, then a page whose service cannot be reached.
  EXPECT_EQ(RunProgram("kvpage", {"--control", "tessarine", "--param", "SiteCode=AC01", "--continue"}, options_).status,
            3);
  EXPECT_EQ(
      RunProgram("kvpage",
                 {"--control", "tessarine", "--param", "KVSecureServerURL=http://127.0.0.1:1/", "--param",
                  "SiteCode=AC01", "--param", "SiteKey=K9", "--param", "QBFilePath=" + company_.file(), "--continue"},
                 options_)
          .status,
      3);
}

TEST_F(KvpageTest, APageOfTheOtherControlIsRefusedAndNothingIsWritten) {
  kv::test::ServiceStandinProcess service;
  service.WriteFile("page-params.txt", "KalvorUser=pat\nQBFilePath=" + company_.file() + "\n");
  service.WriteFile("pending-time.txt", kv::test::ReadSourceFile("samples/service/pending-time.txt"));
  const std::string before = company_.Contents();

  const ProgramRun download =
      RunProgram("kvpage",
                 {"--control", "tessarine", "--page", service.BaseUrl() + "BrintavelCall.asp?sitecode=AC01&siteid=K9",
                  "--continue"},
                 options_);
  EXPECT_EQ(download.status, 1) << download.out;
  EXPECT_NE(download.err.find("no KVRDowloadctl control"), std::string::npos) << download.err;
  EXPECT_NE(download.err.find("clsid:5105AB9B-325B-4FA2-9B1F-982A3193B989"), std::string::npos) << download.err;

  const ProgramRun sync =
      RunProgram("kvpage",
                 {"--control", "brintavel", "--page", service.BaseUrl() + "tspenddownlist.asp?sitecode=AC01&siteid=K9",
                  "--select", "classes", "--start"},
                 options_);
  EXPECT_EQ(sync.status, 1) << sync.out;
  EXPECT_NE(sync.err.find("no BrintavelCtl control"), std::string::npos) << sync.err;

  // A page whose object names no class at all is no page of either control.
  const std::filesystem::path bare = company_.dir() / "bare.html";
  std::ofstream(bare) << "<object><param name=\"SiteCode\" value=\"AC01\"></object>";
  const ProgramRun unnamed = RunProgram("kvpage", {"--control", "tessarine", "--page", bare.string()}, options_);
  EXPECT_EQ(unnamed.status, 1);
  EXPECT_NE(unnamed.err.find("none"), std::string::npos) << unnamed.err;

  // The two pages were read, and nothing was downloaded or uploaded.
  EXPECT_EQ(service.ReceivedCount(), 2u);
  EXPECT_EQ(company_.Contents(), before);
}

TEST_F(KvpageTest, OptionsOfTheOtherControlAreUsageErrors) {
  for (const char* option : {"--select-all", "--start", "--debug"}) {
    const ProgramRun run = RunProgram("kvpage", {"--control", "tessarine", option}, options_);
    EXPECT_EQ(run.status, 2) << option;
    EXPECT_NE(run.err.find(std::string(option) + " is an option of --control brintavel"), std::string::npos) << run.err;
  }
  EXPECT_EQ(RunProgram("kvpage", {"--control", "tessarine", "--select", "classes"}, options_).status, 2);
  const ProgramRun cont = RunProgram("kvpage", {"--control", "brintavel", "--continue"}, options_);
  EXPECT_EQ(cont.status, 2);
  EXPECT_NE(cont.err.find("--continue is an option of --control tessarine"), std::string::npos) << cont.err;
}

TEST_F(KvpageTest, HelpGivesTheExitStatusesAndTheSettings) {
  const ProgramRun help = RunProgram("kvpage", {"--help"}, options_);
  EXPECT_EQ(help.status, 0);
  for (const char* text :
       {"Exit status:", "  5  the run finished but some records were not sent or not posted",
        "KV_WEB_CONNECT_TIMEOUT_MS", "KV_WEB_STALL_TIMEOUT_MS", "KV_WEB_REQUEST_TIMEOUT_MS", "KV_WEB_MAX_ANSWER_BYTES",
        "KV_WEB_CA_FILE", "KV_COM_TIMEOUT_SECONDS", "XDG_STATE_HOME", "QB_STANDIN_HOME", "TERM"}) {
    EXPECT_NE(help.out.find(text), std::string::npos) << text;
  }
}

}  // namespace
