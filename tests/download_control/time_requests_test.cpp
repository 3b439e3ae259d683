// Time and leave add requests: the document header by version code, the TimeTrackingAddRq text, escaping,
// durations and the date rule.

#include "download_control/time_requests.h"
#include "common/qbxml_version.h"

#include <gtest/gtest.h>

#include "download_control/qbxml_text.h"
#include "platform/base/error.h"

namespace tessarine {
namespace {

constexpr char kData[] = "4/3/2006|Ann Lee|Acme:Roof|Consulting|7.5|Admin|Hourly|Fixed the roof|True|";

TEST(TimeRequestsTest, TimeRecordWritesEveryElementInOrder) {
  CurrentTimeRecord r;
  const std::string rq = BuildTimeTrackingAddRq(kData, 1, r);
  EXPECT_EQ(rq,
            "<TimeTrackingAddRq requestID = \"1\">\r\n"
            "<TimeTrackingAdd>\r\n"
            "<TxnDate>2006-04-03</TxnDate>\r\n"
            "<EntityRef>\r\n<FullName>Ann Lee</FullName>\r\n</EntityRef>\r\n"
            "<CustomerRef>\r\n<FullName>Acme:Roof</FullName>\r\n</CustomerRef>\r\n"
            "<ItemServiceRef>\r\n<FullName>Consulting</FullName>\r\n</ItemServiceRef>\r\n"
            "<Duration>PT7H30M</Duration>"
            "<ClassRef>\r\n<FullName>Admin</FullName>\r\n</ClassRef>\r\n"
            "<PayrollItemWageRef>\r\n<FullName>Hourly</FullName>\r\n</PayrollItemWageRef>\r\n"
            "<Notes>Fixed the roof</Notes>\r\n"
            "<IsBillable>1</IsBillable>\r\n"
            "</TimeTrackingAdd>\r\n"
            "</TimeTrackingAddRq>\r\n");
  EXPECT_EQ(r.sEmployeeName, "Ann Lee");
  EXPECT_EQ(r.dtActivityDate, kv::DateTime::FromParts(2006, 4, 3));
  EXPECT_DOUBLE_EQ(r.dblHours, 7.5);
  EXPECT_EQ(r.lngWholeHours, 7);
  EXPECT_EQ(r.lngMinutes, 30);
}

TEST(TimeRequestsTest, TimeWithoutCustomerIsNeverBillableAndWithoutServiceItemNamesNone) {
  CurrentTimeRecord r;
  const std::string rq = BuildTimeTrackingAddRq("2006-04-13||||8| | |n|True", 1, r);
  EXPECT_EQ(rq.find("<CustomerRef>"), std::string::npos);
  EXPECT_EQ(rq.find("<ItemServiceRef>"), std::string::npos);
  EXPECT_EQ(BuildTimeTrackingAddRq("2006-04-13|Ann|| |8| | |n|True", 1, r).find("<ItemServiceRef>"), std::string::npos);
  EXPECT_NE(rq.find("<IsBillable>0</IsBillable>"), std::string::npos);
  EXPECT_NE(rq.find("<TxnDate>2006-04-13</TxnDate>"), std::string::npos);
  EXPECT_NE(rq.find("<Duration>PT8H0M</Duration><Notes>"), std::string::npos);  // blank class and payroll item
}

TEST(TimeRequestsTest, LeaveRecordCarriesNoCustomerItemOrNotesAndBillsByItsFlag) {
  CurrentTimeRecord r;
  const std::string rq = BuildLeaveTrackingAddRq("04/13/2006|O'Hara & Sons|Ignored|Ignored|4||Vacation|x|True", 1, r);
  EXPECT_EQ(rq,
            "<TimeTrackingAddRq requestID = \"1\">\r\n"
            "<TimeTrackingAdd>\r\n"
            "<TxnDate>2006-04-13</TxnDate>\r\n"
            "<EntityRef>\r\n<FullName>O&apos;Hara &amp; Sons</FullName>\r\n</EntityRef>\r\n"
            "<Duration>PT4H0M</Duration>"
            "<PayrollItemWageRef>\r\n<FullName>Vacation</FullName>\r\n</PayrollItemWageRef>\r\n"
            "<IsBillable>1</IsBillable>\r\n"
            "</TimeTrackingAdd>\r\n"
            "</TimeTrackingAddRq>\r\n");
  // The grid shows what the service sent, not the escaped text.
  EXPECT_EQ(r.sEmployeeName, "O'Hara & Sons");
  EXPECT_TRUE(r.sCustomerJob.empty());
  EXPECT_TRUE(r.sServiceItem.empty());
}

TEST(TimeRequestsTest, FailuresNameTheirCauseAndKeepTheTextsAlreadyRead) {
  CurrentTimeRecord r;
  r.sEmployeeName = "stale";
  EXPECT_THROW(BuildTimeTrackingAddRq("4/3/2006|Ann|C|S|7.5", 1, r), kv::Error);
  EXPECT_TRUE(r.sEmployeeName.empty());  // cleared before anything is read
  try {
    BuildTimeTrackingAddRq("13/45/2006|Ann|C|S|7.5|||n|True", 1, r);
    FAIL();
  } catch (const kv::Error& e) {
    EXPECT_NE(e.description().find("13/45/2006"), std::string::npos);
  }
  EXPECT_EQ(r.sEmployeeName, "Ann");
  EXPECT_THROW(BuildTimeTrackingAddRq("4/3/2006|Ann|C|S|7,5|||n|True", 1, r), kv::Error);
  EXPECT_THROW(BuildTimeTrackingAddRq("4/3/2006|Ann|C|S|7.5|||n|maybe", 1, r), kv::Error);
  EXPECT_THROW(BuildLeaveTrackingAddRq("4/3/2006|Ann|||7.5||||", 1, r), kv::Error);  // empty flag
}

TEST(TimeRequestsTest, DurationsRoundTheMinutes) {
  EXPECT_EQ(DurationText(DurationOf(7.5)), "PT7H30M");
  EXPECT_EQ(DurationText(DurationOf(8)), "PT8H0M");
  EXPECT_EQ(DurationText(DurationOf(7.999)), "PT7H60M");
  EXPECT_EQ(DurationText(DurationOf(0.25)), "PT0H15M");
  EXPECT_EQ(DurationText(DurationOf(0.1)), "PT0H6M");
  EXPECT_EQ(DurationText(DurationOf(2.33)), "PT2H20M");  // 19.8 minutes
  EXPECT_THROW(DurationOf(3e9), kv::Error);
}

TEST(QBXMLTextTest, DocumentHeaderFollowsTheVersionCode) {
  const std::string us1 = "<?xml version = \"1.0\"?>\r\n<!DOCTYPE QBXML PUBLIC '-//INTUIT//DTD QBXML QBD 1.0//EN'>\r\n";
  const std::string us2 = "<?xml version = \"1.0\"?>\r\n<!DOCTYPE QBXML PUBLIC '-//INTUIT//DTD QBXML QBD 2.0//EN'>\r\n";
  EXPECT_EQ(kv::qb::QBXMLDocumentHeader(kv::qb::QBXMLVersion::kUS1_0), us1);
  EXPECT_EQ(kv::qb::QBXMLDocumentHeader(kv::qb::QBXMLVersion::kUS1_1), us1);
  EXPECT_EQ(kv::qb::QBXMLDocumentHeader(kv::qb::QBXMLVersion::kUS2_0), us2);
  EXPECT_EQ(kv::qb::QBXMLDocumentHeader(kv::qb::QBXMLVersion{5}), us2);
  EXPECT_EQ(kv::qb::QBXMLDocumentHeader(kv::qb::QBXMLVersion{12}), us1);
  EXPECT_EQ(kv::qb::QBXMLDocumentHeader(kv::qb::QBXMLVersion::kCA1_0),
            "<?xml version=\"1.0\" ?><?qbxml version=\"CA1.0\"?>");
  EXPECT_EQ(kv::qb::QBXMLDocumentHeader(kv::qb::QBXMLVersion::kCA2_0),
            "<?xml version=\"1.0\" ?><?qbxml version=\"CA2.0\"?>");
  EXPECT_EQ(kv::qb::QBXMLDocumentHeader(kv::qb::QBXMLVersion::kUK1_1),
            "<?xml version=\"1.0\" ?><?qbxml version=\"UK1.1\"?>");
  EXPECT_EQ(kv::qb::QBXMLBody("X\r\n"),
            "<QBXML>\r\n<QBXMLMsgsRq onError = \"continueOnError\">\r\nX\r\n</QBXMLMsgsRq>\r\n</QBXML>");
}

TEST(QBXMLTextTest, EscapingKeepsTheServiceLineBreakMarkerWellFormed) {
  EXPECT_EQ(EscapeXMLText("plain text"), "plain text");
  EXPECT_EQ(EscapeXMLText("a<b>&'\""), "a&lt;b&gt;&amp;&apos;&quot;");
  EXPECT_EQ(EscapeXMLText("line1&#10line2"), "line1&#10;line2");
  EXPECT_EQ(EscapeXMLText("line1&#10;line2"), "line1&#10;line2");
  EXPECT_EQ(EscapeXMLText("end&#10"), "end&#10;");
  // Characters XML cannot carry would make QuickBooks refuse the request: each becomes a blank, line ends stay.
  EXPECT_EQ(EscapeXMLText(std::string("a\bb\x01"
                                      "c\0d",
                                      7)),
            "a b c d");
  // A bare CR would reach QuickBooks as LF; its reference keeps it.
  EXPECT_EQ(EscapeXMLText("tab\tcr\rlf\n"), "tab\tcr&#13;lf\n");
  EXPECT_EQ(EscapeXMLText("a\r\nb"), "a&#13;\nb");
  EXPECT_EQ(EscapeXMLText("x\xEF\xBF\xBEy\xEF\xBF\xBFz & \xEF\xBF\xBD"), "x y z &amp; \xEF\xBF\xBD");
  EXPECT_EQ(EscapeXMLText("&#1 & &#10&#10"), "&amp;#1 &amp; &#10;&#10;");
  EXPECT_TRUE(HasXMLSpecialChars("'"));
  EXPECT_FALSE(HasXMLSpecialChars("a|b"));
}

TEST(QBXMLTextTest, DatesAreReadMonthFirstOrIsoAndWrittenIso) {
  EXPECT_EQ(QBDateText(ReadServiceDate("04/03/2006")), "2006-04-03");
  EXPECT_EQ(QBDateText(ReadServiceDate("4/3/2006 10:15:00 AM")), "2006-04-03");
  EXPECT_EQ(QBDateText(ReadServiceDate("2006-04-13")), "2006-04-13");
  EXPECT_EQ(QBDateText(ReadServiceDate(" 12/31/1999 ")), "1999-12-31");
  EXPECT_THROW(ReadServiceDate("13/04/2006"), kv::Error);
  EXPECT_THROW(ReadServiceDate("10:00"), kv::Error);
  EXPECT_THROW(ReadServiceDate(""), kv::Error);
  EXPECT_THROW(ReadServiceDate("April 3"), kv::Error);
}

TEST(QBXMLTextTest, AmountsUseTwoDecimalsAndRoundHalvesAwayFromZero) {
  EXPECT_EQ(AmountText(1234.5), "1234.50");
  EXPECT_EQ(AmountText(0.5), "0.50");
  EXPECT_EQ(AmountText(0), "0.00");
  EXPECT_EQ(AmountText(30.5), "30.50");
  EXPECT_EQ(AmountText(2.675), "2.68");
  EXPECT_EQ(AmountText(-2.675), "-2.68");
  EXPECT_EQ(AmountText(0.125), "0.13");
  EXPECT_EQ(AmountText(9.995), "10.00");
  EXPECT_EQ(AmountText(999999.999), "1000000.00");
  EXPECT_EQ(AmountText(-0.001), "0.00");
  EXPECT_EQ(AmountText(0.1 + 0.2), "0.30");
  EXPECT_EQ(AmountText(1234567.891), "1234567.89");
}

TEST(QBXMLTextTest, FlagsAndLongs) {
  EXPECT_TRUE(ReadFlagText("true", "x"));
  EXPECT_TRUE(ReadFlagText(" TRUE ", "x"));
  EXPECT_FALSE(ReadFlagText("False", "x"));
  EXPECT_TRUE(ReadFlagText("-1", "x"));
  EXPECT_FALSE(ReadFlagText("0", "x"));
  EXPECT_THROW(ReadFlagText("yes", "x"), kv::Error);
  EXPECT_EQ(ReadLongText("123"), 123);
  EXPECT_EQ(ReadLongText(" 40000 "), 40000);
  EXPECT_EQ(ReadLongText("2.5"), 2);
  EXPECT_THROW(ReadLongText("12a"), kv::Error);
  EXPECT_THROW(ReadLongText("99999999999"), kv::Error);
}

}  // namespace
}  // namespace tessarine
