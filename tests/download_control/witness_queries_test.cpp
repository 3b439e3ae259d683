// Finding a record in QuickBooks: the match rules of time, bills and checks, which transactions may count, and the
// add answer made from a transaction found, against the answer the QuickBooks stand-in gives to the add itself.

#include "download_control/witness_queries.h"
#include "common/qbxml_version.h"

#include <gtest/gtest.h>

#include <filesystem>

#include "download_control/expense_requests.h"
#include "download_control/qbxml_text.h"
#include "download_control/time_requests.h"
#include "platform/base/error.h"
#include "standins/quickbooks/qbxml_schema.h"
#include "standins/quickbooks/request_handler.h"
#include "tests/support/qb/standin_env.h"

namespace tessarine {
namespace {

using platform::xml::Node;

std::string TimeRequest(const std::string& line, const std::string& message_set_id = "") {
  CurrentTimeRecord record;
  return kv::qb::QBXMLDocumentHeader(kv::qb::QBXMLVersion::kUS2_0) +
         kv::qb::QBXMLBody(BuildTimeTrackingAddRq(line, 1, record), message_set_id);
}

// One Ret as QuickBooks answers a query with it.
struct HeldRets {
  platform::xml::Document doc;
  std::vector<Node> rets;
  explicit HeldRets(const std::string& kind, const std::string& rets_text) {
    EXPECT_TRUE(doc.LoadXml("<QBXML><QBXMLMsgsRs><" + kind + "QueryRs requestID=\"1\" statusCode=\"0\" " +
                            "statusSeverity=\"Info\" statusMessage=\"Status OK\">" + rets_text + "</" + kind +
                            "QueryRs></QBXMLMsgsRs></QBXML>"));
    rets = QueryRets(doc.documentElement().xml(), kind == "Bill"    ? TxnKind::kBill
                                                  : kind == "Check" ? TxnKind::kCheck
                                                                    : TxnKind::kTimeTracking);
  }
};

constexpr char kTimeLine[] = "4/3/2006|Ann Lee|Acme:Roof|Consulting|7.5|||Fixed the roof|True";

std::string TimeRet(const std::string& id, const std::string& created, const std::string& employee,
                    const std::string& duration, const std::string& notes = "Fixed the roof") {
  return "<TimeTrackingRet><TxnID>" + id + "</TxnID><TimeCreated>" + created + "</TimeCreated>" +
         "<TxnDate>2006-04-03</TxnDate><EntityRef><FullName>" + employee + "</FullName></EntityRef>" +
         "<CustomerRef><FullName>ACME:roof</FullName></CustomerRef><ItemServiceRef><FullName>consulting" +
         "</FullName></ItemServiceRef><Duration>" + duration + "</Duration><Notes>" + notes + "</Notes>" +
         "</TimeTrackingRet>";
}

// 2026-01-01T10:00:00+01:00 is 09:00 UTC.
constexpr int64_t kNine = 1767258000;

TEST(WitnessQueriesTest, TimeMatchesWhateverTheDurationFormAndTheLetterCaseOfNames) {
  const AskedRecord asked = ReadAddRequest(TimeRequest(kTimeLine));
  const HeldRets held("TimeTracking", TimeRet("A", "2026-01-01T10:00:00+01:00", "ANN LEE", "PT7H30M0S") +
                                          TimeRet("B", "2026-01-01T10:00:00+01:00", "ann lee", "PT7.5H") +
                                          TimeRet("C", "2026-01-01T10:00:00+01:00", "Ann Lee", "PT7H") +
                                          TimeRet("D", "2026-01-01T10:00:00+01:00", "Ann Lea", "PT7H30M") +
                                          TimeRet("E", "2026-01-01T10:00:00+01:00", "Ann Lee", "PT7H30M", "Other"));
  const std::vector<WitnessCandidate> found = MatchingRets(asked, held.rets, kNine, {});
  ASSERT_EQ(found.size(), 2u);
  EXPECT_EQ(found[0].txn_id, "A");
  EXPECT_EQ(found[1].txn_id, "B");
}

TEST(WitnessQueriesTest, OnlyTransactionsCreatedSinceTheNoteAndClaimedByNoOtherRecordCount) {
  const AskedRecord asked = ReadAddRequest(TimeRequest(kTimeLine));
  // Keyed in by hand the second before the note; in the note's second; a minute after, in another zone.
  const HeldRets held("TimeTracking", TimeRet("EARLY", "2026-01-01T08:59:58Z", "Ann Lee", "PT7H30M") +
                                          TimeRet("SAME", "2026-01-01T09:00:00Z", "Ann Lee", "PT7H30M") +
                                          TimeRet("LATER", "2026-01-01T04:01:00-05:00", "Ann Lee", "PT7H30M"));
  std::vector<WitnessCandidate> found = MatchingRets(asked, held.rets, kNine, {});
  ASSERT_EQ(found.size(), 2u);
  EXPECT_EQ(found[0].txn_id, "SAME");
  EXPECT_EQ(found[1].txn_id, "LATER");
  // Two identical records: the one whose transaction the first took finds only the other.
  found = MatchingRets(asked, held.rets, kNine, {"SAME"});
  ASSERT_EQ(found.size(), 1u);
  EXPECT_EQ(found[0].txn_id, "LATER");
  EXPECT_TRUE(MatchingRets(asked, held.rets, kNine, {"SAME", "LATER"}).empty());
}

TEST(WitnessQueriesTest, BillLinesMatchInAnyOrderWithAmountsAsNumbers) {
  CurrentExpense expense;
  expense.sCurExpPayee = "Vendor A";
  expense.sCurExpDate = "5/2/2006";
  expense.sCurExpMemo = "Trip";
  expense.sExpenseItemLines = {"10|5/1/2006|Taxi||25||Travel|Expense|False|False||",
                               "11|5/1/2006|Tip||5.5||Travel|Expense|False|False||",
                               "12|5/1/2006|Nails||0||Hardware|Expense|False|True|2|2.75"};
  const AskedRecord asked = ReadAddRequest(BuildBillAddRq(expense, kv::qb::QBXMLVersion::kUS2_0));
  auto bill = [](const std::string& id, const std::string& lines) {
    return "<BillRet><TxnID>" + id + "</TxnID><TimeCreated>2026-01-01T09:00:05Z</TimeCreated>" +
           "<VendorRef><FullName>VENDOR A</FullName></VendorRef><TxnDate>2006-05-02</TxnDate><Memo>Trip</Memo>" +
           lines + "</BillRet>";
  };
  const std::string taxi =
      "<ExpenseLineRet><AccountRef><FullName>travel</FullName></AccountRef>"
      "<Amount>25.00</Amount></ExpenseLineRet>";
  const std::string tip =
      "<ExpenseLineRet><AccountRef><FullName>Travel</FullName></AccountRef>"
      "<Amount>5.50</Amount></ExpenseLineRet>";
  const std::string nails =
      "<ItemLineRet><ItemRef><FullName>Hardware</FullName></ItemRef><Quantity>2</Quantity>"
      "<Amount>5.5</Amount></ItemLineRet>";
  const HeldRets held("Bill", bill("REORDERED", nails + tip + taxi) + bill("FEWER", taxi + nails) +
                                  bill("TWICE", taxi + taxi + nails) + bill("ORDERED", taxi + tip + nails));
  const std::vector<WitnessCandidate> found = MatchingRets(asked, held.rets, kNine, {});
  ASSERT_EQ(found.size(), 2u);
  EXPECT_EQ(found[0].txn_id, "REORDERED");
  EXPECT_EQ(found[1].txn_id, "ORDERED");
}

TEST(WitnessQueriesTest, AnItemLinesAmountQuickBooksRoundedFromQuantityAndCostStillMatches) {
  CurrentExpense expense;
  expense.sCurExpPayee = "Vendor A";
  expense.sCurExpDate = "5/2/2006";
  expense.sCurExpMemo = "Nails";
  // 0.06 x 2.75 is 0.165: QuickBooks keeps 0.17, rounding the product in decimal; as a double it lies just below.
  expense.sExpenseItemLines = {"12|5/1/2006|Nails||0||Hardware|Expense|False|True|0.06|2.75"};
  const AskedRecord asked = ReadAddRequest(BuildBillAddRq(expense, kv::qb::QBXMLVersion::kUS2_0));
  auto bill = [](const std::string& id, const std::string& amount) {
    return "<BillRet><TxnID>" + id + "</TxnID><TimeCreated>2026-01-01T09:00:05Z</TimeCreated>" +
           "<VendorRef><FullName>Vendor A</FullName></VendorRef><TxnDate>2006-05-02</TxnDate><Memo>Nails</Memo>" +
           "<ItemLineRet><ItemRef><FullName>Hardware</FullName></ItemRef><Quantity>0.06</Quantity><Cost>2.75</Cost>" +
           "<Amount>" + amount + "</Amount></ItemLineRet></BillRet>";
  };
  const HeldRets held("Bill", bill("HALF-UP", "0.17") + bill("TWO-CENTS-OFF", "0.14"));
  const std::vector<WitnessCandidate> found = MatchingRets(asked, held.rets, kNine, {});
  ASSERT_EQ(found.size(), 1u);
  EXPECT_EQ(found[0].txn_id, "HALF-UP");
}

TEST(WitnessQueriesTest, QueriesNarrowByDateAndEntityAndReadNothingFoundAsNone) {
  const AskedRecord asked = ReadAddRequest(TimeRequest(kTimeLine));
  const std::string match = MatchQuery(kv::qb::QBXMLVersion::kCA2_0, asked);
  EXPECT_NE(match.find("<?qbxml version=\"CA2.0\"?>"), std::string::npos);
  EXPECT_NE(match.find("<FromTxnDate>2006-04-03</FromTxnDate>"), std::string::npos);
  EXPECT_NE(match.find("<ToTxnDate>2006-04-03</ToTxnDate>"), std::string::npos);
  EXPECT_NE(match.find("<TimeTrackingEntityFilter>\r\n<FullName>Ann Lee</FullName>"), std::string::npos);
  EXPECT_NE(match.find("<MaxReturned>"), std::string::npos);
  const std::string by_id = TxnIDQuery(kv::qb::QBXMLVersion::kUS1_0, TxnKind::kCheck, "1A-99");
  EXPECT_NE(by_id.find("QBD 1.0"), std::string::npos);
  EXPECT_NE(by_id.find("<CheckQueryRq requestID = \"1\">\r\n<TxnID>1A-99</TxnID>"), std::string::npos);
  EXPECT_NE(by_id.find("<IncludeLineItems>true</IncludeLineItems>"), std::string::npos);
  // 500: the TxnID asked for is not in the company file; 1: nothing matched; anything else is no answer.
  EXPECT_TRUE(QueryRets("<QBXML><QBXMLMsgsRs><CheckQueryRs statusCode=\"500\" statusSeverity=\"Warn\" "
                        "statusMessage=\"x\"/></QBXMLMsgsRs></QBXML>",
                        TxnKind::kCheck)
                  .empty());
  EXPECT_THROW(QueryRets("<QBXML><QBXMLMsgsRs><CheckQueryRs statusCode=\"3120\" statusSeverity=\"Error\" "
                         "statusMessage=\"x\"/></QBXMLMsgsRs></QBXML>",
                         TxnKind::kCheck),
               kv::Error);
  EXPECT_THROW(QueryRets("", TxnKind::kCheck), kv::Error);
}

// Markup without the blanks and line ends between its tags.
std::string Squeezed(const std::string& xml) {
  std::string out;
  size_t pending = 0;  // where blanks after a ">" began; they go when a "<" follows them
  bool after_tag = false;
  for (char c : xml) {
    if (after_tag && (c == ' ' || c == '\t' || c == '\r' || c == '\n')) {
      out += c;
      continue;
    }
    if (after_tag && c == '<') out.resize(pending);
    out += c;
    after_tag = c == '>';
    if (after_tag) pending = out.size();
  }
  return out;
}

TEST(WitnessQueriesTest, TheAnswerMadeFromAFoundTransactionIsTheAnswerQuickBooksGivesTheAdd) {
  // QuickBooks' state (what the add notes beside the company) stays in the test's own folder.
  const platform::qb::testing::StandinEnv env;
  const std::filesystem::path company = env.CopySample();
  const std::string request =
      TimeRequest("4/3/2006|Dana Whitfield|Acme Widgets|Consulting|7.5|||On site|True", "KV0000000100000000000a1");
  const std::string added = standins::quickbooks::HandleQBXMLRequest(company, request).response.Join();

  platform::xml::Document doc;
  ASSERT_TRUE(doc.LoadXml(added)) << added;
  const Node ret = doc.documentElement().selectSingleNode("QBXMLMsgsRs/TimeTrackingAddRs/TimeTrackingRet");
  ASSERT_TRUE(ret) << added;
  const AskedRecord asked = ReadAddRequest(request);
  EXPECT_TRUE(RetMatches(asked, ret));
  EXPECT_EQ(Squeezed(AddAnswerOf(asked, ret)), Squeezed(added));
  EXPECT_EQ(TxnIDOfAnswer(AddAnswerOf(asked, ret)), ret.selectSingleNode("TxnID").text());
}

// The stand-in's company file, and QuickBooks' state, in a folder of the test's own.
class StandinCompany {
 public:
  std::string Ask(const std::string& request) const {
    return standins::quickbooks::HandleQBXMLRequest(file_, request).response.Join();
  }

