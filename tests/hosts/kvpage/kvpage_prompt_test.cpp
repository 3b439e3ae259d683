// What kvpage says of what a user types: Ctrl-C at a prompt cancels the page with the cancelled status, and a
// --param that no control reads is named on standard error while the page is hosted all the same.

#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <signal.h>

#include <chrono>

#include "tests/support/programs/program_run.h"
#include "tests/support/programs/sample_company.h"
#include "tests/support/service/service_standin.h"

namespace {

using kv::test::ProgramRun;
using ::testing::HasSubstr;
using ::testing::Not;

TEST(KvpagePromptTest, CtrlCAtThePromptAfterTheDownloadCancelsThePage) {
  const kv::test::SampleCompany company("kv-kvpage-prompt");
  kv::test::ServiceStandinProcess service;
  service.WriteFile("pending-time.txt", kv::test::ReadSourceFile("samples/service/pending-time.txt"));
  kv::test::ProgramOptions options = company.options();
  options.during = [&service](pid_t pid) {
    // The download has reached the service; from there on the page waits for the user.
    if (service.WaitForReceived(1)) kill(pid, SIGINT);
  };
  const ProgramRun run = kv::test::RunProgramOnTerminal(
      "kvpage", company.DownloadArgs(service.BaseUrl(), {"--param", "TsOrExpense=True"}), options, "");
  EXPECT_FALSE(run.timed_out);
  EXPECT_EQ(run.killed_by, 0);
  EXPECT_EQ(run.status, 4) << run.out;
  // Nothing was posted: the page never got its Continue.
  EXPECT_THAT(kv::test::RunProgram("qb-standin", {"txns"}, company.options()).out, Not(HasSubstr("TimeTracking")));
}

TEST(KvpagePromptTest, AParameterNoControlReadsIsNamedAndThePageStillHosted) {
  const kv::test::SampleCompany company("kv-kvpage-param");
  kv::test::ServiceStandinProcess service;
  const ProgramRun run = kv::test::RunProgram(
      "kvpage",
      company.SyncArgs(service.BaseUrl(),
                       {"--param", "SiteKye=K9", "--param", "custlexicon=Client", "--select", "payterms", "--start"}),
      company.options());
  EXPECT_EQ(run.status, 0) << run.err;
  EXPECT_THAT(run.err, HasSubstr("\"SiteKye\""));
  // A name the control reads, in any letter case, and the page's usual parameters are no news.
  EXPECT_THAT(run.err, Not(HasSubstr("custlexicon")));
  EXPECT_THAT(run.err, Not(HasSubstr("\"SiteKey\"")));
  EXPECT_THAT(run.err, Not(HasSubstr("QBFilePath")));
  EXPECT_THAT(run.out, HasSubstr("already in sync"));

  // The download control reads other names: the sync's last-sync dates are none of them.
  const ProgramRun download = kv::test::RunProgram(
      "kvpage",
      company.DownloadArgs(service.BaseUrl(),
                           {"--param", "TsOrExpense=True", "--param", "TimeLastSyncDate=01/01/2006", "--continue"}),
      company.options());
  EXPECT_THAT(download.err, HasSubstr("\"TimeLastSyncDate\""));
  EXPECT_THAT(download.err, Not(HasSubstr("TsOrExpense")));
}

}  // namespace
