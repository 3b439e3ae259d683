// The sign-in dialog and its site request against the service stand-in.

#include "menu_agent/online_access.h"

#include <gtest/gtest.h>

#include "menu_agent/main_mod.h"
#include "tests/menu_agent/menu_test_support.h"
#include "tests/support/scripted_presenter_scope.h"
#include "tests/support/service/service_standin.h"

namespace {

using corvalink::frmOnlineAccess;
using corvalink::KVGetQBMenuPageTable;
using corvalink::MainMod;
using platform::forms::DefaultInstance;

constexpr char kRefusal[] = "Invalid username or password. Please try again.";
constexpr char kCouldNotRetrieve[] =
    "Could not retrieve any information from Kalvor for the credentials provided..\r\nPlease try again or contact "
    "System Administrator of Kalvor";

TEST(PageTable, JudgesEachPageByItsRule) {
  const kv::PageTable& table = KVGetQBMenuPageTable();
  // Sign-in: anything but the browser's error page is an answer; the error page keeps the caller's flag.
  EXPECT_TRUE(kv::JudgeAnswer(table, "kvrGetQBMenuSpecs.asp", "ERROR:Invalid username", false));
  EXPECT_FALSE(kv::JudgeAnswer(table, "kvrGetQBMenuSpecs.asp", "the page cannot be displayed\r\nHTTP 500", false));
  EXPECT_TRUE(kv::JudgeAnswer(table, "kvrGetQBMenuSpecs.asp", "The page cannot be displayed", true));
  // Status page: "SUCCESS" in any case is good, an "ERROR" answer bad, anything else keeps the flag.
  EXPECT_TRUE(kv::JudgeAnswer(table, "kvrGetQBMenuupdatestatus.asp", "success", false));
  EXPECT_FALSE(kv::JudgeAnswer(table, "kvrGetQBMenuupdatestatus.asp", "Error: no", true));
  EXPECT_TRUE(kv::JudgeAnswer(table, "kvrGetQBMenuupdatestatus.asp", "SUCCESS and more", true));
  // Company-file registration: exactly "Success".
  EXPECT_TRUE(kv::JudgeAnswer(table, "kvrGetQBMenuUpdQBPath.asp", "Success", false));
  EXPECT_FALSE(kv::JudgeAnswer(table, "kvrGetQBMenuUpdQBPath.asp", "SUCCESS", false));
  // A line break after the answer changes no verdict.
  EXPECT_TRUE(kv::JudgeAnswer(table, "kvrGetQBMenuUpdQBPath.asp", "Success\r\n", false));
  EXPECT_FALSE(kv::JudgeAnswer(table, "kvrGetQBMenuUpdQBPath.asp", "Success.\r\n", false));
  EXPECT_TRUE(kv::JudgeAnswer(table, "kvrGetQBMenuupdatestatus.asp", "SUCCESS\r\n", false));
  EXPECT_FALSE(kv::JudgeAnswer(table, "kvrGetQBMenuupdatestatus.asp", "ERROR\r\n", true));
  EXPECT_TRUE(kv::JudgeAnswer(table, "kvrGetQBMenuSpecs.asp", "A\r\nB\r\n", false));
  EXPECT_TRUE(kv::JudgeAnswer(table, "KalvorSignup3.asp", "CONGRATULATIONS\r\n", false));
  // Sign-up: the word in capitals anywhere.
  EXPECT_TRUE(kv::JudgeAnswer(table, "KalvorSignup3.asp", "You did it. CONGRATULATIONS!", false));
  EXPECT_FALSE(kv::JudgeAnswer(table, "KalvorSignup3.asp", "Congratulations", false));
  // An HTTP failure whose body holds the word is the browser's error page, never a sign-up.
  EXPECT_FALSE(kv::JudgeAnswer(table, "KalvorSignup3.asp",
                               "The page cannot be displayed\r\nHTTP 500 Internal Server Error\r\nCONGRATULATIONS",
                               false));
  // Page names compare with letter case; unknown pages keep the flag.
  EXPECT_FALSE(kv::JudgeAnswer(table, "kvrgetqbmenuspecs.asp", "anything", false));
  EXPECT_TRUE(kv::JudgeAnswer(table, "other.asp", "ERROR", true));
}

class SignInTest : public menutest::AgentTest {
 protected:
  static void SetUpTestSuite() { service_ = new kv::test::ServiceStandinProcess(); }
  static void TearDownTestSuite() {
    delete service_;
    service_ = nullptr;
  }

