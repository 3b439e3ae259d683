// The control's construction, its page parameters and the quoting helper the converters call on it; the
// wizard, dispatcher and transfers have files of their own.

#include "sync_control/brintavel_ctl.h"

#include "platform/base/text.h"

namespace brintavel {
namespace {

// Last-sync date of a list the page says nothing about: everything since the start of 2000 is sent.
constexpr std::string_view kDefaultLastSync = "01/01/2000 01:01:01 AM";

}  // namespace

BrintavelCtl::BrintavelCtl(ConverterSet converters) : UserControl("BrintavelCtl"), converters_(std::move(converters)) {
  Label1.SetCaption(std::string(26, ' ') + "QB Sync Wizard");
  Label11.SetCaption("This Wizard will help you synchronize your Kalvor and QuickBooks data.");
  Label12.SetCaption("Select the items that you would like to synchronize, and click on 'Start Sync'");
  Label2.SetCaption("Employees");
  Label3.SetCaption("Customers");
  Label4.SetCaption("Vendors");
  Label5.SetCaption("Payment Terms");
  Label6.SetCaption("Chart Of Accounts");
  Label7.SetCaption("Items");
  Label8.SetCaption("Classes");
  Label9.SetCaption("Time");
  Label10.SetCaption("Expense");
  cmdSelectAll.SetCaption("Select All");
  chkDebugMode.SetCaption("Debug mode off");
  optStop.SetCaption("Stop on error");
  optContinue.SetCaption("Continue on error");
  cmdNav[0].SetCaption("Help");
  cmdNav[1].SetCaption("Cancel");
  cmdNav[1].SetCancel(true);
  cmdNav[2].SetCaption("< &Back");
  cmdNav[3].SetCaption("Start &Sync");
  cmdNav[3].SetDefault(true);
  lblContacting.SetCaption("Contacting QuickBooks");
  lblWaiting.SetCaption("Waiting for response");
  lblProcessing.SetCaption("Processing  response");
  lblTransfer1.SetCaption("Transferring Data.");
  lblTransfer2.SetCaption("Please wait...");

  // The page starts idle: the step panel, the progress display and the debug choice appear only when used.
  frameComm.SetVisible(false);
  fraProgress.SetVisible(false);
  optStop.SetVisible(false);
  optContinue.SetVisible(false);
  lblTransfer2.SetVisible(false);

  cmdNav.OnClick = [this](int index) { cmdNav_Click(index); };
  chkDebugMode.OnClick = [this] { chkDebugMode_Click(); };
  cmdSelectAll.OnClick = [this] { cmdSelectAll_Click(); };
  Timer1.OnTimer = [this] { Timer1_Timer(); };
}

BrintavelCtl::~BrintavelCtl() = default;

void BrintavelCtl::ReadProperties(platform::activex::PropertyBag& bag) {
  // No error trap: a value that does not convert stops the reading at its key and goes to the host.
  kv::ReadSiteParameters(bag, *this);
  kv::EndWithSlash(KVSecureServerURL);

  const kv::DateTime fallback = kv::ParseDateTime(kDefaultLastSync);
  // Through the fixed text and back, so that every date is whole seconds as the filters compare them.
  auto last_sync = [&](std::string_view key) {
    return kv::ParseDateTime(kv::FixedDateTimeText(bag.ReadDate(key, fallback)));
  };
  ModWizard& m = Module();
  m.CustomerLastSyncDate = last_sync("CustomerLastSyncDate");
  m.EmployeeLastSyncDate = last_sync("EmployeeLastSyncDate");
  m.GLAccountsLastSyncDate = last_sync("GLAccountsLastSyncDate");
  m.TasksLastSyncDate = last_sync("TasksLastSyncDate");
  m.ClassLastSyncDate = last_sync("ClassLastSyncDate");
  m.VendorsLastSyncDate = last_sync("VendorsLastSyncDate");
  m.TimeLastSyncDate = last_sync("TimeLastSyncDate");
  m.ExpenseLastSyncDate = last_sync("ExpenseLastSyncDate");

  lngFailedCustCnt = 0;
  lngFailedEmpCnt = 0;
  lngFailedProjCnt = 0;
  lngFailedItemCnt = 0;
  lngFailedGLCnt = 0;
  lngFailedClassCnt = 0;
  lngFailedVendCnt = 0;

  Label2.SetCaption(EmpLexicon + "s");
  Label3.SetCaption(CustLexicon + "s:" + ProjLexicon + "s");
}

std::string BrintavelCtl::ReplaceSingleQuotes(std::string_view strParam) const {
  // Any length: a long note must not fail the statement it belongs to.
  return kv::ReplaceAll(strParam, "'", "''");
}

}  // namespace brintavel
