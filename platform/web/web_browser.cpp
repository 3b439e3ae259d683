#include "platform/web/web_browser.h"

#include <curl/curl.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <map>
#include <mutex>

#include "platform/base/error.h"
#include "platform/base/text.h"
#include "platform/forms/event_loop.h"
#include "platform/web/http_text.h"

namespace platform::web {
namespace {

using Clock = std::chrono::steady_clock;

constexpr long kDefaultConnectTimeoutMs = 30000;
constexpr long kDefaultStallTimeoutMs = 120000;
constexpr long kDefaultRequestTimeoutMs = 600000;
constexpr long kDefaultMaxAnswerBytes = 64L * 1024 * 1024;
constexpr long kUploadBufferBytes = 1024L * 1024;  // libcurl takes up to 2 MiB
constexpr int kMaxRedirects = 10;

long EnvNumber(const char* name, long fallback) {
  const char* text = std::getenv(name);
  if (text == nullptr || *text == '\0') return fallback;
  char* end = nullptr;
  const long value = std::strtol(text, &end, 10);
  if (end == text || *end != '\0' || value <= 0) return fallback;
  return value;
}

void GlobalInit() {
  static std::once_flag once;
  std::call_once(once, [] {
    if (curl_global_init(CURL_GLOBAL_DEFAULT) != CURLE_OK) throw kv::Error(kv::kErrInvalidArgument, "libcurl init");
  });
}

thread_local ScopedWebAnswers* t_web_answers = nullptr;

bool HasWebScheme(std::string_view url) {
  const std::string lower = kv::ToLowerAscii(url.substr(0, 8));
  return lower.starts_with("http://") || lower.starts_with("https://");
}

bool IsSecure(std::string_view url) {
  return kv::ToLowerAscii(url.substr(0, 8)).starts_with("https://");
}

}  // namespace

struct WebBrowser::Impl final : forms::EventSource {
  WebBrowser& owner;
  forms::EventLoop& loop;
  CURLM* multi = nullptr;
  CURL* easy = nullptr;
  curl_slist* header_list = nullptr;
  std::string post_body;
  bool has_post = false;
  // How much of the body libcurl has taken. A resend of the request needs it from the start again; the refusal of
  // that rewind is what keeps libcurl from sending a request a second time on a new connection after its reused
  // connection dropped.
  size_t post_sent = 0;
  int flags = 0;
  std::string headers;
  int redirects = 0;
  bool follow_redirects = true;
  // The answer broke the size limit; the transfer was ended there.
  bool too_large = false;
  size_t max_answer = kDefaultMaxAnswerBytes;
  char error_buffer[CURL_ERROR_SIZE] = {};

  // Sockets curl wants watched, with CURL_POLL_IN/OUT bits.
  std::map<curl_socket_t, int> sockets;
  bool timer_armed = false;
  Clock::time_point timer_due;
  // A navigation that failed before any transfer could start; completes from the loop like any other.
  bool pending_failure = false;
  std::string pending_reason;
  // The answer of an in-process stand-in (ScopedWebAnswers); completes from the loop like pending_failure.
  std::optional<WebAnswer> canned;

  // curl's own low-speed check averages over the last seconds, so after an upload a stall showed only seconds
  // past its limit; the stall is measured here from the moment the request goes out: any byte up or down (headers
  // included) restarts it.
  std::chrono::milliseconds stall_limit{kDefaultStallTimeoutMs};
  bool transferring = false;
  curl_off_t bytes_moved = 0;
  Clock::time_point last_moved;

  // The answer being received.
  std::string received;
  std::string status_reason;
  // Why the redirect that ended the navigation was not followed.
  std::string redirect_failure;

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

  Impl(WebBrowser& o, forms::EventLoop& l) : owner(o), loop(l) {
    GlobalInit();
    multi = curl_multi_init();
    if (multi == nullptr) throw kv::Error(kv::kErrInvalidArgument, "The web transfer could not be created");
    curl_multi_setopt(multi, CURLMOPT_SOCKETFUNCTION, &Impl::OnSocket);
    curl_multi_setopt(multi, CURLMOPT_SOCKETDATA, this);
    curl_multi_setopt(multi, CURLMOPT_TIMERFUNCTION, &Impl::OnTimer);
    curl_multi_setopt(multi, CURLMOPT_TIMERDATA, this);
  }

