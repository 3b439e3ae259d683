// The hidden web-request form: one request at a time through its browser, with its completion and cancel.

#include "common/web_form/web_request_form.h"

#include <exception>
#include <utility>

#include "platform/base/error.h"
#include "platform/base/text.h"
#include "platform/forms/event_loop.h"

namespace kv {

WebRequestForm::WebRequestForm(std::string form_name, const PageTable& page_table)
    : Form(std::move(form_name)), page_table_(page_table) {
  // Never shown: the form exists for its browser control.
  Form::SetVisible(false);
  OnLoad = [this] {
    sReceivedText.clear();
    bIsLoaded = true;
    bIsNavigationComplete = false;
    bIsDownloading = false;
  };
  OnUnload = [this](int&) {
    // An unloaded form cannot judge an answer any more; no completion may arrive for it.
    WebBrowser1.Stop();
    in_flight_ = false;
    bIsDownloading = false;
    bIsNavigationComplete = false;
    bIsLoaded = false;
  };
  WebBrowser1.OnDocumentComplete(
      [this](platform::web::WebBrowser& browser, const std::string&) { OnDocumentComplete(browser); });
}

WebRequestForm::~WebRequestForm() {
  WebBrowser1.Stop();
}

void WebRequestForm::Navigate(const std::string& url, const std::optional<std::vector<uint8_t>>& post_data) {
  if (in_flight_ || WebBrowser1.Busy()) {
    throw Error(kErrInvalidArgument, "A request to " + sASPName + " is still waiting for its answer.");
  }
  const std::string headers(kWebRequestHeaders);
  if (post_data) {
    WebBrowser1.Navigate(url, kWebRequestFlags, {}, *post_data, headers);
  } else {
    WebBrowser1.Navigate(url, kWebRequestFlags, {}, std::nullopt, headers);
  }
  in_flight_ = true;
}

bool WebRequestForm::Request(std::string_view page, const std::string& url,
                             const std::optional<std::vector<uint8_t>>& post_data) {
  if (in_flight_ || WebBrowser1.Busy()) {
    throw Error(kErrInvalidArgument, "A request to " + sASPName + " is still waiting for its answer.");
  }
  // Keeps a default instance alive while its caller waits on it.
  BusyScope busy(*this);
  Load();
  bIsNavigationComplete = false;
  bIsInterrupted = false;
  sASPName = std::string(page);
  bIsDownloading = true;
  try {
    Navigate(url, post_data);
  } catch (...) {
    bIsDownloading = false;
    throw;
  }
  platform::forms::EventLoop::Current().WaitWhile([this] { return bIsDownloading; });
  return bIsNavigationComplete;
}

void WebRequestForm::CancelRequest() {
  WebBrowser1.Stop();
  in_flight_ = false;
  bIsInterrupted = true;
  bIsDownloading = false;
}

void WebRequestForm::OnDocumentComplete(platform::web::WebBrowser& browser) {
  in_flight_ = false;
  try {
    if (!browser.HasDocument()) {
      sReceivedText = "Error";
      bIsNavigationComplete = false;
    } else {
      sReceivedText = std::string(TrimBlanks(browser.BodyText()));
      bIsNavigationComplete = JudgeAnswer(page_table_, sASPName, sReceivedText, bIsNavigationComplete);
    }
  } catch (const std::exception&) {
    sReceivedText = "Error";
    bIsNavigationComplete = false;
  }
  bIsDownloading = false;
}

}  // namespace kv
