// The control object itself: its controls and captions, the parameter reading, the start-up and the closing
// view; the run, the session and the download live in files of their own.

#include "download_control/kvr_download_ctl.h"

#include <filesystem>

#include "download_control/module_state.h"
#include "download_control/qb_session.h"
#include "download_control/results_form.h"
#include "platform/base/error.h"
#include "platform/base/text.h"
#include "platform/com/guid.h"
#include "platform/forms/presenter.h"

namespace tessarine {

using platform::forms::MsgBox;
using platform::forms::vbCritical;
using platform::forms::vbInformation;

KVRDowloadctl::KVRDowloadctl()
    : UserControl("KVRDowloadctl"),
      Frame1(this, "Frame1"),
      lblGather(&Frame1, "lblGather"),
      lblTransfer1(&Frame1, "lblTransfer1"),
      lblTransfer2(&Frame1, "lblTransfer2"),
      ProgressBar1(&Frame1, "ProgressBar1"),
      cmdStartDownload(this, "cmdStartDownload"),
      Command1(this, "Command1"),
      Timer1(this, "Timer1"),
      framClose(this, "framClose"),
      lblMessage(this, "lblMessage") {
  Move(0, 0, 7200, 3600);
  Frame1.SetCaption("Download data");
  Frame1.Move(120, 120, 6960, 2520);
  lblGather.SetCaption(kCollectingInformation);
  lblGather.Move(240, 360, 6480, 255);
  lblTransfer1.SetCaption("Click on Continue to start download..");
  lblTransfer1.Move(240, 840, 6480, 255);
  lblTransfer2.SetCaption("Please wait...");
  lblTransfer2.Move(240, 1200, 6480, 255);
  lblTransfer2.SetVisible(false);
  ProgressBar1.Move(240, 1680, 6480, 375);
  cmdStartDownload.SetCaption("&Continue..");
  cmdStartDownload.Move(4200, 2760, 1335, 375);
  cmdStartDownload.SetDefault(true);
  Command1.SetCaption("Ca&ncel");
  Command1.Move(5640, 2760, 1335, 375);
  Command1.SetCancel(true);
  framClose.SetVisible(false);
  lblMessage.SetCaption(kClosingMessage);
  lblMessage.Move(0, 0, 5400, 495);
  lblMessage.SetVisible(false);

  cmdStartDownload.OnClick = [this] { cmdStartDownload_Click(); };
  Command1.OnClick = [this] { Command1_Click(); };
  Timer1.OnTimer = [this] { Timer1_Timer(); };
}

KVRDowloadctl::~KVRDowloadctl() = default;

void KVRDowloadctl::ReadProperties(platform::activex::PropertyBag& bag) {
  DownloadParameters& p = Module().params;
  // The last upload date comes between the connection and the site's words: a date that does not convert stops
  // the reading there, before the words.
  kv::ReadSiteConnection(bag, p);
  p.KVLastUploadDate = bag.ReadDate("KVLastUploadDate");
  kv::ReadSiteWordsAndFile(bag, p);
  p.TsOrExpense = bag.ReadFlag("TsOrExpense");
  p.FullOrPartial = bag.ReadFlag("FullOrPartial");
  // Blanks around an address are never part of it.
  p.KVSecureServerURL = std::string(kv::TrimBlanks(p.KVSecureServerURL));
  kv::EndWithSlash(p.KVSecureServerURL);
}

void KVRDowloadctl::Resize() {
  if (bStartupDone) return;
  bStartupDone = true;
  Startup();
}

void KVRDowloadctl::Startup() {
  DownloadParameters& p = Module().params;
  if (kv::TrimBlanks(p.KVSecureServerURL).empty() || kv::TrimBlanks(p.SiteCode).empty() ||
      kv::TrimBlanks(p.SiteKey).empty()) {
    MsgBox(kMissingConnectionMessage, vbInformation);
    CloseWindow();
    return;
  }
  if (p.KVLastUploadDate.IsZero()) p.KVLastUploadDate = kv::DateTime::FromParts(2000, 1, 1);
  auto default_word = [](std::string& word, const char* fallback) {
    if (kv::TrimBlanks(word).empty()) word = fallback;
  };
  default_word(p.EmpLexicon, "Employee");
  default_word(p.CustLexicon, "Customer");
  default_word(p.ProjLexicon, "Project");
  default_word(p.SubProjLexicon, "Sub Project");
  default_word(p.SILexicon, "Service Item");

  // Lines downloaded while another page posts the same records would be posted a second time. A company file
  // that is not there yet cannot be posted into; Continue takes the lock then.
  std::error_code ec;
  if (std::filesystem::is_regular_file(p.QBFilePath, ec) && !TakeRunLock()) {
    CloseWindow();
    return;
  }
  lngLastResult = DownloadFromServer();
  if (!bDownloaded) runLock_.reset();
  if (lblGather.Caption() == kCollectingInformation) MsgBox(kCouldNotContactMessage, vbInformation);
}

bool KVRDowloadctl::TakeRunLock() {
  if (runLock_) return true;
  const DownloadParameters& p = Module().params;
  try {
    runLock_ = RunLock::TryTake(p.QBFilePath);
    if (runLock_) return true;
    MsgBox("Another download into the company file '" + p.QBFilePath +
               "' is running on this computer. Two downloads at once could post the same records into QuickBooks "
               "twice, so this one does not go on.\r\nWait until the other download has ended, then open this page "
               "again.",
           vbInformation);
  } catch (const kv::Error& e) {
    MsgBox("The download could not make sure that no other download of the same records is running: " + e.description(),
           vbCritical);
  }
  return false;
}

void KVRDowloadctl::CloseWindow() {
  // The closed page posts nothing more.
  runLock_.reset();
  cmdStartDownload.SetVisible(false);
  framClose.Move(25, 170, Width() - 70, Height() - 250);
  lblMessage.SetVisible(true);
  lblMessage.SetLeft(Width() / 2 - lblMessage.Width() / 2);
  lblMessage.SetTop(Height() / 2 - lblMessage.Height() / 2);
  lblMessage.Refresh();
  framClose.SetVisible(true);
  framClose.SetCaption("");
}

void KVRDowloadctl::Timer1_Timer() {
  lblTransfer2.SetVisible(!lblTransfer2.Visible());
  lblTransfer2.Refresh();
}

void KVRDowloadctl::Terminate() {
  runLock_.reset();
  EndQBSession();
  CloseQBConnection();
}

// ------------------------------------------------------------------------------------------ IObjectSafety

using platform::activex::INTERFACESAFE_FOR_UNTRUSTED_CALLER;
using platform::activex::INTERFACESAFE_FOR_UNTRUSTED_DATA;
using platform::activex::SafetyOptionFor;

void KVRDowloadctl::GetInterfaceSafetyOptions(const platform::com::Guid& riid, uint32_t& supported_options,
                                              uint32_t& enabled_options) {
  supported_options = INTERFACESAFE_FOR_UNTRUSTED_CALLER | INTERFACESAFE_FOR_UNTRUSTED_DATA;
  const uint32_t option = SafetyOptionFor(riid);
  if (option == 0) throw kv::Error(platform::com::E_NOINTERFACE, "No such interface supported");
  if (option == INTERFACESAFE_FOR_UNTRUSTED_CALLER) {
    enabled_options = option;
  } else {
    enabled_options |= option;
  }
}

void KVRDowloadctl::SetInterfaceSafetyOptions(const platform::com::Guid& riid, uint32_t options_set_mask,
                                              uint32_t enabled_options) {
  const uint32_t option = SafetyOptionFor(riid);
  if (option == 0) throw kv::Error(platform::com::E_NOINTERFACE, "No such interface supported");
  if ((options_set_mask & enabled_options) != option) throw kv::Error(platform::com::E_FAIL, "Unspecified error");
}

}  // namespace tessarine
