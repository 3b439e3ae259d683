// Upload and status requests against the service stand-in, and the upload form's page judge.

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <ctime>

#include "platform/base/text.h"
#include "platform/forms/event_loop.h"
#include "platform/forms/form.h"
#include "sync_control/brintavel_ctl.h"
#include "sync_control/upload_form.h"
#include "tests/support/scripted_presenter_scope.h"
#include "tests/support/service/service_standin.h"

namespace brintavel {
namespace {

using Keys = std::vector<std::string>;

// The texts the local clock could have given between two readings of it, each second in the US form that
// `format` writes from the C library's broken-down local time.
std::vector<std::string> LocalTextsBetween(std::time_t first, std::time_t last, std::string (*format)(const std::tm&)) {
  std::vector<std::string> texts;
  for (std::time_t t = first; t <= last; ++t) {
    std::tm local{};
    localtime_r(&t, &local);
    texts.push_back(format(local));
  }
  return texts;
}

// Short date and long time: "3/16/2005 2:22:33 PM".
std::string UsGeneralText(const std::tm& t) {
  const int hour = t.tm_hour % 12 == 0 ? 12 : t.tm_hour % 12;
  char text[40];
  std::snprintf(text, sizeof text, "%d/%d/%d %d:%02d:%02d %s", t.tm_mon + 1, t.tm_mday, t.tm_year + 1900, hour,
                t.tm_min, t.tm_sec, t.tm_hour < 12 ? "AM" : "PM");
  return text;
}

// "mm/dd/yyyy hh:mm:ss": "03/16/2005 14:22:33".
std::string UsFixedText(const std::tm& t) {
  char text[40];
  std::snprintf(text, sizeof text, "%02d/%02d/%04d %02d:%02d:%02d", t.tm_mon + 1, t.tm_mday, t.tm_year + 1900,
                t.tm_hour, t.tm_min, t.tm_sec);
  return text;
}

bool Contains(const std::vector<std::string>& texts, const std::string& text) {
  return std::find(texts.begin(), texts.end(), text) != texts.end();
}

Keys KeysOf(const kv::test::ReceivedRequest& request) {
  Keys keys;
  for (const auto& [key, value] : request.Query()) keys.push_back(key);
  return keys;
}

class UploadTransport : public ::testing::Test {
 protected:
  void SetUp() override {
    ResetModule();
    ctl_.KVSecureServerURL = service_.BaseUrl();
    ctl_.SiteCode = "AC&01";
    ctl_.SiteKey = "key 7";
    ctl_.KalvorUser = "pat o'neil";
    ctl_.nOptions = "C";
    ctl_.PLClientVersion = "9.9";
  }
  void TearDown() override { ResetModule(); }

  PLKVUtilityResult Upload(std::string_view text) {
    auto stream = NewStatementStream();
    stream->WriteText(text);
    return ctl_.UploadNow(*stream);
  }

