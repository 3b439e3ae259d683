// Whole runs of the wizard: a scripted user, a fake QuickBooks, the service stand-in and converters that stand in
// for the real ones, recording when they are called.

#include <gtest/gtest.h>
#include <stdlib.h>

#include <filesystem>
#include <fstream>

#include "platform/base/text.h"
#include "platform/forms/event_loop.h"
#include "platform/forms/form.h"
#include "sync_control/brintavel_ctl.h"
#include "sync_control/upload_form.h"
#include "tests/support/qb/fake_quickbooks.h"
#include "tests/support/scripted_presenter_scope.h"
#include "tests/support/service/service_standin.h"

namespace brintavel {
namespace {

using platform::forms::vbChecked;
using platform::forms::vbCritical;
using platform::forms::vbInformation;

constexpr const char* kAlreadyInSync = "Your Kalvor data is already in sync with your Quickbooks data..";
constexpr const char* kFileNotOpen =
    "Your Quickbooks file is not open, please open your Quickbooks file and try again.";

// A converter as the template writes one: statements, an upload, the abort rule and a count.
void UploadOne(BrintavelCtl& ctl, const char* letter, int64_t ModWizard::*count) {
  ctl.objUploadStream->WriteText("statement\r\n");
  ResetMousePointer();
  ctl.nOptions = letter;
  ctl.lngUploadResult = ctl.UploadNow(*ctl.objUploadStream);
  ctl.objUploadStream = NewStatementStream();
  if (ctl.lngUploadResult != kvurSuccess && ctl.lngUploadResult != kvurNoDataToUpload) {
    ctl.bAbortSync = true;
    return;
  }
  Module().*count += 1;
}

class WizardTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ResetModule();
    std::string pattern = (std::filesystem::temp_directory_path() / "kv-wizard-XXXXXX").string();
    ASSERT_NE(mkdtemp(pattern.data()), nullptr);
    dir_ = pattern;
    company_ = (dir_ / "Acme Plumbing.QBW").string();
    std::ofstream(company_) << "company";
    qb_.companyFile = company_;

    ctl_ = std::make_unique<BrintavelCtl>(converters_);
    ctl_->KVSecureServerURL = service_.BaseUrl();
    ctl_->SiteCode = "AC01";
    ctl_->SiteKey = "k";
    ctl_->KalvorUser = "pat";
    ctl_->QBFilePath = company_;
  }
  void TearDown() override {
    ctl_.reset();
    ResetModule();
    std::filesystem::remove_all(dir_);
  }

  void Recording(ConverterSet::Converter ConverterSet::*slot, std::string name,
                 std::function<void(BrintavelCtl&)> body = {}) {
    converters_.*slot = [this, name, body](BrintavelCtl& ctl) {
      calls_.push_back(name);
      if (body) body(ctl);
    };
  }
  void Rebuild() {
    auto url = ctl_->KVSecureServerURL;
    ctl_ = std::make_unique<BrintavelCtl>(converters_);
    ctl_->KVSecureServerURL = url;
    ctl_->SiteCode = "AC01";
    ctl_->SiteKey = "k";
    ctl_->KalvorUser = "pat";
    ctl_->QBFilePath = company_;
  }
  void Start() { ctl_->cmdNav[3].Click(); }
  void ExpectSessionClosed() {
    EXPECT_EQ(qb_.OpenSessions(), 0);
    EXPECT_EQ(qb_.OpenConnections(), 0);
  }
  std::vector<std::string> StatusLetters() const {
    std::vector<std::string> letters;
    for (const auto& request : service_.Received()) {
      if (request.Page() == "brintavelupdatestatus.asp") letters.push_back(request.QueryValue("options"));
    }
    return letters;
  }

  std::filesystem::path dir_;
  std::string company_;
  platform::qb::fake::FakeQuickBooks qb_;
  kv::test::ServiceStandinProcess service_;
  kvtest::ScriptedUi ui_;
  ConverterSet converters_;
  std::vector<std::string> calls_;
  std::unique_ptr<BrintavelCtl> ctl_;
};

// ---- Start Sync: the checks before QuickBooks

TEST_F(WizardTest, NoListTickedChangesNothing) {
  ctl_->chkQBCOA.SetValue(platform::forms::vbGrayed);  // grayed is not ticked
  ui_.ExpectBox("Please select atleast a single item for syncronization");
  Start();
  EXPECT_EQ(ui_.Boxes().at(0).buttons, vbInformation);
  EXPECT_EQ(qb_.processorsCreated, 0);
  EXPECT_FALSE(ctl_->frameComm.Visible());
  EXPECT_TRUE(ctl_->cmdSelectAll.Visible());
}