  ~Impl() override {
    Cancel();
    curl_multi_cleanup(multi);
  }

  static int OnSocket(CURL*, curl_socket_t socket, int what, void* self, void*) {
    auto* impl = static_cast<Impl*>(self);
    if (what == CURL_POLL_REMOVE) {
      impl->sockets.erase(socket);
    } else {
      impl->sockets[socket] = what;
    }
    return 0;
  }

  static int OnTimer(CURLM*, long timeout_ms, void* self) {
    auto* impl = static_cast<Impl*>(self);
    impl->timer_armed = timeout_ms >= 0;
    if (impl->timer_armed) impl->timer_due = Clock::now() + std::chrono::milliseconds(timeout_ms);
    return 0;
  }

  static size_t OnBody(char* data, size_t size, size_t count, void* self) {
    auto* impl = static_cast<Impl*>(self);
    if (impl->received.size() + size * count > impl->max_answer) {
      impl->too_large = true;
      impl->received.clear();
      impl->received.shrink_to_fit();
      return 0;
    }
    impl->received.append(data, size * count);
    return size * count;
  }

  static size_t OnRead(char* buffer, size_t size, size_t count, void* self) {
    auto* impl = static_cast<Impl*>(self);
    const size_t n = std::min(size * count, impl->post_body.size() - impl->post_sent);
    std::copy_n(impl->post_body.data() + impl->post_sent, n, buffer);
    impl->post_sent += n;
    return n;
  }

  static int OnSeek(void* self, curl_off_t offset, int origin) {
    auto* impl = static_cast<Impl*>(self);
    return offset == 0 && origin == SEEK_SET && impl->post_sent == 0 ? CURL_SEEKFUNC_OK : CURL_SEEKFUNC_FAIL;
  }

  // Keeps the reason phrase of the last status line; redirects and interim answers bring several.
  static size_t OnHeader(char* data, size_t size, size_t count, void* self) {
    auto* impl = static_cast<Impl*>(self);
    std::string_view line(data, size * count);
    if (line.starts_with("HTTP/")) {
      impl->received.clear();
      impl->status_reason.clear();
      const size_t code = line.find(' ');
      const size_t reason = code == std::string_view::npos ? code : line.find(' ', code + 1);
      if (reason != std::string_view::npos) {
        std::string_view text = line.substr(reason + 1);
        while (!text.empty() && (text.back() == '\r' || text.back() == '\n' || text.back() == ' ')) {
          text.remove_suffix(1);
        }
        impl->status_reason = std::string(text);
      }
    }
    return size * count;
  }

  void Start(const std::string& url, int nav_flags, std::optional<std::string> post, const std::string& header_text) {
    Cancel();
    busy = true;
    location = url;
    received.clear();
    status_reason.clear();
    loop.AddSource(this);
    registered = true;
    if (!HasWebScheme(url)) {
      pending_failure = true;
      pending_reason = "The address is not a web address: " + url;
      return;
    }
    if (ScopedWebAnswers* answers = ScopedWebAnswers::Current()) {
      canned = answers->Answer({url, std::move(post)});
      return;
    }
    flags = nav_flags;
    headers = header_text;
    has_post = post.has_value();
    if (has_post) post_body = std::move(*post);
    redirects = 0;
    Launch(url);
  }

  // Starts the transfer of one request; the request of a followed redirect starts here too.
  void Launch(const std::string& url) {
    ForgetLastAnswer();
    easy = curl_easy_init();
    if (easy == nullptr) {
      pending_failure = true;
      pending_reason = "The web transfer could not be created";
      return;
    }
    SetTransport(url);
    SetLimits();
    SetMethod();
    SetHeaders();
    if (curl_multi_add_handle(multi, easy) != CURLM_OK) {
      ReleaseTransfer();
      pending_failure = true;
      pending_reason = "The web transfer could not be started";
    }
  }

  void ForgetLastAnswer() {
    received.clear();
    status_reason.clear();
    error_buffer[0] = '\0';
    too_large = false;
    post_sent = 0;
  }

