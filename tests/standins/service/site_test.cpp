// The service's sites: every page bound to a site refuses one the accounts do not hold, or a wrong key, with an
// answer the system's own judges read as a failure, and changes nothing; the pages that embed a control carry the
// site's words and dates.

#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <httplib.h>

#include <filesystem>
#include <string>

#include "common/web_form/page_table.h"
#include "menu_agent/online_access.h"
#include "platform/base/text.h"
#include "sync_control/upload_rules.h"
#include "tests/support/programs/program_run.h"
#include "tests/support/programs/sample_company.h"
#include "tests/support/service/service_standin.h"

namespace {

namespace fs = std::filesystem;
using ::testing::HasSubstr;
using ::testing::Not;

constexpr char kOkTime[] =
    "<QBXML><QBXMLMsgsRs><TimeTrackingAddRs requestID=\"1\" statusCode=\"0\" statusSeverity=\"Info\" "
    "statusMessage=\"Status OK\"></TimeTrackingAddRs></QBXMLMsgsRs></QBXML>";

class SiteTest : public ::testing::Test {
 protected:
  void SetUp() override {
    service_.WriteFile("accounts.txt", "jane\tpw\tACME\tK-77\tC:\\QB\\a.QBW\tl4\tl5\n");
    service_.WriteFile("pending-time.txt", kv::test::ReadSourceFile("samples/service/pending-time.txt"));
    service_.WriteFile("pending-expenses.txt", kv::test::ReadSourceFile("samples/service/pending-expenses.txt"));
  }
  httplib::Result Get(const std::string& target) { return Client().Get(target.c_str()); }
  httplib::Result Post(const std::string& target, const std::string& body) {
    return Client().Post(target.c_str(), body, "text/plain");
  }
  httplib::Client& Client() {
    if (!client_) client_ = std::make_unique<httplib::Client>("127.0.0.1", service_.Port());
    return *client_;
  }
  std::string Download(const std::string& site, const std::string& key) {
    auto answer = Get("/kalvordownload.asp?sitecode=" + site + "&sitekey=" + key +
                      "&pldbtype=4&tsorexpense=True&fullorpartial=False");
    return answer ? answer->body : "(no answer)";
  }

