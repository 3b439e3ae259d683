// The three lists as a user sends them: kvpage with the sample company open in the QuickBooks stand-in and the
// service stand-in recording what arrives.

#include <gtest/gtest.h>

#include "tests/support/programs/program_run.h"
#include "tests/support/programs/sample_company.h"
#include "tests/support/service/service_standin.h"
#include "tests/support/sql/sql_script.h"

namespace {

TEST(KvpageListsTest, SampleCompanySendsEmployeesClassesAndAccounts) {
  const kv::test::SampleCompany company("kv-conv-kvpage");
  kv::test::ServiceStandinProcess service;
  const kv::test::ProgramRun run = kv::test::RunProgram(
      "kvpage", company.SyncArgs(service.BaseUrl(), {"--select", "classes,accounts,employees", "--start"}),
      company.options());
  EXPECT_EQ(run.status, 0) << run.err;
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
}

}  // namespace