  SignInTest() : server_env_("CORVALINK_SERVER_URL", service_->BaseUrl()) {
    for (const char* page : {"answers/kvrGetQBMenuSpecs.asp", "faults/kvrGetQBMenuSpecs.asp"}) {
      service_->RemoveFile(page);
    }
    service_->WriteFile("accounts.txt", menutest::AccountLine("jane", "p&ss #1", "ACME", "K-77", "") +
                                            menutest::AccountLine("ACME", "K-77", "ACME2", "K-78", "C:\\QB\\a.QBW"));
  }

  frmOnlineAccess& Dialog() {
    frmOnlineAccess& dialog = DefaultInstance<frmOnlineAccess>();
    dialog.Load();
    return dialog;
  }

  // The requests of the sign-in page made since the test began.
  std::vector<kv::test::ReceivedRequest> SignIns() const {
    std::vector<kv::test::ReceivedRequest> out;
    for (auto& r : service_->Received()) {
      if (r.Page() == "kvrGetQBMenuSpecs.asp" && r.number > first_) out.push_back(r);
    }
    return out;
  }

  static kv::test::ServiceStandinProcess* service_;
  uint64_t first_ = service_->Received().empty() ? 0 : service_->Received().back().number;
  menutest::ScopedEnv server_env_;
};

kv::test::ServiceStandinProcess* SignInTest::service_ = nullptr;

TEST_F(SignInTest, GoodAnswerKeepsTheSiteValuesAndClosesTheDialog) {
  kvtest::ScriptedUi ui;
  frmOnlineAccess& dialog = Dialog();
  EXPECT_EQ(MainMod().ServerURL, service_->BaseUrl());
  dialog.txtUserID.Type("  jane ");
  dialog.txtPassword.Type(" p&ss #1  ");
  ASSERT_TRUE(dialog.Okey.Click());

  EXPECT_TRUE(dialog.SignedIn());
  EXPECT_FALSE(dialog.Loaded());
  EXPECT_EQ(MainMod().SiteCode, "ACME");
  EXPECT_EQ(MainMod().SiteID, "K-77");
  EXPECT_EQ(MainMod().QBFilePath, "");
  // The password does not stay on screen, and the progress display is back at rest.
  EXPECT_EQ(dialog.txtPassword.Text(), "");
  EXPECT_EQ(dialog.Height(), corvalink::kIdleHeight);
  EXPECT_EQ(dialog.Shape1.Width(), 0);
  EXPECT_FALSE(dialog.Timer1.Running());

  const auto requests = SignIns();
  ASSERT_EQ(requests.size(), 1u);
  EXPECT_EQ(requests[0].method, "GET");
  // Blanks around the credentials are dropped, the rest arrives intact although it holds "&", "#" and a blank.
  EXPECT_EQ(requests[0].Query(), (std::vector<std::pair<std::string, std::string>>{
                                     {"user", "jane"}, {"pwd", "p&ss #1"}, {"storuser", "0"}}));
  EXPECT_EQ(requests[0].Header("Content-Type"), "text/plain");
  // The web-request form is not left loaded.
  EXPECT_FALSE(platform::forms::HasDefaultInstance<corvalink::frmKVDownload>() &&
               DefaultInstance<corvalink::frmKVDownload>().bIsLoaded);
}

TEST_F(SignInTest, RefusedCredentialsShowTheServiceTextAndKeepTheDialog) {
  kvtest::ScriptedUi ui;
  ui.ExpectBox(kRefusal);
  frmOnlineAccess& dialog = Dialog();
  dialog.txtUserID.Type("jane");
  dialog.txtPassword.Type("wrong");
  dialog.Okey.Click();
  EXPECT_FALSE(dialog.SignedIn());
  EXPECT_TRUE(dialog.Loaded());
  EXPECT_EQ(dialog.txtPassword.Text(), "");
  EXPECT_EQ(MainMod().SiteCode, "");
  ASSERT_EQ(ui.Boxes().size(), 1u);
  EXPECT_EQ(ui.Boxes()[0].title, "Corvalink");
  EXPECT_EQ(ui.Boxes()[0].buttons, platform::forms::vbInformation);
}

TEST_F(SignInTest, UnconfirmedAccountGetsTheAccountMessage) {
  // The service reports a database it cannot open as a failed page, whose text ends with its reason.
  service_->SetFault("kvrGetQBMenuSpecs.asp", "status 500");
  service_->SetAnswer("kvrGetQBMenuSpecs.asp", "ERROR:Failed to open the Client's database.");
  menutest::ScopedEnv mail("CORVALINK_SUPPORT_EMAIL", "help@example.test");
  menutest::ScopedEnv phone("CORVALINK_SUPPORT_PHONE", "555-0100");
  kvtest::ScriptedUi ui;
  ui.ExpectBox(
      "Your account has not been confirmed. To confirm your account, check your email inbox, you should have "
      "received a confirmation email. The email was sent to the email account you entered during signup process. "
      "If you have not received this email, please contact help@example.test or call 555-0100.");
  frmOnlineAccess& dialog = Dialog();
  EXPECT_EQ(dialog.DownloadFromKV("jane", "p&ss #1", false), corvalink::kSignInRefused);
  EXPECT_TRUE(dialog.Loaded());
}

TEST_F(SignInTest, AnswersWithoutExactlyFiveLinesAreRefused) {
  kvtest::ScriptedUi ui;
  frmOnlineAccess& dialog = Dialog();
  // A trailing line end makes a sixth part.
  service_->SetAnswer("kvrGetQBMenuSpecs.asp", "ACME\r\nK-77\r\n\r\nx\r\ny\r\n");
  ui.ExpectBox(kCouldNotRetrieve);
  EXPECT_EQ(dialog.DownloadFromKV("jane", "p&ss #1", false), corvalink::kSignInRefused);
  service_->SetAnswer("kvrGetQBMenuSpecs.asp", "ACME\r\nK-77\r\nC:\\x.QBW");
  ui.ExpectBox(kCouldNotRetrieve);
  EXPECT_EQ(dialog.DownloadFromKV("jane", "p&ss #1", false), corvalink::kSignInRefused);
  // Lines split at LF alone are not the service's lines either.
  service_->SetAnswer("kvrGetQBMenuSpecs.asp", "A\nB\nC\nD\nE");
  ui.ExpectBox(kCouldNotRetrieve);
  EXPECT_EQ(dialog.DownloadFromKV("jane", "p&ss #1", false), corvalink::kSignInRefused);
  EXPECT_EQ(MainMod().SiteCode, "");
  EXPECT_TRUE(dialog.Loaded());
}

TEST_F(SignInTest, AnswersAsRealPagesAndWithALineBreakAtTheEnd) {
  kvtest::ScriptedUi ui;
  frmOnlineAccess& dialog = Dialog();
  // The site lines as an HTML page: the source's own line breaks are no lines, the <br> are.
  service_->SetAnswer("kvrGetQBMenuSpecs.asp",
                      "<html>\r\n  <body>\r\n    ACME<br>\r\n    K-77<br>\r\n    C:\\QB\\b.QBW<br>\r\n    x<br>\r\n"
                      "    y\r\n  </body>\r\n</html>\r\n");
  EXPECT_EQ(dialog.DownloadFromKV("jane", "p&ss #1", true), corvalink::kSignInOk);
  EXPECT_EQ(MainMod().QBFilePath, "C:\\QB\\b.QBW");

  for (const std::string& refusal :
       {std::string("ERROR:") + kRefusal + "\r\n",
        std::string("<html>\r\n<body>\r\n  ERROR:") + kRefusal + "\r\n</body>\r\n</html>"}) {
    service_->SetAnswer("kvrGetQBMenuSpecs.asp", refusal);
    ui.ExpectBoxContaining(kRefusal);
    EXPECT_EQ(dialog.DownloadFromKV("jane", "p&ss #1", false), corvalink::kSignInRefused);
  }
  ASSERT_EQ(ui.Boxes().size(), 2u);
  EXPECT_EQ(ui.Boxes()[1].prompt, kRefusal);
  EXPECT_EQ(ui.Boxes()[1].buttons, platform::forms::vbInformation);
  EXPECT_EQ(ui.Boxes()[0].buttons, platform::forms::vbInformation);
}

TEST_F(SignInTest, APasswordNeverShowsInWhatTheSignInShows) {
  kvtest::ScriptedUi ui;
  frmOnlineAccess& dialog = Dialog();
  const auto sign_in = [&] {
    ui.ExpectBoxContaining("The page cannot be displayed");
    EXPECT_EQ(dialog.DownloadFromKV("jane", "S3cret!", false), corvalink::kSignInRefused);
  };
  MainMod().ServerURL = "127.0.0.1:1/";
  sign_in();
  MainMod().ServerURL = "http://127.0.0.1:1/";
  sign_in();
  MainMod().ServerURL = service_->BaseUrl();
  {
    menutest::ScopedEnv stall("KV_WEB_STALL_TIMEOUT_MS", "300");
    service_->SetFault("kvrGetQBMenuSpecs.asp", "delay-ms 3000");
    sign_in();
  }
  service_->SetFault("kvrGetQBMenuSpecs.asp", "status 500");
  service_->SetAnswer("kvrGetQBMenuSpecs.asp",
                      "<body>No page for /kvrGetQBMenuSpecs.asp?user=jane&pwd=S3cret%21</body>");
  sign_in();
  ASSERT_EQ(ui.Boxes().size(), 4u);
  for (const auto& box : ui.Boxes()) {
    EXPECT_EQ(box.prompt.find("S3cret"), std::string::npos) << box.prompt;
  }
  EXPECT_NE(ui.Boxes()[0].prompt.find("pwd=(hidden)"), std::string::npos) << ui.Boxes()[0].prompt;
}

TEST_F(SignInTest, BlankCredentialsSendNothing) {
  kvtest::ScriptedUi ui;
  const std::string required =
      "This information is required to proceed with this setup..\r\nPlease press cancel to exit the setup..";
  ui.ExpectBox(required);
  ui.ExpectBox(required);
  frmOnlineAccess& dialog = Dialog();
  dialog.txtUserID.Type("   ");
  dialog.txtPassword.Type("secret");
  dialog.Okey.Click();
  dialog.txtUserID.Type("jane");
  dialog.txtPassword.Type("  ");
  dialog.Okey.Click();
  EXPECT_TRUE(SignIns().empty());
  EXPECT_TRUE(dialog.Loaded());
}

TEST_F(SignInTest, SilentRefreshShowsNothingAndAsksToKeepTheUser) {
  kvtest::ScriptedUi ui;  // no box may come
  frmOnlineAccess& dialog = Dialog();
  EXPECT_EQ(dialog.DownloadFromKV("ACME", "K-77", true), corvalink::kSignInOk);
  EXPECT_TRUE(dialog.Loaded());
  EXPECT_EQ(MainMod().SiteCode, "ACME2");
  EXPECT_EQ(MainMod().SiteID, "K-78");
  EXPECT_EQ(MainMod().QBFilePath, "C:\\QB\\a.QBW");
  EXPECT_EQ(dialog.DownloadFromKV("ACME", "nope", true), corvalink::kSignInRefused);
  EXPECT_EQ(MainMod().SiteCode, "ACME2");
  const auto requests = SignIns();
  ASSERT_EQ(requests.size(), 2u);
  EXPECT_EQ(requests[0].QueryValue("storuser"), "1");
}

TEST_F(SignInTest, UnreachableOrStalledServiceEndsWithItsErrorText) {
  menutest::ScopedEnv stall("KV_WEB_STALL_TIMEOUT_MS", "300");
  service_->SetFault("kvrGetQBMenuSpecs.asp", "delay-ms 3000");
  kvtest::ScriptedUi ui;
  ui.ExpectBoxContaining("The page cannot be displayed");
  frmOnlineAccess& dialog = Dialog();
  // The late answer would sign jane in: the refusal shows that the stall, not the answer, ended the wait.
  EXPECT_EQ(dialog.DownloadFromKV("jane", "p&ss #1", false), corvalink::kSignInRefused);
  EXPECT_FALSE(dialog.SignedIn());
  EXPECT_NE(MainMod().SiteCode, "ACME");
  EXPECT_EQ(platform::forms::Screen().MousePointer, platform::forms::vbArrow);
}

TEST_F(SignInTest, CancelSignupHelpAndTheProgressBar) {
  kvtest::ScriptedUi ui;
  frmOnlineAccess& dialog = Dialog();
  dialog.cmdSignUp.Click();
  dialog.Command1.Click();
  EXPECT_EQ(Opened(), (std::vector<std::string>{service_->BaseUrl() + "KalvorSignup1.asp?qbmenu=1",
                                                service_->BaseUrl() + "help/QBmenu.html"}));
  dialog.Shape1.SetWidth(corvalink::kProgressWidth);
  dialog.Timer1.OnTimer();
  EXPECT_EQ(dialog.Shape1.Width(), corvalink::kProgressWidth + 10);
  dialog.Timer1.OnTimer();
  EXPECT_EQ(dialog.Shape1.Width(), 0);
  dialog.cancel.Click();
  EXPECT_TRUE(dialog.CancelPressed());
  EXPECT_FALSE(dialog.Loaded());
  EXPECT_FALSE(dialog.SignedIn());
}

// The service may sit behind https; a base URL configured without its final "/" gets one.
class HttpsSignInTest : public menutest::AgentTest {
 protected:
  HttpsSignInTest()
      : service_({"--tls-cert", kv::test::TestCertificate(), "--tls-key", kv::test::TestCertificateKey()}),
        ca_env_("KV_WEB_CA_FILE", kv::test::TestCertificate()),
        server_env_("CORVALINK_SERVER_URL", service_.BaseUrl().substr(0, service_.BaseUrl().size() - 1)) {
    service_.WriteFile("accounts.txt", menutest::AccountLine("jane", "p&ss #1", "ACME", "K-77", "C:\\QB\\a.QBW"));
  }
  // The forms go before the service, so no kept-alive connection holds the stand-in at its stop.
  ~HttpsSignInTest() override { platform::forms::ResetDefaultInstances(); }

  kv::test::ServiceStandinProcess service_;
  menutest::ScopedEnv ca_env_;
  menutest::ScopedEnv server_env_;
};

TEST_F(HttpsSignInTest, SignsInOverHttps) {
  ASSERT_EQ(service_.BaseUrl().rfind("https://", 0), 0u);
  kvtest::ScriptedUi ui;  // no box may come
  frmOnlineAccess& dialog = DefaultInstance<frmOnlineAccess>();
  dialog.Load();
  EXPECT_EQ(MainMod().ServerURL, service_.BaseUrl());
  dialog.txtUserID.Type("jane");
  dialog.txtPassword.Type("p&ss #1");
  ASSERT_TRUE(dialog.Okey.Click());
  EXPECT_TRUE(dialog.SignedIn());
  EXPECT_EQ(MainMod().SiteCode, "ACME");
  EXPECT_EQ(MainMod().SiteID, "K-77");
  EXPECT_EQ(MainMod().QBFilePath, "C:\\QB\\a.QBW");
  const auto received = service_.Received();
  ASSERT_EQ(received.size(), 1u);
  EXPECT_EQ(received[0].QueryValue("pwd"), "p&ss #1");
}

}  // namespace
