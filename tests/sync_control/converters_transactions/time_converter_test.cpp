// Time-tracking entries as "|" lines: the duration forms, the line's fields, the filter, batching, the service's
// answer check and debug mode, against the service stand-in.

#include <gtest/gtest.h>

#include "sync_control/converters/qb_date_time.h"
#include "sync_control/converters/record_sets.h"
#include "sync_control/converters/transaction_converters.h"
#include "sync_control/module_state.h"
#include "tests/sync_control/converters_transactions/transaction_fixture.h"

namespace brintavel::testing {
namespace {

using kv::DateTime;

// A time entry with every child the converter reads, or fewer.
struct Entry {
  std::string txn_id = "T-1";
  std::string created = "2005-03-15T14:22:33-08:00";
  std::string modified = "2005-03-16T09:00:00";
  std::string edit_sequence = "17";
  std::string txn_date = "2005-03-04";
  std::string entity = Ref("EntityRef", "E-1", "Pat Smith");
  std::string rest = Ref("CustomerRef", "C-1", "Acme") + Ref("ItemServiceRef", "I-1") + Leaf("Duration", "PT8H30M") +
                     Ref("ClassRef", "CL-1") + Ref("PayrollItemWageRef", "PW-1") + Leaf("Notes", "Worked on site") +
                     Leaf("IsBillable", "true") + Leaf("IsBilled", "false");

