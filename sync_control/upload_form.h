#pragma once

// The hidden upload form that carries every request of the sync to the service.

#include <cstdint>
#include <string>

#include "platform/forms/control.h"
#include "platform/forms/form.h"
#include "platform/forms/timer.h"
#include "platform/web/web_browser.h"

namespace brintavel {

// The upload's web-request form: loaded for a run and never shown. Its browser is the web client of the upload
// and status requests; the page judge stores and judges each answer and clears the busy flag that the caller
// waits on.
class FrmKVUpload : public platform::forms::Form {
 public:
  FrmKVUpload();

  bool bUploadStatus = false;   // the last answer began with "SUCCESS"
  std::string sUploadStatus;    // the last answer's body text, untrimmed, or "Error" when none could be read
  bool bIsUploading = false;    // a request is in flight
  bool bIsInterrupted = false;  // the user cancelled the request in flight
  bool bIsLoaded = false;
  int32_t t2 = 0;

  platform::forms::Frame Frame1{this, "Frame1"};
  platform::forms::Label lblTransfer1{&Frame1, "lblTransfer1"};
  platform::forms::Label lblTransfer2{&Frame1, "lblTransfer2"};
  platform::forms::Label lblGather{&Frame1, "lblGather"};
  platform::forms::CommandButton cmdClose{this, "cmdClose"};
  platform::forms::Timer Timer1{this, "Timer1"};
  platform::web::WebBrowser WebBrowser1;

  void WebBrowser1_DocumentComplete(platform::web::WebBrowser& browser, const std::string& url);
  void cmdClose_Click();
  // The wizard's Cancel does the same to a request in flight.
  void CancelRequest();
};

// The thread's form instance, made when there is none (it is not loaded by this).
FrmKVUpload& UploadForm();
bool HasUploadForm();

}  // namespace brintavel
