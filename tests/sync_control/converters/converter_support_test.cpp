#include <gtest/gtest.h>

#include <thread>

#include "common/error.h"
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

TEST(RecordSetTest, BlankModeMakesFreshRowsAtTheirDefaults) {
  RecordSets sets;
  RecordSet& classes = sets.ClassRecords;
  EXPECT_FALSE(classes.HasArrays());
  EXPECT_THROW(classes.UpperBound(), kv::Error);

  classes.Resize(5, "");
  ASSERT_EQ(classes.UpperBound(), 5);
  classes[5].ListID() = "X";
  classes[5].Flag(7) = true;
  classes.Resize(5, "   ");  // blanks count as the blank mode
  EXPECT_EQ(classes[5].ListID(), "");
  EXPECT_FALSE(classes[5].Flag(7));
  EXPECT_TRUE(classes[1].TimeCreated().IsZero());
  EXPECT_EQ(classes[1].Int32(8), 0);
  EXPECT_THROW(classes[0], kv::Error);
  EXPECT_THROW(classes[6], kv::Error);
}

TEST(RecordSetTest, PreserveKeepsTheLowerRowsAndEmptyDropsEverything) {
  RecordSets sets;
  RecordSet& accounts = sets.GLAccountRecords;
  accounts.Resize(5, "");
  for (int i = 1; i <= 5; ++i) accounts[i].Text(8) = "type" + std::to_string(i);
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
  ResizeClassRecords(3, "");
  bool other_thread_empty = false;
  std::thread([&] { other_thread_empty = !ModuleRecordSets().ClassRecords.HasArrays(); }).join();
  EXPECT_TRUE(other_thread_empty);
  EXPECT_EQ(ModuleRecordSets().ClassRecords.UpperBound(), 3);
  ResizeClassRecords(0, "Empty");
  EXPECT_FALSE(ModuleRecordSets().ClassRecords.HasArrays());
}

}  // namespace
}  // namespace brintavel
