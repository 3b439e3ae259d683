// The browser control against the service stand-in: requests byte for byte, one completion per navigation through
// the event loop, Stop, the error pages, the stall and connect checks, and waits that block instead of polling.

#include "platform/web/web_browser.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <functional>
#include <memory>
#include <thread>

#include "platform/forms/event_loop.h"
#include "platform/web/query_builder.h"
#include "tests/support/scoped_env.h"
#include "tests/support/service/service_standin.h"
#include "tests/support/wait_counter.h"
#include "tests/support/web/web_answers.h"

namespace platform::web {
namespace {

using namespace std::chrono_literals;
using fake::ScopedWebAnswers;
using fake::WebAnswer;
using fake::WebRequest;
using kv::test::ScopedEnv;
using ::testing::HasSubstr;
using ::testing::StartsWith;

const std::string kTextPlainHeader = "Content-Type:text/plain\n\r";

using kv::test::WaitCounter;

class WebBrowserTest : public ::testing::Test {
 protected:
  WebBrowserTest() : browser_(loop_) {
    browser_.OnDocumentComplete([this](WebBrowser& browser, const std::string& url) {
      EXPECT_EQ(&browser, &browser_);
      ++completions_;
      completed_url_ = url;
    });
  }

  // Pumps the loop until the navigation completes; a completion that never comes ends in the run's time-out.
  void WaitForCompletion(int count = 1) {
    loop_.WaitWhile([&] { return completions_ < count; });
  }

  // Pumps the loop for a while, whatever happens.
  void PumpFor(std::chrono::milliseconds span) {
    bool over = false;
    const auto timer = loop_.StartTimer(span, [&] { over = true; });
    loop_.WaitWhile([&] { return !over; });
    loop_.StopTimer(timer);
  }

  // Pumps the loop until the condition holds, checking it every 10 ms.
  void PumpUntil(const std::function<bool()>& condition) {
    bool met = condition();
    const auto check = loop_.StartTimer(10ms, [&] { met = condition(); });
    loop_.WaitWhile([&] { return !met; });
    loop_.StopTimer(check);
  }

  std::string Get(const std::string& page) {
    browser_.Navigate(service_.BaseUrl() + page, 6, "", std::nullopt, kTextPlainHeader);
    WaitForCompletion(completions_ + 1);
    return browser_.BodyText();
  }