TEST_F(WizardTest, MissingParameterResetsThePageButKeepsPaymentTerms) {
  ctl_->SiteKey = "   ";
  ctl_->chkQBPayTerms.SetValue(vbChecked);
  ctl_->chkQBVendors.SetValue(vbChecked);
  ui_.ExpectBox(
      "You need to provide KVSecureServerURL, QBFilePath, SiteCode, SiteKey and KalvorUser name to connect "
      "for sync..");
  Start();
  EXPECT_EQ(qb_.processorsCreated, 0);
  EXPECT_TRUE(ctl_->chkQBPayTerms.Ticked());
  EXPECT_FALSE(ctl_->chkQBVendors.Ticked());
  EXPECT_FALSE(ctl_->frameComm.Visible());
}

TEST_F(WizardTest, MissingCompanyFileIsReportedBeforeQuickBooksIsAsked) {
  ctl_->QBFilePath = (dir_ / "gone.QBW").string();
  ctl_->chkQBPayTerms.SetValue(vbChecked);
  ui_.ExpectBox("Cannot find '" + ctl_->QBFilePath + "'");
  Start();
  EXPECT_EQ(ui_.Boxes().at(0).buttons, vbCritical);
  EXPECT_EQ(qb_.processorsCreated, 0);
  EXPECT_EQ(platform::forms::Screen().MousePointer, platform::forms::vbDefault);
  EXPECT_FALSE(ctl_->frameComm.Visible());
  EXPECT_TRUE(ctl_->cmdSelectAll.Visible());
}

// ---- The main road

TEST_F(WizardTest, PaymentTermsOnlyIsAlreadyInSyncAndClosesTheSession) {
  ctl_->chkQBPayTerms.SetValue(vbChecked);
  ui_.ExpectBox(kAlreadyInSync);
  Start();
  EXPECT_EQ(ui_.Boxes().at(0).buttons, vbInformation);
  ASSERT_EQ(qb_.requests.size(), 1u);
  EXPECT_NE(qb_.requests[0].find("<StandardTermsQueryRq requestID = \"1\">"), std::string::npos);
  EXPECT_EQ(service_.ReceivedCount(), 0u);
  ExpectSessionClosed();
  // Defaults were filled in for the run.
  EXPECT_EQ(ctl_->EmpLexicon, "Employee");
  EXPECT_EQ(ctl_->SubProjLexicon, "Sub Project");
  EXPECT_EQ(Module().TimeLastSyncDate, kv::DateTime::FromParts(2000, 1, 1));
  // The page is idle again, payment terms still ticked.
  EXPECT_TRUE(ctl_->chkQBPayTerms.Ticked());
  EXPECT_FALSE(ctl_->chkContactQB.Ticked());
  EXPECT_FALSE(ctl_->frameComm.Visible());
  EXPECT_FALSE(ctl_->RunActive());
  EXPECT_TRUE(ctl_->cmdNav[3].Enabled());
}

TEST_F(WizardTest, SetLastSyncDatesAndLexiconsAreKept) {
  Module().VendorsLastSyncDate = kv::DateTime::FromParts(1999, 5, 5);
  ctl_->ProjLexicon = "Job";
  ctl_->CustLexicon = "  ";
  ctl_->chkQBPayTerms.SetValue(vbChecked);
  ui_.ExpectBox(kAlreadyInSync);
  Start();
  EXPECT_EQ(Module().VendorsLastSyncDate, kv::DateTime::FromParts(1999, 5, 5));
  EXPECT_EQ(ctl_->ProjLexicon, "Job");
  EXPECT_EQ(ctl_->CustLexicon, "Customer");
}