  // The address, the callbacks, and what the transfer may do: http and https only, certificates checked.
  void SetTransport(const std::string& url) {
    curl_easy_setopt(easy, CURLOPT_URL, url.c_str());
    curl_easy_setopt(easy, CURLOPT_PRIVATE, this);
    curl_easy_setopt(easy, CURLOPT_ERRORBUFFER, error_buffer);
    curl_easy_setopt(easy, CURLOPT_NOSIGNAL, 1L);
    curl_easy_setopt(easy, CURLOPT_PROTOCOLS_STR, "http,https");
    // Redirects are followed here, one request at a time, so that none turns a request with a body into one
    // without it and none leaves https for http.
    curl_easy_setopt(easy, CURLOPT_FOLLOWLOCATION, 0L);
    curl_easy_setopt(easy, CURLOPT_USERAGENT, "Kalvor-Connector/4.06");
    curl_easy_setopt(easy, CURLOPT_WRITEFUNCTION, &Impl::OnBody);
    curl_easy_setopt(easy, CURLOPT_WRITEDATA, this);
    curl_easy_setopt(easy, CURLOPT_HEADERFUNCTION, &Impl::OnHeader);
    curl_easy_setopt(easy, CURLOPT_HEADERDATA, this);
    curl_easy_setopt(easy, CURLOPT_SSL_VERIFYPEER, 1L);
    curl_easy_setopt(easy, CURLOPT_SSL_VERIFYHOST, 2L);
    if (const char* ca = std::getenv("KV_WEB_CA_FILE"); ca != nullptr && *ca != '\0') {
      curl_easy_setopt(easy, CURLOPT_CAINFO, ca);
    }
  }

  // The time-outs and the answer's size limit, each of which tests may change through the environment.
  void SetLimits() {
    curl_easy_setopt(easy, CURLOPT_CONNECTTIMEOUT_MS, EnvNumber("KV_WEB_CONNECT_TIMEOUT_MS", kDefaultConnectTimeoutMs));
    // curl measures a stall in whole seconds: below one byte a second for that long.
    const long stall_ms = EnvNumber("KV_WEB_STALL_TIMEOUT_MS", kDefaultStallTimeoutMs);
    stall_limit = std::chrono::milliseconds(stall_ms);
    transferring = false;
    bytes_moved = 0;
    curl_easy_setopt(easy, CURLOPT_LOW_SPEED_LIMIT, 1L);
    curl_easy_setopt(easy, CURLOPT_LOW_SPEED_TIME, (stall_ms + 999) / 1000);
    // A trickle of bytes never counts as a stall; this bounds the whole request.
    curl_easy_setopt(easy, CURLOPT_TIMEOUT_MS, EnvNumber("KV_WEB_REQUEST_TIMEOUT_MS", kDefaultRequestTimeoutMs));
    max_answer = static_cast<size_t>(EnvNumber("KV_WEB_MAX_ANSWER_BYTES", kDefaultMaxAnswerBytes));
    curl_easy_setopt(easy, CURLOPT_MAXFILESIZE_LARGE, static_cast<curl_off_t>(max_answer));
  }

  // POST with the body when there is one, otherwise GET.
  void SetMethod() {
    if (has_post) {
      curl_easy_setopt(easy, CURLOPT_POST, 1L);
      curl_easy_setopt(easy, CURLOPT_POSTFIELDSIZE_LARGE, static_cast<curl_off_t>(post_body.size()));
      curl_easy_setopt(easy, CURLOPT_READFUNCTION, &Impl::OnRead);
      curl_easy_setopt(easy, CURLOPT_READDATA, this);
      curl_easy_setopt(easy, CURLOPT_SEEKFUNCTION, &Impl::OnSeek);
      curl_easy_setopt(easy, CURLOPT_SEEKDATA, this);
      // A statement body runs to megabytes: larger pieces mean fewer calls into the kernel, each of which wakes
      // the server.
      curl_easy_setopt(easy, CURLOPT_UPLOAD_BUFFERSIZE, kUploadBufferBytes);
    } else {
      curl_easy_setopt(easy, CURLOPT_HTTPGET, 1L);
      // libcurl sends a request again by itself when a reused connection drops before the answer; a request
      // without a body has no rewind to refuse, so it never goes over a reused connection.
      curl_easy_setopt(easy, CURLOPT_FRESH_CONNECT, 1L);
    }
  }

