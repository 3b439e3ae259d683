// The service stand-in's pages, faults, limits and record of requests, through HTTP and in this process.

#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <httplib.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <memory>
#include <set>
#include <thread>

#include "platform/web/query_builder.h"
#include "standins/service/data_dir.h"
#include "standins/service/pages.h"
#include "standins/service/service_standin.h"
#include "tests/support/service/fake_recorder.h"
#include "tests/support/service/service_standin.h"

namespace standins::service {
namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;
using ::testing::HasSubstr;

class StandinTest : public ::testing::Test {
 protected:
  httplib::Result Get(const std::string& page_and_query) { return Client().Get(("/" + page_and_query).c_str()); }
  httplib::Result Post(const std::string& page_and_query, const std::string& body) {
    return Client().Post(("/" + page_and_query).c_str(), body, "text/plain");
  }
  httplib::Client& Client() {
    if (!client_) {
      client_ = std::make_unique<httplib::Client>("127.0.0.1", service_.Port());
      client_->set_read_timeout(10, 0);
    }
    return *client_;
  }

  kv::test::ServiceStandinProcess service_;
  std::unique_ptr<httplib::Client> client_;
};

TEST_F(StandinTest, PrintsItsBaseUrlOnLoopback) {
  EXPECT_EQ(service_.BaseUrl(), "http://127.0.0.1:" + std::to_string(service_.Port()) + "/");
  EXPECT_GT(service_.Port(), 0);
}

TEST_F(StandinTest, SignInAnswersTheAccountLinesOrTheRefusal) {
  service_.WriteFile("accounts.txt",
                     "# user, password, answer lines\n"
                     "alice\tp&ss w+rd#1\tS1\tK1\tC:\\Company Files\\A&B.QBW\tline4\tline5\n"
                     "S1\tK1\tS1\tK1\tC:\\Company Files\\A&B.QBW\tline4\tline5\n");
  const auto query = [](const std::string& user, const std::string& pwd) {
    return platform::web::QueryBuilder("kvrGetQBMenuSpecs.asp").Add("user", user).Add("pwd", pwd).Add("storuser", "0");
  };
  auto answer = Get(query("alice", "p&ss w+rd#1").PageAndQuery());
  ASSERT_TRUE(answer);
  EXPECT_EQ(answer->body, "S1\r\nK1\r\nC:\\Company Files\\A&B.QBW\r\nline4\r\nline5");
  answer = Get(query("S1", "K1").PageAndQuery());
  ASSERT_TRUE(answer);
  EXPECT_THAT(answer->body, ::testing::StartsWith("S1\r\nK1\r\n"));
  for (const auto& [user, pwd] : {std::pair{"alice", "wrong"}, {"ALICE", "p&ss w+rd#1"}, {"", ""}}) {
    answer = Get(query(user, pwd).PageAndQuery());
    ASSERT_TRUE(answer);
    EXPECT_EQ(answer->status, 200);
    EXPECT_EQ(answer->body, "ERROR:Invalid username or password. Please try again.");
  }
}

TEST_F(StandinTest, DownloadServesThePendingLinesOfTheModeAndPagesMatchInAnyCase) {
  service_.WriteFile("pending-time.txt", "TA1\r\nd|e|c|s|1.5|||n|True\r\nx\r\n");
  auto answer = Get("kalvordownload.asp?sitecode=A&sitekey=B&pldbtype=4&tsorexpense=True&fullorpartial=False");
  ASSERT_TRUE(answer);
  EXPECT_EQ(answer->body, "TA1\r\nd|e|c|s|1.5|||n|True\r\nx\r\n");
  answer = Get("KalvorDownload.ASP?tsorexpense=False");
  ASSERT_TRUE(answer);
  EXPECT_EQ(answer->body, "");
  service_.WriteFile("pending-expenses.txt", "EXP7|Vendor|01/02/2024|memo|False|Bank\r\n");
  answer = Get("kalvordownload.asp?tsorexpense=False");
  ASSERT_TRUE(answer);
  EXPECT_EQ(answer->body, "EXP7|Vendor|01/02/2024|memo|False|Bank\r\n");
}

TEST_F(StandinTest, UploadStatusAndRegistrationPagesAnswerTheirSuccessWords) {
  for (const char* page : {"brintavel.asp", "brintavelupdatestatus.asp"}) {
    auto answer = Post(page, "body");
    ASSERT_TRUE(answer);
    EXPECT_EQ(answer->body, "SUCCESS") << page;
  }
  service_.WriteFile("pending-time.txt", "TA7\r\nd|e|c|s|1.5|||n|True\r\nx\r\n");
  auto report = Post("kalvorupdatestatus.asp?sitecode=A&sitekey=B&TAIDs=7&LAIDs=&EEIDs=&EEIIDs=&TrnType=TA",
                     "<QBXML><QBXMLMsgsRs><TimeTrackingAddRs requestID=\"1\" statusCode=\"0\" "
                     "statusSeverity=\"Info\" statusMessage=\"Status OK\"></TimeTrackingAddRs></QBXMLMsgsRs></QBXML>");
  ASSERT_TRUE(report);
  EXPECT_EQ(report->body, "SUCCESS");
  auto answer = Get("kvrGetQBMenuUpdQBPath.asp?sCde=A&sKey=B&qbfile=C%3A%5Cx.QBW");
  ASSERT_TRUE(answer);
  EXPECT_EQ(answer->body, "Success");
  answer = Get("KalvorSignup3.asp");
  ASSERT_TRUE(answer);
  EXPECT_EQ(answer->status, 404);
}

// The service, not the control, decides whether a downloaded record was posted: it reads QuickBooks' answer.
TEST(StandinStatusReportTest, ARecordQuickBooksRefusedOrNeverAnsweredIsJudgedNotPosted) {
  EXPECT_EQ(JudgeStatusReport("7", "<BillAddRs statusCode=\"530\" statusSeverity=\"Warn\" statusMessage=\"x\" />"),
            "SUCCESS");
  EXPECT_EQ(JudgeStatusReport("10,11",
                              "<BillAddRs requestID=\"1\" statusCode=\"3140\" statusSeverity=\"Error\" "
                              "statusMessage=\"Vendor &quot;A|B&quot; not found\nagain\" />"),
            "ERROR|10,11|Vendor \"A/B\" not found again");
  EXPECT_EQ(JudgeStatusReport("7", "<TimeTrackingAddRs statusCode=\"3000\" statusSeverity=\"Error\" />"),
            "ERROR|7|QuickBooks refused the record (status 3000).");
  EXPECT_EQ(JudgeStatusReport("7", ""), "ERROR|7|No answer of QuickBooks came with the record.");
}

TEST_F(StandinTest, EmbeddingPagesCarryTheControlAndItsParameters) {
  service_.WriteFile("page-params.txt",
                     "KalvorUser=Jo \"Boss\" <admin>\nQBFilePath=C:\\Q&A\\co.QBW\nSiteCode=fromfile\n"
                     "TimeLastSyncDate=01/02/2024 03:04:05\n");
  auto answer = Get("BrintavelCall.asp?sitecode=S%261&siteid=K1");
  ASSERT_TRUE(answer);
  EXPECT_EQ(answer->get_header_value("Content-Type"), "text/html");
  const std::string& page = answer->body;
  EXPECT_THAT(page, HasSubstr("<object id=\"BrintavelCtl\" classid=\"clsid:5105AB9B-325B-4FA2-9B1F-982A3193B989\""));
  EXPECT_THAT(page, HasSubstr("<param name=\"KVSecureServerURL\" value=\"" + service_.BaseUrl() + "\">"));
  EXPECT_THAT(page, HasSubstr("<param name=\"SiteCode\" value=\"S&amp;1\">"));
  EXPECT_THAT(page, HasSubstr("<param name=\"SiteKey\" value=\"K1\">"));
  EXPECT_THAT(page, HasSubstr("<param name=\"KalvorUser\" value=\"Jo &quot;Boss&quot; &lt;admin&gt;\">"));
  EXPECT_THAT(page, HasSubstr("<param name=\"QBFilePath\" value=\"C:\\Q&amp;A\\co.QBW\">"));
  EXPECT_THAT(page, HasSubstr("<param name=\"TimeLastSyncDate\" value=\"01/02/2024 03:04:05\">"));
  EXPECT_THAT(page, ::testing::Not(HasSubstr("TsOrExpense")));

  answer = Get("tspenddownlist.asp");
  ASSERT_TRUE(answer);
  EXPECT_THAT(answer->body, HasSubstr("<object id=\"KVRDowloadctl\""));
  EXPECT_THAT(answer->body, HasSubstr("<param name=\"TsOrExpense\" value=\"True\">"));
  EXPECT_THAT(answer->body, HasSubstr("<param name=\"SiteCode\" value=\"fromfile\">"));
  answer = Get("exppenddownlist.asp?sitecode=Z");
  ASSERT_TRUE(answer);
  EXPECT_THAT(answer->body, HasSubstr("<param name=\"TsOrExpense\" value=\"False\">"));
  EXPECT_THAT(answer->body, HasSubstr("<param name=\"SiteCode\" value=\"Z\">"));
}

TEST_F(StandinTest, FaultsApplyPerPageAndQueuedFaultsAreTakenInOrder) {
  service_.WriteFile("faults/brintavel.asp.1", "status 503\n");
  service_.WriteFile("faults/brintavel.asp.2", "# comment\ndelay-ms 400\n");
  service_.SetFault("kalvorupdatestatus.asp", "drop");
  auto answer = Post("brintavel.asp", "x");
  ASSERT_TRUE(answer);
  EXPECT_EQ(answer->status, 503);
  EXPECT_EQ(answer->body, "SUCCESS");
  const auto start = std::chrono::steady_clock::now();
  answer = Post("brintavel.asp", "x");
  ASSERT_TRUE(answer);
  EXPECT_GE(std::chrono::steady_clock::now() - start, 390ms);
  EXPECT_EQ(answer->status, 200);
  answer = Post("brintavel.asp", "x");
  ASSERT_TRUE(answer);
  EXPECT_EQ(answer->status, 200);
  EXPECT_FALSE(Post("kalvorupdatestatus.asp", "x"));
  EXPECT_FALSE(Post("kalvorupdatestatus.asp", "x"));
  EXPECT_TRUE(fs::exists(service_.DataDir() / "faults" / "brintavel.asp.1.used"));
  // Every request is recorded, the dropped ones included.
  EXPECT_GE(service_.ReceivedCount(), 5u);
}

TEST_F(StandinTest, ParseFaultReadsItsInstructions) {
  const Fault fault = ParseFault("delay-ms 250\r\nstatus 500\r\ndrop\r\nbogus 1\nstatus 77\n");
  EXPECT_EQ(fault.delay, 250ms);
  EXPECT_EQ(fault.status, 500);
  EXPECT_TRUE(fault.drop);
  EXPECT_EQ(ParseFault("").status, 0);
}

TEST(StandinLimitTest, ABodyOverTheLimitGets413AndServingGoesOn) {
  kv::test::ServiceStandinProcess service({"--max-body", "1000"});
  httplib::Client client("127.0.0.1", service.Port());
  auto answer = client.Post("/brintavel.asp", std::string(5000, 'x'), "text/plain");
  // The answer goes out before the body is read and the connection is closed on the unread bytes; a loaded machine
  // may deliver that reset to the client before the answer. Either way the body must not have been taken.
  if (answer) {
    EXPECT_EQ(answer->status, 413);
  }
  answer = client.Post("/brintavel.asp", std::string(1000, 'y'), "text/plain");
  ASSERT_TRUE(answer);
  EXPECT_EQ(answer->status, 200);
  // A refused request is recorded once its answer is out, so the next request may be numbered and answered before
  // it: wait for its record instead of expecting it with the second answer.
  ASSERT_TRUE(service.WaitForReceived(2));
  const auto received = service.Received();
  ASSERT_EQ(received.size(), 2u);
  std::multiset<std::string> bodies{received[0].body, received[1].body};
  EXPECT_EQ(bodies, (std::multiset<std::string>{"", std::string(1000, 'y')}));
}

TEST(StandinRecordTest, ConcurrentRequestsAreRecordedWholeAndNumberedOnce) {
  kv::test::ServiceStandinProcess service;
  constexpr int kThreads = 8;
  constexpr int kEach = 25;
  std::vector<std::thread> threads;
  std::atomic<int> failures{0};
  for (int t = 0; t < kThreads; ++t) {
    threads.emplace_back([&, t] {
      httplib::Client client("127.0.0.1", service.Port());
      for (int i = 0; i < kEach; ++i) {
        const std::string body =
            "thread " + std::to_string(t) + " request " + std::to_string(i) + std::string(3000, 'z');
        auto answer = client.Post(("/brintavel.asp?n=" + std::to_string(t * kEach + i)).c_str(), body, "text/plain");
        if (!answer || answer->body != "SUCCESS") ++failures;
      }
    });
  }
  for (auto& thread : threads) thread.join();
  EXPECT_EQ(failures.load(), 0);
  const auto received = service.Received();
  ASSERT_EQ(received.size(), static_cast<size_t>(kThreads * kEach));
  std::set<std::string> seen;
  for (size_t i = 0; i < received.size(); ++i) {
    EXPECT_EQ(received[i].number, i + 1);
    const int n = std::stoi(received[i].QueryValue("n"));
    EXPECT_EQ(received[i].body,
              "thread " + std::to_string(n / kEach) + " request " + std::to_string(n % kEach) + std::string(3000, 'z'));
    seen.insert(received[i].QueryValue("n"));
  }
  EXPECT_EQ(seen.size(), received.size());
}

TEST(StandinInProcessTest, NumberingGoesOnAfterARestart) {
  std::string pattern = (fs::temp_directory_path() / "kv-standin-inproc-XXXXXX").string();
  const fs::path dir = fs::path(mkdtemp(pattern.data())) / "data";
  for (int round = 1; round <= 2; ++round) {
    StandinOptions options;
    options.data_dir = dir;
    ServiceStandin standin(options);
    const std::string base = standin.Bind();
    std::thread server([&] { standin.Run(); });
    httplib::Client client("127.0.0.1", std::stoi(base.substr(base.rfind(':') + 1)));
    ASSERT_TRUE(client.Get("/brintavel.asp"));
    EXPECT_TRUE(fs::exists(dir / "received" / (round == 1 ? "000001.txt" : "000002.txt")));
    standin.Stop();
    server.join();
  }
  fs::remove_all(dir.parent_path());
}

// The stand-in in this process with a recorder of the test's own.
class StandinRecorderTest : public ::testing::Test {
 protected:
  void Start(size_t max_body = 64u << 20) {
    std::string pattern = (fs::temp_directory_path() / "kv-standin-rec-XXXXXX").string();
    dir_ = fs::path(mkdtemp(pattern.data()));
    StandinOptions options;
    options.data_dir = dir_ / "data";
    options.max_body = max_body;
    auto recorder = std::make_unique<kv::test::FakeRecorder>();
    records_ = recorder.get();
    standin_ = std::make_unique<ServiceStandin>(options, std::move(recorder));
    const std::string base = standin_->Bind();
    port_ = std::stoi(base.substr(base.rfind(':') + 1));
    server_ = std::thread([this] { standin_->Run(); });
  }
  void TearDown() override {
    if (standin_) standin_->Stop();
    if (server_.joinable()) server_.join();
    standin_.reset();
    if (!dir_.empty()) fs::remove_all(dir_);
  }