TEST_F(WizardTest, DispatcherRunsTheConvertersInTheirFixedOrder) {
  Recording(&ConverterSet::GetEmployeesFromQB, "employees");
  Recording(&ConverterSet::GetCustomersFromQB, "customers");
  Recording(&ConverterSet::GetProjectsFromQB, "projects");
  Recording(&ConverterSet::GetClassesFromQB, "classes");
  Recording(&ConverterSet::GetGLAccountsFromQB, "accounts");
  Recording(&ConverterSet::GetTasksFromQB, "items");
  Recording(&ConverterSet::GetVendorsFromQB, "vendors");
  Recording(&ConverterSet::GetTimeFromQB, "time");
  converters_.GetExpensesFromQB = [this](BrintavelCtl&, int16_t pass) {
    calls_.push_back("expenses " + std::to_string(pass));
  };
  Rebuild();
  for (auto* box : {&ctl_->chkQBExpense, &ctl_->chkQBTimesheet, &ctl_->chkQBVendors, &ctl_->chkQBTasks, &ctl_->chkQBCOA,
                    &ctl_->chkQBClasses, &ctl_->chkQBCustomers, &ctl_->chkQBEmployee}) {
    box->SetValue(vbChecked);
  }
  ui_.ExpectBox(kAlreadyInSync);
  Start();
  EXPECT_EQ(calls_, (std::vector<std::string>{"employees", "customers", "projects", "classes", "accounts", "items",
                                              "vendors", "time", "expenses 1", "expenses 2"}));
  EXPECT_TRUE(StatusLetters().empty());  // nothing converted, no expense report
}

TEST_F(WizardTest, SummaryListsTheListsThatCouldNotBeSent) {
  Recording(&ConverterSet::GetClassesFromQB, "classes", [](BrintavelCtl& ctl) {
    Module().varClassCount = 3;
    ctl.lngFailedClassCnt = 2;
  });
  Rebuild();
  ctl_->chkQBClasses.SetValue(vbChecked);
  ui_.ExpectBox("Quickbooks data synced with Kalvor. Following data could not be sent..\r\n\r\nClasses - 2\r\n");
  Start();
  EXPECT_EQ(ui_.Boxes().at(0).buttons, vbInformation);
  EXPECT_FALSE(HasUploadForm() && UploadForm().Loaded());
  ExpectSessionClosed();
}

TEST_F(WizardTest, FailuresWithoutAnyCountAreStillAlreadyInSync) {
  // The count test comes before the summary: failures alone make no summary.
  Recording(&ConverterSet::GetClassesFromQB, "classes", [](BrintavelCtl& ctl) { ctl.lngFailedClassCnt = 2; });
  Rebuild();
  ctl_->chkQBClasses.SetValue(vbChecked);
  ui_.ExpectBox(kAlreadyInSync);
  Start();
  ExpectSessionClosed();
}

TEST_F(WizardTest, CountersOfAnEarlierRunAreNotReportedAgain) {
  Recording(&ConverterSet::GetClassesFromQB, "classes",
            [](BrintavelCtl& ctl) { UploadOne(ctl, "C", &ModWizard::varClassCount); });
  Rebuild();
  ctl_->lngFailedTimeCnt = 3;
  ctl_->lngFailedExpCnt = 1;
  ctl_->mDisplayTSError = true;
  Module().varTimeCount = 9;
  ctl_->chkQBClasses.SetValue(vbChecked);
  ui_.ExpectBox("Quickbooks data synced with Kalvor successfully..");
  Start();
  EXPECT_EQ(ctl_->lngFailedTimeCnt, 0);
  EXPECT_FALSE(ctl_->mDisplayTSError);
}

TEST_F(WizardTest, TasksAddedAnswerAddsTheBillableNote) {
  service_.SetAnswer("brintavel.asp", "SUCCESS T");
  Recording(&ConverterSet::GetClassesFromQB, "classes",
            [](BrintavelCtl& ctl) { UploadOne(ctl, "C", &ModWizard::varClassCount); });
  Rebuild();
  ctl_->SILexicon = "Task";
  ctl_->chkQBClasses.SetValue(vbChecked);
  ui_.ExpectBoxContaining(
      "Quickbooks data synced with Kalvor successfully..\r\n\r\nThe sync process has added Task(s)");
  Start();
  EXPECT_FALSE(Module().varTasksAdded);  // cleared again at the end of the run
}

// ---- Stops and failures

