// A download that an earlier run left unfinished: records QuickBooks has are reported, not added again; records
// it never processed are added; where QuickBooks cannot tell, the user decides.

#include <gtest/gtest.h>

#include <filesystem>
#include <set>
#include <string>
#include <vector>

#include "download_control/posting_journal.h"
#include "download_control/results_form.h"
#include "platform/forms/presenter.h"
#include "tests/download_control/control_fixture.h"

namespace tessarine::test {
namespace {

using platform::forms::Form;

// The value of an attribute in a request, as QuickBooks reads it; "" when absent.
std::string AttributeOf(const std::string& request, const std::string& name) {
  const size_t at = request.find(" " + name);
  if (at == std::string::npos) return "";
  const size_t open = request.find('"', at);
  const size_t close = request.find('"', open + 1);
  return request.substr(open + 1, close - open - 1);
}

std::string KindOf(const std::string& request) {
  return request.find("<BillAddRq") != std::string::npos    ? "Bill"
         : request.find("<CheckAddRq") != std::string::npos ? "Check"
                                                            : "TimeTracking";
}

// QuickBooks' error recovery as its SDK describes it: the answer of the last message set that carried a
// newMessageSetID is kept for this application; a status check returns it, or status 600 for any other id.
struct RecoveringQuickBooks {
  std::string kept_id;
  std::string kept;
  int adds = 0;
  int checks = 0;
  // The next add is processed, but its answer never comes back.
  bool lose_next_answer = false;
  // The next add is not processed at all.
  bool drop_next_add = false;

  std::string Answer(const std::string& request) {
    const std::string old_id = AttributeOf(request, "oldMessageSetID");
    if (!old_id.empty()) {
      ++checks;
      return old_id == kept_id ? kept
                               : "<?xml version=\"1.0\" ?>\r\n<QBXML>\r\n<QBXMLMsgsRs messageSetStatusCode=\"600\" "
                                 "/>\r\n</QBXML>\r\n";
    }
    if (drop_next_add) {
      drop_next_add = false;
      return "";
    }
    ++adds;
    const std::string id = AttributeOf(request, "newMessageSetID");
    const std::string response =
        "<?xml version=\"1.0\" ?>\r\n<QBXML>\r\n<QBXMLMsgsRs newMessageSetID=\"" + id +
        "\" messageSetStatusCode=\"0\">\r\n<" + KindOf(request) +
        "AddRs requestID=\"1\" statusCode=\"0\" statusSeverity=\"Info\" statusMessage=\"Status "
        "OK\">\r\n<" +
        KindOf(request) + "Ret><TxnID>T-" + std::to_string(adds) + "</TxnID></" + KindOf(request) + "Ret>\r\n</" +
        KindOf(request) + "AddRs>\r\n</QBXMLMsgsRs>\r\n</QBXML>\r\n";
    if (!id.empty()) {
      kept_id = id;
      kept = response;
    }
    if (lose_next_answer) {
      lose_next_answer = false;
      return "";
    }
    return response;
  }
};

class RecoveryTest : public PostingTest {
 protected:
  RecoveryTest() {
    qb.responder = [this](const std::string& request) { return quickbooks.Answer(request); };
  }

  // One page: download, Continue, the results form.
  ResultsSeen Run(bool time_mode = true) {
    KVRDowloadctl& c = Site(Params(time_mode));
    ResultsSeen seen;
    ExpectResults(ui, seen);
    c.cmdStartDownload.Click();
    return seen;
  }

  // The entries still waiting for the service to accept their record's report.
  size_t JournalEntries() const {
    PostingJournal journal(company_file);
    size_t open = 0;
    for (const JournalEntry& entry : journal.Entries()) open += entry.state != JournalEntry::State::kReported;
    return open;
  }

  // An entry as an earlier run, stopped during its add, would have left it.
  void PlantEntry(const std::string& message_set_id, const std::string& type, const std::string& ids, bool recovery) {
    PostingJournal journal(company_file);
    const RecordType record_type = RecordTypeFromCode(type).value();
    const bool expense = record_type == RecordType::kExpense;
    journal.Note("ACME", record_type, expense ? "" : ids, expense ? ids : "", recovery ? message_set_id : "", "");
  }

