// kv-bench end to end at a tiny size: each measurement runs beside its reference and the figures it reports
// show that the work was really done. No timing is asserted; a loaded machine must not fail the suite.

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <sstream>
#include <string>

#include "tests/support/programs/program_run.h"

namespace {

namespace fs = std::filesystem;

std::map<std::string, std::string> ReadValues(const fs::path& file) {
  std::map<std::string, std::string> values;
  std::ifstream in(file);
  std::string line;
  while (std::getline(in, line)) {
    const size_t eq = line.find('=');
    if (eq != std::string::npos) values[line.substr(0, eq)] = line.substr(eq + 1);
  }
  return values;
}

double Number(const std::map<std::string, std::string>& values, const std::string& key) {
  auto it = values.find(key);
  if (it == values.end()) {
    ADD_FAILURE() << "no figure " << key;
    return -1;
  }
  return std::strtod(it->second.c_str(), nullptr);
}

class BenchSmokeTest : public ::testing::Test {
 protected:
  void SetUp() override {
    dir_ = fs::temp_directory_path() / ("kv-bench-smoke-" + std::to_string(getpid()));
    fs::remove_all(dir_);
    fs::create_directories(dir_);
  }
  void TearDown() override { fs::remove_all(dir_); }
  fs::path dir_;
};

TEST_F(BenchSmokeTest, EveryMeasurementRunsBesideItsReference) {
  kv::test::ProgramOptions options;
  options.time_limit = std::chrono::seconds(180);
  const fs::path values_file = dir_ / "values.txt";
  const fs::path markdown_file = dir_ / "performance.md";
  const kv::test::ProgramRun run = kv::test::RunProgram(
      "kv-bench",
      {"--sizes", "30,60", "--time-records", "12", "--expenses", "6", "--download-company", "30", "--wait-ms", "300",
       "--work", (dir_ / "work").string(), "--values", values_file.string(), "--markdown", markdown_file.string()},
      options);
  ASSERT_EQ(run.status, 0) << run.out << run.err;
  EXPECT_NE(run.out.find("Sync, every list ticked"), std::string::npos) << run.out;
  EXPECT_EQ(run.out.find("does not count"), std::string::npos) << run.out;

  const auto values = ReadValues(values_file);
  for (const long n : {30L, 60L}) {
    const std::string p = "sync." + std::to_string(n) + ".";
    EXPECT_EQ(Number(values, p + "ok"), 1);
    // Every record of every list reached the service: customers and jobs split by level, checks and bills both.
    EXPECT_EQ(Number(values, p + "sent.Getting Classes from QB"), n);
    EXPECT_EQ(Number(values, p + "sent.Getting Employees from QB"), n);
    EXPECT_EQ(Number(values, p + "sent.Getting Time Info from QB"), n);
    EXPECT_EQ(Number(values, p + "sent.Getting Service Items from QB"), n);
    EXPECT_EQ(
        Number(values, p + "sent.Getting Customers from QB") + Number(values, p + "sent.Getting Projects from QB"), n);
    EXPECT_EQ(Number(values, p + "sent.Getting Expenses from QB"), 2 * n);
    EXPECT_GT(Number(values, p + "response_bytes"), 1000 * n);
    EXPECT_GT(Number(values, p + "requests"), 0);
    EXPECT_GT(Number(values, p + "reference_seconds"), 0);
    // Three pairs by default, each ratio the median of theirs, lying within their spread.
    EXPECT_EQ(Number(values, p + "pairs"), 3);
    // Pairs the hypervisor disturbed are run again, at most as many as there are pairs.
    EXPECT_LE(Number(values, p + "pairs_run_again"), 3);
    EXPECT_GE(Number(values, p + "stolen_share.low"), 0);
    EXPECT_LE(Number(values, p + "stolen_share.high"), 1);
    EXPECT_LE(Number(values, p + "one_parse_ratio.low"), Number(values, p + "one_parse_ratio"));
    EXPECT_LE(Number(values, p + "one_parse_ratio"), Number(values, p + "one_parse_ratio.high"));
  }
  EXPECT_GT(Number(values, "sync.60.response_bytes"), Number(values, "sync.30.response_bytes"));

  // The incremental syncs: of every list the one record in a hundred that changed (the first), of the customer
  // list the first customer with its job and sub-job, and the classes whole, as they are always sent.
  for (const long n : {30L, 60L}) {
    const std::string p = "incremental." + std::to_string(n) + ".";
    EXPECT_EQ(Number(values, p + "ok"), 1);
    EXPECT_EQ(Number(values, p + "sent.Getting Classes from QB"), n);
    EXPECT_EQ(Number(values, p + "sent.Getting Employees from QB"), 1);
    EXPECT_EQ(Number(values, p + "sent.Getting Time Info from QB"), 1);
    EXPECT_EQ(Number(values, p + "sent.Getting Customers from QB"), 1);
    EXPECT_EQ(Number(values, p + "sent.Getting Projects from QB"), 2);
    EXPECT_EQ(Number(values, p + "sent.Getting Expenses from QB"), 2);
    EXPECT_GT(Number(values, p + "one_parse_reference_seconds"), 0);
  }

  EXPECT_EQ(Number(values, "download.time.ok"), 1);
  EXPECT_EQ(Number(values, "download.time.posted"), 12);
  EXPECT_EQ(Number(values, "download.expenses.ok"), 1);
  EXPECT_EQ(Number(values, "download.expenses.posted"), 6);
  EXPECT_GT(Number(values, "download.expenses.requests"), 0);

  EXPECT_EQ(Number(values, "wait.ok"), 1);
  EXPECT_GE(Number(values, "wait.wall_seconds"), 0.3);  // it did wait for the late answer

  std::ifstream markdown(markdown_file);
  std::stringstream section;
  section << markdown.rdbuf();
  EXPECT_EQ(section.str().rfind("## Performance\n", 0), 0u) << section.str();
  EXPECT_NE(section.str().find("own time / one-parse reference"), std::string::npos);
  // The working directory given is the caller's: the runs' files are cleaned up, the directory stays.
  EXPECT_TRUE(fs::exists(dir_ / "work"));
  EXPECT_FALSE(fs::exists(dir_ / "work" / "sync-30"));
}

TEST_F(BenchSmokeTest, BadArgumentsAreRefusedWithAMessage) {
  const kv::test::ProgramRun zero = kv::test::RunProgram("kv-bench", {"--sizes", "0"});
  EXPECT_NE(zero.status, 0);
  EXPECT_NE(zero.err.find("--sizes"), std::string::npos) << zero.err;

  const kv::test::ProgramRun child = kv::test::RunProgram("kv-bench", {"child", "nothing"});
  EXPECT_EQ(child.status, 2);
  EXPECT_NE(child.err.find("no measurement \"nothing\""), std::string::npos) << child.err;

  const kv::test::ProgramRun missing = kv::test::RunProgram("kv-bench", {"child", "sync-reference", "--passes", "1"});
  EXPECT_EQ(missing.status, 1);
  EXPECT_NE(missing.err.find("needs --response"), std::string::npos) << missing.err;
}

}  // namespace
