// The wizard's steps as the user moves through them: Start Sync, the checks before a run, the run and its end.

#include <sys/stat.h>

#include "platform/base/error.h"
#include "platform/base/text.h"
#include "platform/forms/form.h"
#include "platform/forms/presenter.h"
#include "sync_control/brintavel_ctl.h"
#include "sync_control/result_messages.h"
#include "sync_control/upload_form.h"
#include "sync_control/wizard_messages.h"

namespace brintavel {
namespace {

using platform::forms::MsgBox;
using platform::forms::vbCritical;
using platform::forms::vbInformation;

void SetMousePointer(int pointer) {
  platform::forms::Screen().MousePointer = pointer;
}

void ShowCritical(const std::string& text) {
  MsgBox(text, vbCritical);
}

bool IsBlank(const std::string& text) {
  return kv::TrimBlanks(text).empty();
}

// Marks a run as active for the length of the Start Sync click, whichever way it ends.
class RunScope {
 public:
  RunScope(bool& flag, std::initializer_list<platform::forms::Control*> locked) : flag_(flag), locked_(locked) {
    flag_ = true;
    for (auto* control : locked_) control->SetEnabled(false);
  }
  ~RunScope() {
    for (auto* control : locked_) control->SetEnabled(true);
    flag_ = false;
  }
  RunScope(const RunScope&) = delete;
  RunScope& operator=(const RunScope&) = delete;

