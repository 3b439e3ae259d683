#pragma once

// The hidden web-request form: a form that is loaded but never shown, whose browser control serves as the
// HTTP client of a deliverable. The caller names the page, navigates, pumps events until the document-complete
// handler has stored and judged the answer, then reads the judgement and the text.

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "common/web_form/page_table.h"
#include "platform/base/date_time.h"
#include "platform/forms/form.h"
#include "platform/web/web_browser.h"

namespace kv {

// Flags 6: no history, no read from the cache.
inline constexpr int kWebRequestFlags = platform::web::kNavNoHistory | platform::web::kNavNoReadFromCache;
// The header every request carries: 25 characters, ending in LF and CR.
inline constexpr std::string_view kWebRequestHeaders = "Content-Type:text/plain\n\r";

// Each deliverable's copy of the form differs only in its name and page table: a deliverable derives its own
// form class (so each has its own default instance) and hands both to this constructor.
class WebRequestForm : public platform::forms::Form {
 public:
  WebRequestForm(std::string form_name, const PageTable& page_table);
  ~WebRequestForm() override;

  // The last answer was judged good.
  bool bIsNavigationComplete = false;
  // The trimmed body text of the last answer page, or "Error".
  std::string sReceivedText;
  // A request is in flight; callers wait while it is True.
  bool bIsDownloading = false;
  // The request was cancelled; callers clear it before each request.
  bool bIsInterrupted = false;
  // From the form's load to its unload.
  bool bIsLoaded = false;
  // The page name the judge picks its rule by.
  std::string sASPName;
  DateTime dtDownloadStartTime;
  float t2 = 0;

  platform::web::WebBrowser WebBrowser1;

  // Starts the navigation of WebBrowser1 (flags 6 and the text header). A second request while one is in
  // flight on this form is refused with kv::Error, never nested or silently replacing the first.
  void Navigate(const std::string& url, const std::optional<std::vector<uint8_t>>& post_data = std::nullopt);

  // The whole calling sequence: clears the judgement and the cancelled flag, names the page, navigates and
  // pumps events until the judge has run (the web layer's time-outs bound the wait). Loads the form first
  // when needed. Returns bIsNavigationComplete.
  bool Request(std::string_view page, const std::string& url,
               const std::optional<std::vector<uint8_t>>& post_data = std::nullopt);

  // Ends the request in flight: the navigation stops, the wait ends and bIsInterrupted is set.
  void CancelRequest();

  const PageTable& Table() const { return page_table_; }

 private:
  void OnDocumentComplete(platform::web::WebBrowser& browser);

  const PageTable& page_table_;
  bool in_flight_ = false;
};

}  // namespace kv
