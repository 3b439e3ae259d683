// The choice of mode and the setup run, against the scriptable QuickBooks and the service stand-in.

#include "menu_agent/setup_run.h"

#include <gtest/gtest.h>

#include <filesystem>

#include "menu_agent/main_mod.h"
#include "menu_agent/online_access.h"
#include "platform/qb/qb_errors.h"
#include "tests/menu_agent/menu_test_support.h"
#include "tests/support/qb/fake_quickbooks.h"
#include "tests/support/scripted_presenter_scope.h"
#include "tests/support/service/service_standin.h"

namespace {

using corvalink::MainMod;
using corvalink::SetupOutcome;
using platform::forms::Form;
namespace qb = platform::qb;

constexpr char kAdded[] =
    "Kalvor menu items added to QuickBooks under File | Kalvor. Please restart QuickBooks to see the new menu items "
    "and to complete installation.";

TEST(ModeChoice, OnlyTheSingleLetterAStartsTheSetupRun) {
  using V = std::vector<std::string>;
  EXPECT_TRUE(corvalink::IsSetupCommandLine(V{"a"}));
  EXPECT_FALSE(corvalink::IsSetupCommandLine(V{"A"}));
  EXPECT_FALSE(corvalink::IsSetupCommandLine(V{" a"}));
  EXPECT_FALSE(corvalink::IsSetupCommandLine(V{"a "}));
  EXPECT_FALSE(corvalink::IsSetupCommandLine(V{"a", "b"}));
  EXPECT_FALSE(corvalink::IsSetupCommandLine(V{"", "a"}));
  EXPECT_FALSE(corvalink::IsSetupCommandLine(V{}));
  EXPECT_FALSE(corvalink::IsSetupCommandLine(V{"-Embedding"}));
}

class SetupTest : public menutest::AgentTest {
 protected:
  static void SetUpTestSuite() { service_ = new kv::test::ServiceStandinProcess(); }
  static void TearDownTestSuite() {
    delete service_;
    service_ = nullptr;
  }

  SetupTest()
      : server_env_("CORVALINK_SERVER_URL", service_->BaseUrl()),
        address_env_("CORVALINK_PUBLIC_ADDRESS", "www.kalvor.test"),
        qb_site_env_("CORVALINK_QUICKBOOKS_URL", "http://quickbooks.test/") {
    service_->RemoveFile("answers/kvrGetQBMenuUpdQBPath.asp");
    company_ = (Dir() / "Acme Co.QBW").string();
    menutest::WriteAll(company_, "<QBStandinCompany/>");
    qb_.companyFile = company_;
    OnRecord("");
    first_ = service_->Received().empty() ? 0 : service_->Received().back().number;
  }

  void OnRecord(const std::string& path) {
    service_->WriteFile("accounts.txt", menutest::AccountLine("jane", "pw", "ACME", "K-77", path));
  }
  // The sign-in as the user does it in the dialog.
  void QueueSignIn(kvtest::ScriptedUi& ui) {
    ui.QueueModal([](Form& form) {
      auto& dialog = static_cast<corvalink::frmOnlineAccess&>(form);
      dialog.txtUserID.Type("jane");
      dialog.txtPassword.Type("pw");
      dialog.Okey.Click();
    });
  }
  std::vector<kv::test::ReceivedRequest> Requests() const {
    std::vector<kv::test::ReceivedRequest> out;
    for (auto& r : service_->Received()) {
      if (r.number > first_) out.push_back(r);
    }
    return out;
  }
  std::vector<std::string> SessionCalls() const {
    std::vector<std::string> out;
    for (const auto& call : qb_.calls) out.push_back(call.operation);
    return out;
  }