 private:
  bool& flag_;
  std::vector<platform::forms::Control*> locked_;
};

}  // namespace

void BrintavelCtl::cmdNav_Click(int index) {
  switch (index) {
    case 0:
      MsgBox(kHelpMessage, vbInformation);
      break;
    case 1: {
      FrmKVUpload& form = UploadForm();
      if (form.bIsUploading) form.CancelRequest();
      break;
    }
    case 3:
      // A second run started inside an upload wait would share the stream and the counters with the first.
      if (run_active_) return;
      try {
        StartSync();
      } catch (const std::exception& e) {
        // The page never sees an error: whatever escaped a step ends the run with its text.
        SetMousePointer(platform::forms::vbDefault);
        ShowCritical(e.what());
        EndSyncSession();
        ResetWizard();
      }
      break;
    default:
      break;
  }
}

void BrintavelCtl::EndSyncSession() {
  // A session left open keeps the company file locked for everyone else.
  EndQBSession();
  CloseQBConnection();
}

void BrintavelCtl::StartSync() {
  if (!AnyListTicked()) {
    MsgBox("Please select atleast a single item for syncronization", vbInformation);
    return;
  }

  RunScope run(run_active_, {&cmdNav[3], &cmdSelectAll, &chkDebugMode});
  cmdSelectAll.SetVisible(false);
  frameComm.SetVisible(true);
  frameComm.Refresh();
  ResetRunCounters();

  if (!HasConnectionSettings()) {
    MsgBox(
        "You need to provide KVSecureServerURL, QBFilePath, SiteCode, SiteKey and KalvorUser name to connect for "
        "sync..",
        vbInformation);
    ResetWizard();
    return;
  }
  DefaultLastSyncDates();
  DefaultLexicons();

  if (!OpenCompanyFile()) return;
  if (!QueryTickedLists()) return;
  ProcessResponse();
  if (bAbortSync) return EndInterruptedRun();

  SetMousePointer(platform::forms::vbDefault);
  if (Module().bSyncError) return EndRunKeepingSelection(true);
  lblProcessing.SetCaption("Response Processed");
  lblProcessing.Refresh();
  ReportRunResult();
}

bool BrintavelCtl::AnyListTicked() const {
  const platform::forms::CheckBox* const lists[] = {&chkQBTasks,    &chkQBCOA,       &chkQBCustomers,
                                                    &chkQBEmployee, &chkQBPayTerms,  &chkQBVendors,
                                                    &chkQBClasses,  &chkQBTimesheet, &chkQBExpense};
  for (const auto* box : lists) {
    if (box->Value() == platform::forms::vbChecked) return true;
  }
  return false;
}

void BrintavelCtl::ResetRunCounters() {
  ModWizard& m = Module();
  m.varTasksAdded = false;
  m.varProjectsAdded = false;
  m.lngSyncMode = kSyncModeUpload;
  // Every count and failure counter starts from zero, so a run never reports what an earlier one did.
  m.varClassCount = m.varEmployeeCount = m.varCustomerCount = m.varProjectCount = 0;
  m.varGLAccountCount = m.varTaskCount = m.varVendorCount = 0;
  m.varTimeCount = m.varExpenseCount = m.varExpenseTotal = 0;
  lngFailedCustCnt = lngFailedEmpCnt = lngFailedProjCnt = lngFailedItemCnt = 0;
  lngFailedGLCnt = lngFailedClassCnt = lngFailedVendCnt = lngFailedTimeCnt = lngFailedExpCnt = 0;
  mDisplayTSError = false;
  mDisplayEXPError = false;
}

bool BrintavelCtl::HasConnectionSettings() const {
  return !IsBlank(KVSecureServerURL) && !IsBlank(QBFilePath) && !IsBlank(SiteCode) && !IsBlank(SiteKey) &&
         !IsBlank(KalvorUser);
}

void BrintavelCtl::DefaultLastSyncDates() {
  ModWizard& m = Module();
  const kv::DateTime start_of_2000 = kv::DateTime::FromParts(2000, 1, 1);
  for (kv::DateTime* date :
       {&m.CustomerLastSyncDate, &m.EmployeeLastSyncDate, &m.GLAccountsLastSyncDate, &m.ClassLastSyncDate,
        &m.TasksLastSyncDate, &m.VendorsLastSyncDate, &m.TimeLastSyncDate, &m.ExpenseLastSyncDate}) {
    if (date->IsZero()) *date = start_of_2000;
  }
}

void BrintavelCtl::DefaultLexicons() {
  auto default_word = [](std::string& word, const char* fallback) {
    if (IsBlank(word)) word = fallback;
  };
  default_word(EmpLexicon, "Employee");
  default_word(CustLexicon, "Customer");
  default_word(ProjLexicon, "Project");
  default_word(SubProjLexicon, "Sub Project");
  default_word(SILexicon, "Service Item");
}

bool BrintavelCtl::OpenCompanyFile() {
  CheckCompanyFileExists();
  if (Module().bSyncError) {
    EndRunWithoutQuickBooks();
    return false;
  }
  SetMousePointer(platform::forms::vbHourglass);
  ContactQuickBooks();
  if (Module().bSyncError) {
    EndRunWithoutQuickBooks();
    return false;
  }
  chkContactQB.SetValue(platform::forms::vbChecked);
  lblContacting.SetCaption("Contacted QuickBooks");
  lblContacting.Refresh();
  cmdSelectAll.SetVisible(false);
  return true;
}

bool BrintavelCtl::QueryTickedLists() {
  SelectSyncLists();
  if (Module().bSyncError) {
    EndRunKeepingSelection(false);
    return false;
  }
  chkWaitRes.SetValue(platform::forms::vbChecked);
  lblWaiting.SetCaption("Response Received");
  lblWaiting.Refresh();
  return true;
}

void BrintavelCtl::ProcessResponse() {
  FrmKVUpload& form = UploadForm();
  form.Load();
  form.bUploadStatus = false;
  form.bIsInterrupted = false;
  bAbortSync = false;
  ProcessQueryResponse();
}

void BrintavelCtl::EndInterruptedRun() {
  if (lngUploadResult != kvurSuccess) ShowCritical(GetResultMessage(lngUploadResult));
  FrmKVUpload& upload = UploadForm();
  upload.WebBrowser1.Stop();
  upload.bIsInterrupted = true;
  upload.bIsUploading = false;
  upload.Unload();
  ResetWizard();
  EndSyncSession();
}

void BrintavelCtl::ReportRunResult() {
  ModWizard& m = Module();
  if (m.varCustomerCount == 0 && m.varProjectCount == 0 && m.varEmployeeCount == 0 && m.varClassCount == 0 &&
      m.varGLAccountCount == 0 && m.varTaskCount == 0 && m.varVendorCount == 0 && m.varTimeCount == 0 &&
      m.varExpenseTotal == 0) {
    MsgBox("Your Kalvor data is already in sync with your Quickbooks data..", vbInformation);
  } else {
    fraProgress.SetVisible(false);
    UploadForm().Unload();
    lblTransfer1.SetCaption("Transferred data");
    lblTransfer1.Refresh();
    chkProcessing.SetValue(platform::forms::vbChecked);
    MsgBox(SummaryMessage(), vbInformation);
  }
  m.varTasksAdded = false;
  m.varProjectsAdded = false;
  ResetWizard();
  EndSyncSession();
}

void BrintavelCtl::EndRunWithoutQuickBooks() {
  SetMousePointer(platform::forms::vbDefault);
  ShowCritical(Module().sSyncErrorText);
  EndSyncSession();
  ResetWizard();
}

void BrintavelCtl::EndRunKeepingSelection(bool after_processing) {
  SetMousePointer(platform::forms::vbDefault);
  ShowCritical(Module().sSyncErrorText);
  if (after_processing) cmdSelectAll.SetVisible(false);
  frameComm.SetVisible(false);
  lblContacting.SetCaption("Contacting QuickBooks...");
  lblWaiting.SetCaption("Waiting for Response...");
  lblProcessing.SetCaption("Processing response...");
  EndSyncSession();
}

std::string BrintavelCtl::SummaryMessage() const {
  SummaryInput in;
  in.empWord = EmpLexicon;
  in.custWord = CustLexicon;
  in.projWord = ProjLexicon;
  in.itemWord = SILexicon;
  in.failedEmp = lngFailedEmpCnt;
  in.failedCust = lngFailedCustCnt;
  in.failedProj = lngFailedProjCnt;
  in.failedClass = lngFailedClassCnt;
  in.failedGL = lngFailedGLCnt;
  in.failedItem = lngFailedItemCnt;
  in.failedTime = lngFailedTimeCnt;
  in.failedExp = lngFailedExpCnt;
  in.failedVend = lngFailedVendCnt;
  in.timeWarning = mDisplayTSError;
  in.expenseWarning = mDisplayEXPError;
  in.tasksAdded = Module().varTasksAdded;
  in.projectsAdded = Module().varProjectsAdded;
  return BuildSummaryMessage(in);
}

void BrintavelCtl::chkDebugMode_Click() {
  if (chkDebugMode.Value() == platform::forms::vbChecked) {
    chkDebugMode.SetCaption("Debug mode on");
    DebugMode = true;
    optStop.SetVisible(true);
    optContinue.SetVisible(true);
    optStop.SetValue(true);
  } else {
    chkDebugMode.SetCaption("Debug mode off");
    DebugMode = false;
    optStop.SetVisible(false);
    optContinue.SetVisible(false);
  }
}

void BrintavelCtl::cmdSelectAll_Click() {
  if (run_active_) return;
  platform::forms::CheckBox* const six[] = {&chkQBEmployee, &chkQBCustomers, &chkQBCOA,
                                            &chkQBClasses,  &chkQBTasks,     &chkQBVendors};
  if (cmdSelectAll.Caption() == "Select All") {
    for (auto* box : six) box->SetValue(platform::forms::vbChecked);
    cmdSelectAll.SetCaption("Uncheck All");
  } else if (cmdSelectAll.Caption() == "Uncheck All") {
    for (auto* box : six) box->SetValue(platform::forms::vbUnchecked);
    chkQBTimesheet.SetValue(platform::forms::vbUnchecked);
    chkQBExpense.SetValue(platform::forms::vbUnchecked);
    cmdSelectAll.SetCaption("Select All");
  }
}

void BrintavelCtl::Timer1_Timer() {
  lblTransfer2.SetVisible(!lblTransfer2.Visible());
  lblTransfer2.Refresh();
}

void BrintavelCtl::ResetWizard() {
  ResetMousePointer();
  lblProcess.SetCaption("");
  lblProcess.SetVisible(false);
  ProgressBar1.SetValue(0);
  ProgressBar1.SetVisible(false);
  fraProgress.SetVisible(false);
  for (auto* box : {&chkQBEmployee, &chkQBCustomers, &chkQBClasses, &chkQBCOA, &chkQBTasks, &chkQBVendors,
                    &chkContactQB, &chkQBTimesheet, &chkQBExpense, &chkWaitRes, &chkProcessing}) {
    box->SetValue(platform::forms::vbUnchecked);
  }
  Timer1.SetEnabled(false);
  lblTransfer2.SetVisible(false);
  lblTransfer2.Refresh();
  lblTransfer1.SetCaption("Transfering data");
  lblTransfer1.Refresh();
  lblContacting.SetCaption("Contacting QuickBooks");
  lblContacting.Refresh();
  lblWaiting.SetCaption("Waiting for response");
  lblWaiting.Refresh();

  ModWizard& m = Module();
  m.varClassCount = m.varCustomerCount = m.varEmployeeCount = m.varGLAccountCount = 0;
  m.varProjectCount = m.varTaskCount = m.varVendorCount = 0;

  frameComm.SetVisible(false);
  cmdSelectAll.SetCaption("Select All");
  cmdSelectAll.SetVisible(true);

  lngFailedCustCnt = lngFailedEmpCnt = lngFailedProjCnt = lngFailedItemCnt = 0;
  lngFailedGLCnt = lngFailedClassCnt = lngFailedVendCnt = 0;

  chkDebugMode.SetValue(platform::forms::vbUnchecked);
  optStop.SetVisible(false);
  optContinue.SetVisible(false);
}

void BrintavelCtl::CheckCompanyFileExists() {
  ModWizard& m = Module();
  m.sSyncErrorText.clear();
  m.bSyncError = false;
  struct stat info {};
  // Only a plain file counts: a folder of that name is no company file.
  if (QBFilePath.empty() || stat(QBFilePath.c_str(), &info) != 0 || !S_ISREG(info.st_mode)) {
    m.bSyncError = true;
    m.sSyncErrorText = "Cannot find '" + QBFilePath + "'";
  }
}

}  // namespace brintavel