  std::vector<std::string> Adds() const {
    std::vector<std::string> adds;
    for (const auto& request : qb.requests) {
      if (AttributeOf(request, "oldMessageSetID").empty()) adds.push_back(request);
    }
    return adds;
  }

  RecoveringQuickBooks quickbooks;
};

TEST_F(RecoveryTest, EveryAddCarriesItsOwnShortMessageSetIdWhereQuickBooksHasRecovery) {
  service.WriteFile("pending-time.txt", kTimeLines);
  const ResultsSeen seen = Run();
  EXPECT_EQ(seen.success, "4");
  ASSERT_EQ(qb.requests.size(), 4u);
  std::set<std::string> ids;
  for (const auto& request : qb.requests) {
    const std::string id = AttributeOf(request, "newMessageSetID");
    EXPECT_FALSE(id.empty()) << request;
    EXPECT_LE(id.size(), 23u) << id;
    ids.insert(id);
  }
  EXPECT_EQ(ids.size(), 4u);
  // Every record was accepted by the service: nothing is left to recover.
  EXPECT_EQ(JournalEntries(), 0u);

  // QuickBooks 1.x refuses the attribute.
  qb.requests.clear();
  qb.versions = std::vector<std::string>{"1.0", "1.1"};
  service.WriteFile("pending-expenses.txt", kExpenseLines);
  Run(false);
  ASSERT_EQ(qb.requests.size(), 2u);
  for (const auto& request : qb.requests) EXPECT_EQ(request.find("MessageSetID"), std::string::npos) << request;
}

TEST_F(RecoveryTest, AnAddWhoseAnswerWasLostIsSettledByAStatusCheck) {
  service.WriteFile("pending-time.txt", kTimeLines);
  // The first add reaches the company file but its answer is lost; the third never gets processed.
  quickbooks.lose_next_answer = true;
  int add_count = 0;
  qb.responder = [&](const std::string& request) {
    if (AttributeOf(request, "oldMessageSetID").empty() && ++add_count == 3) quickbooks.drop_next_add = true;
    return quickbooks.Answer(request);
  };
  ui.ExpectBox("qbXML: no response!");
  const ResultsSeen seen = Run();

  EXPECT_EQ(quickbooks.adds, 3);
  EXPECT_EQ(quickbooks.checks, 2);
  const auto reports = Reports();
  ASSERT_EQ(reports.size(), 4u);
  // QuickBooks' kept answer is the first record's report, as if it had come back at once.
  EXPECT_NE(reports[0].body.find("<TxnID>T-1</TxnID>"), std::string::npos) << reports[0].body;
  EXPECT_EQ(reports[2].body, "");
  EXPECT_EQ(seen.total, "4");
  EXPECT_EQ(JournalEntries(), 0u);
}

TEST_F(RecoveryTest, ARecordWhoseReportFailedIsReportedNotAddedByTheNextRun) {
  service.WriteFile("pending-time.txt", kTimeLines);
  service.WriteFile("faults/kalvorupdatestatus.asp.1", "status 500\n");
  const ResultsSeen first = Run();
  EXPECT_EQ(first.success, "3");
  ASSERT_EQ(first.Reasons().size(), 1u);
  EXPECT_EQ(JournalEntries(), 1u);
  ASSERT_EQ(Adds().size(), 4u);
  const std::string first_add = Adds()[0];

  // The service still lists the first record; this time it refuses the report.
  service.WriteFile("pending-time.txt",
                    "TA101\r\n4/3/2006|Ann Lee|Acme:Roof|Consulting|7.5|Admin|Hourly|Fixed the roof|True\r\nx\r\n");
  service.QueueAnswers("kalvorupdatestatus.asp", {"ERROR|1|Try later"});
  const ResultsSeen second = Run();
  EXPECT_EQ(Adds().size(), 4u);
  ASSERT_EQ(Reports().size(), 5u);
  EXPECT_NE(Reports()[4].body.find("<TxnID>T-1</TxnID>"), std::string::npos) << Reports()[4].body;
  ASSERT_EQ(second.Reasons().size(), 1u);
  EXPECT_NE(second.Reasons()[0].find("Added to QuickBooks by an earlier download"), std::string::npos)
      << second.Reasons()[0];
  EXPECT_NE(second.Reasons()[0].find("Try later"), std::string::npos) << second.Reasons()[0];
  EXPECT_EQ(JournalEntries(), 1u);

  // Accepted at last: reported once more, still not added, and forgotten.
  const ResultsSeen third = Run();
  EXPECT_EQ(third.success, "1");
  EXPECT_EQ(Adds().size(), 4u);
  EXPECT_EQ(Reports().size(), 6u);
  EXPECT_EQ(JournalEntries(), 0u);
}

TEST_F(RecoveryTest, AnAddAnEarlierRunWasKilledInIsCheckedWithQuickBooksFirst) {
  service.WriteFile("pending-time.txt", kTimeLines);
  // The earlier run was killed in the add of TA101, which QuickBooks processed, and a run before it in the add of
  // TA102, whose message set QuickBooks no longer keeps.
  quickbooks.kept_id = "KV0000000200000000000a1";
  quickbooks.kept =
      "<?xml version=\"1.0\" ?>\r\n<QBXML>\r\n<QBXMLMsgsRs newMessageSetID=\"KV0000000200000000000a1\" "
      "messageSetStatusCode=\"0\">\r\n<TimeTrackingAddRs requestID=\"1\" statusCode=\"0\" statusSeverity=\"Info\" "
      "statusMessage=\"Status OK\">\r\n<TimeTrackingRet><TxnID>EARLIER</TxnID></TimeTrackingRet>\r\n"
      "</TimeTrackingAddRs>\r\n</QBXMLMsgsRs>\r\n</QBXML>\r\n";
  PlantEntry("KV0000000200000000000a1", "TA", "101", true);
  PlantEntry("KV0000000100000000000b2", "TA", "102", true);
  // And an entry of a record the service no longer lists.
  PlantEntry("KV0000000100000000000c3", "TA", "999", true);

  const ResultsSeen seen = Run();
  EXPECT_EQ(quickbooks.checks, 2);
  EXPECT_EQ(seen.success, "4");
  const auto adds = Adds();
  ASSERT_EQ(adds.size(), 3u);
  EXPECT_EQ(adds[0].find("Fixed the roof"), std::string::npos);
  EXPECT_NE(adds[0].find("Inspection"), std::string::npos);
  // The status checks came before anything was added.
  EXPECT_FALSE(AttributeOf(qb.requests[0], "oldMessageSetID").empty());
  EXPECT_FALSE(AttributeOf(qb.requests[1], "oldMessageSetID").empty());
  ASSERT_EQ(Reports().size(), 4u);
  EXPECT_NE(Reports()[0].body.find("<TxnID>EARLIER</TxnID>"), std::string::npos);
  // The entry of the record no longer listed stays until it ages out: a later listing may name it again.
  EXPECT_EQ(JournalEntries(), 1u);
}

TEST_F(RecoveryTest, WithoutRecoveryTheUserDecidesWhetherAnUnknownAddIsPostedAgain) {
  qb.versions = std::vector<std::string>{"1.0", "1.1"};
  service.WriteFile("pending-expenses.txt", kExpenseLines);
  PlantEntry("KV0000000100000000000a1", "EXP", "10,11", false);
  ui.ExpectBoxContaining("the expense with the item ids 10,11 to QuickBooks, and this QuickBooks cannot tell",
                         platform::forms::vbNo);
  const ResultsSeen first = Run(false);
  ASSERT_EQ(Adds().size(), 1u);
  EXPECT_NE(Adds()[0].find("<CheckAddRq"), std::string::npos);
  EXPECT_EQ(first.total, "2");
  EXPECT_EQ(first.failure, "1");
  ASSERT_EQ(first.Reasons().size(), 1u);
  EXPECT_NE(first.Reasons()[0].find("Not posted again"), std::string::npos) << first.Reasons()[0];
  EXPECT_EQ(JournalEntries(), 1u);

  // The check the service accepted is no longer listed; only the bill comes again.
  ui.ExpectBoxContaining("cannot tell whether the record was added", platform::forms::vbYes);
  const ResultsSeen second = Run(false);
  ASSERT_EQ(Adds().size(), 2u);
  EXPECT_NE(Adds()[1].find("<BillAddRq"), std::string::npos);
  EXPECT_EQ(second.total, "1");
  EXPECT_EQ(second.success, "1");
  EXPECT_EQ(JournalEntries(), 0u);
}

}  // namespace
}  // namespace tessarine::test
