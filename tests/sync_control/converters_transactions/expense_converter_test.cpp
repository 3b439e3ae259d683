// Checks and bills as "|" lines: the line layouts of both kinds, the version-dependent field, dropped lines,
// batching and hostile memos; and the two passes as the dispatcher runs them, with the "X" report.

#include <gtest/gtest.h>

#include "sync_control/converters/record_sets.h"
#include "sync_control/converters/transaction_converters.h"
#include "sync_control/module_state.h"
#include "tests/sync_control/converters_transactions/transaction_fixture.h"

namespace brintavel::testing {
namespace {

std::string Transaction(std::string_view element, std::string_view txn_id, std::string_view lines,
                        std::string_view modified = "2006-01-11T00:00:00") {
  return Node(element, Leaf("TxnID", txn_id) + Leaf("TimeCreated", "2006-01-10T10:00:00") +
                           Leaf("TimeModified", modified) + Leaf("EditSequence", "5") +
                           Ref("AccountRef", "BANK", "Checking") + std::string(lines));
}

std::string ExpenseLine(std::string_view account_id, std::string_view account, std::string_view amount,
                        std::string_view memo, std::string_view more = "") {
  std::string inner = Leaf("TxnLineID", "L") + Ref("AccountRef", account_id, account);
  if (!amount.empty()) inner += Leaf("Amount", amount);
  return Node("ExpenseLineRet", inner + Leaf("Memo", memo) + std::string(more));
}

std::string ItemLine(std::string_view cost, std::string_view amount = "3.75") {
  return Node("ItemLineRet", Leaf("TxnLineID", "L") + Ref("ItemRef", "I-1", "Parts") + Leaf("Desc", "Bolts") +
                                 Leaf("Quantity", "3") + Leaf("Cost", cost) + Leaf("Amount", amount) +
                                 Ref("CustomerRef", "C-2") + Leaf("BillableStatus", "NotBillable"));
}

// Two expense lines and one item line.
std::string ThreeLines() {
  return ExpenseLine("A-1", "Travel", "12.50", "Taxi",
                     Ref("CustomerRef", "C-1") + Ref("ClassRef", "CL-1") + Leaf("BillableStatus", "Billable")) +
         ExpenseLine("A-2", "Meals", "30.00", "Lunch") + ItemLine("1.25");
}

using ExpenseConverterTest = TransactionTest;

TEST_F(ExpenseConverterTest, CheckLinesByteForByte) {
  Module().sQBXMLResponse =
      QueryResponse(Transaction("CheckRet", "CK-1", ThreeLines()) + Transaction("BillRet", "BL-1", ThreeLines()));
  GetExpensesFromQB(*ctl, 1);

  const auto uploads = Uploads();
  ASSERT_EQ(uploads.size(), 1u);
  EXPECT_EQ(uploads[0].QueryValue("options"), "X");
  EXPECT_EQ(
      uploads[0].body,
      "CK-1, 0|Check|Expense|C-1|CL-1|Billable|12.5|Taxi|Travel|A-1|||1/10/2006 10:00:00 AM|1/11/2006|5||\r\n"
      "CK-1, 1|Check|Expense|||9|30|Lunch|Meals|A-2|||1/10/2006 10:00:00 AM|1/11/2006|5||\r\n"
      "CK-1, 2|Check|Item|C-2||NotBillable|3.75|Bolts|Parts|I-1|||1/10/2006 10:00:00 AM|1/11/2006|5|||3|1.25\r\n");
  // The dispatcher reports "X" and hides the frame after both passes.
  EXPECT_TRUE(StatusReports().empty());
  EXPECT_TRUE(ctl->fraProgress.Visible());
  EXPECT_EQ(Module().varExpenseCount, 3);
  EXPECT_EQ(ctl->lblProcess.Caption(), "Getting Expenses from QB (3)");
  EXPECT_EQ(ModuleRecordSets().ExpenseRecords[1].Text(kExpenseEditSequence), "5");
}

TEST_F(ExpenseConverterTest, BillLinesHaveOneFieldLess) {
  Module().sQBXMLResponse =
      QueryResponse(Transaction("CheckRet", "CK-1", ThreeLines()) + Transaction("BillRet", "BL-1", ThreeLines()));
  GetExpensesFromQB(*ctl, 2);

  const auto uploads = Uploads();
  ASSERT_EQ(uploads.size(), 1u);
  EXPECT_EQ(uploads[0].QueryValue("options"), "B");
  EXPECT_EQ(uploads[0].body,
            "BL-1, 0|Bill|Expense|C-1|CL-1|Billable|12.5|Taxi|Travel|A-1|||1/10/2006 10:00:00 AM|1/11/2006|5|\r\n"
            "BL-1, 1|Bill|Expense|||9|30|Lunch|Meals|A-2|||1/10/2006 10:00:00 AM|1/11/2006|5|\r\n"
            "BL-1, 2|Bill|Item|C-2||NotBillable|3.75|Bolts|Parts|I-1|||1/10/2006 10:00:00 AM|1/11/2006|5||3|1.25\r\n");
  EXPECT_TRUE(StatusReports().empty());
}

TEST_F(ExpenseConverterTest, VersionsBeforeTwoSendNineAsTheBillableStatus) {
  Module().lngQBXMLVersion = kv::qb::QBXMLVersion::kUS1_1;
  Module().sQBXMLResponse = QueryResponse(Transaction("CheckRet", "CK-1", ThreeLines()));
  GetExpensesFromQB(*ctl, 1);
  const auto lines = AllLines();
  ASSERT_EQ(lines.size(), 3u);
  for (const auto& line : lines) EXPECT_EQ(Fields(line)[5], "9") << line;
}

TEST_F(ExpenseConverterTest, NegativeLinesAreDroppedAndTakeNoNumber) {
  const std::string lines = ExpenseLine("A-1", "Travel", "-5.00", "Refund") +
                            ExpenseLine("A-2", "Meals", "", "No sum") + ItemLine("-1.00") + ItemLine("2", "-3.00") +
                            ExpenseLine("A-3", "Fuel", "oops", "Odd");
  Module().sQBXMLResponse = QueryResponse(Transaction("CheckRet", "CK-9", lines));
  GetExpensesFromQB(*ctl, 1);

  const auto sent = AllLines();
  ASSERT_EQ(sent.size(), 3u);
  EXPECT_EQ(Fields(sent[0])[0], "CK-9, 0");
  EXPECT_EQ(Fields(sent[0])[6], "0.00");  // no Amount
  // An item line is dropped for its cost only; a negative amount alone keeps it.
  EXPECT_EQ(Fields(sent[1])[0], "CK-9, 1");
  EXPECT_EQ(Fields(sent[1])[6], "-3");
  EXPECT_EQ(Fields(sent[1])[18], "2");
  // An amount that is no number keeps its field.
  EXPECT_EQ(Fields(sent[2])[0], "CK-9, 2");
  EXPECT_EQ(Fields(sent[2])[6], "0.00");
  EXPECT_EQ(Fields(sent[2]).size(), 17u);
  EXPECT_EQ(Module().varExpenseCount, 3);
}

TEST_F(ExpenseConverterTest, OnlyTransactionsChangedSinceTheLastSync) {
  Module().ExpenseLastSyncDate = kv::DateTime::FromParts(2006, 1, 11);
  Module().sQBXMLResponse = QueryResponse(Transaction("CheckRet", "OLD", ThreeLines(), "2006-01-10T23:59:59") +
                                          Transaction("CheckRet", "AT", ThreeLines(), "2006-01-11T00:00:00"));
  GetExpensesFromQB(*ctl, 1);
  const auto lines = AllLines();
  ASSERT_EQ(lines.size(), 3u);
  for (const auto& line : lines) EXPECT_TRUE(line.starts_with("AT, ")) << line;
}

TEST_F(ExpenseConverterTest, TwoHundredThirtyLinesGoInBatchesOfAHundred) {
  std::string checks;
  for (int t = 0; t < 23; ++t) {
    std::string lines;
    for (int l = 0; l < 10; ++l) lines += ExpenseLine("A", "Acc", std::to_string(l + 1), "m");
    checks += Transaction("CheckRet", "CK-" + std::to_string(t), lines);
  }
  Module().sQBXMLResponse = QueryResponse(checks);
  GetExpensesFromQB(*ctl, 1);
  EXPECT_EQ(UploadShape(), (std::vector<std::string>{"X 100", "X 100", "X 30"}));
  EXPECT_EQ(ctl->lngBatchCount, 0);
  EXPECT_EQ(Fields(AllLines()[229])[0], "CK-22, 9");
}

TEST_F(ExpenseConverterTest, HostileMemosKeepTheFieldCount) {
  const std::string lines =
      ExpenseLine("A|1", "Travel | Fares\r\n", "1",
                  "memo|with\r\nbreaks 'and' caf\xC3\xA9 " + std::string(40000, 'm')) +
      Node("ItemLineRet", Ref("ItemRef", "I", "It\nem") + Leaf("Desc", "d|e\rsc") + Leaf("Cost", "1"));
  Module().sQBXMLResponse = QueryResponse(Transaction("BillRet", "B|1\r\n", lines));
  GetExpensesFromQB(*ctl, 2);

  const auto uploads = Uploads();
  ASSERT_EQ(uploads.size(), 1u);
  for (char c : uploads[0].body) ASSERT_LT(static_cast<unsigned char>(c), 0x80);
  const auto sent = AllLines();
  ASSERT_EQ(sent.size(), 2u);
  const auto expense = Fields(sent[0]);
  ASSERT_EQ(expense.size(), 16u);
  EXPECT_EQ(expense[0], "B/1  , 0");
  EXPECT_EQ(expense[7], "memo/with  breaks 'and' caf? " + std::string(40000, 'm'));
  EXPECT_EQ(expense[8], "Travel / Fares  ");
  EXPECT_EQ(expense[9], "A/1");
  const auto item = Fields(sent[1]);
  ASSERT_EQ(item.size(), 18u);
  EXPECT_EQ(item[7], "d/e sc");
  EXPECT_EQ(item[8], "It em");
  EXPECT_EQ(item[16], "0.00");  // no Quantity
}

TEST_F(ExpenseConverterTest, NoRecordsStillStartTheCountAfresh) {
  Module().varExpenseCount = 4;
  Module().sQBXMLResponse = QueryResponse(Transaction("CheckRet", "CK-1", ThreeLines()));
  GetExpensesFromQB(*ctl, 2);
  EXPECT_EQ(Module().varExpenseCount, 0);
  EXPECT_EQ(service->ReceivedCount(), 0u);
  EXPECT_FALSE(ModuleRecordSets().ExpenseRecords.HasArrays());
}

// ---- The two passes as the dispatcher runs them.

class ExpensePassesTest : public TransactionTest {
 protected:
  void SetUp() override {
    TransactionTest::SetUp();
    Module().bSyncExpense = true;
  }
  std::vector<std::string> Order() const {
    std::vector<std::string> out;
    for (const auto& request : service->Received()) out.push_back(request.Page() + " " + request.QueryValue("options"));
    return out;
  }
};

TEST_F(ExpensePassesTest, BothPassesThenOneXReport) {
  Module().sQBXMLResponse = QueryResponse(Transaction("CheckRet", "CK-1", ThreeLines()) +
                                          Transaction("BillRet", "BL-1", ExpenseLine("A", "Acc", "1", "m")));
  ctl->ProcessQueryResponse();
  EXPECT_EQ(Order(), (std::vector<std::string>{"brintavel.asp X", "brintavel.asp B", "brintavelupdatestatus.asp X"}));
  EXPECT_EQ(Module().varExpenseTotal, 4);
  EXPECT_FALSE(ctl->fraProgress.Visible());
}

TEST_F(ExpensePassesTest, ChecksWithoutBillsAreCountedOnce) {
  Module().sQBXMLResponse = QueryResponse(Transaction("CheckRet", "CK-1", ThreeLines()));
  ctl->ProcessQueryResponse();
  EXPECT_EQ(Module().varExpenseTotal, 3);
  EXPECT_EQ(Order(), (std::vector<std::string>{"brintavel.asp X", "brintavelupdatestatus.asp X"}));
}

TEST_F(ExpensePassesTest, NothingConvertedNoReport) {
  Module().sQBXMLResponse = QueryResponse(Transaction("CheckRet", "CK-1", ExpenseLine("A", "Acc", "-1", "m")));
  ctl->ProcessQueryResponse();
  EXPECT_EQ(Module().varExpenseTotal, 0);
  EXPECT_EQ(service->ReceivedCount(), 0u);
}

TEST_F(ExpensePassesTest, AFailedCheckUploadWithholdsTheReportAfterGoodBills) {
  ctl->DebugMode = true;
  ctl->optContinue.SetValue(true);
  service->QueueAnswers("brintavel.asp", {"Bad line", "SUCCESS"});
  Module().sQBXMLResponse = QueryResponse(Transaction("CheckRet", "CK-1", ExpenseLine("A", "Acc", "1", "m")) +
                                          Transaction("BillRet", "BL-1", ExpenseLine("A", "Acc", "1", "m")));
  ctl->ProcessQueryResponse();
  EXPECT_EQ(ctl->lngFailedExpCnt, 1);
  EXPECT_EQ(Order(), (std::vector<std::string>{"brintavel.asp X", "brintavel.asp B"}));
}

TEST_F(ExpensePassesTest, TheChecksWarningSurvivesTheBillsPass) {
  service->QueueAnswers("brintavel.asp", {"SUCCESS4", "SUCCESS"});
  Module().sQBXMLResponse = QueryResponse(Transaction("CheckRet", "CK-1", ExpenseLine("A", "Acc", "1", "m")) +
                                          Transaction("BillRet", "BL-1", ExpenseLine("A", "Acc", "1", "m")));
  ctl->ProcessQueryResponse();
  EXPECT_TRUE(ctl->mDisplayEXPError);
  EXPECT_EQ(StatusReports().size(), 1u);
}

TEST_F(ExpensePassesTest, AnUnreadableResponseIsShownOnceAfterBothPasses) {
  ui->ExpectBoxContaining("qbXML response could not be read: ");
  Module().sQBXMLResponse = "<QBXML><CheckRet>";
  ctl->ProcessQueryResponse();
  EXPECT_TRUE(Module().bSyncError);
  EXPECT_EQ(ui->Boxes().size(), 1u);
  EXPECT_EQ(service->ReceivedCount(), 0u);
}

}  // namespace
}  // namespace brintavel::testing