TEST_F(WizardTest, AbortedConverterStopsTheRunWithTheResultMessage) {
  service_.SetAnswer("brintavel.asp", "Invalid site code or site key. Kindly try again.");
  Recording(&ConverterSet::GetCustomersFromQB, "customers",
            [](BrintavelCtl& ctl) { UploadOne(ctl, "P", &ModWizard::varCustomerCount); });
  Recording(&ConverterSet::GetProjectsFromQB, "projects");
  Rebuild();
  ctl_->chkQBCustomers.SetValue(vbChecked);
  ui_.ExpectBox(
      "Could not connect to the Staffmere. Your account has not been setup or has expired. Go to Maintain | "
      "Staffmere | Setup; to setup or renew your account.");
  Start();
  EXPECT_EQ(ui_.Boxes().at(0).buttons, vbCritical);
  EXPECT_EQ(calls_, (std::vector<std::string>{"customers"}));
  EXPECT_TRUE(UploadForm().bIsInterrupted);
  EXPECT_FALSE(UploadForm().Loaded());
  EXPECT_FALSE(ctl_->chkQBCustomers.Ticked());
  ExpectSessionClosed();
}

TEST_F(WizardTest, StoppedServiceEndsTheRunWithTheFailureMessage) {
  Recording(&ConverterSet::GetClassesFromQB, "classes",
            [](BrintavelCtl& ctl) { UploadOne(ctl, "C", &ModWizard::varClassCount); });
  Rebuild();
  ctl_->KVSecureServerURL = "http://127.0.0.1:1/";
  ctl_->chkQBClasses.SetValue(vbChecked);
  ui_.ExpectBoxContaining("The following error occured while executing ASP.\r\n\r\nThe page cannot be displayed");
  Start();
  ExpectSessionClosed();
}

TEST_F(WizardTest, CancelDuringAnUploadEndsTheRun) {
  service_.SetFault("brintavel.asp", "delay-ms 5000");
  Recording(&ConverterSet::GetClassesFromQB, "classes",
            [](BrintavelCtl& ctl) { UploadOne(ctl, "C", &ModWizard::varClassCount); });
  Recording(&ConverterSet::GetGLAccountsFromQB, "accounts");
  Rebuild();
  ctl_->chkQBClasses.SetValue(vbChecked);
  ctl_->chkQBCOA.SetValue(vbChecked);
  const auto cancel_timer = platform::forms::EventLoop::Current().StartTimer(std::chrono::milliseconds(150), [this] {
    if (ctl_ && ctl_->RunActive() && HasUploadForm() && UploadForm().bIsUploading) ctl_->cmdNav[1].Click();
  });
  ui_.ExpectBox("Sync process cancelled on user request.");
  const auto started = std::chrono::steady_clock::now();
  Start();
  platform::forms::EventLoop::Current().StopTimer(cancel_timer);
  EXPECT_LT(std::chrono::steady_clock::now() - started, std::chrono::seconds(4));
  EXPECT_EQ(calls_, (std::vector<std::string>{"classes"}));
  ExpectSessionClosed();
}

// The callers of a status report go on whatever it answers; a Cancel in its wait must still end the run.
TEST_F(WizardTest, CancelDuringAStatusReportEndsTheRunAndNothingMoreIsSent) {
  service_.SetFault("brintavelupdatestatus.asp", "delay-ms 5000");
  Recording(&ConverterSet::GetClassesFromQB, "classes", [](BrintavelCtl& ctl) {
    UploadOne(ctl, "C", &ModWizard::varClassCount);
    ctl.lngUploadResult = ctl.SendSyncStatus("C");
  });
  Recording(&ConverterSet::GetGLAccountsFromQB, "accounts",
            [](BrintavelCtl& ctl) { UploadOne(ctl, "G", &ModWizard::varGLAccountCount); });
  Rebuild();
  ctl_->chkQBClasses.SetValue(vbChecked);
  ctl_->chkQBCOA.SetValue(vbChecked);
  const auto cancel_timer = platform::forms::EventLoop::Current().StartTimer(std::chrono::milliseconds(150), [this] {
    if (ctl_ && ctl_->RunActive() && HasUploadForm() && UploadForm().bIsUploading && !StatusLetters().empty()) {
      ctl_->cmdNav[1].Click();
    }
  });
  ui_.ExpectBox("Sync process cancelled on user request.");
  Start();
  platform::forms::EventLoop::Current().StopTimer(cancel_timer);
  EXPECT_EQ(calls_, (std::vector<std::string>{"classes"}));
  std::vector<std::string> pages;
  for (const auto& request : service_.Received()) pages.push_back(request.Page() + " " + request.QueryValue("options"));
  EXPECT_EQ(pages, (std::vector<std::string>{"brintavel.asp C", "brintavelupdatestatus.asp C"}));
  ExpectSessionClosed();
}