  kv::test::ServiceStandinProcess service_;
  std::unique_ptr<httplib::Client> client_;
};

// Unknown site, wrong key, and a key right but for its letter case, which the service compares exactly.
const std::pair<const char*, const char*> kRefused[] = {{"NOSUCH", "XXXX"}, {"ACME", "K-78"}, {"ACME", "k-77"}};

TEST_F(SiteTest, TheDownloadAndTheStatusReportRefuseAWrongSiteAndTheControlJudgesThatAFailure) {
  for (const auto& [site, key] : kRefused) {
    SCOPED_TRACE(std::string(site) + " " + key);
    const std::string listed = Download(site, key);
    EXPECT_THAT(listed, ::testing::StartsWith("ERROR|"));
    EXPECT_THAT(listed, Not(HasSubstr("TA5001")));
    EXPECT_FALSE(kv::JudgeAnswer(kv::KVRDownloadPageTable(), "kalvordownload.asp", listed, false));

    auto report = Post(std::string("/kalvorupdatestatus.asp?sitecode=") + site + "&sitekey=" + key +
                           "&TAIDs=5001&LAIDs=&EEIDs=&EEIIDs=&TrnType=TA&KVRUser=jane&BillOrCheck=False",
                       kOkTime);
    ASSERT_TRUE(report);
    EXPECT_THAT(report->body, ::testing::StartsWith("ERROR|5001|"));
    // Three parts: the grid shows the reason.
    EXPECT_EQ(kv::Split(report->body, "|").size(), 3u) << report->body;
    EXPECT_FALSE(kv::JudgeAnswer(kv::KVRDownloadPageTable(), "kalvorupdatestatus.asp", report->body, true));
  }
  // Nothing was taken as transferred.
  EXPECT_FALSE(fs::exists(service_.DataDir() / "transferred.txt"));
  EXPECT_THAT(Download("ACME", "K-77"), ::testing::StartsWith("TA5001\r\n"));
  // The site code in another letter case and with blanks around it is the same site.
  EXPECT_THAT(Download("%20acme%20", "K-77"), ::testing::StartsWith("TA5001\r\n"));
}

TEST_F(SiteTest, TheUploadTheSyncStatusAndTheRegistrationRefuseAWrongSite) {
  for (const auto& [site, key] : kRefused) {
    SCOPED_TRACE(std::string(site) + " " + key);
    for (const char* page : {"brintavel.asp", "brintavelupdatestatus.asp"}) {
      auto answer = Post(std::string("/") + page + "?sitecode=" + site + "&sitekey=" + key + "&options=E", "x");
      ASSERT_TRUE(answer);
      EXPECT_FALSE(brintavel::JudgePage(answer->body).success) << page << ": " << answer->body;
      const brintavel::UploadDecision decision = brintavel::DecideUploadResult({false, false, answer->body});
      EXPECT_EQ(decision.result, kvurAspFailed) << page;
    }
    auto answer = Get(std::string("/kvrGetQBMenuUpdQBPath.asp?sCde=") + site + "&sKey=" + key + "&qbfile=x.QBW");
    ASSERT_TRUE(answer);
    EXPECT_FALSE(kv::JudgeAnswer(corvalink::KVGetQBMenuPageTable(), "kvrGetQBMenuUpdQBPath.asp", answer->body, false))
        << answer->body;
  }
  auto answer = Post("/brintavel.asp?sitecode=acme&sitekey=K-77&options=E", "x");
  ASSERT_TRUE(answer);
  EXPECT_TRUE(brintavel::JudgePage(answer->body).success);
  answer = Get("/kvrGetQBMenuUpdQBPath.asp?sCde=ACME&sKey=K-77&qbfile=x.QBW");
  ASSERT_TRUE(answer);
  EXPECT_EQ(answer->body, "Success");
}

TEST_F(SiteTest, TheSiteRefreshAnswersTheSiteItKnowsAndRefusesTheRest) {
  // The refresh signs in with the site code and key; the account's five lines come back.
  auto answer = Get("/kvrGetQBMenuSpecs.asp?user=ACME&pwd=K-77&storuser=1");
  ASSERT_TRUE(answer);
  EXPECT_EQ(answer->body, "ACME\r\nK-77\r\nC:\\QB\\a.QBW\r\nl4\r\nl5");
  for (const auto& [site, key] : kRefused) {
    answer = Get(std::string("/kvrGetQBMenuSpecs.asp?user=") + site + "&pwd=" + key + "&storuser=1");
    ASSERT_TRUE(answer);
    EXPECT_EQ(answer->body, "ERROR:Invalid username or password. Please try again.");
  }
}

TEST_F(SiteTest, ThePagesThatEmbedAControlShowItToTheSitesTheServiceKnowsOnly) {
  for (const char* page : {"BrintavelCall.asp", "tspenddownlist.asp", "exppenddownlist.asp"}) {
    for (const auto& [site, key] : kRefused) {
      auto answer = Get(std::string("/") + page + "?sitecode=" + site + "&siteid=" + key);
      ASSERT_TRUE(answer);
      EXPECT_NE(answer->status, 200) << page;
      EXPECT_THAT(answer->body, Not(HasSubstr("<object"))) << page;
      EXPECT_THAT(answer->body, HasSubstr("not known")) << page;
    }
    auto answer = Get(std::string("/") + page + "?sitecode=ACME&siteid=K-77");
    ASSERT_TRUE(answer);
    EXPECT_EQ(answer->status, 200);
    EXPECT_THAT(answer->body, HasSubstr("<object")) << page;
  }
}

TEST_F(SiteTest, TheEmbeddingPagesPassTheSiteWordsAndDatesTheirControlReads) {
  service_.WriteFile("sites/acme.txt",
                     "# the site's words\nCustLexicon=Client\nEmpLexicon=Staff member\nProjLexicon=Job\n"
                     "SILexicon=Task\nSubProjLexicon=Phase\nCustomerLastSyncDate=03/04/2006 10:11:12\n"
                     "ExpenseLastSyncDate=05/06/2006 01:02:03\nKVLastUploadDate=05/07/2006\n");
  auto sync = Get("/BrintavelCall.asp?sitecode=ACME&siteid=K-77");
  ASSERT_TRUE(sync);
  for (const char* param : {"CustLexicon\" value=\"Client\"", "EmpLexicon\" value=\"Staff member\"",
                            "ProjLexicon\" value=\"Job\"", "SILexicon\" value=\"Task\"",
                            "SubProjLexicon\" value=\"Phase\"", "CustomerLastSyncDate\" value=\"03/04/2006 10:11:12\"",
                            "ExpenseLastSyncDate\" value=\"05/06/2006 01:02:03\""}) {
    EXPECT_THAT(sync->body, HasSubstr(std::string("<param name=\"") + param)) << sync->body;
  }
  // The sync control reads no upload date, the download control no last-sync dates.
  EXPECT_THAT(sync->body, Not(HasSubstr("KVLastUploadDate")));
  auto download = Get("/tspenddownlist.asp?sitecode=ACME&siteid=K-77");
  ASSERT_TRUE(download);
  EXPECT_THAT(download->body, HasSubstr("<param name=\"CustLexicon\" value=\"Client\">"));
  EXPECT_THAT(download->body, HasSubstr("<param name=\"KVLastUploadDate\" value=\"05/07/2006\">"));
  EXPECT_THAT(download->body, Not(HasSubstr("LastSyncDate")));
}

TEST(SampleSiteTest, TheSampleSiteHasTheServiceWordsForItsLists) {
  kv::test::ServiceStandinProcess service;
  for (const char* file : {"accounts.txt", "page-params.txt", "sites/DEMO01.txt"}) {
    service.WriteFile(file, kv::test::ReadSourceFile(std::string("samples/service/") + file));
  }
  httplib::Client client("127.0.0.1", service.Port());
  auto page = client.Get("/BrintavelCall.asp?sitecode=DEMO01&siteid=K-4711");
  ASSERT_TRUE(page);
  for (const char* param :
       {"CustLexicon\" value=\"Customer\"", "EmpLexicon\" value=\"Employee\"", "ProjLexicon\" value=\"Project\"",
        "SILexicon\" value=\"Service Item\"", "SubProjLexicon\" value=\"Sub Project\""}) {
    EXPECT_THAT(page->body, HasSubstr(std::string("<param name=\"") + param)) << page->body;
  }
}

// Through the controls themselves: a page of a site the service refuses posts nothing into QuickBooks.
TEST(WrongSiteRunTest, ADownloadOfAWrongSitePostsNothingAndASyncOfOneFails) {
  kv::test::ServiceStandinProcess service;
  // The sample company's runs name the sites HLC (key K-42) and AC01 (key K9); the service knows other keys.
  service.WriteFile("accounts.txt", "dana\tpw\tHLC\tK-43\tx\tl4\tl5\npat\tpw\tAC01\tK8\tx\tl4\tl5\n");
  service.WriteFile("pending-time.txt", kv::test::ReadSourceFile("samples/service/pending-time.txt"));
  kv::test::SampleCompany company("kv-wrong-site");
  const kv::test::ProgramRun download = kv::test::RunProgram(
      "kvpage", company.DownloadArgs(service.BaseUrl(), {"--param", "TsOrExpense=True", "--continue"}),
      company.options());
  EXPECT_NE(download.status, 0) << download.out << download.err;
  EXPECT_THAT(download.out, Not(HasSubstr("successfully posted"))) << download.out;
  const kv::test::ProgramRun txns = kv::test::RunProgram("qb-standin", {"txns"}, company.options());
  EXPECT_THAT(txns.out, Not(HasSubstr("TimeTracking"))) << txns.out;
  EXPECT_FALSE(fs::exists(service.DataDir() / "transferred.txt"));

  const kv::test::ProgramRun sync = kv::test::RunProgram(
      "kvpage", company.SyncArgs(service.BaseUrl(), {"--select", "classes", "--start"}), company.options());
  EXPECT_EQ(sync.status, 3) << sync.out << sync.err;
  EXPECT_THAT(sync.out, HasSubstr("not known to Kalvor")) << sync.out;
}

}  // namespace
