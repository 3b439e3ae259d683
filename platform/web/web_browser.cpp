// The browser control: a navigation's life on the event loop and the reading of its document. The bytes are moved
// by the installed transport (transport.h); the rules for body text and error pages are the same for all of them.
#include "platform/web/web_browser.h"

#include "platform/base/text.h"
#include "platform/forms/event_loop.h"
#include "platform/web/http_text.h"
#include "platform/web/transport.h"

namespace platform::web {
namespace {

bool HasWebScheme(std::string_view url) {
  const std::string lower = kv::ToLowerAscii(url.substr(0, 8));
  return lower.starts_with("http://") || lower.starts_with("https://");
}

}  // namespace

struct WebBrowser::Impl final : forms::EventSource {
  WebBrowser& owner;
  forms::EventLoop& loop;
  std::unique_ptr<Channel> channel;
  // The installed transport the channel came from; a navigation after another was installed opens a new one.
  uint64_t channel_generation = 0;
  bool follow_redirects = true;
  // A navigation that failed before any transfer could start; completes from the loop like any other.
  bool pending_failure = false;
  std::string pending_reason;
  bool transferring = false;

  // What the caller reads.
  DocumentCompleteHandler handler;
  // On the loop's list of sources only while a navigation is in flight, so that an idle control never touches
  // the loop (a control may outlive the loop of its thread).
  bool registered = false;
  bool busy = false;
  bool has_document = false;
  bool error_page = false;
  int status = 0;
  std::string location;
  std::string body_text;
  std::string content_type;
  std::string transport_error;
  std::string raw_body;

  Impl(WebBrowser& o, forms::EventLoop& l) : owner(o), loop(l) { OpenChannel(); }

  ~Impl() override { Cancel(); }

  void OpenChannel() {
    channel_generation = InstalledTransportGeneration();
    channel = InstalledTransport().OpenChannel();
  }

  void Start(const std::string& url, int flags, std::optional<std::string> post, const std::string& headers) {
    Cancel();
    busy = true;
    location = url;
    loop.AddSource(this);
    registered = true;
    if (!HasWebScheme(url)) {
      pending_failure = true;
      pending_reason = "The address is not a web address: " + url;
      return;
    }
    if (channel_generation != InstalledTransportGeneration()) OpenChannel();
    transferring = true;
    channel->Start({url, flags, std::move(post), headers, follow_redirects});
  }

  // Ends the navigation in flight without a completion.
  void Cancel() {
    if (transferring) {
      location = channel->Location();  // where a followed redirect had got to
      channel->Cancel();
    }
    transferring = false;
    pending_failure = false;
    busy = false;
    if (registered) loop.RemoveSource(this);
    registered = false;
  }

  int Prepare(std::vector<pollfd>& fds) override {
    if (pending_failure) return 0;
    return transferring ? channel->Prepare(fds) : -1;
  }

  void Dispatch(std::span<const pollfd> fds) override {
    if (pending_failure) {
      TransferResult failed;
      failed.location = location;
      failed.failure = pending_reason;
      Complete(std::move(failed));
      return;
    }
    if (!transferring) return;
    if (std::optional<TransferResult> result = channel->Dispatch(fds)) {
      transferring = false;
      Complete(std::move(*result));  // the handler may have destroyed this control
    }
  }

  // Stores the document and raises DocumentComplete; must be the last thing a dispatch does.
  void Complete(TransferResult result) {
    has_document = true;
    if (!result.location.empty()) location = std::move(result.location);
    status = result.failure.empty() ? result.status : 0;
    content_type = std::move(result.content_type);
    transport_error = std::move(result.failure);
    raw_body = std::move(result.body);
    StoreBodyText(result.reason, result.redirect_failure);
    Cancel();
    RaiseDocumentComplete();
  }

  // The document's body text: the answer's text, or the error page of a failure or of a status outside 2xx.
  void StoreBodyText(const std::string& status_reason, const std::string& redirect_failure) {
    if (!transport_error.empty()) {
      transport_error = HideSecrets(transport_error);
      error_page = true;
      body_text = TransportErrorPage(transport_error);
      return;
    }
    const std::string text = DecodeBodyBytes(raw_body, content_type);
    const std::string page_text = IsHtmlAnswer(content_type, raw_body) ? HtmlBodyText(text) : text;
    error_page = status < 200 || status > 299;
    if (error_page) {
      const std::string reason = status_reason.empty() ? std::string(ReasonPhrase(status)) : status_reason;
      body_text = HttpErrorPage(status, reason, redirect_failure.empty() ? page_text : redirect_failure);
    } else {
      body_text = page_text;
    }
  }

  // The handler may destroy this control: nothing of it is touched after the call.
  void RaiseDocumentComplete() {
    DocumentCompleteHandler run = handler;
    const std::string url = location;
    WebBrowser& browser = owner;
    if (run) run(browser, url);
  }
};

WebBrowser::WebBrowser() : WebBrowser(forms::EventLoop::Current()) {}

WebBrowser::WebBrowser(forms::EventLoop& loop) : impl_(std::make_unique<Impl>(*this, loop)) {}

WebBrowser::~WebBrowser() = default;

void WebBrowser::Navigate(const std::string& url, int flags, const std::string& /*target*/,
                          std::optional<std::string> post_data, const std::string& headers) {
  impl_->Start(url, flags, std::move(post_data), headers);
}

void WebBrowser::Navigate(const std::string& url, int flags, const std::string& target,
                          const std::vector<uint8_t>& post_data, const std::string& headers) {
  Navigate(url, flags, target, std::optional<std::string>(std::string(post_data.begin(), post_data.end())), headers);
}

void WebBrowser::SetFollowRedirects(bool follow) {
  impl_->follow_redirects = follow;
}

void WebBrowser::Stop() {
  impl_->Cancel();
}

void WebBrowser::OnDocumentComplete(DocumentCompleteHandler handler) {
  impl_->handler = std::move(handler);
}

bool WebBrowser::Busy() const {
  return impl_->busy;
}
const std::string& WebBrowser::LocationURL() const {
  return impl_->transferring ? impl_->channel->Location() : impl_->location;
}
const std::string& WebBrowser::BodyText() const {
  return impl_->body_text;
}
bool WebBrowser::HasDocument() const {
  return impl_->has_document;
}
bool WebBrowser::IsErrorPage() const {
  return impl_->error_page;
}
int WebBrowser::StatusCode() const {
  return impl_->status;
}
const std::string& WebBrowser::ContentType() const {
  return impl_->content_type;
}
const std::string& WebBrowser::TransportError() const {
  return impl_->transport_error;
}
const std::string& WebBrowser::RawBody() const {
  return impl_->raw_body;
}

}  // namespace platform::web
