// The converters' support: qbXML date-time reading, the date-order probe and the per-list record sets.

#include <gtest/gtest.h>

#include <functional>
#include <map>
#include <string>
#include <thread>

#include "platform/base/date_time.h"
#include "platform/base/error.h"
#include "sync_control/converters/qb_date_time.h"
#include "sync_control/converters/record_sets.h"

namespace brintavel {
namespace {

using kv::DateTime;

TEST(ParseQBDateTimeTest, ReadsTheLocalClockTimeAndDropsTheOffset) {
  EXPECT_EQ(ParseQBDateTime("2005-03-15T14:22:33-08:00"), DateTime::FromParts(2005, 3, 15, 14, 22, 33));
  EXPECT_EQ(ParseQBDateTime("2005-03-15T00:05:09"), DateTime::FromParts(2005, 3, 15, 0, 5, 9));
  EXPECT_EQ(ParseQBDateTime("2005-03-15T12:00:00+01:00"), DateTime::FromParts(2005, 3, 15, 12, 0, 0));
  // Day and month never trade places, whatever the day is.
  EXPECT_EQ(ParseQBDateTime("2005-03-04T10:00:00"), DateTime::FromParts(2005, 3, 4, 10, 0, 0));
  EXPECT_EQ(ParseQBDateTime("2005-12-31T23:59:59Z"), DateTime::FromParts(2005, 12, 31, 23, 59, 59));
}

TEST(ParseQBDateTimeTest, FailsOnTextsThatAreNotOfTheForm) {
  for (const char* bad : {"", "2005-03-15", "2005-03-15T", "2005-13-15T10:00:00", "2005-02-30T10:00:00",
                          "2005-03-15T24:00:00", "2005-03-15T10:60:00", "2005-03-15T10:00:6x", "2005-03-15T1 :00:00",
                          "2005-03-15T10:00", "abcd-ef-ghTij:kl:mn", "2005-03-15T-1:00:00"}) {
    EXPECT_THROW(ParseQBDateTime(bad), kv::Error) << bad;
  }
}

TEST(ParseQBDateTimeTest, FailsOnCharactersNextToTheDigitsAndOnBytesAboveAscii) {
  // '/' and ':' stand right below and above the digits; a byte above 127 is no digit, whichever way it is signed.
  for (const char* bad : {"2005-03-15T10:00:0/", "2005-03-15T10:0::00", "/005-03-15T10:00:00", "2005-03-1:T10:00:00",
                          "2005-03-15T1\xb9:00:00", "2005-\xef\xbc-15T10:00:00",
                          "2005-03-15T10:00:\xff"
                          "9"}) {
    EXPECT_THROW(ParseQBDateTime(bad), kv::Error) << bad;
  }
  EXPECT_EQ(ParseQBDateTime("2009-09-09T09:09:09"), DateTime::FromParts(2009, 9, 9, 9, 9, 9));
  EXPECT_EQ(ParseQBDateTime("1999-10-30T19:59:50"), DateTime::FromParts(1999, 10, 30, 19, 59, 50));
}

TEST(ParseQBDateTimeTest, ReadsThePlacesOfTheFormNotItsSeparators) {
  // Only the digits and the two colons of the time are looked at.
  EXPECT_EQ(ParseQBDateTime("2005/03/15 14:22:33"), DateTime::FromParts(2005, 3, 15, 14, 22, 33));
  EXPECT_EQ(ParseQBDateTime("2005-03-15T14:22:33.250-08:00"), DateTime::FromParts(2005, 3, 15, 14, 22, 33));
  // Leap days by the Gregorian rules, and the years the system's dates span.
  EXPECT_EQ(ParseQBDateTime("2000-02-29T00:00:00"), DateTime::FromParts(2000, 2, 29));
  EXPECT_EQ(ParseQBDateTime("0100-01-01T00:00:00"), DateTime::FromParts(100, 1, 1));
  EXPECT_EQ(ParseQBDateTime("9999-12-31T23:59:59"), DateTime::FromParts(9999, 12, 31, 23, 59, 59));
  for (const char* bad : {"1900-02-29T00:00:00", "0099-12-31T23:59:59", "0000-01-01T00:00:00", "2005-00-15T10:00:00",
                          "2005-03-00T10:00:00", "2005-03-15T10-00-00", "+005-03-15T10:00:00", "2005-+3-15T10:00:00",
                          "2005-03-15T10:00:+5", "2005-03-15T 9:00:00", "2005-03-15T10:00:0"}) {
    EXPECT_THROW(ParseQBDateTime(bad), kv::Error) << bad;
  }
}

TEST(ParseQBDateTimeTest, AgreesWithTheGeneralDateReaderOnEveryPieceOfTheForm) {
  // Each piece swept over and past its range: the fixed-place reading must accept exactly what the general
  // reader accepts for the same date and time written month first.
  auto two = [](int v) { return std::string(1, static_cast<char>('0' + v / 10)) + static_cast<char>('0' + v % 10); };
  int compared = 0;
  for (int year : {100, 1899, 1900, 2000, 2004, 2100, 9999}) {
    for (int month = 0; month <= 13; ++month) {
      for (int day : {0, 1, 28, 29, 30, 31, 32}) {
        for (int hour : {0, 11, 12, 13, 23, 24}) {
          for (int minute_second : {0, 59, 60}) {
            const std::string y = std::to_string(year + 10000).substr(1);
            const std::string time = two(hour) + ":" + two(minute_second) + ":" + two(59 - minute_second % 60);
            const std::string stamp = y + "-" + two(month) + "-" + two(day) + "T" + time + "-05:00";
            DateTime expected;
            const bool valid = kv::TryParseDateTime(two(month) + "/" + two(day) + "/" + y + " " + time, expected);
            if (valid) {
              EXPECT_EQ(ParseQBDateTime(stamp), expected) << stamp;
            } else {
              EXPECT_THROW(ParseQBDateTime(stamp), kv::Error) << stamp;
            }
            ++compared;
          }
        }
      }
    }
  }
  EXPECT_EQ(compared, 7 * 14 * 7 * 6 * 3);
}

TEST(RecordSetTest, BlankModeMakesFreshRowsAtTheirDefaults) {
  RecordSets sets;
  RecordSet& classes = sets.ClassRecords;
  EXPECT_FALSE(classes.HasArrays());
  EXPECT_THROW(classes.UpperBound(), kv::Error);

  classes.Resize(5, "");
  ASSERT_EQ(classes.UpperBound(), 5);
  classes[5].SetText(1, "X");
  classes[5].Flag(7) = true;
  classes.Resize(5, "   ");  // blanks count as the blank mode
  EXPECT_EQ(classes[5].ListID(), "");
  EXPECT_FALSE(classes[5].Flag(7));
  EXPECT_TRUE(classes[1].TimeCreated().IsZero());
  EXPECT_EQ(classes[1].Int32(8), 0);
  EXPECT_THROW(classes[0], kv::Error);
  EXPECT_THROW(classes[6], kv::Error);
}

TEST(RecordSetTest, ListIDLookupFollowsWhatTheRowsHold) {
  RecordSets sets;
  RecordSet& jobs = sets.ProjectRecords;
  EXPECT_FALSE(jobs.HoldsListID("A"));  // no arrays
  jobs.Resize(4, "");
  EXPECT_FALSE(jobs.HoldsListID(""));  // every fresh row holds the empty text, which is never a match
  jobs[2].SetText(1, "A");
  jobs[4].SetText(1, "A");
  EXPECT_TRUE(jobs.HoldsListID("A"));
  EXPECT_FALSE(jobs.HoldsListID("a"));
  jobs[2].SetText(1, "B");  // overwritten in one row, still held by the other
  EXPECT_TRUE(jobs.HoldsListID("A"));
  EXPECT_TRUE(jobs.HoldsListID("B"));
  jobs.Resize(3, "Preserve");  // row 4 goes, with its A
  EXPECT_FALSE(jobs.HoldsListID("A"));
  EXPECT_TRUE(jobs.HoldsListID("B"));
  jobs.Resize(6, "Preserve");
  EXPECT_TRUE(jobs.HoldsListID("B"));
  jobs[1].SetText(4, "A");  // another member is no ListID
  EXPECT_FALSE(jobs.HoldsListID("A"));
  jobs.Resize(6, "");
  EXPECT_FALSE(jobs.HoldsListID("B"));
  jobs[1].SetText(1, "C");
  jobs.Resize(0, "Empty");
  EXPECT_FALSE(jobs.HoldsListID("C"));
  jobs.Resize(1, "Preserve");  // on no arrays: fresh rows
  EXPECT_FALSE(jobs.HoldsListID("C"));
}

TEST(RecordSetTest, AResetRowIsBlankAgainAndNoLongerHoldsItsListID) {
  RecordSets sets;
  RecordSet& jobs = sets.ProjectRecords;
  jobs.Resize(3, "");
  jobs[2].SetText(1, "A");
  jobs[3].SetText(1, "A");
  jobs[2].SetText(4, "Job A");
  jobs[2].Int32(8) = 2;
  jobs[2].Flag(jobs.active_member()) = true;
  EXPECT_TRUE(jobs.HoldsListID("A"));
  jobs.ResetRow(3);
  EXPECT_TRUE(jobs.HoldsListID("A"));  // row 2 still holds it
  jobs.ResetRow(2);
  EXPECT_FALSE(jobs.HoldsListID("A"));
  EXPECT_EQ(jobs[2].ListID(), "");
  EXPECT_EQ(jobs[2].Text(4), "");
  EXPECT_EQ(jobs[2].Int32(8), 0);
  EXPECT_FALSE(jobs[2].Flag(jobs.active_member()));
  jobs[2].SetText(1, "B");  // the row takes values again
  EXPECT_TRUE(jobs.HoldsListID("B"));
  EXPECT_THROW(jobs.ResetRow(4), kv::Error);
}

TEST(RecordSetTest, PreserveKeepsTheLowerRowsAndEmptyDropsEverything) {
  RecordSets sets;
  RecordSet& accounts = sets.GLAccountRecords;
  accounts.Resize(5, "");
  for (int i = 1; i <= 5; ++i) accounts[i].SetText(8, "type" + std::to_string(i));
  accounts[2].Double(11) = 12.5;

  accounts.Resize(3, "Preserve");
  ASSERT_EQ(accounts.UpperBound(), 3);
  EXPECT_EQ(accounts[3].Text(8), "type3");
  EXPECT_EQ(accounts[2].Double(11), 12.5);
  accounts.Resize(4, "Preserve");
  EXPECT_EQ(accounts[3].Text(8), "type3");
  EXPECT_EQ(accounts[4].Text(8), "");

  accounts.Resize(-7, "Empty");  // the count is not used
  EXPECT_FALSE(accounts.HasArrays());
  EXPECT_THROW(accounts[1], kv::Error);
}

int64_t ErrorNumber(const std::function<void()>& step) {
  try {
    step();
  } catch (const kv::Error& e) {
    return e.number();
  }
  return 0;
}

TEST(RecordSetTest, MembersKeepTheirTypeAndPlaceInEveryRow) {
  RecordSets sets;
  // Items: 1 text, 2-3 dates, 4-5 texts, 6 flag, 7 Int16, 8-9 texts, 10 double, 11 text, 12 Int16, 13 text.
  RecordSet& items = sets.ServiceItemRecords;
  items.Resize(2, "");
  RecordRow& row = items[1];
  row.SetText(13, "last");
  row.SetText(11, "eleven");
  row.Int16(12) = 7;
  row.Double(10) = 2.5;
  row.Flag(6) = true;
  row.Date(3) = kv::DateTime::FromSeconds(86400);
  EXPECT_EQ(row.Text(13), "last");
  EXPECT_EQ(row.Text(11), "eleven");
  EXPECT_EQ(row.Text(9), "");
  EXPECT_EQ(row.Int16(7), 0);
  EXPECT_EQ(row.Int16(12), 7);
  EXPECT_EQ(row.Double(10), 2.5);
  EXPECT_TRUE(row.Flag(6));
  EXPECT_TRUE(row.Date(2).IsZero());
  EXPECT_EQ(row.Date(3).seconds(), 86400);
  // The other row shares nothing with it.
  EXPECT_EQ(items[2].Text(13), "");
  EXPECT_EQ(items[2].Int16(12), 0);
  EXPECT_FALSE(items[2].Flag(6));

  EXPECT_EQ(ErrorNumber([&] { row.Text(2); }), kv::kErrTypeMismatch);
  EXPECT_EQ(ErrorNumber([&] { row.Int32(7); }), kv::kErrTypeMismatch);
  EXPECT_EQ(ErrorNumber([&] { row.Flag(13); }), kv::kErrTypeMismatch);
  EXPECT_EQ(ErrorNumber([&] { row.Double(12); }), kv::kErrTypeMismatch);
  EXPECT_EQ(ErrorNumber([&] { row.Text(0); }), 9);
  EXPECT_EQ(ErrorNumber([&] { row.Text(14); }), 9);
  EXPECT_EQ(ErrorNumber([&] { row.Int16(14); }), 9);
}

TEST(RecordSetTest, RewritingATextLeavesEveryOtherTextAsItWas) {
  RecordSets sets;
  // Customers: member 1 text, 4-6 texts, 9-47 texts, 51 text; the others are no texts.
  RecordSet& customers = sets.CustomerRecords;
  customers.Resize(1, "");
  RecordRow& row = customers[1];
  std::map<int, std::string> expected;
  auto set = [&](int member, const std::string& value) {
    row.SetText(member, value);
    expected[member] = value;
    for (const auto& [m, text] : expected) ASSERT_EQ(row.Text(m), text) << "member " << m << " after " << member;
  };
  set(51, "last");
  set(1, "ID-1");
  set(20, "a middle text");
  set(20, "short");                // shrinks
  set(4, std::string(5000, 'x'));  // grows far, in front of the others
  set(20, "");                     // empties one between others
  set(9, "ninth");
  set(4, "");
  set(47, "forty-seven");
  set(1, "");
  row.SetText(5, row.Text(9));  // from its own text
  EXPECT_EQ(row.Text(5), "ninth");
  EXPECT_EQ(row.Text(9), "ninth");
  EXPECT_EQ(row.Text(51), "last");
  EXPECT_EQ(ErrorNumber([&] { row.SetText(7, "x"); }), kv::kErrTypeMismatch);
  EXPECT_EQ(ErrorNumber([&] { row.SetText(52, "x"); }), 9);
}

TEST(RecordSetTest, RowsKeepTheirValuesWhateverOrderTheyAreWrittenIn) {
  RecordSets sets;
  // Employees: 1 text, 2-3 dates, 4-5 texts, 6 flag, 7-25 texts, 26-27 dates.
  RecordSet& employees = sets.EmployeeRecords;
  employees.Resize(300, "");
  auto name = [](int row, int round) { return "row " + std::to_string(row) + " round " + std::to_string(round); };
  // Rows written in turn, then each one again, so that a row's texts grow after others were written.
  for (int round = 0; round < 3; ++round) {
    for (int i = 1; i <= 300; ++i) {
      RecordRow& row = employees[i];
      row.Date(26) = DateTime::FromSeconds(i * 10 + round);
      row.SetText(8 + round, name(i, round));
      row.Flag(6) = (i + round) % 2 == 0;
    }
  }
  // Texts from one byte to one that needs three bytes of length, and one larger than the blocks rows share.
  const std::string long_text(70000, 'q');
  employees[7].SetText(25, std::string(200, 'p'));
  employees[8].SetText(25, std::string(20000, 'r'));
  employees[9].SetText(25, long_text);
  employees[9].SetText(7, "after the long one");
  employees.Resize(1000, "Preserve");  // the rows move to a larger array
  for (int i = 1; i <= 300; ++i) {
    const RecordRow& row = employees[i];
    for (int round = 0; round < 3; ++round) ASSERT_EQ(row.Text(8 + round), name(i, round)) << "row " << i;
    ASSERT_EQ(row.Date(26).seconds(), i * 10 + 2) << "row " << i;
    ASSERT_EQ(row.Flag(6), i % 2 == 0) << "row " << i;
    ASSERT_TRUE(row.Date(27).IsZero()) << "row " << i;
  }
  EXPECT_EQ(employees[7].Text(25), std::string(200, 'p'));
  EXPECT_EQ(employees[8].Text(25), std::string(20000, 'r'));
  EXPECT_EQ(employees[9].Text(25), long_text);
  EXPECT_EQ(employees[9].Text(7), "after the long one");
  EXPECT_EQ(employees[1000].Text(8), "");
  EXPECT_FALSE(employees[1000].Flag(6));
  employees[1000].SetText(8, "new");
  EXPECT_EQ(employees[300].Text(8), name(300, 0));

  // A copy is a row of its own.
  RecordRow copy = employees[5];
  copy.SetText(8, "changed");
  copy.Date(26) = DateTime::FromSeconds(1);
  EXPECT_EQ(employees[5].Text(8), name(5, 0));
  EXPECT_EQ(employees[5].Date(26).seconds(), 52);
  EXPECT_EQ(copy.Text(9), name(5, 1));
}

TEST(RecordSetTest, ListIDLookupFollowsRowsRewrittenOutOfTurn) {
  RecordSets sets;
  RecordSet& jobs = sets.ProjectRecords;
  jobs.Resize(50, "");
  for (int i = 1; i <= 50; ++i) jobs[i].SetText(1, "ID-" + std::to_string(i));
  ASSERT_TRUE(jobs.HoldsListID("ID-7"));  // counted from here on
  // Rewritten after later rows, to longer and shorter ids and through another member of the same row.
  jobs[7].SetText(1, "ID-7-with-a-much-longer-suffix");
  jobs[7].SetText(4, "a text beside it");
  jobs[12].SetText(1, "I");
  jobs[30].SetText(1, "");
  jobs[31].SetText(1, "ID-32");  // now held twice
  EXPECT_FALSE(jobs.HoldsListID("ID-7"));
  EXPECT_TRUE(jobs.HoldsListID("ID-7-with-a-much-longer-suffix"));
  EXPECT_FALSE(jobs.HoldsListID("ID-12"));
  EXPECT_TRUE(jobs.HoldsListID("I"));
  EXPECT_FALSE(jobs.HoldsListID("ID-30"));
  EXPECT_FALSE(jobs.HoldsListID("ID-31"));
  jobs[32].SetText(1, "other");
  EXPECT_TRUE(jobs.HoldsListID("ID-32"));  // row 31 still holds it
  jobs[31].SetText(1, "other");
  EXPECT_FALSE(jobs.HoldsListID("ID-32"));
  EXPECT_EQ(jobs[7].ListID(), "ID-7-with-a-much-longer-suffix");
  EXPECT_EQ(jobs[7].Text(4), "a text beside it");
  EXPECT_EQ(jobs[8].ListID(), "ID-8");
}

TEST(RecordSetTest, ModesCompareExactlyAndCountsMustBePositive) {
  RecordSets sets;
  RecordSet& employees = sets.EmployeeRecords;
  employees.Resize(2, "");
  EXPECT_THROW(employees.Resize(2, "preserve"), kv::Error);
  EXPECT_THROW(employees.Resize(2, "empty"), kv::Error);
  EXPECT_THROW(employees.Resize(0, ""), kv::Error);
  EXPECT_THROW(employees.Resize(0, "Preserve"), kv::Error);
  EXPECT_EQ(employees.UpperBound(), 2);  // a refused resize changes nothing
}

TEST(RecordSetTest, EachThreadHasItsOwnSets) {
  ResetRecordSets();
  ModuleRecordSets().ClassRecords.Resize(3, "");
  bool other_thread_empty = false;
  std::thread([&] { other_thread_empty = !ModuleRecordSets().ClassRecords.HasArrays(); }).join();
  EXPECT_TRUE(other_thread_empty);
  EXPECT_EQ(ModuleRecordSets().ClassRecords.UpperBound(), 3);
  ModuleRecordSets().ClassRecords.Resize(0, "Empty");
  EXPECT_FALSE(ModuleRecordSets().ClassRecords.HasArrays());
}

}  // namespace
}  // namespace brintavel
