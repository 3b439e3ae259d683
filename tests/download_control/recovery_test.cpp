// A download that an earlier run left unfinished: QuickBooks is asked whether it holds each record, by its
// error-recovery memory only while that provably holds the record's message set, else by querying its
// transactions; records it holds are reported, not added again, and records it lacks are added.

#include <gtest/gtest.h>

#include <algorithm>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <set>
#include <string>
#include <vector>

#include "download_control/posting_journal.h"
#include "download_control/results_form.h"
#include "platform/forms/presenter.h"
#include "tests/download_control/control_fixture.h"
#include "tests/download_control/recovering_quickbooks.h"

namespace tessarine::test {
namespace {

using platform::forms::Form;

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

  // Entries whose record the service has not yet accepted.
  size_t JournalEntries() const {
    size_t open = 0;
    for (const JournalEntry& e : PostingJournal(company_file).Entries()) {
      if (e.state != JournalEntry::State::kReported) ++open;
    }
    return open;
  }

  // The add request of a time record as the control sends it (header, message set, the TimeTrackingAddRq).
  static std::string TimeAdd(const std::string& date, const std::string& employee, const std::string& notes,
                             const std::string& message_set_id) {
    const std::string id = message_set_id.empty() ? "" : " newMessageSetID = \"" + message_set_id + "\"";
    return "<?xml version = \"1.0\"?>\r\n<!DOCTYPE QBXML PUBLIC '-//INTUIT//DTD QBXML QBD 2.0//EN'>\r\n<QBXML>\r\n"
           "<QBXMLMsgsRq onError = \"continueOnError\"" +
           id +
           ">\r\n<TimeTrackingAddRq requestID = \"1\">\r\n"
           "<TimeTrackingAdd>\r\n<TxnDate>" +
           date + "</TxnDate>\r\n<EntityRef>\r\n<FullName>" + employee +
           "</FullName>\r\n</EntityRef>\r\n<CustomerRef>\r\n<FullName>Acme:Roof</FullName>\r\n</CustomerRef>\r\n"
           "<ItemServiceRef>\r\n<FullName>Consulting</FullName>\r\n</ItemServiceRef>\r\n<Duration>PT7H30M</Duration>"
           "<Notes>" +
           notes +
           "</Notes>\r\n<IsBillable>1</IsBillable>\r\n</TimeTrackingAdd>\r\n"
           "</TimeTrackingAddRq>\r\n</QBXMLMsgsRq>\r\n</QBXML>";
  }

  // An entry as an earlier run, stopped during its add, would have left it.
  JournalEntry PlantEntry(const std::string& site, RecordType type, const std::string& id, const std::string& items,
                          const std::string& message_set_id, const std::string& request) {
    PostingJournal journal(company_file);
    return journal.Note(site, type, id, items, message_set_id, request);
  }

