// The benchmark's own parts whose faults would silently skew a reference or a verdict: the QuickBooks call
// trace, the recorded requests read back for sending again, the pending data, the stolen processor time that sends
// a pair round again, and the report's verdicts.

#include <gtest/gtest.h>

#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>

#include "bench/pending_data.h"
#include "bench/qb_probe.h"
#include "bench/replay.h"
#include "bench/report.h"
#include "bench/stolen_time.h"
#include "platform/base/text.h"
#include "platform/xml/reference_parse.h"

namespace kvbench {
namespace {

namespace fs = std::filesystem;
using namespace std::string_literals;

class BenchPartsTest : public ::testing::Test {
 protected:
  void SetUp() override {
    dir_ = fs::temp_directory_path() / ("kv-bench-parts-" + std::to_string(getpid()));
    fs::remove_all(dir_);
    fs::create_directories(dir_);
  }
  void TearDown() override { fs::remove_all(dir_); }
  void Write(const fs::path& path, const std::string& text) {
    fs::create_directories(path.parent_path());
    std::ofstream(path, std::ios::binary) << text;
  }
  fs::path dir_;
};

TEST_F(BenchPartsTest, TraceKeepsEveryByteOfEveryArgument) {
  const std::vector<QBCall> trace{{0, "Create", {}},
                                  {0, "BeginSession", {"C:\\Company Files\\A b.QBW", "2"}},
                                  {0, "ProcessRequest", {"<a>\n12 3\n</a>\r\n\0tail"s}},
                                  {1, "OpenConnection", {"", "name with spaces"}},
                                  {0, "Release", {}}};
  WriteTrace(trace, dir_ / "t.trace");
  const std::vector<QBCall> back = ReadTrace(dir_ / "t.trace");
  ASSERT_EQ(back.size(), trace.size());
  for (size_t i = 0; i < trace.size(); ++i) {
    EXPECT_EQ(back[i].processor, trace[i].processor);
    EXPECT_EQ(back[i].operation, trace[i].operation);
    EXPECT_EQ(back[i].args, trace[i].args) << i;
  }
}

TEST_F(BenchPartsTest, CutShortTraceIsRefused) {
  WriteTrace({{0, "ProcessRequest", {"<QBXML>long enough</QBXML>"}}}, dir_ / "t.trace");
  std::ifstream in(dir_ / "t.trace", std::ios::binary);
  const std::string whole((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  Write(dir_ / "cut.trace", whole.substr(0, whole.size() - 10));
  EXPECT_THROW(ReadTrace(dir_ / "cut.trace"), std::runtime_error);
  EXPECT_THROW(ReadTrace(dir_ / "absent.trace"), std::runtime_error);
}

TEST_F(BenchPartsTest, RecordedRequestsReadBackInOrderWithTheirBodies) {
  const fs::path data = dir_ / "service";
  Write(data / "received" / "000002.txt", "GET /kalvordownload.asp?sitecode=A&x=1 HTTP/1.1\n\n");
  Write(data / "received" / "000001.txt", "POST /brintavel.asp?sitecode=A HTTP/1.1\n\nline 1\r\n\nline 3");
  Write(data / "received" / "000001.headers", "Content-Type: text/plain\n");
  Write(data / "received" / "000003.txt.tmp", "half written");
  const std::vector<fs::path> files = RecordedFiles(data);
  ASSERT_EQ(files.size(), 2u);
  EXPECT_EQ(files[0].filename(), "000001.txt");

  const RecordedRequest post = ReadRecorded(files[0]);
  EXPECT_EQ(post.method, "POST");
  EXPECT_EQ(post.target, "/brintavel.asp?sitecode=A");
  EXPECT_EQ(post.body, "line 1\r\n\nline 3");  // a blank line inside the body stays in it
  const RecordedRequest get = ReadRecorded(files[1]);
  EXPECT_EQ(get.method, "GET");
  EXPECT_EQ(get.body, "");

  EXPECT_TRUE(RecordedFiles(dir_ / "nothing-here").empty());
  Write(dir_ / "bad1.txt", "POST /x HTTP/1.1\nbody without the blank line");
  Write(dir_ / "bad2.txt", "POST\n\nbody");
  EXPECT_THROW(ReadRecorded(dir_ / "bad1.txt"), std::runtime_error);
  EXPECT_THROW(ReadRecorded(dir_ / "bad2.txt"), std::runtime_error);
  EXPECT_THROW(ReadRecorded(dir_ / "absent.txt"), std::runtime_error);
}

TEST(BenchParse, WellFormedOnly) {
  EXPECT_TRUE(platform::xml::ParseTreeOnce("<QBXML><a>1</a></QBXML>"));
  EXPECT_FALSE(platform::xml::ParseTreeOnce("<QBXML><a>1</QBXML>"));
  EXPECT_FALSE(platform::xml::ParseTreeOnce(""));
  EXPECT_TRUE(platform::xml::ParseStreamOnce("<QBXML><a>1</a></QBXML>"));
  // Read in place, the text's last byte is still the end: an unclosed root stays unclosed.
  const std::string whole = "<QBXML><a>1</a></QBXML>";
  EXPECT_FALSE(platform::xml::ParseStreamOnce(whole.substr(0, whole.size() - 1)));
  EXPECT_TRUE(platform::xml::ParseStreamOnce("<?xml version=\"1.0\"?>\n<QBXML><a>&amp;</a></QBXML>"));
  // Texts of many records, whatever the length of their last element: a parser that reads part of the text twice
  // on its way to the end finds tags that do not match.
  for (size_t tail = 0; tail < 700; tail += 25) {
    std::string text = "<QBXML>";
    for (int i = 0; i < 200; ++i) text += "<Ret><ListID>" + std::to_string(i) + "</ListID></Ret>\n";
    text += "<Last>" + std::string(tail, 'x') + "</Last></QBXML>\n";
    EXPECT_TRUE(platform::xml::ParseStreamOnce(text)) << "tail of " << tail;
    EXPECT_FALSE(platform::xml::ParseStreamOnce(text.substr(0, text.size() - 3))) << "tail of " << tail;
  }
  EXPECT_FALSE(platform::xml::ParseStreamOnce("<QBXML><a>1</QBXML>"));
  EXPECT_FALSE(platform::xml::ParseStreamOnce(""));
}

TEST(BenchPendingData, RecordsNameWhatTheCompanyHolds) {
  // Three time records over a company of two: the third wraps round to the first employee.
  const std::vector<std::string> time = kv::Split(PendingTimeText(3, 2), "\r\n");
  ASSERT_EQ(time.size(), 10u);  // three lines a record, then the empty rest after the last CR LF
  EXPECT_EQ(time[0], "TA100001");
  EXPECT_EQ(time[1],
            "05/01/2006|Employee 000001|Customer 000001|Service 000001|1.00|Class 000001|Wage 000001|"
            "Benchmark entry 1|True");
  EXPECT_EQ(time[4].substr(0, 42), "05/02/2006|Employee 000002|Customer 000001");  // the job's full name follows
  EXPECT_NE(time[4].find("Customer 000001:Job 000002|"), std::string::npos);
  EXPECT_EQ(time[7].substr(0, 27), "05/03/2006|Employee 000001|");
  EXPECT_EQ(time[9], "");

  // Bills and checks in turn; only a check names the bank account it is drawn on.
  const std::vector<std::string> exp = kv::Split(PendingExpenseText(2, 5), "\r\n");
  ASSERT_EQ(exp.size(), 7u);
  EXPECT_EQ(exp[0], "EXP200001|Vendor 000001|05/01/2006|Benchmark expense 1|True|");
  EXPECT_EQ(exp[3], "EXP200002|Vendor 000002|05/02/2006|Benchmark expense 2|False|Account 000001");
  EXPECT_NE(exp[1].find("|Account 000002|Expense|"), std::string::npos) << exp[1];
  EXPECT_EQ(exp[2].rfind("300002|", 0), 0u);
  EXPECT_NE(exp[5].find("|Part 000002|"), std::string::npos) << exp[5];
}

TEST(BenchStolenTime, TheStealColumnOverEveryStateButTheGuests) {
  // user nice system idle iowait irq softirq steal guest guest_nice; the guests are inside user already.
  const ProcessorTimes before =
      ParseProcessorTimes("cpu  100 5 50 1000 20 0 5 30 7 0\ncpu0 50 2 25 500 10 0 2 15 3 0\nintr 12345 0 0\n");
  EXPECT_DOUBLE_EQ(before.total, 1210);
  EXPECT_DOUBLE_EQ(before.stolen, 30);
  const ProcessorTimes after = ParseProcessorTimes("cpu  200 5 90 1800 20 0 5 70 9 0\n");
  EXPECT_DOUBLE_EQ(after.total, 2190);
  // 40 ticks stolen of the 980 that passed.
  EXPECT_NEAR(StolenShare(before, after), 0.0408163, 1e-6);
  EXPECT_DOUBLE_EQ(StolenShare(after, after), 0);

  // A kernel without the steal column, and a text without the machine's line: nothing counted as stolen.
  const ProcessorTimes old_kernel = ParseProcessorTimes("cpu  100 5 50 1000 20 0 5\n");
  EXPECT_DOUBLE_EQ(old_kernel.total, 1180);
  EXPECT_DOUBLE_EQ(old_kernel.stolen, 0);
  EXPECT_DOUBLE_EQ(ParseProcessorTimes("cpu0 1 2 3 4 5 6 7 8\nintr 1\n").total, 0);
  EXPECT_DOUBLE_EQ(ParseProcessorTimes("").total, 0);
  // The machine's line after others is still found; a processor's own line ("cpu0") is not taken for it.
  EXPECT_DOUBLE_EQ(ParseProcessorTimes("cpu0 9 9 9 9 9 9 9 9\ncpu  1 1 1 1 1 1 1 2\n").stolen, 2);

  // This machine's own counters only grow.
  const ProcessorTimes now = ReadProcessorTimes();
  EXPECT_GT(now.total, 0);
  EXPECT_GE(now.total, now.stolen);
  const double share = StolenShare(now, ReadProcessorTimes());
  EXPECT_GE(share, 0);
  EXPECT_LE(share, 1);
}

// Samples of one value per pair, in the order the pairs ran.
Samples Of(std::initializer_list<double> values) {
  Samples samples;
  for (double v : values) samples.Add(v);
  return samples;
}

TEST(BenchSamples, MedianAndSpread) {
  // Odd count: the middle one, whatever the order of the runs; even: the mean of the middle two.
  const Samples odd = Of({3.0, 1.0, 2.5});
  EXPECT_DOUBLE_EQ(odd.Median(), 2.5);
  EXPECT_DOUBLE_EQ(odd.Low(), 1.0);
  EXPECT_DOUBLE_EQ(odd.High(), 3.0);
  EXPECT_DOUBLE_EQ(Of({4.0, 1.0, 2.0, 10.0}).Median(), 3.0);
  // One outlier run moves the median no further than the next sample.
  EXPECT_DOUBLE_EQ(Of({1.0, 1.2, 1.1, 9.0, 1.15}).Median(), 1.15);
  EXPECT_DOUBLE_EQ(Samples().Median(), 0);
}

Results SampleResults() {
  Results r;
  r.machine.cpus = 4;
  r.machine.cpu_model = "Test CPU";
  r.machine.memory_gib = 8;
  SyncFigures small;
  small.n = 5000;
  small.pairs = 3;
  small.passes = 10;
  small.response_bytes = 10 * 1024 * 1024;
  small.own_seconds = Of({1.0, 1.1, 0.9});
  small.one_parse_reference_seconds = Of({0.8, 0.8, 0.8});
  small.one_parse_ratio = Of({1.25, 1.375, 1.125});
  small.reference_seconds = 1.0;
  small.peak_bytes = 50 * 1024 * 1024;
  SyncFigures large = small;
  large.n = 50000;
  large.own_seconds = Of({10.6, 10.0, 16.0});  // 10.6 times the smaller run's median
  large.one_parse_reference_seconds = Of({6.0, 6.0, 8.0});
  large.one_parse_ratio = Of({1.77, 1.67, 2.0});  // the median misses 1.5
  large.reference_seconds = 10.0;
  large.peak_bytes = 80.0 * 1024 * 1024;  // over 1.1 x 10 MiB + 64 MiB = 75 MiB
  large.pairs_run_again = 3;              // and still one pair over 2% stolen
  large.stolen_share = Of({0.001, 0.031, 0.004});
  r.syncs = {small, large};
  DownloadFigures time;
  time.mode = "time";
  time.records = 2000;
  time.control_seconds = 1.2;
  time.reference_seconds = 1.0;
  DownloadFigures expenses = time;
  expenses.mode = "expenses";
  expenses.records = 500;
  expenses.problem = "the download posted 3 of 500 records";
  r.downloads = {time, expenses};
  r.wait = WaitFigures{5000, "", 5.01, 0.060};
  return r;
}

// The table with each run of spaces made one, so that checks do not depend on column widths.
std::string Squeezed(const std::string& text) {
  std::string out;
  for (char c : text) {
    if (c != ' ' || out.empty() || out.back() != ' ') out += c;
  }
  return out;
}

TEST(BenchReport, VerdictsFollowTheTargets) {
  const Results r = SampleResults();
  const std::string text = Squeezed(TextReport(r));
  EXPECT_NE(text.find("4 CPUs (Test CPU), 8.0 GiB"), std::string::npos) << text;
  EXPECT_NE(text.find("N=50,000"), std::string::npos) << text;
  // Medians with the lowest and highest pair beside them.
  EXPECT_NE(
      text.find("alternated pairs 3 3\n run again, disturbed 0 3\n processors stolen (%) 0.0 0.4 (0.1-3.1) <= 2\n"),
      std::string::npos)
      << text;
  EXPECT_NE(text.find("sync N=50,000: the hypervisor disturbed its pairs even when run again"), std::string::npos)
      << text;
  EXPECT_EQ(text.find("sync N=5,000: the hypervisor"), std::string::npos) << text;
  EXPECT_NE(text.find("sync's own time (s) 1.00 (0.90-1.10) 10.60 (10.00-16.00)\n"), std::string::npos) << text;
  EXPECT_NE(text.find("own time / one-parse reference 1.25 (1.12-1.38) 1.77 (1.67-2.00) <= 1.5, incr. 1.2\n"
                      " verdict met MISSED\n"),
            std::string::npos)
      << text;
  EXPECT_NE(text.find("own time / ten-parse reference 1.00 1.06 <= 1.5\n verdict met met\n"), std::string::npos)
      << text;
  EXPECT_NE(text.find("peak memory (MiB) 50 80\n1.1 x response + 64 MiB (MiB) 75 75 >= peak\n verdict met MISSED\n"),
            std::string::npos)
      << text;
  // The growth the spreads allow: 10.00 / 1.10 at the lowest, 16.00 / 0.90 at the highest.
  EXPECT_NE(
      text.find("own time N=50,000 / N=5,000: 10.60 (9.09-17.78 from the pairs' spreads; target <= 10.5: MISSED)"),
      std::string::npos)
      << text;
  // A download that did not post everything shows no figures and says why; the total is left out.
  EXPECT_NE(text.find("time records 2,000 1.20 1.00 1.20 <= 1.3 met\n"), std::string::npos) << text;
  EXPECT_NE(text.find("download of expenses does not count: the download posted 3 of 500 records"), std::string::npos)
      << text;
  EXPECT_EQ(text.find("both"), std::string::npos) << text;
  EXPECT_NE(text.find("CPU 60.0 ms in 5.01 s (target < 50 ms: MISSED)"), std::string::npos) << text;
  EXPECT_FALSE(AllRan(r));

  const std::string values = KeyValues(r);
  EXPECT_NE(values.find("sync.50000.ratio=1.06\n"), std::string::npos) << values;
  EXPECT_NE(values.find("sync.50000.one_parse_ratio=1.77\nsync.50000.one_parse_ratio.low=1.67\n"
                        "sync.50000.one_parse_ratio.high=2\n"),
            std::string::npos)
      << values;
  EXPECT_NE(values.find("download.expenses.ok=0\n"), std::string::npos) << values;
  EXPECT_EQ(MarkdownSection(r).rfind("## Performance\n\n", 0), 0u);
}

TEST(BenchReport, IncrementalSyncsHaveTheirOwnTarget) {
  Results r;
  SyncFigures full;
  full.n = 50000;
  full.pairs = 1;
  full.passes = 10;
  full.response_bytes = 100 * 1024 * 1024;
  full.own_seconds = Of({30.0});
  full.reference_seconds = 60.0;
  full.one_parse_ratio = Of({1.45});      // under 1.5
  full.peak_bytes = 170.0 * 1024 * 1024;  // under 1.1 x 100 MiB + 64 MiB = 174 MiB
  SyncFigures small_incremental = full;
  small_incremental.incremental = true;
  small_incremental.n = 5000;
  small_incremental.own_seconds = Of({0.5});
  small_incremental.one_parse_ratio = Of({1.0});
  SyncFigures incremental = small_incremental;
  incremental.n = 50000;
  incremental.own_seconds = Of({5.0});      // 10 times the smaller run: within 10.5
  incremental.one_parse_ratio = Of({1.3});  // the full sync's 1.45 would pass; over the incremental 1.2
  r.syncs = {full, small_incremental, incremental};

  const std::string text = Squeezed(TextReport(r));
  EXPECT_NE(text.find("Sync, every list ticked N=50,000 incr. N=5,000 incr. N=50,000 target\n"), std::string::npos)
      << text;
  // One pair: the figure alone, no spread.
  EXPECT_NE(text.find("own time / one-parse reference 1.45 1.00 1.30 <= 1.5, incr. 1.2\n verdict met met MISSED\n"),
            std::string::npos)
      << text;
  EXPECT_NE(text.find("1.1 x response + 64 MiB (MiB) 174 174 174 >= peak\n verdict met met met\n"), std::string::npos)
      << text;
  EXPECT_NE(text.find("incremental sync, own time N=50,000 / N=5,000: 10.00 (target <= 10.5: met)"), std::string::npos)
      << text;
  // A run without the ten-parse reference shows none of its rows.
  Results without = r;
  for (SyncFigures& s : without.syncs) s.passes = 0;
  EXPECT_NE(Squeezed(TextReport(without)).find("own time / ten-parse reference - - - <= 1.5\n verdict - - -\n"),
            std::string::npos);
  // One full size alone gives no growth line for the full syncs.
  EXPECT_EQ(text.find("\nown time N="), std::string::npos) << text;
}

}  // namespace
}  // namespace kvbench
