// The download of pending lines: the request, the counts and the caption in both modes, and failures.

#include "control_fixture.h"
#include "download_control/download_form.h"
#include "download_control/service_requests.h"

namespace tessarine::test {
namespace {

TEST_F(ControlTest, TimeModeDownloadCountsTimeAndLeaveRecords) {
  service.WriteFile("pending-time.txt", kTimeLines);
  KVRDowloadctl& c = Site(Params(true));
  EXPECT_EQ(Module().varTARecordCount, 3);
  EXPECT_EQ(Module().varLARecordCount, 1);
  EXPECT_EQ(Module().varEXPRecordCount, 0);
  EXPECT_EQ(c.lblGather.Caption(), "4 time/leave activity rows to be downloaded..");
  EXPECT_EQ(c.LastResult(), kvurSuccess);
  EXPECT_NE(c.dtDownloadStartTime, kv::DateTime());
  const auto received = service.Received();
  ASSERT_EQ(received.size(), 1u);
  EXPECT_EQ(received[0].method, "GET");
  EXPECT_EQ(received[0].Page(), "kalvordownload.asp");
  const std::vector<std::pair<std::string, std::string>> query = {{"sitecode", "ACME"},
                                                                  {"sitekey", "K&Y 1"},
                                                                  {"pldbtype", "4"},
                                                                  {"tsorexpense", "True"},
                                                                  {"fullorpartial", "False"}};
  EXPECT_EQ(received[0].Query(), query);
  EXPECT_EQ(received[0].Header("Content-Type"), "text/plain");
  EXPECT_EQ(received[0].Header("Cache-Control"), "no-cache");
  // The form is not kept between downloads.
  EXPECT_FALSE(platform::forms::HasDefaultInstance<frmKVDownload>());
}

TEST_F(ControlTest, ExpenseModeDownloadCountsExpenseHeaders) {
  service.WriteFile("pending-expenses.txt", kExpenseLines);
  KVRDowloadctl& c = Site(Params(false));
  EXPECT_EQ(Module().varEXPRecordCount, 2);
  EXPECT_EQ(c.lblGather.Caption(), "2 expense(s) to be downloaded..");
  EXPECT_EQ(service.Received()[0].QueryValue("tsorexpense"), "False");
}

TEST_F(ControlTest, AnEmptyAnswerIsGoodAndHasNoLines) {
  service.WriteFile("pending-time.txt", "");
  KVRDowloadctl& c = Site(Params(true));
  EXPECT_TRUE(c.DownloadLines().empty());
  EXPECT_EQ(c.lblGather.Caption(), "0 time/leave activity rows to be downloaded..");
}

TEST_F(ControlTest, AnErrorAnswerLeavesTheCaptionAndShowsTheFailureMessage) {
  service.SetAnswer("kalvordownload.asp", "error|12|Unknown site");
  ui.ExpectBox(kCouldNotContactText);
  KVRDowloadctl& c = Site(Params(true));
  EXPECT_EQ(c.lblGather.Caption(), kCollectingText);
  EXPECT_EQ(c.LastResult(), kvurAspFailed);
  EXPECT_EQ(Module().varTARecordCount, 0);
  EXPECT_FALSE(c.Closed());  // the window stays; Continue repeats the message and closes it
  ui.ExpectBox(kCouldNotContactText);
  c.cmdStartDownload.Click();
  EXPECT_TRUE(c.Closed());
}

TEST_F(ControlTest, AnHttpErrorOrAnHtmlPageIsAFailedDownload) {
  service.SetFault("kalvordownload.asp", "status 500");
  ui.ExpectBox(kCouldNotContactText);
  EXPECT_EQ(Site(Params(true)).LastResult(), kvurAspFailed);
}

TEST_F(ControlTest, AServiceThatIsDownEndsTheWaitWithTheFailureMessage) {
  const std::string base = service.BaseUrl();
  service.Stop();
  ui.ExpectBox(kCouldNotContactText);
  EXPECT_EQ(Site(Params(true)).LastResult(), kvurAspFailed);
}

TEST(ServiceRequestsTest, DownloadAddressKeepsItsKeyOrderAndEncodesValues) {
  DownloadParameters p;
  p.KVSecureServerURL = "https://kalvor.example/";
  p.SiteCode = "A B";
  p.SiteKey = "k=1&x";
  p.TsOrExpense = true;
  EXPECT_EQ(DownloadUrl(p),
            "https://kalvor.example/kalvordownload.asp?sitecode=A%20B&sitekey=k%3D1%26x&pldbtype=4&tsorexpense=True"
            "&fullorpartial=False");
}

TEST(ServiceRequestsTest, StatusAddressCarriesTheIdsOfItsTypeAndAnAlwaysEmptyEEIDs) {
  DownloadParameters p;
  p.KVSecureServerURL = "http://svc/";
  p.SiteCode = "S";
  p.SiteKey = "K";
  p.KalvorUser = "ann lee";
  EXPECT_EQ(StatusUrl(p, IdsOfType("10,11", "EXP"), "EXP", true),
            "http://svc/kalvorupdatestatus.asp?sitecode=S&sitekey=K&TAIDs=&LAIDs=&EEIDs=&EEIIDs=10%2C11&TrnType=EXP"
            "&KVRUser=ann%20lee&BillOrCheck=True");
  EXPECT_EQ(IdsOfType("7", "TA").time, "7");
  EXPECT_EQ(IdsOfType("7", "LA").leave, "7");
  EXPECT_TRUE(IdsOfType("7", "ta").Empty());  // the type is compared exactly
  EXPECT_TRUE(IdsOfType("7", "XX").Empty());
  EXPECT_TRUE(IdsOfType("", "TA").Empty());
}

TEST(ServiceRequestsTest, FailureReasonsByTypeAndMarking) {
  EXPECT_EQ(FailureReason("ERROR|3|Customer missing", "TA"), "Customer missing");
  EXPECT_EQ(FailureReason("error|3|Customer missing", "LA"), "Customer missing");
  EXPECT_EQ(FailureReason("Failed|3|Customer missing", "TA"), "Failed|3|Customer missing");
  EXPECT_EQ(FailureReason("SUCCESS|more", "TA"), "SUCCESS|more");
  EXPECT_EQ(FailureReason("ERROR|3|a|b", "TA"), "ERROR|3|a|b");
  EXPECT_EQ(FailureReason("Failed|3|Vendor inactive", "EXP"), "Vendor inactive");
  EXPECT_EQ(FailureReason("ERROR|3|Vendor inactive", "EXP"), "ERROR|3|Vendor inactive");
  EXPECT_EQ(FailureReason("The page cannot be displayed\r\nHTTP 500", "EXP"),
            "The page cannot be displayed\r\nHTTP 500");
}

}  // namespace
}  // namespace tessarine::test