// A refusal that the service gave before the user pressed Cancel is the run's outcome.
TEST_F(WizardTest, CancelAfterARefusedUploadKeepsTheRefusal) {
  service_.SetAnswer("brintavel.asp", "Invalid statement");
  Recording(&ConverterSet::GetClassesFromQB, "classes", [this](BrintavelCtl& ctl) {
    UploadOne(ctl, "C", &ModWizard::varClassCount);
    ctl_->cmdNav[1].Click();  // nothing in flight any more
  });
  Rebuild();
  ctl_->chkQBClasses.SetValue(vbChecked);
  ui_.ExpectBox("The following error occured while executing ASP.\r\n\r\nInvalid statement");
  Start();
  EXPECT_EQ(StatusLetters(), std::vector<std::string>{});
  ExpectSessionClosed();
}

TEST_F(WizardTest, ButtonsThatWouldStartOrChangeARunAreIgnoredDuringIt) {
  Recording(&ConverterSet::GetClassesFromQB, "classes", [](BrintavelCtl& ctl) {
    ctl.cmdNav[3].RaiseClick();  // a second Start Sync inside the run
    ctl.cmdSelectAll.RaiseClick();
    ctl.chkDebugMode.Click();
    EXPECT_FALSE(ctl.DebugMode);
    EXPECT_FALSE(ctl.chkQBEmployee.Ticked());
  });
  Rebuild();
  ctl_->chkQBClasses.SetValue(vbChecked);
  ui_.ExpectBox(kAlreadyInSync);
  Start();
  EXPECT_EQ(calls_.size(), 1u);
  EXPECT_EQ(qb_.processorsCreated, 1);
}

TEST_F(WizardTest, TheDebugChoiceStaysLiveDuringARun) {
  Recording(&ConverterSet::GetClassesFromQB, "classes", [](BrintavelCtl& ctl) {
    ctl.chkDebugMode.Click();  // ignored: the debug box is locked during the run
    EXPECT_TRUE(ctl.DebugMode);
    ctl.optContinue.Click();
    EXPECT_TRUE(ctl.optContinue.Value());
    EXPECT_FALSE(ctl.optStop.Value());
    ctl.optStop.Click();
    EXPECT_TRUE(ctl.optStop.Value());
  });
  Rebuild();
  ctl_->chkDebugMode.Click();
  ctl_->chkQBClasses.SetValue(vbChecked);
  ui_.ExpectBox(kAlreadyInSync);
  Start();
  EXPECT_EQ(calls_.size(), 1u);
}

TEST_F(WizardTest, ConverterErrorIsShownAndTheLaterConvertersDoNotRun) {
  Recording(&ConverterSet::GetEmployeesFromQB, "employees", [](BrintavelCtl&) {
    Module().bSyncError = true;
    Module().sSyncErrorText = "qbXML response could not be read: bad";
  });
  Recording(&ConverterSet::GetClassesFromQB, "classes");
  Rebuild();
  ctl_->chkQBEmployee.SetValue(vbChecked);
  ctl_->chkQBClasses.SetValue(vbChecked);
  ui_.ExpectBox("qbXML response could not be read: bad");  // the dispatcher's box
  ui_.ExpectBox("qbXML response could not be read: bad");  // the wizard's
  Start();
  EXPECT_EQ(calls_, (std::vector<std::string>{"employees"}));
  // The ticks stay for another try; the session is closed all the same.
  EXPECT_TRUE(ctl_->chkQBClasses.Ticked());
  EXPECT_FALSE(ctl_->cmdSelectAll.Visible());
  EXPECT_EQ(ctl_->lblProcessing.Caption(), "Processing response...");
  ExpectSessionClosed();
}

TEST_F(WizardTest, ExpenseStatusIsReportedOnlyWhenNeitherPassFailed) {
  converters_.GetExpensesFromQB = [](BrintavelCtl& ctl, int16_t pass) {
    Module().varExpenseCount = pass == 1 ? 2 : 1;
    if (pass == 1 && ctl.DebugMode) ctl.lngFailedExpCnt += 1;
  };
  Rebuild();
  ctl_->chkQBExpense.SetValue(vbChecked);
  ui_.ExpectBox("Quickbooks data synced with Kalvor successfully..");
  Start();
  EXPECT_EQ(Module().varExpenseTotal, 3);
  EXPECT_TRUE(service_.WaitForReceived(1));
  EXPECT_EQ(StatusLetters(), (std::vector<std::string>{"X"}));

  // A failure of the checks pass alone now withholds the report too.
  ctl_->chkQBExpense.SetValue(vbChecked);
  ctl_->chkDebugMode.Click();
  ui_.ExpectBox("Quickbooks data synced with Kalvor. Following data could not be sent..\r\n\r\nExpenses - 1\r\n");
  Start();
  EXPECT_EQ(StatusLetters().size(), 1u);
}

