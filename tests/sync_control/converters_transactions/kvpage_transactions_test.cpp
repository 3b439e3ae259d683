// Every list of the sample company as a user sends it: kvpage with the company open in the QuickBooks stand-in
// and the service stand-in recording what arrives, vendors, time and expenses included.

#include <gtest/gtest.h>

#include "platform/base/text.h"
#include "tests/support/programs/program_run.h"
#include "tests/support/programs/sample_company.h"
#include "tests/support/service/service_standin.h"
#include "tests/support/sql/sql_script.h"

namespace {

class KvpageTransactionsTest : public ::testing::Test {
 protected:
  kv::test::ProgramRun Kvpage(const kv::test::ServiceStandinProcess& service, const std::vector<std::string>& more) {
    return kv::test::RunProgram("kvpage", company_.SyncArgs(service.BaseUrl(), more), company_.options());
  }

  const kv::test::SampleCompany company_{"kv-vte-kvpage"};
};

// Page and options letter of every request, runs of the same one shown once.
std::vector<std::string> Order(const std::vector<kv::test::ReceivedRequest>& requests) {
  std::vector<std::string> out;
  for (const auto& request : requests) {
    std::string step = request.Page() + " " + request.QueryValue("options");
    if (out.empty() || out.back() != step) out.push_back(std::move(step));
  }
  return out;
}

std::vector<std::string> Lines(const std::string& body) {
  std::vector<std::string> lines = kv::Split(body, "\r\n");
  EXPECT_EQ(lines.back(), "") << "the last line does not end with CR LF";
  lines.pop_back();
  return lines;
}

TEST_F(KvpageTransactionsTest, EveryListOfTheSampleCompany) {
  kv::test::ServiceStandinProcess service;
  const kv::test::ProgramRun run = Kvpage(service, {"--select-all", "--select", "time,expenses", "--start"});
  EXPECT_EQ(run.status, 0) << run.err;
  EXPECT_EQ(run.out, "[Information]\nQuickbooks data synced with Kalvor successfully..\n\n");

  const auto requests = service.Received();
  EXPECT_EQ(Order(requests),
            (std::vector<std::string>{"brintavel.asp E", "brintavelupdatestatus.asp E", "brintavel.asp P",
                                      "brintavelupdatestatus.asp P", "brintavel.asp C", "brintavelupdatestatus.asp C",
                                      "brintavel.asp G", "brintavelupdatestatus.asp G", "brintavel.asp T",
                                      "brintavelupdatestatus.asp T", "brintavel.asp V", "brintavelupdatestatus.asp V",
                                      "brintavel.asp H", "brintavelupdatestatus.asp H", "brintavel.asp X",
                                      "brintavel.asp B", "brintavelupdatestatus.asp X"}));

  size_t vendors = 0, time_lines = 0, check_lines = 0, bill_lines = 0;
  for (const auto& request : requests) {
    if (request.Page() != "brintavel.asp") continue;
    const std::string letter = request.QueryValue("options");
    if (letter == "V") {
      std::vector<kv::test_support::sql::Statement> statements;
      ASSERT_NO_THROW(statements = kv::test_support::sql::ParseScript(request.body)) << request.body;
      for (const auto& s : statements) EXPECT_EQ(s.table, "Vendors");
      vendors += statements.size();
    } else if (letter == "H" || letter == "X" || letter == "B") {
      for (const std::string& line : Lines(request.body)) {
        const size_t fields = kv::Split(line, "|").size();
        if (letter == "H") {
          EXPECT_EQ(fields, 15u) << line;
          ++time_lines;
        } else if (letter == "X") {
          EXPECT_TRUE(line.find("|Check|Expense|") != std::string::npos ? fields == 17 : fields == 19) << line;
          ++check_lines;
        } else {
          EXPECT_TRUE(line.find("|Bill|Expense|") != std::string::npos ? fields == 16 : fields == 18) << line;
          ++bill_lines;
        }
      }
    }
  }
  EXPECT_EQ(vendors, 4u);
  EXPECT_EQ(time_lines, 4u);
  EXPECT_GT(check_lines, 0u);
  EXPECT_GT(bill_lines, 0u);
}

TEST_F(KvpageTransactionsTest, FlaggedExpenseAnswersGiveTheWarning) {
  kv::test::ServiceStandinProcess service;
  service.SetAnswer("brintavel.asp", "SUCCESS7");
  const kv::test::ProgramRun run = Kvpage(service, {"--select", "expenses", "--start"});
  // Some transactions did not make it: a script sees that in the exit status.
  EXPECT_EQ(run.status, 5) << run.err;
  EXPECT_EQ(run.out,
            "[Information]\nQuickbooks data synced with Kalvor successfully..\n\nFew expense transactions could not be "
            "synchronized. This could be because Kalvor and QuickBooks are not in sync. Please synchronize all "
            "elements and try again.\n\n");
  EXPECT_EQ(Order(service.Received()),
            (std::vector<std::string>{"brintavel.asp X", "brintavel.asp B", "brintavelupdatestatus.asp X"}));
}

TEST_F(KvpageTransactionsTest, NothingNewerThanTheLastSyncSendsNothing) {
  kv::test::ServiceStandinProcess service;
  const kv::test::ProgramRun run =
      Kvpage(service, {"--param", "TimeLastSyncDate=1/1/2030", "--param", "ExpenseLastSyncDate=1/1/2030", "--param",
                       "VendorsLastSyncDate=1/1/2030", "--select", "vendors,time,expenses", "--start"});
  EXPECT_EQ(run.status, 0) << run.err;
  EXPECT_EQ(run.out, "[Information]\nYour Kalvor data is already in sync with your Quickbooks data..\n\n");
  EXPECT_EQ(service.ReceivedCount(), 0u);
}

}  // namespace
