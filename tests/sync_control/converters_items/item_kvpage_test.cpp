// The item run as a user starts it: kvpage on the sample company in the QuickBooks stand-in, sending to the
// service stand-in.

#include <gtest/gtest.h>
#include <stdlib.h>

#include <filesystem>
#include <map>

#include "tests/support/programs/program_run.h"
#include "tests/support/service/service_standin.h"
#include "tests/support/sql/sql_script.h"

namespace {

namespace fs = std::filesystem;

TEST(ItemKvpageTest, SampleCompanySendsTheFourKindsAndReportsT) {
  std::string pattern = (fs::temp_directory_path() / "kv-items-XXXXXX").string();
  ASSERT_NE(mkdtemp(pattern.data()), nullptr);
  const fs::path dir = pattern;
  const std::string company = (dir / "company.QBW").string();
  const char* source = std::getenv("KV_SOURCE_DIR");
  ASSERT_NE(source, nullptr) << "KV_SOURCE_DIR names the source tree (ctest sets it)";
  fs::copy_file(fs::path(source) / "samples" / "company.xml", company);
  kv::test::ProgramOptions options;
  options.env = {{"QB_STANDIN_HOME", (dir / "qb").string()}, {"KV_WEB_STALL_TIMEOUT_MS", "5000"}};

  const kv::test::ProgramRun opened = kv::test::RunProgram("qb-standin", {"open", company}, options);
  ASSERT_EQ(opened.status, 0) << opened.out << opened.err;
  kv::test::ServiceStandinProcess service;
  const kv::test::ProgramRun run =
      kv::test::RunProgram("kvpage",
                           {"--control", "brintavel", "--param", "KVSecureServerURL=" + service.BaseUrl(), "--param",
                            "SiteCode=AC01", "--param", "SiteKey=K9", "--param", "KalvorUser=pat", "--param",
                            "QBFilePath=" + company, "--select", "items", "--start"},
                           options);
  EXPECT_EQ(run.status, 0) << run.out << run.err;
  EXPECT_NE(run.out.find("[Information]"), std::string::npos) << run.out << run.err;

  std::string script;
  std::vector<std::string> report_options;
  for (const auto& request : service.Received()) {
    if (request.Page() == "brintavel.asp") {
      EXPECT_EQ(request.QueryValue("options"), "T");
      script += request.body;
    } else if (request.Page() == "brintavelupdatestatus.asp") {
      report_options.push_back(request.QueryValue("options"));
    }
  }
  EXPECT_EQ(report_options, std::vector<std::string>{"T"});

  // Every kind is there, in kind order and numbered upwards; inactive items are updates without a TaskID.
  std::vector<kv::test_support::sql::Statement> statements;
  ASSERT_NO_THROW(statements = kv::test_support::sql::ParseScript(script));
  std::map<std::string, std::vector<int64_t>> ids_per_type;
  std::string previous_type = "1";
  int64_t previous_id = 9000000 - 1;
  for (const auto& s : statements) {
    if (!s.has_insert) continue;
    const std::string type = s.InsertValue("[TaskType]").text;
    const int64_t id = std::stoll(s.InsertValue("[TaskID]").text);
    EXPECT_GE(type, previous_type);
    EXPECT_GT(id, previous_id);
    ids_per_type[type].push_back(id);
    previous_type = type;
    previous_id = id;
  }
  for (const char* type : {"1", "3", "4", "5"}) EXPECT_FALSE(ids_per_type[type].empty()) << "task type " << type;
  if (!ids_per_type["1"].empty()) {
    EXPECT_EQ(ids_per_type["1"].front(), 9000000);
  }
  if (!ids_per_type["3"].empty() && !ids_per_type["4"].empty()) {
    EXPECT_GE(ids_per_type["4"].front() - ids_per_type["3"].back(), 2);
  }

  kv::test::RunProgram("qb-standin", {"close"}, options);
  fs::remove_all(dir);
}

}  // namespace
