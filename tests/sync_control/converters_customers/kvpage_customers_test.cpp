// Customers and jobs as a user sends them: kvpage with the sample company open in the QuickBooks stand-in and
// the service stand-in recording what arrives.

#include <gtest/gtest.h>

#include "tests/support/programs/program_run.h"
#include "tests/support/programs/sample_company.h"
#include "tests/support/service/service_standin.h"
#include "tests/support/sql/sql_script.h"

namespace {

using kv::test_support::sql::Number;
using kv::test_support::sql::Statement;
using kv::test_support::sql::Text;

class KvpageCustomersTest : public ::testing::Test {
 protected:
  // Syncs the customer list; the requests the service received, uploads read back into statements.
  void Sync(std::vector<std::string> extra_params) {
    std::vector<std::string> args = company_.SyncArgs(service_.BaseUrl());
    for (auto& param : extra_params) {
      args.push_back("--param");
      args.push_back(std::move(param));
    }
    args.insert(args.end(), {"--select", "customers", "--start"});
    const kv::test::ProgramRun run = kv::test::RunProgram("kvpage", args, company_.options());
    EXPECT_EQ(run.status, 0) << run.err;
    EXPECT_EQ(run.out, "[Information]\nQuickbooks data synced with Kalvor successfully..\n\n");
    for (const auto& request : service_.Received()) {
      order_.push_back(request.Page() + " " + request.QueryValue("options"));
      if (request.Page() == "brintavel.asp") {
        ASSERT_NO_THROW(uploads_.push_back(kv::test_support::sql::ParseScript(request.body))) << request.body;
      }
    }
  }

  const kv::test::SampleCompany company_{"kv-cust-kvpage"};
  kv::test::ServiceStandinProcess service_;
  std::vector<std::string> order_;
  std::vector<std::vector<Statement>> uploads_;
};

TEST_F(KvpageCustomersTest, SampleCompanySendsCustomersThenJobsAndReportsP) {
  Sync({});
  EXPECT_EQ(order_, (std::vector<std::string>{"brintavel.asp P", "brintavel.asp P", "brintavelupdatestatus.asp P"}));
  ASSERT_EQ(uploads_.size(), 2u);

  const auto& customers = uploads_[0];
  ASSERT_EQ(customers.size(), 4u);
  for (const auto& s : customers) EXPECT_EQ(s.table, "Customers");
  EXPECT_EQ(customers[0].InsertValue("[CustomerID]"), Number("9000000"));
  EXPECT_EQ(customers[1].InsertValue("[Customer]"), Text("Baker's Dozen Bakery"));
  EXPECT_EQ(customers[1].InsertValue("[CustomerID]"), Number("9000003"));
  EXPECT_FALSE(customers[3].has_insert);  // Old Mill Partners is inactive
  EXPECT_EQ(customers[3].SetValue("[Active]"), Number("0"));

  const auto& jobs = uploads_[1];
  ASSERT_EQ(jobs.size(), 3u);
  const char* keys[] = {"9000001", "9000002", "9000004"};
  const char* levels[] = {"1", "2", "1"};
  for (size_t i = 0; i < jobs.size(); ++i) {
    EXPECT_EQ(jobs[i].table, "CustProjInfo");
    EXPECT_EQ(jobs[i].InsertValue("[ProjID]"), Number(keys[i]));
    EXPECT_EQ(jobs[i].SetValue("[SubLevel]"), Number(levels[i]));
  }
  EXPECT_EQ(jobs[1].SetValue("[QBFullName]"), Text("Acme Widgets:Plant Expansion:Phase 2"));
}

TEST_F(KvpageCustomersTest, UnchangedSubJobGoesWithItsChangedParentJob) {
  // Since then only Plant Expansion changed; its sub-job Phase 2 goes with it, no customer goes.
  Sync({"CustomerLastSyncDate=05/01/2006 00:00:00"});
  EXPECT_EQ(order_, (std::vector<std::string>{"brintavel.asp P", "brintavelupdatestatus.asp P"}));
  ASSERT_EQ(uploads_.size(), 1u);
  ASSERT_EQ(uploads_[0].size(), 2u);
  EXPECT_EQ(uploads_[0][0].SetValue("[QBFullName]"), Text("Acme Widgets:Plant Expansion"));
  EXPECT_EQ(uploads_[0][1].SetValue("[QBFullName]"), Text("Acme Widgets:Plant Expansion:Phase 2"));
  EXPECT_EQ(uploads_[0][1].InsertValue("[ProjID]"), Number("9000002"));
}

}  // namespace