// Notes, at each message box, whether the QuickBooks session was still open when the user saw it.
class SessionWatchingUi : public kvtest::ScriptedUi {
 public:
  explicit SessionWatchingUi(const platform::qb::fake::FakeQuickBooks& qb) : qb_(qb) {}
  int MessageBox(std::string_view prompt, int buttons, std::string_view title) override {
    openAtBox.push_back(qb_.OpenSessions());
    return ScriptedUi::MessageBox(prompt, buttons, title);
  }
  std::vector<int> openAtBox;

 private:
  const platform::qb::fake::FakeQuickBooks& qb_;
};

TEST_F(WizardTest, EveryEndOfARunClosesTheSessionAfterItsMessage) {
  using Box = platform::forms::CheckBox BrintavelCtl::*;
  const auto run = [this](const std::string& name, const std::function<void()>& arrange, Box tick,
                          const std::string& box) {
    SCOPED_TRACE(name);
    converters_ = ConverterSet();
    arrange();
    Rebuild();
    ((*ctl_).*tick).SetValue(vbChecked);
    SessionWatchingUi ui(qb_);
    ui.ExpectBoxContaining(box);
    Start();
    EXPECT_EQ(ui.openAtBox, std::vector<int>{1});
    ExpectSessionClosed();
    qb_.ClearFailures();
  };
  const auto upload_classes = [this] {
    Recording(&ConverterSet::GetClassesFromQB, "classes",
              [](BrintavelCtl& ctl) { UploadOne(ctl, "C", &ModWizard::varClassCount); });
  };
  run(
      "already in sync", [] {}, &BrintavelCtl::chkQBPayTerms, kAlreadyInSync);
  run("normal end", upload_classes, &BrintavelCtl::chkQBClasses, "Quickbooks data synced with Kalvor successfully..");
  run(
      "query failed",
      [this] { qb_.FailOn("ProcessRequest", platform::qb::kErrCannotReachQuickBooks, "QuickBooks went away"); },
      &BrintavelCtl::chkQBPayTerms, "QuickBooks went away");
  run(
      "aborted upload",
      [&] {
        service_.SetAnswer("brintavel.asp", "Invalid site code or site key. Kindly try again.");
        upload_classes();
      },
      &BrintavelCtl::chkQBClasses, "Your account has not been setup or has expired.");
  run(
      "other company file", [this] { qb_.companyFile = "/other/Other.QBW"; }, &BrintavelCtl::chkQBPayTerms,
      "does not match");
}

// ---- The QuickBooks session as the run sees it

TEST_F(WizardTest, OtherCompanyFileOpenIsAMismatchAndTheSessionIsEnded) {
  qb_.companyFile = "/other/Other.QBW";
  ctl_->chkQBPayTerms.SetValue(vbChecked);
  ui_.ExpectBox(
      "Your Current Quickbooks file '/other/Other.QBW' does not match with the QB file you are using with "
      "Kalvor '" +
      company_ + "'. \r\nPlease open the correct Quickbooks file and try again.");
  Start();
  EXPECT_EQ(ui_.Boxes().at(0).buttons, vbCritical);
  EXPECT_EQ(qb_.CountOf("EndSession"), 1);
  ExpectSessionClosed();
  EXPECT_TRUE(qb_.requests.empty());
}

TEST_F(WizardTest, QuickBooksNotRunning) {
  qb_.SetNotRunning();
  ctl_->chkQBPayTerms.SetValue(vbChecked);
  ui_.ExpectBox(kFileNotOpen);
  Start();
  ExpectSessionClosed();
}

TEST_F(WizardTest, EmptyTicketStopsTheRun) {
  qb_.ticket = "";
  ctl_->chkQBPayTerms.SetValue(vbChecked);
  ui_.ExpectBox(kFileNotOpen);
  Start();
  EXPECT_TRUE(qb_.requests.empty());
  EXPECT_EQ(qb_.CountOf("GetCurrentCompanyFileName"), 0);
  ExpectSessionClosed();
}

