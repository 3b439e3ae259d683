// The three lists as a user sends them: kvpage with the sample company open in the QuickBooks stand-in and the
// service stand-in recording what arrives.

#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <thread>

#include "tests/support/service/service_standin.h"
#include "tests/support/sql/sql_script.h"

extern char** environ;

namespace {

namespace fs = std::filesystem;

struct Outcome {
  int status = -1;
  std::string out;
};

// Runs a program of the build with QB_STANDIN_HOME set, standard input from /dev/null and standard output into a
// file; killed after 25 s.
Outcome RunProgram(const fs::path& dir, const std::string& name, const std::vector<std::string>& args) {
  const std::string program = kv::test::BuildProgram(name).string();
  const std::string out_path = (dir / (name + ".out")).string();
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, STDIN_FILENO, "/dev/null", O_RDONLY, 0);
  posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, out_path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
  std::vector<char*> argv{const_cast<char*>(program.c_str())};
  for (const auto& arg : args) argv.push_back(const_cast<char*>(arg.c_str()));
  argv.push_back(nullptr);
  setenv("QB_STANDIN_HOME", (dir / "qb").c_str(), 1);
  pid_t pid = -1;
  const int spawned = posix_spawn(&pid, program.c_str(), &actions, nullptr, argv.data(), environ);
  posix_spawn_file_actions_destroy(&actions);
  Outcome run;
  if (spawned != 0) return run;
  int status = 0;
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(25);
  while (waitpid(pid, &status, WNOHANG) == 0) {
    if (std::chrono::steady_clock::now() > deadline) {
      kill(pid, SIGKILL);
      waitpid(pid, &status, 0);
      break;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
  run.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  std::ifstream in(out_path, std::ios::binary);
  run.out.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
  return run;
}

TEST(KvpageListsTest, SampleCompanySendsEmployeesClassesAndAccounts) {
  std::string pattern = (fs::temp_directory_path() / "kv-conv-kvpage-XXXXXX").string();
  ASSERT_NE(mkdtemp(pattern.data()), nullptr);
  const fs::path dir = pattern;
  const std::string company = (dir / "Sample Company.QBW").string();
  fs::copy_file(fs::path(std::getenv("KV_SOURCE_DIR")) / "samples" / "company.xml", company);
  ASSERT_EQ(RunProgram(dir, "qb-standin", {"open", company}).status, 0);

  kv::test::ServiceStandinProcess service;
  const Outcome run =
      RunProgram(dir, "kvpage",
                 {"--control", "brintavel", "--param", "KVSecureServerURL=" + service.BaseUrl(), "--param",
                  "SiteCode=AC01", "--param", "SiteKey=K9", "--param", "KalvorUser=pat", "--param",
                  "QBFilePath=" + company, "--select", "classes,accounts,employees", "--start"});
  EXPECT_EQ(run.status, 0);
  EXPECT_EQ(run.out, "[Information]\nQuickbooks data synced with Kalvor successfully..\n\n");

  std::vector<std::string> order;
  std::vector<std::string> tables;
  for (const auto& request : service.Received()) {
    order.push_back(request.Page() + " " + request.QueryValue("options"));
    if (request.Page() != "brintavel.asp") continue;
    std::vector<kv::test_support::sql::Statement> statements;
    ASSERT_NO_THROW(statements = kv::test_support::sql::ParseScript(request.body)) << request.body;
    ASSERT_FALSE(statements.empty());
    for (const auto& s : statements) EXPECT_EQ(s.table, statements[0].table);
    tables.push_back(statements[0].table + " " + std::to_string(statements.size()));
  }
  EXPECT_EQ(order, (std::vector<std::string>{"brintavel.asp E", "brintavelupdatestatus.asp E", "brintavel.asp C",
                                             "brintavelupdatestatus.asp C", "brintavel.asp G",
                                             "brintavelupdatestatus.asp G"}));
  EXPECT_EQ(tables, (std::vector<std::string>{"EmployeeInfo 4", "ClassInfo 4", "GLChartOfAccounts 12"}));
  fs::remove_all(dir);
}

}  // namespace
