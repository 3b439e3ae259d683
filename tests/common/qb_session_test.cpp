// The session core's two readings of a version list and the messages both controls show.

#include "common/qb_session.h"

#include <gtest/gtest.h>

#include <string>

namespace kv::qb {
namespace {

TEST(QBSessionCoreTest, TheDownloadControlKnowsEveryVersionAndReadsLaterOnesAs2) {
  const auto code = [](const char* version) {
    return static_cast<int32_t>(ReadQBXMLVersion(version, VersionReading::kDownloadControl));
  };
  EXPECT_EQ(code("1.0"), 0);
  EXPECT_EQ(code("1.1"), 1);
  EXPECT_EQ(code("2.0"), 2);
  EXPECT_EQ(code("CA1.0"), 6);
  EXPECT_EQ(code("CA1.1"), 7);
  EXPECT_EQ(code("CA2.0"), 8);
  EXPECT_EQ(code("UK1.0"), 9);
  EXPECT_EQ(code("UK1.1"), 10);
  EXPECT_EQ(code("UK2.0"), 11);
  EXPECT_EQ(code("3.0"), 2);
  EXPECT_EQ(code("13.0"), 2);
  EXPECT_EQ(code("CA3.0"), 0);
  EXPECT_EQ(code("2"), 0);
  EXPECT_EQ(code("ca2.0"), 0);
  EXPECT_EQ(code(std::string(400, '9').c_str()), 2);
}

TEST(QBSessionCoreTest, TheSyncControlReadsUK1AndEveryUnlistedVersionAs1) {
  const auto code = [](const char* version) {
    return static_cast<int32_t>(ReadQBXMLVersion(version, VersionReading::kSyncControl));
  };
  EXPECT_EQ(code("1.0"), 0);
  EXPECT_EQ(code("1.1"), 1);
  EXPECT_EQ(code("2.0"), 2);
  EXPECT_EQ(code("CA1.0"), 6);
  EXPECT_EQ(code("CA1.1"), 7);
  EXPECT_EQ(code("CA2.0"), 8);
  EXPECT_EQ(code("UK1.0"), 0);
  EXPECT_EQ(code("UK1.1"), 0);
  EXPECT_EQ(code("UK2.0"), 11);
  EXPECT_EQ(code("3.0"), 0);
  EXPECT_EQ(code("13.0"), 0);
}

TEST(QBSessionCoreTest, MessagesOfBothControls) {
  EXPECT_EQ(WrongCompanyFileMessage("C:\\a.QBW", "/b.QBW"),
            "Your Current Quickbooks file 'C:\\a.QBW' does not match with the QB file you are using with Kalvor "
            "'/b.QBW'. \r\nPlease open the correct Quickbooks file and try again.");
  EXPECT_EQ(ContactFailureText("If QuickBooks is not running, start it."),
            "Your Quickbooks file is not open, please open your Quickbooks file and try again.");
  EXPECT_EQ(ContactFailureText("If QuickBooks is not"), "If QuickBooks is not");
  EXPECT_EQ(ContactFailureText("Could not start QuickBooks."), "Could not start QuickBooks.");
}

}  // namespace
}  // namespace kv::qb