  static kv::test::ServiceStandinProcess* service_;
  menutest::ScopedEnv server_env_;
  menutest::ScopedEnv address_env_;
  menutest::ScopedEnv qb_site_env_;
  qb::fake::FakeQuickBooks qb_;
  std::string company_;
  uint64_t first_ = 0;
};

kv::test::ServiceStandinProcess* SetupTest::service_ = nullptr;

TEST_F(SetupTest, SignsInRecordsTheOpenFileAndAddsTheMenu) {
  qb_.companyFile = "C:\\QB Files\\A&B #2.QBW";
  kvtest::ScriptedUi ui;
  QueueSignIn(ui);
  ui.ExpectBox(kAdded);
  EXPECT_EQ(corvalink::RunSetup(), SetupOutcome::kMenuAdded);

  EXPECT_EQ(SessionCalls(),
            (std::vector<std::string>{"CreateSessionManager", "GetVersion", "Release", "CreateSessionManager",
                                      "OpenConnection", "BeginSession", "GetCurrentCompanyFileName", "EndSession",
                                      "CloseConnection", "Release", "CreateSessionManager", "OpenConnection",
                                      "CreateSubscriptionMsgSetRequest", "DoSubscriptionRequests", "CloseConnection",
                                      "Release"}));
  EXPECT_EQ(qb_.calls[5].args, (std::vector<std::string>{"", "2"}));
  EXPECT_EQ(qb_.calls[4].args, (std::vector<std::string>{"", "Kalvor"}));

  const auto requests = Requests();
  ASSERT_EQ(requests.size(), 2u);
  EXPECT_EQ(requests[0].Page(), "kvrGetQBMenuSpecs.asp");
  EXPECT_EQ(requests[1].Page(), "kvrGetQBMenuUpdQBPath.asp");
  EXPECT_EQ(requests[1].Query(), (std::vector<std::pair<std::string, std::string>>{
                                     {"sCde", "ACME"}, {"sKey", "K-77"}, {"qbfile", "C:\\QB Files\\A&B #2.QBW"}}));
  EXPECT_EQ(MainMod().QBFilePath, "C:\\QB Files\\A&B #2.QBW");
  EXPECT_EQ(MainMod().CurrentQBFile, "C:\\QB Files\\A&B #2.QBW");
  EXPECT_EQ(platform::forms::Screen().MousePointer, platform::forms::vbArrow);
  // The menu carries the site values of the sign-in.
  const auto subscription = qb_.SubscriptionOf(corvalink::kSubscriberID);
  ASSERT_TRUE(subscription);
  EXPECT_EQ(subscription->MenuExtensionSubscription.Submenu->MenuItemList.GetAt(11).EventTag, "K-77");
  EXPECT_EQ(subscription->MenuExtensionSubscription.Submenu->MenuItemList.GetAt(12).EventTag, "ACME");
  EXPECT_EQ(Opened(), std::vector<std::string>{service_->BaseUrl() + "help/QBmenuInstallHelp.html"});
}

TEST_F(SetupTest, AnyRegistrationAnswerGoesOn) {
  service_->SetAnswer("kvrGetQBMenuUpdQBPath.asp", "ERROR: not recorded");
  kvtest::ScriptedUi ui;
  QueueSignIn(ui);
  ui.ExpectBox(kAdded);
  EXPECT_EQ(corvalink::RunSetup(), SetupOutcome::kMenuAdded);
  EXPECT_EQ(MainMod().QBFilePath, company_);
}

TEST_F(SetupTest, MatchingFileOnRecordIsNotRecordedAgain) {
  OnRecord(company_);
  kvtest::ScriptedUi ui;
  QueueSignIn(ui);
  ui.ExpectBox(kAdded);
  EXPECT_EQ(corvalink::RunSetup(), SetupOutcome::kMenuAdded);
  ASSERT_EQ(Requests().size(), 1u);
}

TEST_F(SetupTest, OldLibraryEndsBeforeTheSignIn) {
  qb_.libraryVersion = {2, 1, 0, 0};
  kvtest::ScriptedUi ui;
  ui.ExpectBox(
      "Kalvor requires QuickBooks 2004 pro or later. \r\nKalvor does not support QuickBooks Simple Start or Basic "
      "edition.");
  EXPECT_EQ(corvalink::RunSetup(), SetupOutcome::kEnded);
  EXPECT_TRUE(ui.ModalForms().empty());
  EXPECT_EQ(qb_.ObjectsAlive(), 0);
}

TEST_F(SetupTest, MissingFileOnRecordEndsBeforeAnySession) {
  for (const std::string& path : {std::string("C:\\QB\\Gone.QBW"), std::string("   "), Dir().string()}) {
    SCOPED_TRACE(path);
    OnRecord(path);
    qb_.calls.clear();
    kvtest::ScriptedUi ui;
    QueueSignIn(ui);
    ui.ExpectBox("The QuickBooks file \u201c" + path +
                 "\u201d (as per your Kalvor records) is not found on your machine.\r\n\r\nLogin to "
                 "'www.kalvor.test' and change your QuickBooks file location under Customize | QuickBooks "
                 "Preferences");
    EXPECT_EQ(corvalink::RunSetup(), SetupOutcome::kEnded);
    EXPECT_EQ(qb_.CountOf("BeginSession"), 0);
    EXPECT_EQ(qb_.CountOf("CloseConnection"), 1);
    EXPECT_EQ(qb_.OpenConnections(), 0);
  }
}

TEST_F(SetupTest, FileOnRecordDifferingInLetterCaseEnds) {
  const std::string upper = (Dir() / "ACME CO.QBW").string();
  menutest::WriteAll(upper, "x");
  OnRecord(upper);
  kvtest::ScriptedUi ui;
  QueueSignIn(ui);
  ui.ExpectBox("The QuickBooks file \u201c" + upper +
               "\u201d (as per your Kalvor records) is not your current Quickbooks file.\r\n\r\nPlease open "
               "QuickBooks with correct file and try again..");
  EXPECT_EQ(corvalink::RunSetup(), SetupOutcome::kEnded);
  EXPECT_EQ(qb_.CountOf("EndSession"), 0);
  EXPECT_EQ(qb_.CountOf("CloseConnection"), 1);
  EXPECT_FALSE(qb_.SubscriptionOf(corvalink::kSubscriberID));
}

// The file on record and the open one are compared as files: a link to the open file names it.
TEST_F(SetupTest, ALinkOnRecordToTheOpenFileIsTheOpenFile) {
  const std::string link = (Dir() / "Books link.QBW").string();
  std::filesystem::create_symlink(company_, link);
  OnRecord(link);
  kvtest::ScriptedUi ui;
  QueueSignIn(ui);
  ui.ExpectBox(kAdded);
  EXPECT_EQ(corvalink::RunSetup(), SetupOutcome::kMenuAdded);
  EXPECT_EQ(Requests().size(), 1u);  // nothing to record
  EXPECT_EQ(MainMod().QBFilePath, link);
}

TEST_F(SetupTest, ADotFileOnRecordIsFoundLikeAnyOther) {
  const std::string dot = (Dir() / ".books.QBW").string();
  menutest::WriteAll(dot, "<QBStandinCompany/>");
  qb_.companyFile = dot;
  OnRecord(dot);
  kvtest::ScriptedUi ui;
  QueueSignIn(ui);
  ui.ExpectBox(kAdded);
  EXPECT_EQ(corvalink::RunSetup(), SetupOutcome::kMenuAdded);
  EXPECT_EQ(qb_.CountOf("BeginSession"), 1);
}

TEST_F(SetupTest, DialogClosedWithoutSignInEndsLikeCancel) {
  kvtest::ScriptedUi ui;
  ui.QueueModal([](Form& form) { form.Unload(platform::forms::vbFormControlMenu); });
  EXPECT_EQ(corvalink::RunSetup(), SetupOutcome::kEnded);
  ui.QueueModal([](Form& form) { static_cast<corvalink::frmOnlineAccess&>(form).cancel.Click(); });
  EXPECT_EQ(corvalink::RunSetup(), SetupOutcome::kEnded);
  EXPECT_EQ(qb_.CountOf("OpenConnection"), 0);
  EXPECT_TRUE(Requests().empty());
}

TEST_F(SetupTest, RetryAfterAWrongPasswordInTheSameDialog) {
  kvtest::ScriptedUi ui;
  ui.QueueModal([](Form& form) {
    auto& dialog = static_cast<corvalink::frmOnlineAccess&>(form);
    dialog.txtUserID.Type("jane");
    dialog.txtPassword.Type("wrong");
    dialog.Okey.Click();
    dialog.txtPassword.Type("pw");
    dialog.Okey.Click();
  });
  ui.ExpectBox("Invalid username or password. Please try again.");
  ui.ExpectBox(kAdded);
  EXPECT_EQ(corvalink::RunSetup(), SetupOutcome::kMenuAdded);
}

struct ErrorCase {
  int64_t number;
  const char* operation;
  std::string message;  // "" when the box shows the error's own description
  int buttons;
  SetupOutcome outcome;
};

TEST_F(SetupTest, QuickBooksErrorsGetTheirMessages) {
  const std::vector<ErrorCase> cases = {
      {qb::kErrQBNotRunning, "BeginSession",
       "To continue with install, QuickBooks must be open with the correct company file. Please open QuickBooks and "
       "try again..",
       64, SetupOutcome::kEnded},
      {qb::kErrQBNoCompanyFile, "BeginSession",
       "To continue with install, QuickBooks must be open with the correct company file. Please open QuickBooks and "
       "try again..",
       64, SetupOutcome::kEnded},
      {qb::kErrAccessDenied, "OpenConnection",
       "To continue with install, you must allow this application to access Quickbooks company file. Please grant "
       "access permissions through the Integrated Applications company preferences.",
       64, SetupOutcome::kEnded},
      {qb::kErrNoPermission, "BeginSession", "", 64, SetupOutcome::kEnded},
      {qb::kErrQBGeneral, "GetCurrentCompanyFileName", "", 64, SetupOutcome::kEnded},
      {qb::kErrDifferentFileOpen, "BeginSession",
       "Your current QuickBooks file does not match with the file you are using with Kalvor, please open the correct "
       "company file and try again.\r\n\r\nFile linked to Kalvor : ",
       64, SetupOutcome::kEnded},
      {qb::kErrSingleUserConflict, "BeginSession",
       "The company file is open in single user mode and there is already another application accessing it.  You "
       "need to have the other application end its session with the company file before this program can be run "
       "successfully.",
       0, SetupOutcome::kEnded},
      {qb::kErrCannotCreateObject, "CreateSessionManager",
       "Kalvor requires QuickBooks Pro 2004 or later to be installed on this machine. You can get more information "
       "about QuickBooks at http://quickbooks.test/",
       64, SetupOutcome::kMenuNotAdded},
      {qb::kErrCannotReachQuickBooks, "DoSubscriptionRequests", "", 64, SetupOutcome::kMenuNotAdded},
  };
  for (const ErrorCase& c : cases) {
    SCOPED_TRACE(c.operation + std::string(" ") + std::to_string(c.number));
    qb_.ClearFailures();
    qb_.FailOn(c.operation, c.number, "QuickBooks says no (" + std::to_string(c.number) + ")");
    corvalink::ResetMainMod();
    kvtest::ScriptedUi ui;
    if (std::string(c.operation) != "CreateSessionManager") QueueSignIn(ui);
    ui.ExpectBox(c.message.empty() ? "QuickBooks says no (" + std::to_string(c.number) + ")" : c.message);
    EXPECT_EQ(corvalink::RunSetup(), c.outcome);
    ASSERT_EQ(ui.Boxes().size(), 1u);
    EXPECT_EQ(ui.Boxes()[0].buttons, c.buttons);
    EXPECT_EQ(ui.Boxes()[0].title, "Corvalink");
    EXPECT_EQ(qb_.OpenConnections(), 0);
    EXPECT_EQ(qb_.ObjectsAlive(), 0);
  }
}

TEST_F(SetupTest, RefusedMenuIsReportedAndNotCountedAsAdded) {
  auto refused = std::make_unique<qb::SubscriptionMsgSetResponse>();
  refused->MutableResponseList().Append(
      qb::SubscriptionResponse(qb::kRtUIExtensionSubscriptionAddRs, 3250, "Error", " Not now."));
  qb_.QueueSubscriptionResponse(std::move(refused));
  kvtest::ScriptedUi ui;
  QueueSignIn(ui);
  ui.ExpectBox("Could not add Kalvor menu to QuickBooks menu. Not now.");
  EXPECT_EQ(corvalink::RunSetup(), SetupOutcome::kMenuNotAdded);
}

}  // namespace