 private:
  platform::qb::testing::StandinEnv env_;
  std::filesystem::path file_ = env_.CopySample();
};

const std::vector<std::string> kEveryVersion = {"1.0",   "1.1",   "2.0",   "CA1.0", "CA1.1",
                                                "CA2.0", "UK1.0", "UK1.1", "UK2.0"};

TEST(WitnessQueriesTest, QuickBooksFindsWhatItWasAskedToAddAndNothingElse) {
  const StandinCompany company;
  CurrentExpense check;
  check.sCurExpPayee = "Riverside Travel Agency";
  check.sCurExpDate = "5/3/2006";
  check.sCurExpMemo = "Lunch";
  check.sCurExpBankAccount = "Checking";
  check.sExpenseItemLines = {"12|5/3/2006|Lunch||12||Meals and Entertainment|Expense|False|False||",
                             "13|5/3/2006|Paper||0||Printer Paper|Expense|False|True|2|3.5"};
  CurrentExpense bill = check;
  bill.sCurExpPayee = "Cascade Office Supply";
  const std::vector<std::string> adds = {
      TimeRequest("5/3/2006|Dana Whitfield|Acme Widgets|Consulting|2.25|||On site|True"),
      BuildBillAddRq(bill, kv::qb::QBXMLVersion::kUS2_0), BuildCheckAddRq(check, kv::qb::QBXMLVersion::kUS2_0)};
  for (const std::string& add : adds) {
    SCOPED_TRACE(add);
    const std::string answer = company.Ask(add);
    const std::string txn_id = TxnIDOfAnswer(answer);
    ASSERT_FALSE(txn_id.empty()) << answer;
    const AskedRecord asked = ReadAddRequest(add);
    for (int32_t code : {0, 2, 8, 11}) {
      SCOPED_TRACE(code);
      const std::string match = MatchQuery(kv::qb::QBXMLVersion{code}, asked);
      const std::string by_id = TxnIDQuery(kv::qb::QBXMLVersion{code}, asked.kind, txn_id);
      EXPECT_TRUE(standins::quickbooks::CheckQBXMLRequest(match, kEveryVersion).empty());
      EXPECT_TRUE(standins::quickbooks::CheckQBXMLRequest(by_id, kEveryVersion).empty());
    }
    const std::vector<Node> found = QueryRets(company.Ask(MatchQuery(kv::qb::QBXMLVersion::kUS2_0, asked)), asked.kind);
    const std::vector<WitnessCandidate> candidates = MatchingRets(asked, found, 0, {});
    ASSERT_EQ(candidates.size(), 1u);
    EXPECT_EQ(candidates[0].txn_id, txn_id);
    EXPECT_EQ(QueryRets(company.Ask(TxnIDQuery(kv::qb::QBXMLVersion::kUS2_0, asked.kind, txn_id)), asked.kind).size(),
              1u);
    // A transaction QuickBooks does not hold, as after a restored backup.
    EXPECT_TRUE(
        QueryRets(company.Ask(TxnIDQuery(kv::qb::QBXMLVersion::kUS2_0, asked.kind, "FFFF-1")), asked.kind).empty());
  }
}

}  // namespace
}  // namespace tessarine