TEST_F(WizardTest, FailedRequestKeepsTheTicksAndClosesTheSession) {
  qb_.FailOn("ProcessRequest", platform::qb::kErrCannotReachQuickBooks, "QuickBooks went away");
  ctl_->chkQBPayTerms.SetValue(vbChecked);
  ctl_->chkQBVendors.SetValue(vbChecked);
  ui_.ExpectBox("QuickBooks went away");
  Start();
  EXPECT_TRUE(ctl_->chkQBVendors.Ticked());
  EXPECT_FALSE(ctl_->frameComm.Visible());
  EXPECT_EQ(ctl_->lblContacting.Caption(), "Contacting QuickBooks...");
  EXPECT_EQ(ctl_->lblWaiting.Caption(), "Waiting for Response...");
  ExpectSessionClosed();
}

TEST_F(WizardTest, EmptyAnswerToARequestIsNoResponse) {
  qb_.QueueResponse("");
  ctl_->chkQBPayTerms.SetValue(vbChecked);
  ui_.ExpectBox("qbXML: no response!");
  Start();
  ExpectSessionClosed();
}

// ---- The smaller buttons

TEST_F(WizardTest, HelpDebugAndSelectAll) {
  ui_.ExpectBox(
      "This wizard helps you sync your QB data with the Kalvor.\r\nYou can either select all the entities for sync or "
      "select one by one depending upon the requirement and hit the 'Start Sync' button.");
  ctl_->cmdNav[0].Click();
  EXPECT_EQ(ui_.Boxes().at(0).buttons, vbInformation);

  ctl_->chkDebugMode.Click();
  EXPECT_TRUE(ctl_->DebugMode);
  EXPECT_EQ(ctl_->chkDebugMode.Caption(), "Debug mode on");
  EXPECT_TRUE(ctl_->optStop.Visible() && ctl_->optStop.Value());
  ctl_->chkDebugMode.Click();
  EXPECT_FALSE(ctl_->DebugMode);
  EXPECT_EQ(ctl_->chkDebugMode.Caption(), "Debug mode off");
  EXPECT_FALSE(ctl_->optContinue.Visible());

  ctl_->chkQBTimesheet.SetValue(vbChecked);
  ctl_->cmdSelectAll.Click();
  EXPECT_EQ(ctl_->cmdSelectAll.Caption(), "Uncheck All");
  EXPECT_TRUE(ctl_->chkQBEmployee.Ticked() && ctl_->chkQBVendors.Ticked() && ctl_->chkQBCOA.Ticked());
  EXPECT_FALSE(ctl_->chkQBExpense.Ticked() || ctl_->chkQBPayTerms.Ticked());
  ctl_->cmdSelectAll.Click();
  EXPECT_EQ(ctl_->cmdSelectAll.Caption(), "Select All");
  EXPECT_FALSE(ctl_->chkQBTimesheet.Ticked() || ctl_->chkQBEmployee.Ticked());

  ctl_->Timer1_Timer();
  EXPECT_TRUE(ctl_->lblTransfer2.Visible());
  ctl_->cmdNav[2].Click();  // Back does nothing
}

TEST_F(WizardTest, VersionCodeComesFromTheLastVersionOfTheSession) {
  const struct {
    std::optional<std::vector<std::string>> versions;
    int32_t code;
  } cases[] = {
      {std::vector<std::string>{"1.0", "1.1", "2.0"}, 2},
      {std::vector<std::string>{"2.0", "CA2.0"}, 8},
      {std::vector<std::string>{"CA1.1"}, 7},
      {std::vector<std::string>{"UK2.0"}, 11},
      {std::vector<std::string>{"2.0", "UK1.1"}, 0},
      {std::vector<std::string>{"CA2.0", "3.0"}, 0},
      {std::vector<std::string>{}, 0},
      {std::nullopt, 0},
  };
  for (const auto& c : cases) {
    qb_.versions = c.versions;
    Module().lngQBXMLVersion = kv::qb::QBXMLVersion{99};
    EXPECT_EQ(ctl_->ContactQuickBooks(), 1);
    EXPECT_EQ(static_cast<int32_t>(Module().lngQBXMLVersion), c.code);
  }
  // Each contact ends and closes what the previous one left open.
  EXPECT_EQ(qb_.OpenSessions(), 1);
  EndQBSession();
  CloseQBConnection();
  ExpectSessionClosed();
}

}  // namespace
}  // namespace brintavel