  kv::test::ServiceStandinProcess service_;
  forms::EventLoop loop_;
  WebBrowser browser_;
  int completions_ = 0;
  std::string completed_url_;
};

TEST_F(WebBrowserTest, PostArrivesByteForByteWithWellFormedHeaders) {
  std::string body = "INSERT INTO T VALUES ('a''b');\r\n";
  body += std::string("\0\x01\xFF|tab\there\n", 14);
  body += std::string(5000, 'x');  // past the size at which clients wait for an interim answer
  const std::string url = service_.BaseUrl() + "brintavel.asp?sitecode=S1&sitekey=K1";
  browser_.Navigate(url, 6, "", body, kTextPlainHeader);
  WaitForCompletion();

  EXPECT_EQ(browser_.BodyText(), "SUCCESS");
  EXPECT_EQ(browser_.StatusCode(), 200);
  EXPECT_FALSE(browser_.IsErrorPage());
  EXPECT_EQ(completed_url_, url);
  const auto received = service_.Received();
  ASSERT_EQ(received.size(), 1u);
  EXPECT_EQ(received[0].method, "POST");
  EXPECT_EQ(received[0].target, "/brintavel.asp?sitecode=S1&sitekey=K1");
  EXPECT_EQ(received[0].body, body);
  EXPECT_EQ(received[0].Header("Content-Type"), "text/plain");
  EXPECT_EQ(received[0].Header("Content-Length"), std::to_string(body.size()));
  EXPECT_EQ(received[0].Header("Cache-Control"), "no-cache");
  EXPECT_EQ(received[0].Header("Pragma"), "no-cache");
  EXPECT_EQ(received[0].Header("Expect"), "");
}

TEST_F(WebBrowserTest, EmptyPostDataIsStillAPostAndAbsentPostDataIsAGet) {
  browser_.Navigate(service_.BaseUrl() + "brintavel.asp", 6, "", std::string(), kTextPlainHeader);
  WaitForCompletion(1);
  EXPECT_EQ(Get("brintavelupdatestatus.asp?options=E"), "SUCCESS");
  const auto received = service_.Received();
  ASSERT_EQ(received.size(), 2u);
  EXPECT_EQ(received[0].method, "POST");
  EXPECT_EQ(received[0].Header("Content-Length"), "0");
  EXPECT_EQ(received[1].method, "GET");
  EXPECT_EQ(received[1].body, "");
  EXPECT_EQ(received[1].Header("Content-Length"), "");
}

TEST_F(WebBrowserTest, RequestsOneAfterTheOtherEachArriveAsTheirOwn) {
  // Big, small and empty bodies and GETs between them, over the one control: nothing of a request stays for the
  // next, whatever the transport keeps from one to the next.
  const std::string big(300 * 1024, 'b');
  const std::vector<std::optional<std::string>> bodies = {std::nullopt, big, "small", std::nullopt, "", big};
  for (const std::optional<std::string>& body : bodies) {
    browser_.Navigate(service_.BaseUrl() + "brintavel.asp", 6, "", body, kTextPlainHeader);
    WaitForCompletion(completions_ + 1);
    EXPECT_EQ(browser_.BodyText(), "SUCCESS");
  }
  const auto received = service_.Received();
  ASSERT_EQ(received.size(), bodies.size());
  for (size_t i = 0; i < bodies.size(); ++i) {
    EXPECT_EQ(received[i].method, bodies[i] ? "POST" : "GET") << i;
    EXPECT_EQ(received[i].body, bodies[i].value_or("")) << i;
    EXPECT_EQ(received[i].Header("Content-Length"), bodies[i] ? std::to_string(bodies[i]->size()) : "") << i;
    EXPECT_EQ(received[i].Header("Content-Type"), "text/plain") << i;
  }
}

TEST_F(WebBrowserTest, FlagsWithoutNoCacheSendNoCacheHeaders) {
  browser_.Navigate(service_.BaseUrl() + "brintavel.asp", 0);
  WaitForCompletion();
  const auto received = service_.Received();
  ASSERT_EQ(received.size(), 1u);
  EXPECT_EQ(received[0].Header("Pragma"), "");
  EXPECT_EQ(received[0].Header("Cache-Control"), "");
}

TEST_F(WebBrowserTest, CompletionArrivesOnlyThroughTheEventLoopAndOnlyOnce) {
  browser_.Navigate(service_.BaseUrl() + "brintavel.asp", 6, "", std::nullopt, kTextPlainHeader);
  EXPECT_TRUE(browser_.Busy());
  std::this_thread::sleep_for(300ms);
  EXPECT_EQ(completions_, 0);
  EXPECT_TRUE(browser_.Busy());
  WaitForCompletion();
  EXPECT_FALSE(browser_.Busy());
  PumpFor(200ms);
  EXPECT_EQ(completions_, 1);
}

TEST_F(WebBrowserTest, StopMidTransferGivesNoCompletionAndTheControlStaysUsable) {
  service_.SetFault("brintavel.asp", "delay-ms 1500\n");
  browser_.Navigate(service_.BaseUrl() + "brintavel.asp", 6, "", std::string("data"), kTextPlainHeader);
  PumpUntil([&] { return service_.ReceivedCount() == 1; });
  browser_.Stop();
  EXPECT_FALSE(browser_.Busy());
  PumpFor(2000ms);
  EXPECT_EQ(completions_, 0);
  EXPECT_EQ(Get("kvrGetQBMenuUpdQBPath.asp?sCde=A"), "Success");
  EXPECT_EQ(completions_, 1);
}

TEST_F(WebBrowserTest, ANewNavigationCancelsTheOneInFlight) {
  service_.SetFault("brintavel.asp", "delay-ms 1000");
  browser_.Navigate(service_.BaseUrl() + "brintavel.asp", 6, "", std::nullopt, kTextPlainHeader);
  const std::string second = service_.BaseUrl() + "kvrGetQBMenuUpdQBPath.asp";
  browser_.Navigate(second, 6, "", std::nullopt, kTextPlainHeader);
  WaitForCompletion();
  PumpFor(1500ms);
  EXPECT_EQ(completions_, 1);
  EXPECT_EQ(completed_url_, second);
  EXPECT_EQ(browser_.BodyText(), "Success");
}

TEST_F(WebBrowserTest, TheHandlerMayNavigateAgainAndMayDestroyTheControl) {
  auto owned = std::make_unique<WebBrowser>(loop_);
  std::vector<std::string> texts;
  owned->OnDocumentComplete([&](WebBrowser& browser, const std::string&) {
    texts.push_back(browser.BodyText());
    if (texts.size() == 1) {
      browser.Navigate(service_.BaseUrl() + "kvrGetQBMenuUpdQBPath.asp");
    } else {
      owned.reset();
    }
  });
  owned->Navigate(service_.BaseUrl() + "brintavel.asp");
  loop_.WaitWhile([&] { return owned != nullptr; });
  EXPECT_EQ(texts, (std::vector<std::string>{"SUCCESS", "Success"}));
  EXPECT_EQ(owned, nullptr);
}

TEST_F(WebBrowserTest, TransportFailuresAndErrorAnswersCompleteWithTheErrorPage) {
  // A port nobody listens on.
  const int probe = socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  socklen_t length = sizeof address;
  ASSERT_EQ(bind(probe, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
  getsockname(probe, reinterpret_cast<sockaddr*>(&address), &length);
  close(probe);
  browser_.Navigate("http://127.0.0.1:" + std::to_string(ntohs(address.sin_port)) + "/brintavel.asp");
  WaitForCompletion(1);
  EXPECT_TRUE(browser_.IsErrorPage());
  EXPECT_EQ(browser_.StatusCode(), 0);
  EXPECT_THAT(browser_.BodyText(), StartsWith("The page cannot be displayed\r\n"));
  EXPECT_EQ(browser_.BodyText().find('\n', 30), std::string::npos);  // the reason is one line
  EXPECT_GT(browser_.BodyText().size(), 30u);

  service_.SetFault("brintavel.asp", "status 500");
  EXPECT_EQ(Get("brintavel.asp"), "The page cannot be displayed\r\nHTTP 500 Internal Server Error\r\nSUCCESS");
  EXPECT_TRUE(browser_.IsErrorPage());
  EXPECT_EQ(browser_.StatusCode(), 500);

  EXPECT_EQ(Get("nosuchpage.asp"),
            "The page cannot be displayed\r\nHTTP 404 Not Found\r\nThe page nosuchpage.asp was not found.");

  browser_.Navigate("ftp://127.0.0.1/x");
  WaitForCompletion(completions_ + 1);
  EXPECT_THAT(browser_.BodyText(), StartsWith("The page cannot be displayed\r\n"));
}

TEST_F(WebBrowserTest, ADroppedConnectionCompletesWithTheErrorPage) {
  service_.SetFault("kalvordownload.asp", "drop");
  const std::string text = Get("kalvordownload.asp?tsorexpense=True");
  EXPECT_TRUE(browser_.IsErrorPage());
  EXPECT_THAT(text, StartsWith("The page cannot be displayed\r\n"));
  EXPECT_THAT(text, HasSubstr("reply"));
}

TEST_F(WebBrowserTest, AStallPastTheTimeOutEndsTheWaitWithTheErrorPage) {
  ScopedEnv stall("KV_WEB_STALL_TIMEOUT_MS", "1000");
  service_.SetFault("brintavel.asp", "delay-ms 20000");
  const auto start = std::chrono::steady_clock::now();
  const std::string text = Get("brintavel.asp");
  const auto waited = std::chrono::steady_clock::now() - start;
  // The answer would have come after 20 s as SUCCESS; the error page says the stall ended the wait first.
  EXPECT_THAT(text, StartsWith("The page cannot be displayed\r\nOperation too slow"));
  EXPECT_TRUE(browser_.IsErrorPage());
  EXPECT_GE(waited, 900ms);
}

TEST_F(WebBrowserTest, AStallAfterAnUploadIsMeasuredFromTheLastByteSent) {
  // The bytes of the upload must not make the wait for the answer look like a live transfer.
  ScopedEnv stall("KV_WEB_STALL_TIMEOUT_MS", "1000");
  service_.SetFault("brintavel.asp", "delay-ms 20000");
  const auto start = std::chrono::steady_clock::now();
  browser_.Navigate(service_.BaseUrl() + "brintavel.asp", 6, "", std::string(200000, 'x'), kTextPlainHeader);
  WaitForCompletion();
  const auto waited = std::chrono::steady_clock::now() - start;
  // Our own measure from the last byte ended it, not libcurl's average speed, which lags seconds behind.
  EXPECT_EQ(browser_.BodyText(),
            "The page cannot be displayed\r\nOperation too slow: nothing was transferred for the last 1000 ms");
  EXPECT_TRUE(browser_.IsErrorPage());
  EXPECT_GE(waited, 900ms);
}

TEST_F(WebBrowserTest, AnswerTextsComeBackExactly) {
  service_.SetAnswer("brintavel.asp", "No data to upload. ");
  EXPECT_EQ(Get("brintavel.asp"), "No data to upload. ");

  service_.SetAnswer("brintavel.asp",
                     "<html><head><title>x</title><script>var a = 1;</script></head>"
                     "<body>SUCCESS &amp; more<br>line  two<div>block</div>tail</body></html>");
  EXPECT_EQ(Get("brintavel.asp"), "SUCCESS & more\r\nline two\r\nblock\r\ntail");
  EXPECT_EQ(browser_.ContentType(), "text/html");

  service_.SetAnswer("brintavel.asp", "Caf\xE9 ERROR");
  EXPECT_EQ(Get("brintavel.asp"), "Caf\xC3\xA9 ERROR");

  service_.SetAnswer("brintavel.asp", "TA12\r\n1|2|3\r\n\r\n");
  EXPECT_EQ(Get("brintavel.asp"), "TA12\r\n1|2|3\r\n\r\n");
}

TEST_F(WebBrowserTest, HostileValuesRoundTripThroughTheQuery) {
  const std::vector<std::string> hostile = {
      "a&b=c", "x#y", "1+1 = 2", "100%", "C:\\Company Files\\A&B.QBW", "Jos\xC3\xA9 O'Neil", "", "?&="};
  QueryBuilder builder("kvrGetQBMenuSpecs.asp");
  auto key = [](size_t i) { return std::string("k").append(std::to_string(i)); };
  for (size_t i = 0; i < hostile.size(); ++i) builder.Add(key(i), hostile[i]);
  Get(builder.PageAndQuery());
  const auto received = service_.Received();
  ASSERT_EQ(received.size(), 1u);
  EXPECT_EQ(received[0].Page(), "kvrGetQBMenuSpecs.asp");
  const auto pairs = received[0].Query();
  ASSERT_EQ(pairs.size(), hostile.size());
  for (size_t i = 0; i < hostile.size(); ++i) {
    EXPECT_EQ(pairs[i].first, key(i));
    EXPECT_EQ(pairs[i].second, hostile[i]);
  }
}

TEST_F(WebBrowserTest, QueuedAnswersComeInOrderThenTheNormalAnswer) {
  service_.QueueAnswers("brintavelupdatestatus.asp", {"ERROR|x|first", "second", "SUCCESS|third"});
  EXPECT_EQ(Get("brintavelupdatestatus.asp"), "ERROR|x|first");
  EXPECT_EQ(Get("BRINTAVELUPDATESTATUS.ASP"), "second");
  EXPECT_EQ(Get("brintavelupdatestatus.asp"), "SUCCESS|third");
  EXPECT_EQ(Get("brintavelupdatestatus.asp"), "SUCCESS");
}

TEST_F(WebBrowserTest, ARequestWhoseConnectionDropsIsAFailureAndNeverSentAgain) {
  // The second upload goes over the connection the first one left open; the service reads it and hangs up.
  service_.WriteFile("faults/brintavel.asp.1", "# none");
  service_.WriteFile("faults/brintavel.asp.2", "drop");
  const auto post = [&](const std::string& body) {
    browser_.Navigate(service_.BaseUrl() + "brintavel.asp", 6, "", body, kTextPlainHeader);
    WaitForCompletion(completions_ + 1);
    return browser_.BodyText();
  };
  EXPECT_EQ(post("first"), "SUCCESS");
  EXPECT_THAT(post("second"), StartsWith("The page cannot be displayed\r\n"));
  EXPECT_TRUE(browser_.IsErrorPage());
  EXPECT_EQ(post("third"), "SUCCESS");

  service_.WriteFile("faults/brintavelupdatestatus.asp.1", "# none");
  service_.WriteFile("faults/brintavelupdatestatus.asp.2", "drop");
  EXPECT_EQ(Get("brintavelupdatestatus.asp?options=C"), "SUCCESS");
  EXPECT_THAT(Get("brintavelupdatestatus.asp?options=E"), StartsWith("The page cannot be displayed\r\n"));

  PumpFor(300ms);
  std::vector<std::string> sent;
  for (const auto& request : service_.Received()) sent.push_back(request.body + request.QueryValue("options"));
  EXPECT_EQ(sent, (std::vector<std::string>{"first", "second", "third", "C", "E"}));
}

TEST_F(WebBrowserTest, ARedirectOfARequestWithABodyIsItsFailure) {
  const std::string moved = service_.BaseUrl() + "new/brintavel.asp";
  for (const std::string& fault : {"redirect " + moved, "status 307\nredirect " + moved}) {
    service_.SetFault("brintavel.asp", fault);
    browser_.Navigate(service_.BaseUrl() + "brintavel.asp", 6, "", std::string("statements"), kTextPlainHeader);
    WaitForCompletion(completions_ + 1);
    EXPECT_TRUE(browser_.IsErrorPage());
    EXPECT_THAT(browser_.BodyText(), StartsWith("The page cannot be displayed\r\nHTTP 30"));
    EXPECT_THAT(browser_.BodyText(), HasSubstr("The page moved to " + moved + "; the request was not sent there."));
  }
  const auto received = service_.Received();
  ASSERT_EQ(received.size(), 2u);
  EXPECT_EQ(received[0].body, "statements");
  EXPECT_EQ(received[1].body, "statements");
}

TEST_F(WebBrowserTest, APageWithoutABodyFollowsItsRedirect) {
  const std::string moved = service_.BaseUrl() + "kvrGetQBMenuUpdQBPath.asp?moved=1";
  service_.SetFault("kvrGetQBMenuSpecs.asp", "redirect " + moved);
  EXPECT_EQ(Get("kvrGetQBMenuSpecs.asp?user=u"), "Success");
  EXPECT_FALSE(browser_.IsErrorPage());
  EXPECT_EQ(completed_url_, moved);
  const auto received = service_.Received();
  ASSERT_EQ(received.size(), 2u);
  EXPECT_EQ(received[1].method, "GET");
  EXPECT_EQ(received[1].QueryValue("moved"), "1");

  // A redirect that never ends is cut off.
  service_.SetFault("brintavel.asp", "redirect " + service_.BaseUrl() + "brintavel.asp");
  EXPECT_EQ(Get("brintavel.asp"), "The page cannot be displayed\r\nHTTP 302 Found\r\nThe page moved to " +
                                      service_.BaseUrl() +
                                      "brintavel.asp after 10 moves; it was not followed further.");
  EXPECT_EQ(service_.Received().size(), 2u + 11u);
}

TEST_F(WebBrowserTest, ATrickleEndsAtTheRequestsBound) {
  ScopedEnv bound("KV_WEB_REQUEST_TIMEOUT_MS", "800");
  service_.SetAnswer("kalvordownload.asp", std::string(200, 'x'));
  service_.SetFault("kalvordownload.asp", "trickle-ms 50");
  const std::string text = Get("kalvordownload.asp");
  EXPECT_TRUE(browser_.IsErrorPage());
  EXPECT_THAT(text, StartsWith("The page cannot be displayed\r\n"));
  EXPECT_THAT(text, HasSubstr("timed out"));
}

TEST_F(WebBrowserTest, AnAnswerOverTheSizeLimitEndsWithItsMessage) {
  ScopedEnv limit("KV_WEB_MAX_ANSWER_BYTES", "100000");
  service_.SetAnswer("kalvordownload.asp", std::string(100000, 'x'));
  EXPECT_EQ(Get("kalvordownload.asp"), std::string(100000, 'x'));
  const std::string over =
      "The page cannot be displayed\r\nThe answer is larger than the limit of 100000 bytes (KV_WEB_MAX_ANSWER_BYTES); "
      "it was not read.";
  service_.SetAnswer("kalvordownload.asp", std::string(100001, 'x'));
  EXPECT_EQ(Get("kalvordownload.asp"), over);
  // Without a length ahead of it, the answer is cut off while it comes.
  service_.SetAnswer("kalvordownload.asp", std::string(300000, 'x'));
  service_.SetFault("kalvordownload.asp", "chunked");
  EXPECT_EQ(Get("kalvordownload.asp"), over);
  EXPECT_TRUE(browser_.IsErrorPage());
  EXPECT_TRUE(browser_.RawBody().empty());
}

TEST_F(WebBrowserTest, APasswordNeverShowsInAFailure) {
  const std::string query = "kvrGetQBMenuSpecs.asp?user=demo&pwd=S3cret%21&storuser=0";
  const auto expect_hidden = [&](const std::string& what) {
    SCOPED_TRACE(what);
    EXPECT_TRUE(browser_.IsErrorPage());
    EXPECT_THAT(browser_.BodyText(), StartsWith("The page cannot be displayed\r\n"));
    EXPECT_EQ(browser_.BodyText().find("S3cret"), std::string::npos) << browser_.BodyText();
    EXPECT_EQ(browser_.TransportError().find("S3cret"), std::string::npos) << browser_.TransportError();
  };
  const auto navigate = [&](const std::string& url) {
    browser_.Navigate(url, 6, "", std::nullopt, kTextPlainHeader);
    WaitForCompletion(completions_ + 1);
  };

  navigate("127.0.0.1:1/" + query);
  EXPECT_EQ(browser_.BodyText(),
            "The page cannot be displayed\r\nThe address is not a web address: "
            "127.0.0.1:1/kvrGetQBMenuSpecs.asp?user=demo&pwd=(hidden)&storuser=0");
  expect_hidden("not a web address");

  navigate("http://127.0.0.1:1/" + query);
  expect_hidden("refused");

  {
    ScopedEnv stall("KV_WEB_STALL_TIMEOUT_MS", "300");
    service_.SetFault("kvrGetQBMenuSpecs.asp", "delay-ms 5000");
    navigate(service_.BaseUrl() + query);
    expect_hidden("stalled");
  }

  // A server's error page that echoes the request.
  service_.SetAnswer("kvrGetQBMenuSpecs.asp", "<html><body>Failed: /" + query + "</body></html>");
  service_.SetFault("kvrGetQBMenuSpecs.asp", "status 500");
  navigate(service_.BaseUrl() + query);
  expect_hidden("HTTP 500");
  EXPECT_THAT(browser_.BodyText(), HasSubstr("&pwd=(hidden)&storuser=0"));

  service_.SetFault("kvrGetQBMenuSpecs.asp", "redirect http://127.0.0.1:1/" + query);
  browser_.Navigate(service_.BaseUrl() + query, 6, "", std::string("x"), kTextPlainHeader);
  WaitForCompletion(completions_ + 1);
  expect_hidden("redirect");

  kv::test::ServiceStandinProcess tls(
      {"--tls-cert", kv::test::TestCertificate(), "--tls-key", kv::test::TestCertificateKey()});
  ScopedEnv no_ca("KV_WEB_CA_FILE", nullptr);
  navigate(tls.BaseUrl() + query);
  expect_hidden("TLS");
}

TEST(WebBrowserTlsTest, HttpsVerifiesTheCertificate) {
  kv::test::ServiceStandinProcess service(
      {"--tls-cert", kv::test::TestCertificate(), "--tls-key", kv::test::TestCertificateKey()});
  ASSERT_THAT(service.BaseUrl(), StartsWith("https://127.0.0.1:"));
  forms::EventLoop loop;
  WebBrowser browser(loop);
  int completions = 0;
  browser.OnDocumentComplete([&](WebBrowser&, const std::string&) { ++completions; });
  const auto fetch = [&](const std::string& url) {
    const int wanted = completions + 1;
    browser.Navigate(url, 6, "", std::string("body"), kTextPlainHeader);
    loop.WaitWhile([&] { return completions < wanted; });
    return browser.BodyText();
  };
  {
    // A certificate nobody vouches for is refused.
    ScopedEnv no_ca("KV_WEB_CA_FILE", nullptr);
    EXPECT_THAT(fetch(service.BaseUrl() + "brintavel.asp"), StartsWith("The page cannot be displayed\r\n"));
    EXPECT_TRUE(browser.IsErrorPage());
  }
  {
    ScopedEnv ca("KV_WEB_CA_FILE", kv::test::TestCertificate().c_str());
    EXPECT_EQ(fetch(service.BaseUrl() + "brintavel.asp"), "SUCCESS");
  }
  ASSERT_EQ(service.Received().size(), 1u);
  EXPECT_EQ(service.Received()[0].body, "body");
}

TEST(WebBrowserTlsTest, ARedirectNeverLeavesHttpsForHttp) {
  kv::test::ServiceStandinProcess plain;
  kv::test::ServiceStandinProcess service(
      {"--tls-cert", kv::test::TestCertificate(), "--tls-key", kv::test::TestCertificateKey()});
  ScopedEnv ca("KV_WEB_CA_FILE", kv::test::TestCertificate().c_str());
  forms::EventLoop loop;
  WebBrowser browser(loop);
  int completions = 0;
  browser.OnDocumentComplete([&](WebBrowser&, const std::string&) { ++completions; });
  const std::string moved = plain.BaseUrl() + "kalvordownload.asp";
  service.SetFault("kalvordownload.asp", "status 307\nredirect " + moved);
  for (const bool with_body : {false, true}) {
    const int wanted = completions + 1;
    browser.Navigate(service.BaseUrl() + "kalvordownload.asp", 6, "",
                     with_body ? std::optional<std::string>("statements") : std::nullopt, kTextPlainHeader);
    loop.WaitWhile([&] { return completions < wanted; });
    EXPECT_TRUE(browser.IsErrorPage());
    EXPECT_THAT(browser.BodyText(), StartsWith("The page cannot be displayed\r\nHTTP 307 Temporary Redirect\r\n"
                                               "The page moved to " +
                                               moved));
    if (!with_body) {
      EXPECT_THAT(browser.BodyText(), HasSubstr("; a secure page is never left for one that is not."));
    }
  }
  EXPECT_EQ(service.Received().size(), 2u);
  EXPECT_TRUE(plain.Received().empty());
}

TEST_F(WebBrowserTest, WaitingForADelayedAnswerBlocksInsteadOfPolling) {
  service_.SetFault("brintavel.asp", "delay-ms 3000");
  const auto start = std::chrono::steady_clock::now();
  WaitCounter counter(loop_);
  EXPECT_EQ(Get("brintavel.asp"), "SUCCESS");
  EXPECT_GE(std::chrono::steady_clock::now() - start, 2900ms);
  // libcurl asks to be woken for its own checks a few times in each second of the wait; a wait that looked again
  // and again would come back thousands of times in these 3 s.
  EXPECT_LE(counter.waits, 30);
}

TEST_F(WebBrowserTest, EachNavigationGoesOverTheTransportInstalledWhenItStarts) {
  // The control was made before the fake was installed and outlives it: neither binds it to a transport.
  {
    ScopedWebAnswers answers([](const WebRequest&) { return WebAnswer{200, "text/plain", "from the fake"}; });
    EXPECT_EQ(Get("brintavel.asp"), "from the fake");
  }
  EXPECT_EQ(service_.ReceivedCount(), 0u);
  EXPECT_EQ(Get("brintavel.asp"), "SUCCESS");
  EXPECT_EQ(service_.ReceivedCount(), 1u);
  {
    ScopedWebAnswers outer([](const WebRequest&) { return WebAnswer{200, "text/plain", "outer"}; });
    {
      ScopedWebAnswers inner([](const WebRequest&) { return WebAnswer{200, "text/plain", "inner"}; });
      EXPECT_EQ(Get("brintavel.asp"), "inner");
    }
    EXPECT_EQ(Get("brintavel.asp"), "outer");
  }
  EXPECT_EQ(service_.ReceivedCount(), 1u);
}

TEST(ScopedWebAnswersTest, AnswersInProcessThroughTheLoopAndTheSameReadingRules) {
  forms::EventLoop loop;
  WebBrowser browser(loop);
  int completions = 0;
  browser.OnDocumentComplete([&](WebBrowser&, const std::string&) { ++completions; });
  std::vector<WebRequest> seen;
  WebAnswer next;
  ScopedWebAnswers answers([&](const WebRequest& request) {
    seen.push_back(request);
    return next;
  });
  auto navigate = [&](const std::optional<std::string>& post) {
    const int wanted = completions + 1;
    browser.Navigate("http://service.invalid/brintavel.asp?a=1", 6, "", post, kTextPlainHeader);
    EXPECT_EQ(completions, wanted - 1);  // never from inside Navigate
    loop.WaitWhile([&] { return completions < wanted; });
    return browser.BodyText();
  };

  next.body = "SUCCESS";
  EXPECT_EQ(navigate(std::string("x\0y", 3)), "SUCCESS");
  ASSERT_EQ(seen.size(), 1u);
  EXPECT_EQ(seen[0].url, "http://service.invalid/brintavel.asp?a=1");
  EXPECT_EQ(seen[0].post_data, std::string("x\0y", 3));
  EXPECT_FALSE(browser.IsErrorPage());

  next = {200, "text/html", "<html><body>A<br>B &amp; C</body></html>"};
  EXPECT_EQ(navigate(std::nullopt), "A\r\nB & C");
  EXPECT_FALSE(seen[1].post_data.has_value());

  next = {500, "text/plain", "SUCCESS"};
  EXPECT_EQ(navigate(std::nullopt), "The page cannot be displayed\r\nHTTP 500 Internal Server Error\r\nSUCCESS");
  EXPECT_TRUE(browser.IsErrorPage());

  next = {0, "", "Connection reset"};
  EXPECT_EQ(navigate(std::nullopt), "The page cannot be displayed\r\nConnection reset");
  EXPECT_EQ(browser.StatusCode(), 0);

  // Stop cancels an answered navigation like any other.
  browser.Navigate("http://service.invalid/x");
  browser.Stop();
  loop.DoEvents();
  EXPECT_EQ(completions, 4);
}

}  // namespace
}  // namespace platform::web
