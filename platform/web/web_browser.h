#pragma once

// The embedded browser control the web-request forms send their requests with.

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace platform::forms {
class EventLoop;
}

namespace platform::web {

// The settings of the transport, as a program's help lists them: one line each, two blanks in.
inline constexpr char kSettingsHelp[] =
    "  KV_WEB_CONNECT_TIMEOUT_MS  time to connect to the service (default 30000)\n"
    "  KV_WEB_STALL_TIMEOUT_MS    time without a byte from the service (default 120000)\n"
    "  KV_WEB_REQUEST_TIMEOUT_MS  time for a whole request to the service (default 600000)\n"
    "  KV_WEB_MAX_ANSWER_BYTES    largest answer of the service (default 67108864)\n"
    "  KV_WEB_CA_FILE             a further CA file to check https services' certificates with\n";

// Navigation flags the system passes; 6 = no history + no cache read.
inline constexpr int kNavNoHistory = 2;
inline constexpr int kNavNoReadFromCache = 4;

// First line of the body text of every error page; page rules compare against it.
inline constexpr std::string_view kPageCannotBeDisplayed = "The page cannot be displayed";

// The embedded browser control, used as the HTTP client of the hidden web-request forms.
//
// The bytes travel over the transport installed when a navigation starts (transport.h): libcurl, unless a test
// installed a fake.
//
// Navigate starts a transfer and returns at once; the transfer runs while the owner of the thread's event loop
// pumps it (DoEvents, WaitWhile). DocumentComplete is raised from the loop, once per navigation, whatever the
// outcome: the answer page, or an error page for a transport failure or a non-2xx answer. It is never raised from
// inside Navigate or Stop. Stop cancels the transfer and no DocumentComplete follows it. A Navigate while another
// navigation is in flight cancels that one the same way (no completion for it), as a real browser does.
//
// Time-outs (environment, read at each Navigate):
//   KV_WEB_CONNECT_TIMEOUT_MS  connecting, name lookup and TLS handshake included (default 30000)
//   KV_WEB_STALL_TIMEOUT_MS    the transfer is dropped when, once the request goes out, no byte moves either way
//                              for this long (default 120000)
//   KV_WEB_REQUEST_TIMEOUT_MS  the whole request, however the bytes trickle (default 600000)
//   KV_WEB_MAX_ANSWER_BYTES    an answer larger than this ends its request unread (default 64 MiB)
//   KV_WEB_CA_FILE             a CA bundle to trust instead of the system's store (test servers only)
// Certificates are always verified.
//
// At most once: a request is never sent a second time. libcurl sends a request again when the connection it
// reused drops before an answer; a request with a body refuses the rewind that needs, and a request without one
// always gets a connection of its own, so such a drop completes as a failure of that request.
// Redirects: a request with a body is never sent on (its redirect completes as an error page naming the new
// address); one without a body follows up to 10 redirects to the same or a more secure scheme, never https to
// http, unless SetFollowRedirects(false) made its redirects failures too.
// Every text of an error page and TransportError has its password values hidden (HideSecrets).
class WebBrowser {
 public:
  // browser: the control whose document completed; url: the address of that document (after redirects).
  using DocumentCompleteHandler = std::function<void(WebBrowser& browser, const std::string& url)>;

  // Binds the control to the calling thread's event loop, or to the given one.
  WebBrowser();
  explicit WebBrowser(forms::EventLoop& loop);
  ~WebBrowser();
  WebBrowser(const WebBrowser&) = delete;
  WebBrowser& operator=(const WebBrowser&) = delete;

  // Post data present (even zero bytes): POST with exactly those bytes; absent: GET.
  // flags: kNavNoReadFromCache sends "Cache-Control: no-cache" and "Pragma: no-cache".
  // target: frames do not exist here; the value is ignored.
  // headers: header lines separated by CR and/or LF ("Content-Type:text/plain" LF CR included); each line
  //   "Name:value" is sent as the well-formed "Name: value"; lines without a colon are dropped.
  // An address that is not http:// or https:// completes with an error page, like a transport failure.
  // The body is taken by value: a caller done with a large one moves it in and the transfer sends it in place.
  void Navigate(const std::string& url, int flags = 0, const std::string& target = {},
                std::optional<std::string> post_data = std::nullopt, const std::string& headers = {});
  void Navigate(const std::string& url, int flags, const std::string& target, const std::vector<uint8_t>& post_data,
                const std::string& headers);
  // Whether a request without a body follows its redirects (the default); a request that reports something to the
  // service is sent to the address it was meant for, or not at all.
  void SetFollowRedirects(bool follow);
  // Cancels the navigation in flight, if any; harmless otherwise.
  void Stop();

  // The handler runs on the loop; it may navigate again, stop, pump the loop or destroy this control.
  void OnDocumentComplete(DocumentCompleteHandler handler);

  // A navigation is in flight (set by Navigate, cleared just before DocumentComplete or by Stop).
  bool Busy() const;
  // The address of the current document (the address being navigated to while Busy).
  const std::string& LocationURL() const;

  // The completed document's body text, as UTF-8: a text/plain answer as it came, an HTML answer as a browser's
  // document text of its body (HtmlBodyText). The bytes are read by the answer's charset (DecodeBodyBytes). For an
  // error page: kPageCannotBeDisplayed, CR LF, then the reason (see IsErrorPage).
  const std::string& BodyText() const;
  // False until a document has completed.
  bool HasDocument() const;
  // The completed document is the browser's error page: the transport failed (StatusCode 0, TransportError says
  // why) or the service answered outside 2xx (then the body text is the heading, CR LF, "HTTP <code> <reason>",
  // and CR LF plus the answer's own body text when it has one).
  bool IsErrorPage() const;
  // HTTP status of the last answer; 0 when no answer arrived. For diagnostics only.
  int StatusCode() const;
  const std::string& ContentType() const;
  const std::string& TransportError() const;
  // The answer's bytes as they came, before any conversion.
  const std::string& RawBody() const;

 private:
  struct Impl;
  std::unique_ptr<Impl> impl_;
};

}  // namespace platform::web