  // The caller's header string as well-formed lines, and the cache headers its flags ask for.
  void SetHeaders() {
    for (const std::string& line : NormalizeHeaderLines(headers)) {
      header_list = curl_slist_append(header_list, line.c_str());
    }
    if (flags & kNavNoReadFromCache) {
      header_list = curl_slist_append(header_list, "Cache-Control: no-cache");
      header_list = curl_slist_append(header_list, "Pragma: no-cache");
    }
    // A large upload would otherwise wait for the server's interim answer before sending its body.
    header_list = curl_slist_append(header_list, "Expect:");
    curl_easy_setopt(easy, CURLOPT_HTTPHEADER, header_list);
  }

  void ReleaseTransfer() {
    ReleaseEasy();
    post_body.clear();
    post_body.shrink_to_fit();
  }

  void ReleaseEasy() {
    if (easy != nullptr) {
      curl_multi_remove_handle(multi, easy);
      curl_easy_cleanup(easy);
      easy = nullptr;
    }
    if (header_list != nullptr) {
      curl_slist_free_all(header_list);
      header_list = nullptr;
    }
  }

  // Follows a redirect of a request without a body to the same or a more secure scheme: true when the next
  // request started (no completion now); false leaves the redirect to complete as the request's failure.
  bool FollowRedirect(long code) {
    if (code < 300 || code > 399 || code == 304) return false;
    char* to = nullptr;
    if (curl_easy_getinfo(easy, CURLINFO_REDIRECT_URL, &to) != CURLE_OK || to == nullptr) return false;
    const std::string next = to;
    const std::string moved = "The page moved to " + next;
    if (has_post || !follow_redirects) {
      redirect_failure = moved + "; the request was not sent there.";
      return false;
    }
    if (!HasWebScheme(next) || (IsSecure(location) && !IsSecure(next))) {
      redirect_failure = moved + "; a secure page is never left for one that is not.";
      return false;
    }
    if (++redirects > kMaxRedirects) {
      redirect_failure = moved + " after " + std::to_string(kMaxRedirects) + " moves; it was not followed further.";
      return false;
    }
    ReleaseEasy();
    location = next;
    Launch(next);
    return easy != nullptr || pending_failure;
  }

  // Ends the navigation in flight without a completion.
  void Cancel() {
    ReleaseTransfer();
    pending_failure = false;
    canned.reset();
    busy = false;
    if (registered) loop.RemoveSource(this);
    registered = false;
  }

  int Prepare(std::vector<pollfd>& fds) override {
    if (pending_failure || canned) return 0;
    for (const auto& [socket, what] : sockets) {
      short events = 0;
      if (what & CURL_POLL_IN) events |= POLLIN;
      if (what & CURL_POLL_OUT) events |= POLLOUT;
      fds.push_back({socket, events, 0});
    }
    std::optional<Clock::time_point> due;
    if (timer_armed) due = timer_due;
    if (easy != nullptr && transferring)
      due = std::min(due.value_or(Clock::time_point::max()), last_moved + stall_limit);
    if (!due) return -1;
    const auto wait = std::chrono::ceil<std::chrono::milliseconds>(*due - Clock::now()).count();
    return static_cast<int>(std::clamp<int64_t>(wait, 0, 1 << 30));
  }

  // True once no byte moved for the stall limit since the request went out.
  bool Stalled(Clock::time_point now) {
    if (!transferring) {
      curl_off_t pretransfer = 0;
      if (curl_easy_getinfo(easy, CURLINFO_PRETRANSFER_TIME_T, &pretransfer) != CURLE_OK || pretransfer <= 0) {
        return false;  // still connecting: the connect time-out governs
      }
      transferring = true;
      last_moved = now;
    }
    curl_off_t up = 0, down = 0;
    long headers = 0;
    curl_easy_getinfo(easy, CURLINFO_SIZE_UPLOAD_T, &up);
    curl_easy_getinfo(easy, CURLINFO_SIZE_DOWNLOAD_T, &down);
    curl_easy_getinfo(easy, CURLINFO_HEADER_SIZE, &headers);
    const curl_off_t moved = up + down + headers;
    if (moved != bytes_moved) {
      bytes_moved = moved;
      last_moved = now;
      return false;
    }
    return now - last_moved >= stall_limit;
  }

