// kalvor-standin's command line as a user types it: the data folder is the one thing it cannot guess.

#include <gtest/gtest.h>
#include <signal.h>

#include <chrono>
#include <filesystem>
#include <thread>

#include "tests/support/programs/program_run.h"
#include "tests/support/service/service_standin.h"

namespace {

namespace fs = std::filesystem;
using kv::test::ProgramRun;
using kv::test::RunProgram;

class StandinCommandLine : public ::testing::Test {
 protected:
  void SetUp() override {
    dir_ = fs::temp_directory_path() / ("kv-standin-cli-" + std::to_string(getpid()) + "-" +
                                        ::testing::UnitTest::GetInstance()->current_test_info()->name());
    fs::remove_all(dir_);
    fs::create_directories(dir_);
  }
  void TearDown() override { fs::remove_all(dir_); }

  fs::path dir_;
};

TEST_F(StandinCommandLine, WithoutDataItShowsItsUsage) {
  const ProgramRun run = RunProgram("kalvor-standin", {"--port", "0"});
  EXPECT_EQ(run.status, 2);
  EXPECT_NE(run.err.find("--data is required"), std::string::npos) << run.err;
  EXPECT_NE(run.err.find("Usage:"), std::string::npos) << run.err;
  EXPECT_NE(run.err.find("--create"), std::string::npos) << run.err;
  EXPECT_EQ(run.out, "");
}

TEST_F(StandinCommandLine, AMistypedDataFolderIsRefusedAndNotCreated) {
  const fs::path typo = dir_ / "servcie";
  const ProgramRun run = RunProgram("kalvor-standin", {"--data", typo.string(), "--port", "0"});
  EXPECT_EQ(run.status, 2);
  EXPECT_NE(run.err.find("\"" + typo.string() + "\" does not exist"), std::string::npos) << run.err;
  EXPECT_FALSE(fs::exists(typo));
  EXPECT_EQ(run.out, "");

  // A file where the folder should be is no folder either, --create or not.
  const fs::path file = dir_ / "file";
  {
    std::FILE* f = std::fopen(file.c_str(), "w");
    ASSERT_NE(f, nullptr);
    std::fclose(f);
  }
  EXPECT_EQ(RunProgram("kalvor-standin", {"--data", file.string(), "--create", "--port", "0"}).status, 2);
}

TEST_F(StandinCommandLine, CreateMakesANewDataFolderAndServes) {
  const fs::path fresh = dir_ / "new" / "service";
  kv::test::ProgramOptions options;
  // Stopped as soon as it has made the folder it records requests in.
  options.during = [&fresh](pid_t pid) {
    while (!fs::exists(fresh / "received") && kill(pid, 0) == 0) {
      std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    kill(pid, SIGTERM);
  };
  const ProgramRun run = RunProgram("kalvor-standin", {"--data", fresh.string(), "--create", "--port", "0"}, options);
  EXPECT_EQ(run.status, 0) << run.err;
  EXPECT_FALSE(run.timed_out);
  EXPECT_EQ(run.out.rfind("http://127.0.0.1:", 0), 0u) << run.out;
  EXPECT_TRUE(fs::is_directory(fresh));
}

TEST_F(StandinCommandLine, APortInUseIsNamedAsSuch) {
  kv::test::ServiceStandinProcess first;
  const ProgramRun run =
      RunProgram("kalvor-standin", {"--data", dir_.string(), "--port", std::to_string(first.Port())});
  EXPECT_EQ(run.status, 1);
  EXPECT_NE(run.err.find("127.0.0.1:" + std::to_string(first.Port())), std::string::npos) << run.err;
  EXPECT_NE(run.err.find("in use"), std::string::npos) << run.err;
  EXPECT_EQ(run.out, "");
}

}  // namespace