  kv::test::ServiceStandinProcess service_;
  kvtest::ScriptedUi ui_;
  BrintavelCtl ctl_;
};

TEST_F(UploadTransport, SuccessfulUploadPostsTheStatementsWithItsKeys) {
  ctl_.ResetKalvor = true;
  Module().sServerMessage = "earlier";
  const std::time_t before = std::time(nullptr);
  EXPECT_EQ(Upload("INSERT 'Café'\r\n"), kvurSuccess);
  const std::time_t after = std::time(nullptr);
  EXPECT_EQ(Module().sServerMessage, "earlier");
  EXPECT_FALSE(UploadForm().bUploadStatus);
  EXPECT_TRUE(ctl_.Timer1.Enabled());
  EXPECT_EQ(ctl_.Timer1.Interval(), 500);
  EXPECT_TRUE(ctl_.lblTransfer2.Visible());

  const auto received = service_.Received();
  ASSERT_EQ(received.size(), 1u);
  const auto& request = received[0];
  EXPECT_EQ(request.method, "POST");
  EXPECT_EQ(request.Page(), "brintavel.asp");
  EXPECT_EQ(request.body, "INSERT 'Caf?'\r\n");
  EXPECT_EQ(kv::ToLowerAscii(request.Header("Content-Type")), "text/plain");
  EXPECT_EQ(request.Header("Pragma"), "no-cache");
  EXPECT_EQ(KeysOf(request),
            (Keys{"sitecode", "sitekey", "reset", "plclntver", "options", "upstarttime", "usrnm", "debugmode"}));
  // Values with "&", blanks and apostrophes arrive as they are.
  EXPECT_EQ(request.QueryValue("sitecode"), "AC&01");
  EXPECT_EQ(request.QueryValue("sitekey"), "key 7");
  EXPECT_EQ(request.QueryValue("usrnm"), "pat o'neil");
  EXPECT_EQ(request.QueryValue("reset"), "1");
  EXPECT_EQ(request.QueryValue("plclntver"), "4.06");
  EXPECT_EQ(request.QueryValue("options"), "C");
  EXPECT_EQ(request.QueryValue("debugmode"), "False");
  // The general text of the fixed regional model, not the status request's fixed form.
  EXPECT_TRUE(Contains(LocalTextsBetween(before, after, UsGeneralText), request.QueryValue("upstarttime")))
      << request.QueryValue("upstarttime");
}

TEST_F(UploadTransport, StatusReportIsAGetWithItsOwnKeysAndTheFixedDateText) {
  service_.SetAnswer("brintavelupdatestatus.asp", "SUCCESS");
  ctl_.ResetKalvor = true;
  ctl_.DebugMode = true;
  const std::time_t before = std::time(nullptr);
  EXPECT_EQ(ctl_.SendSyncStatus("X"), kvurSuccess);
  const std::time_t after = std::time(nullptr);
  const auto received = service_.Received();
  ASSERT_EQ(received.size(), 1u);
  const auto& request = received[0];
  EXPECT_EQ(request.method, "GET");
  EXPECT_EQ(request.Page(), "brintavelupdatestatus.asp");
  EXPECT_EQ(KeysOf(request), (Keys{"sitecode", "sitekey", "plclntver", "options", "upstarttime", "usrnm"}));
  EXPECT_EQ(request.QueryValue("options"), "X");
  const std::string when = request.QueryValue("upstarttime");
  EXPECT_TRUE(Contains(LocalTextsBetween(before, after, UsFixedText), when)) << when;
}

TEST_F(UploadTransport, ClientVersionIsSentOnceByTheUploadButStatusReportsDoNotClearIt) {
  ctl_.bSendClientVersion = true;
  EXPECT_EQ(ctl_.SendSyncStatus("C"), kvurSuccess);
  EXPECT_TRUE(ctl_.bSendClientVersion);
  EXPECT_EQ(Upload("a"), kvurSuccess);
  EXPECT_FALSE(ctl_.bSendClientVersion);
  EXPECT_EQ(Upload("b"), kvurSuccess);
  const auto received = service_.Received();
  ASSERT_EQ(received.size(), 3u);
  EXPECT_EQ(received[0].QueryValue("plclntver"), "9.9");
  EXPECT_EQ(received[1].QueryValue("plclntver"), "9.9");
  EXPECT_EQ(received[2].QueryValue("plclntver"), "4.06");
}

TEST_F(UploadTransport, AnswersOtherThanSuccess) {
  service_.QueueAnswers("brintavel.asp",
                        {"No data to upload. ", "No data to upload.", "error", "SUCCESS T", "SUCCESSP"});
  EXPECT_EQ(Upload("a"), kvurNoDataToUpload);
  EXPECT_EQ(Module().sServerMessage, "No data to upload. ");
  EXPECT_EQ(Upload("a"), kvurAspFailed);
  EXPECT_EQ(Module().sServerMessage, "No data to upload.");
  EXPECT_EQ(Upload("a"), kvurAspFailed);
  EXPECT_EQ(Module().sServerMessage, "error");
  EXPECT_FALSE(Module().varTasksAdded);
  EXPECT_EQ(Upload("a"), kvurSuccess);
  EXPECT_TRUE(Module().varTasksAdded);
  EXPECT_FALSE(Module().varProjectsAdded);
  EXPECT_EQ(Upload("a"), kvurSuccess);
  EXPECT_TRUE(Module().varProjectsAdded);
}

// Pages as web servers write them: the source's line breaks and indentation around the answer.
TEST_F(UploadTransport, AnswersAsRealPagesAndWithALineBreakAtTheEnd) {
  const auto page = [](const std::string& text) {
    return "<html>\r\n<head><title>Upload</title></head>\r\n<body>\r\n    " + text + "\r\n</body>\r\n</html>\r\n";
  };
  service_.QueueAnswers("brintavel.asp", {page("SUCCESS"), page("SUCCESST"), page("No data to upload."),
                                          page("<p>\r\n  Failed:\r\n  no site\r\n</p>"), "No data to upload. \r\n",
                                          "SUCCESS\r\n", "Failed\r\n"});
  EXPECT_EQ(Upload("a"), kvurSuccess);
  EXPECT_FALSE(Module().varTasksAdded);
  EXPECT_EQ(Upload("a"), kvurSuccess);
  EXPECT_TRUE(Module().varTasksAdded);
  EXPECT_EQ(Upload("a"), kvurAspFailed);
  EXPECT_EQ(Module().sServerMessage, "No data to upload.");
  EXPECT_EQ(Upload("a"), kvurAspFailed);
  EXPECT_EQ(Module().sServerMessage, "Failed: no site");
  EXPECT_EQ(Upload("a"), kvurNoDataToUpload);
  EXPECT_EQ(Upload("a"), kvurSuccess);
  EXPECT_EQ(Upload("a"), kvurAspFailed);

  service_.QueueAnswers("brintavelupdatestatus.asp", {page("SUCCESS"), "SUCCESS\r\n", page("Error: no site")});
  EXPECT_EQ(ctl_.SendSyncStatus("C"), kvurSuccess);
  EXPECT_EQ(ctl_.SendSyncStatus("C"), kvurSuccess);
  EXPECT_EQ(ctl_.SendSyncStatus("C"), kvurAspFailed);
}

TEST_F(UploadTransport, ARedirectedUploadFailsAndNamesTheNewAddress) {
  const std::string moved = service_.BaseUrl() + "v2/brintavel.asp";
  for (const std::string& fault : {"redirect " + moved, "status 307\nredirect " + moved}) {
    service_.SetFault("brintavel.asp", fault);
    EXPECT_EQ(Upload("INSERT 1"), kvurAspFailed);
    EXPECT_TRUE(Module().sServerMessage.starts_with("The page cannot be displayed\r\nHTTP 30"))
        << Module().sServerMessage;
    EXPECT_NE(Module().sServerMessage.find(moved), std::string::npos) << Module().sServerMessage;
  }
  service_.ClearFault("brintavel.asp");
  service_.SetFault("brintavelupdatestatus.asp", "redirect " + service_.BaseUrl() + "v2/brintavelupdatestatus.asp");
  EXPECT_EQ(ctl_.SendSyncStatus("C"), kvurAspFailed);
  const auto received = service_.Received();
  ASSERT_EQ(received.size(), 3u);  // the moved pages were never asked
  for (const auto& request : received) EXPECT_EQ(request.target.find("/v2/"), std::string::npos);
}

TEST_F(UploadTransport, ServiceErrorsAndAStoppedServiceEndTheWaitAsFailures) {
  service_.SetFault("brintavel.asp", "status 500");
  EXPECT_EQ(Upload("a"), kvurAspFailed);
  EXPECT_TRUE(Module().sServerMessage.starts_with("The page cannot be displayed")) << Module().sServerMessage;

  // Nothing listens on port 1: the connection is refused at once.
  ctl_.KVSecureServerURL = "http://127.0.0.1:1/";
  EXPECT_EQ(Upload("a"), kvurAspFailed);
  EXPECT_TRUE(Module().sServerMessage.starts_with("The page cannot be displayed")) << Module().sServerMessage;
  // The refusal itself ends the wait (the transport's reason for it), not the connect time-out.
  EXPECT_NE(Module().sServerMessage.find("Couldn't connect"), std::string::npos) << Module().sServerMessage;
}

TEST_F(UploadTransport, CancelDuringTheWaitInterruptsTheUpload) {
  service_.SetFault("brintavel.asp", "delay-ms 5000");
  Module().sServerMessage = "earlier";
  const auto cancel_timer = platform::forms::EventLoop::Current().StartTimer(std::chrono::milliseconds(150), [this] {
    if (UploadForm().bIsUploading) ctl_.cmdNav[1].Click();
  });
  const auto started = std::chrono::steady_clock::now();
  EXPECT_EQ(Upload("a"), kvurProcessInterrupted);
  platform::forms::EventLoop::Current().StopTimer(cancel_timer);
  EXPECT_LT(std::chrono::steady_clock::now() - started, std::chrono::seconds(4));
  EXPECT_TRUE(UploadForm().bIsInterrupted);
  EXPECT_FALSE(UploadForm().bIsUploading);
  EXPECT_EQ(Module().sServerMessage, "earlier");
}

TEST_F(UploadTransport, CancelWithNothingInFlightChangesNothing) {
  ctl_.cmdNav[1].Click();
  EXPECT_FALSE(UploadForm().bIsInterrupted);
  EXPECT_EQ(service_.ReceivedCount(), 0u);
}

TEST_F(UploadTransport, RunTimeErrorsGiveSystemErrorWithTheirNumber) {
  StatementStream closed;  // never opened
  EXPECT_EQ(ctl_.UploadNow(closed), kvurSystemError);
  EXPECT_TRUE(Module().sServerMessage.starts_with("Number : 3704\r\nDescription : ")) << Module().sServerMessage;
  EXPECT_NE(Module().sServerMessage.find("\r\nASP Source : "), std::string::npos);
  EXPECT_EQ(service_.ReceivedCount(), 0u);
}

TEST(UploadForm, JudgeOfAPageWithoutDocumentStoresError) {
  ResetModule();
  FrmKVUpload form;
  form.Load();
  form.bUploadStatus = true;
  form.bIsUploading = true;
  platform::web::WebBrowser never_navigated;
  form.WebBrowser1_DocumentComplete(never_navigated, "");
  EXPECT_EQ(form.sUploadStatus, "Error");
  EXPECT_FALSE(form.bUploadStatus);
  EXPECT_FALSE(form.bIsUploading);
  // Its own Cancel marks the request cancelled even with nothing in flight.
  form.cmdClose_Click();
  EXPECT_TRUE(form.bIsInterrupted);
  form.Unload();
  EXPECT_FALSE(form.bIsLoaded);
  ResetModule();
}

}  // namespace
}  // namespace brintavel
