// The result message of each transfer result code.

#include "sync_control/result_messages.h"

#include <gtest/gtest.h>

#include "sync_control/module_state.h"

namespace brintavel {
namespace {

class ResultMessages : public ::testing::Test {
 protected:
  void SetUp() override { ResetModule(); }
  void TearDown() override { ResetModule(); }
};

TEST_F(ResultMessages, SuccessNamesTheSyncMode) {
  Module().lngSyncMode = 1;
  EXPECT_EQ(GetResultMessage(0), "Upload Completed.");
  Module().lngSyncMode = 2;
  EXPECT_EQ(GetResultMessage(0), "Download Completed.");
  Module().lngSyncMode = 7;
  EXPECT_EQ(GetResultMessage(0), " Completed.");
  EXPECT_EQ(GetSyncModeName(0), "None");
}

TEST_F(ResultMessages, AspFailureGivesAdviceForKnownAnswersAndTheRawTextOtherwise) {
  Module().sServerMessage = "Invalid site code or site key. Kindly try again.";
  EXPECT_EQ(GetResultMessage(1),
            "Could not connect to the Staffmere. Your account has not been setup or has expired. Go to Maintain | "
            "Staffmere | Setup; to setup or renew your account.");
  Module().sServerMessage = "Action cancelled";
  EXPECT_EQ(GetResultMessage(1),
            "Could not connect to the Staffmere. Please check if you have an internet connection and it is properly "
            "setup.");
  Module().sServerMessage = "action cancelled";
  EXPECT_EQ(GetResultMessage(1), "The following error occured while executing ASP.\r\n\r\naction cancelled");
}

TEST_F(ResultMessages, FixedTextsPerCode) {
  EXPECT_EQ(GetResultMessage(2), "There are no employees in this database with web access.");
  EXPECT_EQ(GetResultMessage(3), "Sync process cancelled on user request.");
  EXPECT_EQ(GetResultMessage(5), "An unknown error has occured. Kindly contact the system administrator.");
  EXPECT_EQ(GetResultMessage(6), "");
  EXPECT_EQ(GetResultMessage(-1), "");
}

TEST_F(ResultMessages, SystemErrorNumberZeroMeansNoConnection) {
  Module().sServerMessage = "Number : 0\r\nDescription : x";
  EXPECT_EQ(GetResultMessage(4), "Could not connect to the Staffmere. Please check if you are connected to internet.");
  Module().sServerMessage = "Number : ";  // shorter than the ten compared characters
  EXPECT_EQ(GetResultMessage(4), "The following system error occured while processing.\r\n\r\nNumber : ");
  Module().sServerMessage = "Number : 13\r\nDescription : Type mismatch";
  EXPECT_EQ(GetResultMessage(4),
            "The following system error occured while processing.\r\n\r\nNumber : 13\r\nDescription : Type mismatch");
}

}  // namespace
}  // namespace brintavel
