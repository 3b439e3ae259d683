// kvpage on a terminal (a pseudo-terminal): progress drawn in place, the step lines of every run, the results grid
// and its keys.

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "platform/base/text.h"
#include "tests/support/programs/program_run.h"
#include "tests/support/programs/sample_company.h"
#include "tests/support/service/service_standin.h"

namespace {

using kv::test::ProgramRun;
using kv::test::RunProgram;
using kv::test::RunProgramOnTerminal;

size_t Count(const std::string& text, const std::string& piece) {
  size_t n = 0;
  for (size_t at = text.find(piece); at != std::string::npos; at = text.find(piece, at + piece.size())) ++n;
  return n;
}

// The terminal's lines as they stay on the screen: what follows the last carriage return of each, without the
// erase-to-end sequence.
std::vector<std::string> ScreenLines(const std::string& out) {
  std::vector<std::string> lines;
  for (std::string line : kv::Split(out, "\n")) {
    while (!line.empty() && line.back() == '\r') line.pop_back();
    const size_t cr = line.rfind('\r');
    if (cr != std::string::npos) line = line.substr(cr + 1);
    lines.push_back(kv::ReplaceAll(line, "\x1b[K", ""));
  }
  return lines;
}

std::string SourceFile(const std::string& relative) {
  const char* root = std::getenv("KV_SOURCE_DIR");
  std::ifstream in(std::string(root ? root : ".") + "/" + relative, std::ios::binary);
  std::ostringstream text;
  text << in.rdbuf();
  return text.str();
}

class KvpageTerminalTest : public ::testing::Test {
 protected:
  KvpageTerminalTest() {
    company_.options().env.insert(company_.options().env.end(),
                                  {{"KV_WEB_CONNECT_TIMEOUT_MS", "2000"}, {"KV_WEB_STALL_TIMEOUT_MS", "5000"}});
  }
  kv::test::SampleCompany company_{"kv-kvpage-tty"};
  kv::test::ServiceStandinProcess service_;
};

TEST_F(KvpageTerminalTest, ASyncOfThousandsOfRecordsLeavesOneLinePerListWithItsBarFull) {
  const std::string big = (company_.dir() / "Big Company.xml").string();
  ASSERT_EQ(RunProgram("kv-gen-company", {"2000", big}, company_.options()).status, 0);
  ASSERT_EQ(RunProgram("qb-standin", {"open", big}, company_.options()).status, 0);
  std::vector<std::string> args =
      company_.SyncArgs(service_.BaseUrl(), {"--select-all", "--select", "time,expenses", "--start"});
  std::replace(args.begin(), args.end(), std::string("QBFilePath=" + company_.file()), "QBFilePath=" + big);

  kv::test::ProgramOptions options = company_.options();
  options.time_limit = std::chrono::seconds(120);
  const ProgramRun run = RunProgramOnTerminal("kvpage", args, options, "", 100);
  ASSERT_FALSE(run.timed_out);
  EXPECT_EQ(run.status, 0) << run.out;
  EXPECT_LE(Count(run.out, "\n"), 300u) << run.out;
  // Frames were drawn in place: carriage returns that do not end a line.
  EXPECT_GT(Count(run.out, "\r") - Count(run.out, "\r\n"), Count(run.out, "\n"));

  const std::vector<std::string> lines = ScreenLines(run.out);
  std::vector<std::string> frames;
  for (const std::string& line : lines) {
    if (line.starts_with("Getting ")) frames.push_back(line);
  }
  // Employees, customers, jobs, classes, accounts, the item kinds, vendors, time, expenses.
  EXPECT_GE(frames.size(), 9u) << run.out;
  for (const std::string& frame : frames) {
    // The bar's share and nothing else after it: a value/max pair would read as a second count of records.
    EXPECT_EQ(frame.substr(frame.find(']'), 6), "] 100%") << frame;
    const size_t open = frame.find('[');
    const std::string bar = frame.substr(open + 1, frame.find(']', open) - open - 1);
    EXPECT_EQ(bar.find('.'), std::string::npos) << frame;
    EXPECT_LT(kv::CodePointCount(frame), 100u) << frame;
  }
  const auto message = std::find_if(lines.begin(), lines.end(), [](const std::string& line) {
    return line.find("synced with Kalvor successfully..") != std::string::npos;
  });
  ASSERT_NE(message, lines.end()) << run.out;
  const auto last_frame = std::find(lines.begin(), lines.end(), frames.back());
  EXPECT_LT(last_frame, message);
  EXPECT_EQ(*(message - 1), "[Information]");

  // Into a pipe: the message box alone, as always (one list of the 2,000 is enough to show it).
  std::vector<std::string> one_list = args;
  one_list.erase(std::find(one_list.begin(), one_list.end(), "--select-all"));
  *std::find(one_list.begin(), one_list.end(), "time,expenses") = "classes";
  const ProgramRun piped = RunProgram("kvpage", one_list, options);
  EXPECT_EQ(piped.status, 0) << piped.err;
  EXPECT_EQ(piped.out.rfind("[Information]\n", 0), 0u) << piped.out;
  EXPECT_NE(piped.out.find("synced with Kalvor successfully.."), std::string::npos) << piped.out;
  EXPECT_EQ(piped.out.find("Getting "), std::string::npos) << piped.out;
  EXPECT_EQ(piped.out.find('\r'), std::string::npos);
}

TEST_F(KvpageTerminalTest, TwoSyncsInOneSessionBothPrintTheirSteps) {
  // Tick classes (7), start (g), twice, then quit.
  const ProgramRun run =
      RunProgramOnTerminal("kvpage", company_.SyncArgs(service_.BaseUrl()), company_.options(), "7\ng\n7\ng\nq\n");
  EXPECT_EQ(run.status, 0) << run.out;
  EXPECT_EQ(Count(run.out, "  ... Contacted QuickBooks"), 2u) << run.out;
  EXPECT_EQ(Count(run.out, "  ... Response Received"), 2u) << run.out;
  EXPECT_EQ(Count(run.out, "  ... Transferred data"), 2u) << run.out;
  EXPECT_EQ(Count(run.out, "Quickbooks data synced with Kalvor successfully.."), 2u) << run.out;
  // Each run's progress line stays, once.
  EXPECT_EQ(Count(run.out, "100%\x1b[K\r\n"), 2u) << run.out;
}

TEST_F(KvpageTerminalTest, ATerminalWithoutCursorControlGetsOneLinePerList) {
  kv::test::ProgramOptions options = company_.options();
  options.env.emplace_back("TERM", "dumb");
  const ProgramRun run = RunProgramOnTerminal(
      "kvpage", company_.SyncArgs(service_.BaseUrl(), {"--select", "classes,accounts", "--start"}), options, "");
  EXPECT_EQ(run.status, 0) << run.out;
  EXPECT_EQ(run.out.find('\x1b'), std::string::npos) << run.out;
  EXPECT_EQ(Count(run.out, "\r"), Count(run.out, "\r\n")) << run.out;
  EXPECT_EQ(Count(run.out, "Getting Classes from QB"), 1u) << run.out;
  EXPECT_EQ(Count(run.out, "100%"), 2u) << run.out;
}

TEST_F(KvpageTerminalTest, TheResultsGridShowsEveryRecordReadablyAndPagesByKey) {
  service_.WriteFile("pending-time.txt", SourceFile("samples/service/pending-time.txt"));
  std::string long_reason;
  for (int i = 0; long_reason.size() < 300; ++i) long_reason += "detail" + std::to_string(i) + " ";
  long_reason.resize(300);
  service_.WriteFile("faults/kalvorupdatestatus.asp.1", "status 500\n");
  service_.WriteFile("faults/kalvorupdatestatus.asp.2", "# none\n");
  service_.QueueAnswers("kalvorupdatestatus.asp",
                        {"Internal error while saving the entry", "ERROR|5002|5003|Project closed",
                         "ERROR|5003|" + long_reason, "SUCCESS"});
  const std::vector<std::string> args = {
      "--control", "tessarine",        "--param",   "KVSecureServerURL=" + service_.BaseUrl(),
      "--param",   "SiteCode=HLC",     "--param",   "SiteKey=K-42",
      "--param",   "KalvorUser=dana",  "--param",   "QBFilePath=" + company_.file(),
      "--param",   "TsOrExpense=True", "--continue"};
  const ProgramRun run = RunProgramOnTerminal("kvpage", args, company_.options(), "d\nn\nn\nn\np\no\n", 100);
  EXPECT_EQ(run.status, 5) << run.out;
  const std::vector<std::string> lines = ScreenLines(run.out);
  for (const std::string& line : lines) EXPECT_LT(kv::CodePointCount(line), 100u) << line;

  const std::string& out = run.out;
  EXPECT_NE(out.find("Transactions not posted 3"), std::string::npos) << out;
  // The grid: a block per record, as the long reason does not fit a line of 100.
  EXPECT_NE(out.find("Row 1 of 3"), std::string::npos) << out;
  EXPECT_NE(out.find("displayed\u21B5HTTP 500 Internal Server Error\u21B5Internal error"), std::string::npos) << out;
  EXPECT_NE(out.find(": ERROR|5002|5003|Project closed"), std::string::npos) << out;
  EXPECT_NE(out.find("detail0 detail1"), std::string::npos) << out;
  EXPECT_NE(out.find("d <Details>"), std::string::npos) << out;

  // Details, then Next three times (the last changes nothing), then Previous.
  std::vector<size_t> at;
  size_t from = 0;
  for (const char* counter :
       {"\r\n1 of 3\r\n", "\r\n2 of 3\r\n", "\r\n3 of 3\r\n", "\r\n3 of 3\r\n", "\r\n2 of 3\r\n"}) {
    from = out.find(counter, from);
    ASSERT_NE(from, std::string::npos) << counter << "\n" << out;
    at.push_back(from++);
  }
  const std::string first_panel = out.substr(at[0], at[1] - at[0]);
  EXPECT_NE(first_panel.find("Reason of failure : Posted into QuickBooks, but the Kalvor service could not be told"),
            std::string::npos)
      << first_panel;
  EXPECT_NE(out.find("p <Previous>  n <Next>"), std::string::npos);
  EXPECT_NE(out.find("You can close this window to return to KV Dashboard now.."), std::string::npos) << out;
}

}  // namespace