  std::string Xml() const {
    std::string inner = Leaf("TxnID", txn_id);
    if (!created.empty()) inner += Leaf("TimeCreated", created);
    if (!modified.empty()) inner += Leaf("TimeModified", modified);
    inner += Leaf("EditSequence", edit_sequence);
    if (!txn_date.empty()) inner += Leaf("TxnDate", txn_date);
    return Node("TimeTrackingRet", inner + entity + rest);
  }
};

std::string Entries(const std::vector<Entry>& entries) {
  std::string out;
  for (const Entry& e : entries) out += e.Xml();
  return out;
}

using TimeConverterTest = TransactionTest;

TEST(DurationToHoursTest, EveryDurationForm) {
  EXPECT_EQ(DurationToHours("PT8H30M"), 8.5);
  EXPECT_EQ(DurationToHours("PT1H20M"), 1.333);
  EXPECT_EQ(DurationToHours("PT7H0M"), 7);
  EXPECT_EQ(DurationToHours("PT0H45M"), 0.75);
  EXPECT_EQ(DurationToHours("PT2H0M"), 2);
  // The forms the original read as 0 hours.
  EXPECT_EQ(DurationToHours("PT8H"), 8);
  EXPECT_EQ(DurationToHours("PT8H30M0S"), 8.5);
  EXPECT_EQ(DurationToHours("PT45M"), 0.75);
  EXPECT_EQ(DurationToHours("PT90M"), 1.5);
  EXPECT_EQ(DurationToHours("PT1H0M30S"), 1.008);
  EXPECT_EQ(DurationToHours("PT1.5H"), 1.5);
  EXPECT_EQ(DurationToHours("PT0.25H15.5M"), 0.508);
}

TEST(DurationToHoursTest, TiesGoToTheEvenThousandth) {
  EXPECT_EQ(DurationToHours("PT1.8S"), 0);         // 0.0005 h
  EXPECT_EQ(DurationToHours("PT5.4S"), 0.002);     // 0.0015 h
  EXPECT_EQ(DurationToHours("PT1H9S"), 1.002);     // 1.0025 h
  EXPECT_EQ(DurationToHours("PT1H12.6S"), 1.004);  // 1.0035 h
  EXPECT_EQ(DurationToHours("PT1.9S"), 0.001);     // just above the tie
}

TEST(DurationToHoursTest, AnythingElseIsZeroHours) {
  for (const char* text : {"", "PT", "8:30", "P1D", "PTH", "PT8M30H", "PT8H8H", "PT8H30", "pt8h", "PT-1H", "PT8H 30M",
                           "PT1234567890123456789H", "PT.H"}) {
    EXPECT_EQ(DurationToHours(text), 0) << text;
  }
}

TEST(QBDateTest, FixedPositionsNeverTheDayFirst) {
  EXPECT_EQ(ParseQBDate("2005-03-04"), DateTime::FromParts(2005, 3, 4));
  EXPECT_EQ(ParseQBDate("2005-12-01"), DateTime::FromParts(2005, 12, 1));
  EXPECT_EQ(ParseQBDate("2000-02-29"), DateTime::FromParts(2000, 2, 29));
  for (const char* bad : {"2005-13-01", "2005-02-30", "03/04/2005", "2005-3-4", "2005-03-04T00:00:00", "", "1900-02-29",
                          "+005-03-04", "2005--3-04", "2005-03-+4", "2005-03- 4", "0099-01-01"}) {
    EXPECT_THROW(ParseQBDate(bad), kv::Error) << bad;
  }
}

TEST_F(TimeConverterTest, OneEntryByteForByteAndTheReport) {
  Module().sQBXMLResponse = QueryResponse(Entries({Entry{}}));
  GetTimeFromQB(*ctl);

  const auto uploads = Uploads();
  ASSERT_EQ(uploads.size(), 1u);
  EXPECT_EQ(uploads[0].body,
            "T-1|3/15/2005 2:22:33 PM|3/16/2005 9:00:00 AM|17|3/4/2005|E-1|C-1|I-1|8.5|CL-1|PW-1|Worked on site|True|"
            "False|Pat Smith\r\n");
  EXPECT_EQ(uploads[0].QueryValue("options"), "H");
  const auto reports = StatusReports();
  ASSERT_EQ(reports.size(), 1u);
  EXPECT_EQ(reports[0].QueryValue("options"), "H");
  EXPECT_EQ(Module().varTimeCount, 1);
  EXPECT_EQ(ctl->lblProcess.Caption(), "Getting Time Info from QB (1)");
  EXPECT_FALSE(ctl->fraProgress.Visible());
  EXPECT_FALSE(ctl->mDisplayTSError);
  // The record keeps what the line was made of.
  RecordRow& record = ModuleRecordSets().TimeRecords[1];
  EXPECT_EQ(record.Double(kTimeHours), 8.5);
  EXPECT_EQ(record.Date(kTimeTxnDate), DateTime::FromParts(2005, 3, 4));
}

TEST_F(TimeConverterTest, MissingChildrenKeepTheirPlaces) {
  Entry no_class_notes;
  no_class_notes.rest = Ref("CustomerRef", "C-1") + Leaf("Duration", "PT2H0M") + Leaf("IsBillable", "true");
  Entry entity_without_id;
  entity_without_id.txn_id = "T-2";
  entity_without_id.entity = Ref("EntityRef", "", "Only A Name");
  entity_without_id.txn_date = "2005-13-45";
  entity_without_id.rest = Leaf("IsBillable", "maybe") + Leaf("IsBilled", "1");
  Module().sQBXMLResponse = QueryResponse(Entries({no_class_notes, entity_without_id}));
  GetTimeFromQB(*ctl);

  const auto lines = AllLines();
  ASSERT_EQ(lines.size(), 2u);
  EXPECT_EQ(lines[0], "T-1|3/15/2005 2:22:33 PM|3/16/2005 9:00:00 AM|17|3/4/2005|E-1|C-1||2||||True|False|Pat Smith");
  // No entity id, so no name; an impossible date and an unreadable flag stay at their fresh values.
  EXPECT_EQ(lines[1], "T-2|3/15/2005 2:22:33 PM|3/16/2005 9:00:00 AM|17|12:00:00 AM||||0||||False|True|");
  for (const auto& line : lines) EXPECT_EQ(Fields(line).size(), 15u);
}

TEST_F(TimeConverterTest, LastSyncFilterToTheSecond) {
  Module().TimeLastSyncDate = DateTime::FromParts(2010, 6, 1, 12, 0, 0);
  Entry modified_after{.txn_id = "A", .created = "2009-01-01T00:00:00", .modified = "2010-06-02T00:00:00"};
  Entry both_before{.txn_id = "B", .created = "2009-01-01T00:00:00", .modified = "2010-06-01T11:59:59"};
  Entry created_at{.txn_id = "C", .created = "2010-06-01T12:00:00", .modified = ""};
  Entry no_times{.txn_id = "D", .created = "", .modified = ""};
  Module().sQBXMLResponse = QueryResponse(Entries({modified_after, both_before, created_at, no_times}));
  GetTimeFromQB(*ctl);

  const auto lines = AllLines();
  ASSERT_EQ(lines.size(), 2u);
  EXPECT_EQ(Fields(lines[0])[0], "A");
  EXPECT_EQ(Fields(lines[1])[0], "C");
  EXPECT_EQ(Fields(lines[1])[2], "12:00:00 AM");
  EXPECT_EQ(Module().varTimeCount, 2);
}

TEST_F(TimeConverterTest, HostileNotesNeverChangeTheLineStructure) {
  Entry hostile;
  hostile.txn_id = "T|1";
  hostile.entity = Ref("EntityRef", "E-1", "O'Brien | Sons\r\nLtd");
  hostile.rest = Leaf("Notes", "a|b\r\nc\rd\ne 'quoted' caf\xC3\xA9 " + std::string(40000, 'n'));
  Module().sQBXMLResponse = QueryResponse(Entries({hostile}));
  GetTimeFromQB(*ctl);

  const auto uploads = Uploads();
  ASSERT_EQ(uploads.size(), 1u);
  for (char c : uploads[0].body) ASSERT_LT(static_cast<unsigned char>(c), 0x80);
  const auto lines = AllLines();
  ASSERT_EQ(lines.size(), 1u);
  const auto fields = Fields(lines[0]);
  ASSERT_EQ(fields.size(), 15u);
  EXPECT_EQ(fields[0], "T/1");
  EXPECT_EQ(fields[11], "a/b  c d e 'quoted' caf? " + std::string(40000, 'n'));
  EXPECT_EQ(fields[14], "O'Brien / Sons  Ltd");
}

TEST_F(TimeConverterTest, NoEntriesSendNothingAndKeepTheCount) {
  Module().varTimeCount = 7;
  ctl->mDisplayTSError = true;
  ctl->lngFailedTimeCnt = 3;
  Module().sQBXMLResponse = QueryResponse(Leaf("Other", "x"));
  GetTimeFromQB(*ctl);
  EXPECT_EQ(service->ReceivedCount(), 0u);
  EXPECT_EQ(Module().varTimeCount, 7);
  EXPECT_FALSE(ctl->mDisplayTSError);
  EXPECT_EQ(ctl->lngFailedTimeCnt, 0);
  EXPECT_FALSE(ModuleRecordSets().TimeRecords.HasArrays());
  EXPECT_FALSE(ctl->fraProgress.Visible());
}

TEST_F(TimeConverterTest, UnreadableResponseGivesTheParsersReason) {
  Module().sQBXMLResponse = "<QBXML><TimeTrackingRet></QBXML>";
  GetTimeFromQB(*ctl);
  EXPECT_TRUE(Module().bSyncError);
  EXPECT_GT(Module().sSyncErrorText.size(), std::string("qbXML response could not be read: ").size());
  EXPECT_EQ(service->ReceivedCount(), 0u);
}

TEST_F(TimeConverterTest, TwoHundredFiftyGoInBatchesThenOneReport) {
  std::vector<Entry> entries(250);
  for (size_t i = 0; i < entries.size(); ++i) entries[i].txn_id = "T-" + std::to_string(i);
  Module().sQBXMLResponse = QueryResponse(Entries(entries));
  GetTimeFromQB(*ctl);

  EXPECT_EQ(UploadShape(), (std::vector<std::string>{"H 100", "H 100", "H 50"}));
  const auto all = service->Received();
  ASSERT_EQ(all.size(), 4u);
  EXPECT_EQ(all.back().Page(), "brintavelupdatestatus.asp");
  EXPECT_EQ(Module().varTimeCount, 250);
  EXPECT_EQ(ctl->lngBatchCount, 0);
  EXPECT_EQ(Fields(AllLines()[249])[0], "T-249");
}

TEST_F(TimeConverterTest, AnAnswerOfEightCharactersEndingInADigitSetsTheWarning) {
  const struct {
    std::string answer;
    bool warns;
  } cases[] = {
      {"SUCCESS1", true}, {"  SUCCESS5  ", true}, {"SUCCESS", false}, {"SUCCESST", false}, {"SUCCESS12", false}};
  for (const auto& c : cases) {
    service->SetAnswer("brintavel.asp", c.answer);
    Module().sQBXMLResponse = QueryResponse(Entries({Entry{}}));
    GetTimeFromQB(*ctl);
    EXPECT_EQ(ctl->mDisplayTSError, c.warns) << c.answer;
    EXPECT_FALSE(ctl->bAbortSync) << c.answer;
  }
}

TEST_F(TimeConverterTest, TheWarningOnceSetStaysForTheRun) {
  service->QueueAnswers("brintavel.asp", {"SUCCESS3", "SUCCESS"});
  std::vector<Entry> entries(150);
  Module().sQBXMLResponse = QueryResponse(Entries(entries));
  GetTimeFromQB(*ctl);
  EXPECT_EQ(Uploads().size(), 2u);
  EXPECT_TRUE(ctl->mDisplayTSError);
}

TEST_F(TimeConverterTest, DebugModeContinueCountsFailuresAndWithholdsTheReport) {
  ctl->DebugMode = true;
  ctl->optContinue.SetValue(true);
  service->QueueAnswers("brintavel.asp", {"SUCCESS", "Bad line", "SUCCESS", "No data to upload. ", "SUCCESS"});
  Module().sQBXMLResponse = QueryResponse(Entries(std::vector<Entry>(5)));
  GetTimeFromQB(*ctl);
  EXPECT_EQ(UploadShape(), (std::vector<std::string>(5, "H 1")));
  EXPECT_EQ(ctl->lngFailedTimeCnt, 2);
  EXPECT_TRUE(StatusReports().empty());
  EXPECT_FALSE(ctl->bAbortSync);
}

TEST_F(TimeConverterTest, DebugModeStopEndsAtTheFirstFailure) {
  ctl->DebugMode = true;
  ctl->optStop.SetValue(true);
  service->QueueAnswers("brintavel.asp", {"SUCCESS", "Bad line", "SUCCESS"});
  Module().sQBXMLResponse = QueryResponse(Entries(std::vector<Entry>(5)));
  GetTimeFromQB(*ctl);
  EXPECT_EQ(Uploads().size(), 2u);
  EXPECT_TRUE(ctl->bAbortSync);
  EXPECT_TRUE(StatusReports().empty());
  EXPECT_TRUE(ctl->fraProgress.Visible());
}

}  // namespace
}  // namespace brintavel::testing