  void Dispatch(std::span<const pollfd> fds) override {
    if (pending_failure || canned) {
      Complete(std::nullopt, pending_reason);
      return;
    }
    if (easy == nullptr) return;
    int running = 0;
    for (const pollfd& fd : fds) {
      if (fd.revents == 0) continue;
      int mask = 0;
      if (fd.revents & (POLLIN | POLLHUP)) mask |= CURL_CSELECT_IN;
      if (fd.revents & POLLOUT) mask |= CURL_CSELECT_OUT;
      if (fd.revents & (POLLERR | POLLNVAL)) mask |= CURL_CSELECT_ERR;
      curl_multi_socket_action(multi, fd.fd, mask, &running);
    }
    if (timer_armed && Clock::now() >= timer_due) {
      timer_armed = false;
      curl_multi_socket_action(multi, CURL_SOCKET_TIMEOUT, 0, &running);
    }
    int left = 0;
    while (CURLMsg* message = curl_multi_info_read(multi, &left)) {
      if (message->msg == CURLMSG_DONE && message->easy_handle == easy) {
        Complete(message->data.result, {});
        return;  // the handler may have destroyed this control
      }
    }
    if (easy != nullptr && Stalled(Clock::now())) {
      Complete(std::nullopt, "Operation too slow: nothing was transferred for the last " +
                                 std::to_string(stall_limit.count()) + " ms");
    }
  }

  // Stores the document and raises DocumentComplete; must be the last thing a dispatch does.
  void Complete(std::optional<CURLcode> result, const std::string& failure) {
    redirect_failure.clear();
    if (result.has_value() && *result == CURLE_OK) {
      long code = 0;
      curl_easy_getinfo(easy, CURLINFO_RESPONSE_CODE, &code);
      if (FollowRedirect(code)) return;
    }
    has_document = true;
    status = 0;
    content_type.clear();
    transport_error.clear();
    raw_body.clear();
    if (result.has_value()) {
      StoreTransferResult(*result);
    } else if (canned) {
      StoreCannedAnswer();
    } else {
      transport_error = failure;
    }
    raw_body = std::move(received);
    received.clear();
    StoreBodyText();
    Cancel();
    RaiseDocumentComplete();
  }

  // What libcurl ended the transfer with: the status of an answer, or the transport's reason.
  void StoreTransferResult(CURLcode result) {
    long code = 0;
    curl_easy_getinfo(easy, CURLINFO_RESPONSE_CODE, &code);
    char* effective = nullptr;
    if (curl_easy_getinfo(easy, CURLINFO_EFFECTIVE_URL, &effective) == CURLE_OK && effective != nullptr) {
      location = effective;
    }
    char* type = nullptr;
    if (curl_easy_getinfo(easy, CURLINFO_CONTENT_TYPE, &type) == CURLE_OK && type != nullptr) content_type = type;
    if (too_large || result == CURLE_FILESIZE_EXCEEDED) {
      transport_error = "The answer is larger than the limit of " + std::to_string(max_answer) +
                        " bytes (KV_WEB_MAX_ANSWER_BYTES); it was not read.";
    } else if (result == CURLE_SEND_FAIL_REWIND) {
      transport_error = "The connection closed before the answer came; the request was not sent again.";
    } else if (result != CURLE_OK) {
      transport_error = error_buffer[0] != '\0' ? error_buffer : curl_easy_strerror(result);
    } else {
      status = static_cast<int>(code);
    }
  }

  // An in-process stand-in's answer; status 0 stands for a transport failure with the body as its reason.
  void StoreCannedAnswer() {
    if (canned->status == 0) {
      transport_error = canned->body.empty() ? "The connection failed" : canned->body;
    } else {
      status = canned->status;
      content_type = canned->content_type;
      received = std::move(canned->body);
    }
    canned.reset();
  }

  // The document's body text: the answer's text, or the error page of a failure or of a status outside 2xx.
  void StoreBodyText() {
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

ScopedWebAnswers::ScopedWebAnswers(Answerer answerer) : answerer_(std::move(answerer)), previous_(t_web_answers) {
  t_web_answers = this;
}

ScopedWebAnswers::~ScopedWebAnswers() {
  t_web_answers = previous_;
}

ScopedWebAnswers* ScopedWebAnswers::Current() {
  return t_web_answers;
}

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
  return impl_->location;
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
