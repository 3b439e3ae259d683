// The item run as a user starts it: kvpage on the sample company in the QuickBooks stand-in, sending to the
// service stand-in.

#include <gtest/gtest.h>

#include <map>

#include "tests/support/programs/program_run.h"
#include "tests/support/programs/sample_company.h"
#include "tests/support/service/service_standin.h"
#include "tests/support/sql/sql_script.h"

namespace {

TEST(ItemKvpageTest, SampleCompanySendsTheFourKindsAndReportsT) {
  kv::test::SampleCompany company("kv-items");
  company.options().env.emplace_back("KV_WEB_STALL_TIMEOUT_MS", "5000");
  kv::test::ServiceStandinProcess service;
  const kv::test::ProgramRun run = kv::test::RunProgram(
      "kvpage", company.SyncArgs(service.BaseUrl(), {"--select", "items", "--start"}), company.options());
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
}

}  // namespace
