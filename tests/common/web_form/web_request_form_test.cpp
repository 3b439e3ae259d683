// The web-request form against the service stand-in: the calling sequence, the judge and its flags, and the
// refusal of a second request while one is in flight.

#include "common/web_form/web_request_form.h"

#include <gtest/gtest.h>

#include "platform/base/error.h"
#include "platform/base/text.h"
#include "platform/forms/event_loop.h"
#include "platform/forms/form.h"
#include "tests/support/service/service_standin.h"

namespace kv {
namespace {

// A deliverable's copy as the download control makes it: a name and the download page table.
class DownloadPagesForm final : public WebRequestForm {
 public:
  DownloadPagesForm() : WebRequestForm("frmKVDownload", KVRDownloadPageTable()) {}
};

class WebRequestFormTest : public ::testing::Test {
 protected:
  ~WebRequestFormTest() override { platform::forms::ResetDefaultInstances(); }
  DownloadPagesForm& Form() { return platform::forms::DefaultInstance<DownloadPagesForm>(); }
  kv::test::ServiceStandinProcess service;
};

TEST_F(WebRequestFormTest, LoadAndUnloadSetTheMembers) {
  DownloadPagesForm& form = Form();
  EXPECT_FALSE(form.bIsLoaded);
  form.sReceivedText = "old";
  form.Load();
  EXPECT_TRUE(form.bIsLoaded);
  EXPECT_EQ(form.sReceivedText, "");
  EXPECT_FALSE(form.Visible());
  form.bIsNavigationComplete = true;
  form.Unload();
  EXPECT_FALSE(form.bIsLoaded);
  EXPECT_FALSE(form.bIsNavigationComplete);
  EXPECT_FALSE(form.bIsDownloading);
}

TEST_F(WebRequestFormTest, ADownloadIsTrimmedJudgedAndSentWithTheTextHeader) {
  service.WriteFile("pending-time.txt", "  TA1\r\nd\r\nx\r\n  ");
  DownloadPagesForm& form = Form();
  EXPECT_TRUE(form.Request("kalvordownload.asp", service.BaseUrl() + "kalvordownload.asp?tsorexpense=True"));
  EXPECT_EQ(form.sReceivedText, "TA1\r\nd\r\nx\r\n");
  EXPECT_FALSE(form.bIsDownloading);
  EXPECT_TRUE(form.bIsLoaded);
  const auto received = service.Received();
  ASSERT_EQ(received.size(), 1u);
  EXPECT_EQ(received[0].method, "GET");
  EXPECT_EQ(received[0].Header("Content-Type"), "text/plain");
  EXPECT_EQ(received[0].Header("Pragma"), "no-cache");
}

TEST_F(WebRequestFormTest, PostDataIsSentAsBytesAndStatusAnswersAreJudged) {
  DownloadPagesForm& form = Form();
  const std::vector<uint8_t> body = {'<', 'a', '>', '?'};
  service.QueueAnswers("kalvorupdatestatus.asp", {" success ", "SUCCESS|more", "ERROR|1|Bad"});
  EXPECT_TRUE(form.Request("kalvorupdatestatus.asp", service.BaseUrl() + "kalvorupdatestatus.asp", body));
  EXPECT_FALSE(form.Request("kalvorupdatestatus.asp", service.BaseUrl() + "kalvorupdatestatus.asp", body));
  EXPECT_EQ(form.sReceivedText, "SUCCESS|more");
  EXPECT_FALSE(form.Request("kalvorupdatestatus.asp", service.BaseUrl() + "kalvorupdatestatus.asp", body));
  EXPECT_EQ(form.sReceivedText, "ERROR|1|Bad");
  const auto received = service.Received();
  ASSERT_EQ(received.size(), 3u);
  EXPECT_EQ(received[0].method, "POST");
  EXPECT_EQ(received[0].body, "<a>?");
}

TEST_F(WebRequestFormTest, PagesAsServersWriteThemAreJudgedByTheirText) {
  DownloadPagesForm& form = Form();
  const std::vector<uint8_t> body = {'x'};
  const std::string url = service.BaseUrl() + "kalvorupdatestatus.asp";
  service.QueueAnswers(
      "kalvorupdatestatus.asp",
      {"<html>\r\n<head><title>Status</title></head>\r\n<body>\r\n    SUCCESS\r\n</body>\r\n</html>\r\n", "SUCCESS\r\n",
       "<html>\r\n  <body>\r\n    <p>ERROR|1|Bad</p>\r\n  </body>\r\n</html>", "ERROR|1|Bad\r\n"});
  EXPECT_TRUE(form.Request("kalvorupdatestatus.asp", url, body));
  EXPECT_EQ(form.sReceivedText, "SUCCESS");
  EXPECT_TRUE(form.Request("kalvorupdatestatus.asp", url, body));
  EXPECT_FALSE(form.Request("kalvorupdatestatus.asp", url, body));
  EXPECT_EQ(form.sReceivedText, "ERROR|1|Bad");
  EXPECT_FALSE(form.Request("kalvorupdatestatus.asp", url, body));

  // Nothing pending, in a page or as a bare line break.
  const std::string download = service.BaseUrl() + "kalvordownload.asp";
  service.QueueAnswers("kalvordownload.asp", {"<html>\r\n<body>\r\n</body>\r\n</html>\r\n", "\r\n"});
  EXPECT_TRUE(form.Request("kalvordownload.asp", download));
  EXPECT_EQ(form.sReceivedText, "");
  EXPECT_TRUE(form.Request("kalvordownload.asp", download));
}

TEST_F(WebRequestFormTest, AnErrorPageIsNeverJudgedGood) {
  service.SetFault("kalvordownload.asp", "status 500");
  DownloadPagesForm& form = Form();
  EXPECT_FALSE(form.Request("kalvordownload.asp", service.BaseUrl() + "kalvordownload.asp"));
  EXPECT_TRUE(form.sReceivedText.starts_with("The page cannot be displayed"));
  EXPECT_FALSE(form.Request("kalvordownload.asp", "http://127.0.0.1:1/kalvordownload.asp"));
  EXPECT_FALSE(form.bIsDownloading);
}

TEST_F(WebRequestFormTest, ASecondRequestInFlightIsRefused) {
  service.SetFault("kalvordownload.asp", "delay-ms 300");
  DownloadPagesForm& form = Form();
  bool refused = false;
  bool nested_ran = false;
  // A handler that runs while the first request waits tries to start another one on the same form.
  platform::forms::EventLoop::Current().Post([&] {
    try {
      nested_ran = true;
      form.Request("kalvordownload.asp", service.BaseUrl() + "kalvordownload.asp");
    } catch (const kv::Error&) {
      refused = true;
    }
  });
  EXPECT_TRUE(form.Request("kalvordownload.asp", service.BaseUrl() + "kalvordownload.asp"));
  EXPECT_TRUE(nested_ran);
  EXPECT_TRUE(refused);
  EXPECT_EQ(service.ReceivedCount(), 1u);
}

TEST_F(WebRequestFormTest, CancellingEndsTheWaitAndMarksTheRequest) {
  service.SetFault("kalvordownload.asp", "delay-ms 2000");
  DownloadPagesForm& form = Form();
  platform::forms::EventLoop::Current().StartTimer(std::chrono::milliseconds(50), [&] { form.CancelRequest(); });
  EXPECT_FALSE(form.Request("kalvordownload.asp", service.BaseUrl() + "kalvordownload.asp"));
  EXPECT_TRUE(form.bIsInterrupted);
  EXPECT_FALSE(form.bIsDownloading);
}

}  // namespace
}  // namespace kv