  fs::path dir_;
  kv::test::FakeRecorder* records_ = nullptr;
  std::unique_ptr<ServiceStandin> standin_;
  std::thread server_;
  int port_ = 0;
};

TEST_F(StandinRecorderTest, EveryRequestIsRecordedOnceThroughTheRecorderGiven) {
  Start(1000);
  httplib::Client client("127.0.0.1", port_);
  client.Post("/brintavel.asp", std::string(5000, 'x'), "text/plain");  // refused before any page runs
  ASSERT_TRUE(client.Post("/kalvorupdatestatus.asp?sitecode=A", "body", "text/plain"));
  const auto records = records_->WaitFor(2);
  std::multiset<std::string> seen;
  for (const auto& record : records) seen.insert(record.request_line + "|" + record.body);
  EXPECT_EQ(seen, (std::multiset<std::string>{"POST /brintavel.asp HTTP/1.1|",
                                              "POST /kalvorupdatestatus.asp?sitecode=A HTTP/1.1|body"}));
  // One more request, and still one record each: none of the first two was recorded twice.
  ASSERT_TRUE(client.Get("/brintavel.asp?n=3"));
  EXPECT_EQ(records_->WaitFor(3).size(), 3u);
  EXPECT_EQ(records_->Records().back().request_line, "GET /brintavel.asp?n=3 HTTP/1.1");
  EXPECT_FALSE(fs::exists(dir_ / "data" / "received"));
}

// Joining the server is the check: a stop that waited the delay out would hold the test up for an hour.
TEST_F(StandinRecorderTest, StopEndsADelayInProgress) {
  Start();
  fs::create_directories(dir_ / "data" / "faults");
  std::ofstream(dir_ / "data" / "faults" / "brintavel.asp") << "delay-ms 3600000\n";
  httplib::Client client("127.0.0.1", port_);
  std::thread waiting([&] { client.Get("/brintavel.asp"); });
  records_->WaitFor(1);  // the request is in its delay
  standin_->Stop();
  server_.join();
  waiting.join();
  EXPECT_EQ(records_->Records().size(), 1u);
}

}  // namespace
}  // namespace standins::service
