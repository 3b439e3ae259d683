// The hidden upload form: its browser's completion, its Cancel button and its default instance.

#include "sync_control/upload_form.h"

#include "sync_control/module_state.h"
#include "sync_control/upload_rules.h"

namespace brintavel {

FrmKVUpload::FrmKVUpload() : Form("frmKVUpload") {
  SetCaption("Upload To Staffmere");
  Frame1.SetCaption("Upload Status");
  lblTransfer1.SetCaption("Transfering Data to Staffmere server.");
  lblTransfer2.SetCaption("Please wait...");
  lblGather.SetCaption("Collecting information");
  cmdClose.SetCaption("&Cancel");
  cmdClose.SetCancel(true);
  Form::SetVisible(false);

  OnLoad = [this] {
    sUploadStatus.clear();
    bUploadStatus = false;
    bIsUploading = false;
    bIsLoaded = true;
    lblTransfer1.SetCaption("");
    lblTransfer2.SetCaption("");
  };
  OnUnload = [this](int&) {
    bIsUploading = false;
    bUploadStatus = false;
    bIsLoaded = false;
  };
  cmdClose.OnClick = [this] { cmdClose_Click(); };
  Timer1.OnTimer = [this] {
    lblTransfer2.SetVisible(!lblTransfer2.Visible());
    lblTransfer2.Refresh();
  };
  // Uploads and status reports both tell the service something; a moved page is their failure.
  WebBrowser1.SetFollowRedirects(false);
  WebBrowser1.OnDocumentComplete([this](platform::web::WebBrowser& browser, const std::string& url) {
    WebBrowser1_DocumentComplete(browser, url);
  });
}

void FrmKVUpload::WebBrowser1_DocumentComplete(platform::web::WebBrowser& browser, const std::string&) {
  if (!browser.HasDocument()) {
    sUploadStatus = "Error";
    bUploadStatus = false;
    bIsUploading = false;
    return;
  }
  sUploadStatus = browser.BodyText();
  const PageVerdict verdict = JudgePage(sUploadStatus);
  if (verdict.success) {
    if (verdict.tasksAdded) Module().varTasksAdded = true;
    if (verdict.projectsAdded) Module().varProjectsAdded = true;
    bUploadStatus = true;
  }
  bIsUploading = false;
}

void FrmKVUpload::CancelRequest() {
  WebBrowser1.Stop();
  bIsInterrupted = true;
  bIsUploading = false;
}

void FrmKVUpload::cmdClose_Click() {
  CancelRequest();
  Hide();
}

FrmKVUpload& UploadForm() {
  auto& slot = Module().frmKVUpload;
  if (!slot) slot = std::make_shared<FrmKVUpload>();
  return *slot;
}

bool HasUploadForm() {
  return Module().frmKVUpload != nullptr;
}

}  // namespace brintavel