  std::vector<std::string> Adds() const {
    std::vector<std::string> adds;
    for (const auto& request : qb.requests) {
      if (request.find("AddRq") != std::string::npos) adds.push_back(request);
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

TEST_F(RecoveryTest, AnAddAnEarlierRunWasKilledInIsLookedForInQuickBooksBeforeAnythingIsAdded) {
  service.WriteFile("pending-time.txt", kTimeLines);
  // Killed in the add of TA101, which QuickBooks made; another message set of this application came after it, so
  // QuickBooks keeps nothing of it. Killed earlier in the add of TA102, which QuickBooks never made. And an entry
  // of another site, which QuickBooks made.
  const std::string ta101 = TimeAdd("2006-04-03", "Ann Lee", "Fixed the roof", "KV0000000200000000000a1");
  PlantEntry("ACME", RecordType::kTime, "102", "", "KV0000000100000000000b2",
             TimeAdd("2006-04-04", "Ann Lee", "Inspection", "KV0000000100000000000b2"));
  PlantEntry("ACME", RecordType::kTime, "101", "", "KV0000000200000000000a1", ta101);
  PlantEntry("OTHER", RecordType::kTime, "555", "", "", TimeAdd("2006-04-09", "Cy Dee", "Elsewhere", ""));
  quickbooks.Hold(ta101, NowText(1));
  quickbooks.Hold(TimeAdd("2006-04-09", "Cy Dee", "Elsewhere", ""), NowText(1));
  quickbooks.kept_id = "KV-EXPENSE-RUN";

  const ResultsSeen seen = Run();
  EXPECT_EQ(seen.success, "4");
  // Only the last message set noted could still be QuickBooks' kept one; the rest was asked by query.
  EXPECT_EQ(quickbooks.checks, 1);
  const auto adds = Adds();
  ASSERT_EQ(adds.size(), 3u);
  for (const auto& add : adds) EXPECT_EQ(add.find("Fixed the roof"), std::string::npos) << add;
  // Nothing was added before every entry was settled.
  EXPECT_EQ(qb.requests.size() - adds.size(), static_cast<size_t>(quickbooks.checks + quickbooks.queries));
  for (size_t i = 0; i < qb.requests.size() - adds.size(); ++i) {
    EXPECT_EQ(qb.requests[i].find("AddRq"), std::string::npos) << qb.requests[i];
  }
  ASSERT_EQ(Reports().size(), 4u);
  EXPECT_NE(Reports()[0].body.find("<TxnID>T-1</TxnID>"), std::string::npos) << Reports()[0].body;
  // The other site's record is settled, not reported: its own site's run reports it.
  const std::vector<JournalEntry> entries = PostingJournal(company_file).Entries();
  const auto other =
      std::find_if(entries.begin(), entries.end(), [](const JournalEntry& e) { return e.site == "OTHER"; });
  ASSERT_NE(other, entries.end());
  EXPECT_EQ(other->state, JournalEntry::State::kAnswered);
  EXPECT_NE(other->answer.find("<TxnID>T-2</TxnID>"), std::string::npos);
  EXPECT_EQ(JournalEntries(), 1u);
}

TEST_F(RecoveryTest, WithoutRecoveryAMatchDecides) {
  qb.versions = std::vector<std::string>{"1.0", "1.1"};
  service.WriteFile("pending-time.txt",
                    "TA101\r\n4/3/2006|Ann Lee|Acme:Roof|Consulting|7.5|||Fixed the roof|True\r\nx\r\n"
                    "TA102\r\n4/4/2006|Ann Lee|Acme:Roof|Consulting|7.5|||Same|True\r\nx\r\n"
                    "TA103\r\n4/5/2006|Ann Lee|Acme:Roof|Consulting|7.5|||Twice|True\r\nx\r\n");
  // TA101 is in QuickBooks; TA102 is not, though the user keyed in one like it before the run; TA103 matches two.
  const std::string ta101 = TimeAdd("2006-04-03", "Ann Lee", "Fixed the roof", "");
  const std::string ta103 = TimeAdd("2006-04-05", "Ann Lee", "Twice", "");
  PlantEntry("ACME", RecordType::kTime, "101", "", "", ta101);
  PlantEntry("ACME", RecordType::kTime, "102", "", "", TimeAdd("2006-04-04", "Ann Lee", "Same", ""));
  PlantEntry("ACME", RecordType::kTime, "103", "", "", ta103);
  quickbooks.Hold(ta101, NowText(1));
  quickbooks.Hold(TimeAdd("2006-04-04", "ANN LEE", "Same", ""), NowText(-86400));
  quickbooks.Hold(ta103, NowText(1));
  quickbooks.Hold(ta103, NowText(2));
  ui.ExpectBoxContaining("QuickBooks holds 2 transactions that match it:\r\nTxnID T-3", platform::forms::vbYes);

  const ResultsSeen seen = Run();
  EXPECT_EQ(seen.success, "3");
  EXPECT_EQ(quickbooks.checks, 0);
  ASSERT_EQ(Adds().size(), 1u);
  EXPECT_NE(Adds()[0].find("Same"), std::string::npos);
  ASSERT_EQ(Reports().size(), 3u);
  EXPECT_NE(Reports()[0].body.find("<TxnID>T-1</TxnID>"), std::string::npos) << Reports()[0].body;
  EXPECT_NE(Reports()[2].body.find("<TxnID>T-3</TxnID>"), std::string::npos) << Reports()[2].body;
  EXPECT_EQ(JournalEntries(), 0u);
}

TEST_F(RecoveryTest, SeveralMatchesLeftUndecidedPostNothingAndNoPostsAnew) {
  qb.versions = std::vector<std::string>{"1.0", "1.1"};
  service.WriteFile("pending-time.txt", "TA103\r\n4/5/2006|Ann Lee|Acme:Roof|Consulting|7.5|||Twice|True\r\nx\r\n");
  const std::string ta103 = TimeAdd("2006-04-05", "Ann Lee", "Twice", "");
  PlantEntry("ACME", RecordType::kTime, "103", "", "", ta103);
  quickbooks.Hold(ta103, NowText(1));
  quickbooks.Hold(ta103, NowText(1));
  // An input that closed answers Cancel: nothing is posted and the entry waits.
  ui.ExpectBoxContaining("QuickBooks holds 2 transactions", platform::forms::vbCancel);
  const ResultsSeen first = Run();
  EXPECT_EQ(Adds().size(), 0u);
  EXPECT_EQ(Reports().size(), 0u);
  ASSERT_EQ(first.Reasons().size(), 1u);
  EXPECT_NE(first.Reasons()[0].find("several transactions"), std::string::npos) << first.Reasons()[0];
  EXPECT_EQ(JournalEntries(), 1u);

  ui.ExpectBoxContaining("QuickBooks holds 2 transactions", platform::forms::vbNo);
  const ResultsSeen second = Run();
  EXPECT_EQ(Adds().size(), 1u);
  EXPECT_EQ(second.success, "1");
  EXPECT_EQ(JournalEntries(), 0u);
}

TEST_F(RecoveryTest, ARecordGoneFromQuickBooksIsPostedAnewAndTheUserIsTold) {
  service.WriteFile("pending-time.txt", kTimeLines);
  service.WriteFile("faults/kalvorupdatestatus.asp.1", "status 500\n");
  Run();
  ASSERT_EQ(JournalEntries(), 1u);
  // The company file is restored from a backup made before the run.
  quickbooks.txns.clear();
  service.WriteFile("pending-time.txt",
                    "TA101\r\n4/3/2006|Ann Lee|Acme:Roof|Consulting|7.5|Admin|Hourly|Fixed the roof|True\r\nx\r\n");
  ui.ExpectBoxContaining("QuickBooks no longer holds what earlier downloads added for these records",
                         platform::forms::vbOK);
  const ResultsSeen second = Run();
  EXPECT_EQ(second.success, "1");
  EXPECT_EQ(Adds().size(), 5u);
  EXPECT_EQ(JournalEntries(), 0u);
}

TEST_F(RecoveryTest, WhenQuickBooksCannotBeAskedNothingIsAdded) {
  service.WriteFile("pending-time.txt", kTimeLines);
  PlantEntry("ACME", RecordType::kTime, "101", "", "", TimeAdd("2006-04-03", "Ann Lee", "Fixed the roof", ""));
  quickbooks.mute_queries = true;
  ui.ExpectBoxContaining("QuickBooks could not tell whether it holds the time record 101", platform::forms::vbOK);
  KVRDowloadctl& c = Site(Params(true));
  c.cmdStartDownload.Click();
  EXPECT_EQ(Adds().size(), 0u);
  EXPECT_EQ(Reports().size(), 0u);
  EXPECT_EQ(JournalEntries(), 1u);

  // QuickBooks answers again: the record is found missing and posted once.
  quickbooks.mute_queries = false;
  const ResultsSeen seen = Run();
  EXPECT_EQ(seen.success, "4");
  EXPECT_EQ(Adds().size(), 4u);
  EXPECT_EQ(JournalEntries(), 0u);
}

TEST_F(RecoveryTest, ALostAnswerWithARefusedCheckIsFoundByQueryAndNotPostedAgain) {
  service.WriteFile("pending-time.txt", kTimeLines);
  quickbooks.lose_next_answer = true;
  quickbooks.mute_checks = true;
  const ResultsSeen seen = Run();
  EXPECT_EQ(seen.success, "4");
  EXPECT_EQ(quickbooks.adds, 4);
  EXPECT_EQ(quickbooks.checks, 1);
  ASSERT_EQ(Reports().size(), 4u);
  EXPECT_NE(Reports()[0].body.find("<TxnID>T-1</TxnID>"), std::string::npos) << Reports()[0].body;
  EXPECT_EQ(JournalEntries(), 0u);
}

TEST_F(RecoveryTest, AnAnswerThatCannotBeReadIsNoRefusalAndTheRecordIsFoundByQuery) {
  service.WriteFile("pending-time.txt", kTimeLines);
  quickbooks.garble_next_answer = true;
  quickbooks.mute_checks = true;
  const ResultsSeen seen = Run();
  EXPECT_EQ(quickbooks.adds, 4);
  ASSERT_EQ(Reports().size(), 4u);
  // Reported with the transaction QuickBooks made of it, not with the cut answer, and never added again.
  EXPECT_NE(Reports()[0].body.find("<TxnID>T-1</TxnID>"), std::string::npos) << Reports()[0].body;
  EXPECT_EQ(seen.success, "4");
  EXPECT_EQ(JournalEntries(), 0u);
}

TEST_F(RecoveryTest, ALostAnswerThatCannotBeSettledStopsThePostingUntilTheNextDownload) {
  service.WriteFile("pending-time.txt", kTimeLines);
  quickbooks.lose_next_answer = true;
  quickbooks.mute_checks = true;
  quickbooks.mute_queries = true;
  ui.ExpectBoxContaining("the next download settles it with QuickBooks", platform::forms::vbOK);
  Run();
  EXPECT_EQ(quickbooks.adds, 1);
  EXPECT_EQ(Reports().size(), 0u);
  EXPECT_EQ(JournalEntries(), 1u);

  quickbooks.mute_checks = false;
  quickbooks.mute_queries = false;
  const ResultsSeen seen = Run();
  EXPECT_EQ(seen.success, "4");
  EXPECT_EQ(quickbooks.adds, 4);
  EXPECT_EQ(JournalEntries(), 0u);
}

TEST_F(RecoveryTest, ADamagedJournalIsToldAndItsRecordsAreLookedForFirst) {
  service.WriteFile("pending-time.txt",
                    "TA101\r\n4/3/2006|Ann Lee|Acme:Roof|Consulting|7.5|||Fixed the roof|True\r\nx\r\n"
                    "TA102\r\n4/4/2006|Ann Lee|Acme:Roof|Consulting|8|||Inspection|False\r\nx\r\n");
  const std::string ta101 = TimeAdd("2006-04-03", "Ann Lee", "Fixed the roof", "");
  PlantEntry("ACME", RecordType::kTime, "999", "", "", TimeAdd("2006-04-09", "Cy Dee", "Elsewhere", ""));
  {
    std::ofstream journal(PostingJournal::PathOf(company_file), std::ios::app);
    journal << "E|cut sho";
  }
  // The lost note named TA101, which QuickBooks made after the last whole note.
  quickbooks.Hold(ta101, NowText(1));
  ui.ExpectBoxContaining(PostingJournal::PathOf(company_file).string(), platform::forms::vbOK);
  const ResultsSeen seen = Run();
  EXPECT_EQ(seen.success, "2");
  ASSERT_EQ(Adds().size(), 1u);
  for (const auto& add : Adds()) EXPECT_EQ(add.find("Fixed the roof"), std::string::npos) << add;
  ASSERT_EQ(Reports().size(), 2u);
  EXPECT_NE(Reports()[0].body.find("<TxnID>T-1</TxnID>"), std::string::npos) << Reports()[0].body;
}

TEST_F(RecoveryTest, AKeptMessageSetDecidesWhileItIsProvablyTheLastOne) {
  service.WriteFile("pending-time.txt", kTimeLines);
  // Killed after QuickBooks made TA101 in the last message set noted: its kept answer is the record's.
  const std::string ta101 = TimeAdd("2006-04-03", "Ann Lee", "Fixed the roof", "KV0000000200000000000a1");
  PlantEntry("ACME", RecordType::kTime, "101", "", "KV0000000200000000000a1", ta101);
  quickbooks.kept_id = "KV0000000200000000000a1";
  quickbooks.kept = RecoveringQuickBooks::Envelope(
      " newMessageSetID=\"KV0000000200000000000a1\" messageSetStatusCode=\"0\"",
      "<TimeTrackingAddRs requestID=\"1\" statusCode=\"0\" statusSeverity=\"Info\" statusMessage=\"Status OK\">\r\n" +
          quickbooks.Hold(ta101, NowText()).ret + "\r\n</TimeTrackingAddRs>\r\n");
  const ResultsSeen first = Run();
  EXPECT_EQ(first.success, "4");
  EXPECT_EQ(quickbooks.checks, 1);
  EXPECT_EQ(quickbooks.queries, 0);
  EXPECT_EQ(Adds().size(), 3u);
  EXPECT_NE(Reports()[0].body.find("<TxnID>T-1</TxnID>"), std::string::npos) << Reports()[0].body;

  // Refused in the last message set: QuickBooks has nothing of it, so it is posted.
  service.WriteFile("pending-time.txt",
                    "TA104\r\n4/7/2006|Ann Lee|Acme:Roof|Consulting|1|||Refused once|True\r\nx\r\n");
  PlantEntry("ACME", RecordType::kTime, "104", "", "KV0000000300000000000a1",
             TimeAdd("2006-04-07", "Ann Lee", "Refused once", "KV0000000300000000000a1"));
  quickbooks.kept_id = "KV0000000300000000000a1";
  quickbooks.kept = RecoveringQuickBooks::Envelope(
      " newMessageSetID=\"KV0000000300000000000a1\" messageSetStatusCode=\"0\"",
      "<TimeTrackingAddRs requestID=\"1\" statusCode=\"3140\" statusSeverity=\"Error\" statusMessage=\"No such "
      "employee\" />\r\n");
  const ResultsSeen second = Run();
  EXPECT_EQ(second.success, "1");
  EXPECT_EQ(quickbooks.checks, 2);
  EXPECT_EQ(quickbooks.queries, 0);
  ASSERT_EQ(Adds().size(), 4u);
  EXPECT_NE(Adds()[3].find("Refused once"), std::string::npos);
  EXPECT_EQ(JournalEntries(), 0u);
}

TEST_F(RecoveryTest, ARecordListedAgainAfterItsReportWasAcceptedIsReportedNotAdded) {
  service.WriteFile("pending-time.txt", kTimeLines);
  Run();
  ASSERT_EQ(Adds().size(), 4u);
  // The service hands TA101 out once more though it accepted its report (and keeps it as transferred).
  service.QueueAnswers(
      "kalvordownload.asp",
      {"TA101\r\n4/3/2006|Ann Lee|Acme:Roof|Consulting|7.5|Admin|Hourly|Fixed the roof|True\r\nx\r\n"});
  const ResultsSeen again = Run();
  EXPECT_EQ(again.success, "1");
  EXPECT_EQ(Adds().size(), 4u);
  // Asked by its TxnID, and only that: no other record was queried.
  EXPECT_EQ(quickbooks.queries, 1);
  ASSERT_EQ(Reports().size(), 5u);
  EXPECT_NE(Reports()[4].body.find("<TxnID>T-1</TxnID>"), std::string::npos) << Reports()[4].body;
}

TEST_F(RecoveryTest, AnExpenseWithItsLinesReorderedOrFewerIsOneRecord) {
  service.WriteFile("pending-expenses.txt", kExpenseLines);
  service.WriteFile("faults/kalvorupdatestatus.asp.1", "status 500\n");
  Run(false);
  ASSERT_EQ(Adds().size(), 2u);
  ASSERT_EQ(JournalEntries(), 1u);
  // The bill comes back with its lines the other way round, then with one of them only.
  service.WriteFile("pending-expenses.txt",
                    "EXP1|Vendor A|5/2/2006|Trip|True|\r\n"
                    "11|5/1/2006|Tip||5.50||Travel|Expense|False|False||\r\n"
                    "10|5/1/2006|Taxi||25.00||Travel|Expense|False|False||\r\n");
  service.QueueAnswers("kalvorupdatestatus.asp", {"ERROR|1|Try later"});
  Run(false);
  EXPECT_EQ(Adds().size(), 2u);
  ASSERT_EQ(Reports().size(), 3u);
  EXPECT_EQ(Reports()[2].QueryValue("EEIIDs"), "11,10");
  service.WriteFile("pending-expenses.txt",
                    "EXP1|Vendor A|5/2/2006|Trip|True|\r\n10|5/1/2006|Taxi||25.00||Travel|Expense|False|False||\r\n");
  const ResultsSeen last = Run(false);
  EXPECT_EQ(last.success, "1");
  EXPECT_EQ(Adds().size(), 2u);
  ASSERT_EQ(Reports().size(), 4u);
  // The report names the lines the service listed this time.
  EXPECT_EQ(Reports()[3].QueryValue("EEIIDs"), "10");
  EXPECT_NE(Reports()[3].body.find("<BillRet>"), std::string::npos) << Reports()[3].body;
  EXPECT_EQ(JournalEntries(), 0u);
}

}  // namespace
}  // namespace tessarine::test
