// The transport over the network: one libcurl multi handle per browser control, driven by the control's event
// source, so that a connection is kept between the requests of one control and never shared with another.
#include <curl/curl.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <map>
#include <mutex>

#include "platform/base/error.h"
#include "platform/base/text.h"
#include "platform/web/http_text.h"
#include "platform/web/transport.h"
#include "platform/web/web_browser.h"

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

bool HasWebScheme(std::string_view url) {
  const std::string lower = kv::ToLowerAscii(url.substr(0, 8));
  return lower.starts_with("http://") || lower.starts_with("https://");
}

bool IsSecure(std::string_view url) {
  return kv::ToLowerAscii(url.substr(0, 8)).starts_with("https://");
}

class CurlChannel final : public Channel {
 public:
  CurlChannel() {
    GlobalInit();
    multi = curl_multi_init();
    if (multi == nullptr) throw kv::Error(kv::kErrInvalidArgument, "The web transfer could not be created");
    curl_multi_setopt(multi, CURLMOPT_SOCKETFUNCTION, &CurlChannel::OnSocket);
    curl_multi_setopt(multi, CURLMOPT_SOCKETDATA, this);
    curl_multi_setopt(multi, CURLMOPT_TIMERFUNCTION, &CurlChannel::OnTimer);
    curl_multi_setopt(multi, CURLMOPT_TIMERDATA, this);
  }

  ~CurlChannel() override {
    ReleaseTransfer();
    curl_multi_cleanup(multi);
  }

  void Start(TransferRequest request) override {
    Cancel();
    flags = request.flags;
    headers = std::move(request.headers);
    follow_redirects = request.follow_redirects;
    has_post = request.post_data.has_value();
    if (has_post) post_body = std::move(*request.post_data);
    redirects = 0;
    location = std::move(request.url);
    Launch(location);
  }

  void Cancel() override {
    // A transfer cut short takes its handle with it; a handle waiting between requests stays for the next.
    if (in_flight) {
      ReleaseTransfer();
    } else {
      ParkTransfer();
    }
    pending_failure = false;
  }

  const std::string& Location() const override { return location; }

  int Prepare(std::vector<pollfd>& fds) override {
    if (pending_failure) return 0;
    for (const auto& [socket, what] : sockets) {
      short events = 0;
      if (what & CURL_POLL_IN) events |= POLLIN;
      if (what & CURL_POLL_OUT) events |= POLLOUT;
      fds.push_back({socket, events, 0});
    }
    std::optional<Clock::time_point> due;
    if (timer_armed) due = timer_due;
    if (in_flight && transferring) due = std::min(due.value_or(Clock::time_point::max()), last_moved + stall_limit);
    if (!due) return -1;
    const auto wait = std::chrono::ceil<std::chrono::milliseconds>(*due - Clock::now()).count();
    return static_cast<int>(std::clamp<int64_t>(wait, 0, 1 << 30));
  }

  std::optional<TransferResult> Dispatch(std::span<const pollfd> fds) override {
    if (pending_failure) return Failure(pending_reason);
    if (!in_flight) return std::nullopt;
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
      if (message->msg == CURLMSG_DONE && message->easy_handle == easy) return Done(message->data.result);
    }
    if (in_flight && Stalled(Clock::now())) {
      return Failure("Operation too slow: nothing was transferred for the last " + std::to_string(stall_limit.count()) +
                     " ms");
    }
    return std::nullopt;
  }

 private:
  static int OnSocket(CURL*, curl_socket_t socket, int what, void* self, void*) {
    auto* channel = static_cast<CurlChannel*>(self);
    if (what == CURL_POLL_REMOVE) {
      channel->sockets.erase(socket);
    } else {
      channel->sockets[socket] = what;
    }
    return 0;
  }

  static int OnTimer(CURLM*, long timeout_ms, void* self) {
    auto* channel = static_cast<CurlChannel*>(self);
    channel->timer_armed = timeout_ms >= 0;
    if (channel->timer_armed) channel->timer_due = Clock::now() + std::chrono::milliseconds(timeout_ms);
    return 0;
  }

  static size_t OnBody(char* data, size_t size, size_t count, void* self) {
    auto* channel = static_cast<CurlChannel*>(self);
    if (channel->received.size() + size * count > channel->max_answer) {
      channel->too_large = true;
      channel->received.clear();
      channel->received.shrink_to_fit();
      return 0;
    }
    channel->received.append(data, size * count);
    return size * count;
  }

  static size_t OnRead(char* buffer, size_t size, size_t count, void* self) {
    auto* channel = static_cast<CurlChannel*>(self);
    const size_t n = std::min(size * count, channel->post_body.size() - channel->post_sent);
    std::copy_n(channel->post_body.data() + channel->post_sent, n, buffer);
    channel->post_sent += n;
    return n;
  }

  static int OnSeek(void* self, curl_off_t offset, int origin) {
    auto* channel = static_cast<CurlChannel*>(self);
    return offset == 0 && origin == SEEK_SET && channel->post_sent == 0 ? CURL_SEEKFUNC_OK : CURL_SEEKFUNC_FAIL;
  }

  // Keeps the reason phrase of the last status line; redirects and interim answers bring several.
  static size_t OnHeader(char* data, size_t size, size_t count, void* self) {
    auto* channel = static_cast<CurlChannel*>(self);
    std::string_view line(data, size * count);
    if (line.starts_with("HTTP/")) {
      channel->received.clear();
      channel->status_reason.clear();
      const size_t code = line.find(' ');
      const size_t reason = code == std::string_view::npos ? code : line.find(' ', code + 1);
      if (reason != std::string_view::npos) {
        std::string_view text = line.substr(reason + 1);
        while (!text.empty() && (text.back() == '\r' || text.back() == '\n' || text.back() == ' ')) {
          text.remove_suffix(1);
        }
        channel->status_reason = std::string(text);
      }
    }
    return size * count;
  }

  // Starts the transfer of one request; the request of a followed redirect starts here too.
  void Launch(const std::string& url) {
    ForgetLastAnswer();
    // The handle of the request before is taken again, with the buffers libcurl keeps in it (among them the upload
    // buffer of a megabyte); every option a request sets is set anew below. A handle made for another certificate
    // file is not.
    const char* ca = std::getenv("KV_WEB_CA_FILE");
    const std::string ca_file = ca != nullptr ? ca : "";
    if (easy != nullptr && ca_file != easy_ca_file) ReleaseEasy();
    if (easy == nullptr) {
      easy = curl_easy_init();
      easy_ca_file = ca_file;
    }
    if (easy == nullptr) {
      pending_failure = true;
      pending_reason = "The web transfer could not be created";
      return;
    }
    SetTransport(url);
    SetLimits();
    SetMethod();
    SetHeaders();
    in_flight = curl_multi_add_handle(multi, easy) == CURLM_OK;
    if (!in_flight) {
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
    curl_easy_setopt(easy, CURLOPT_WRITEFUNCTION, &CurlChannel::OnBody);
    curl_easy_setopt(easy, CURLOPT_WRITEDATA, this);
    curl_easy_setopt(easy, CURLOPT_HEADERFUNCTION, &CurlChannel::OnHeader);
    curl_easy_setopt(easy, CURLOPT_HEADERDATA, this);
    curl_easy_setopt(easy, CURLOPT_SSL_VERIFYPEER, 1L);
    curl_easy_setopt(easy, CURLOPT_SSL_VERIFYHOST, 2L);
    if (!easy_ca_file.empty()) curl_easy_setopt(easy, CURLOPT_CAINFO, easy_ca_file.c_str());
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
      curl_easy_setopt(easy, CURLOPT_READFUNCTION, &CurlChannel::OnRead);
      curl_easy_setopt(easy, CURLOPT_READDATA, this);
      curl_easy_setopt(easy, CURLOPT_SEEKFUNCTION, &CurlChannel::OnSeek);
      curl_easy_setopt(easy, CURLOPT_SEEKDATA, this);
      // A statement body runs to megabytes: larger pieces mean fewer calls into the kernel, each of which wakes
      // the server.
      curl_easy_setopt(easy, CURLOPT_UPLOAD_BUFFERSIZE, kUploadBufferBytes);
      // What a GET before it on this handle asked for.
      curl_easy_setopt(easy, CURLOPT_FRESH_CONNECT, 0L);
    } else {
      curl_easy_setopt(easy, CURLOPT_HTTPGET, 1L);
      // libcurl sends a request again by itself when a reused connection drops before the answer; a request
      // without a body has no rewind to refuse, so it never goes over a reused connection.
      curl_easy_setopt(easy, CURLOPT_FRESH_CONNECT, 1L);
    }
  }

  // The caller's header string as well-formed lines, and the cache headers its flags ask for.
  void SetHeaders() {
    if (header_list != nullptr) {
      curl_slist_free_all(header_list);
      header_list = nullptr;
    }
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

  // After a transfer that ended: the handle leaves the multi handle, whose connection cache keeps the connection,
  // and waits for the next request.
  void ParkTransfer() {
    if (in_flight) curl_multi_remove_handle(multi, easy);
    in_flight = false;
    post_body.clear();
    post_body.shrink_to_fit();
    pending_failure = false;
  }

  void ReleaseEasy() {
    if (easy != nullptr) {
      if (in_flight) curl_multi_remove_handle(multi, easy);
      curl_easy_cleanup(easy);
      easy = nullptr;
    }
    in_flight = false;
    if (header_list != nullptr) {
      curl_slist_free_all(header_list);
      header_list = nullptr;
    }
  }

  // Follows a redirect of a request without a body to the same or a more secure scheme: true when the next
  // request started (no result now); false leaves the redirect to end as the request's failure.
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
    return in_flight || pending_failure;
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
    long header_bytes = 0;
    curl_easy_getinfo(easy, CURLINFO_SIZE_UPLOAD_T, &up);
    curl_easy_getinfo(easy, CURLINFO_SIZE_DOWNLOAD_T, &down);
    curl_easy_getinfo(easy, CURLINFO_HEADER_SIZE, &header_bytes);
    const curl_off_t moved = up + down + header_bytes;
    if (moved != bytes_moved) {
      bytes_moved = moved;
      last_moved = now;
      return false;
    }
    return now - last_moved >= stall_limit;
  }

  // A failure before or instead of an answer, with what bytes of an answer had come; the transfer is released.
  TransferResult Failure(std::string reason) {
    TransferResult result;
    result.location = location;
    result.failure = std::move(reason);
    result.body = std::move(received);
    received.clear();
    Cancel();
    return result;
  }

  // What libcurl ended the transfer with: an answer with its status, or the transport's reason. Empty when a
  // redirect was followed and the next request is under way.
  std::optional<TransferResult> Done(CURLcode code) {
    redirect_failure.clear();
    long status = 0;
    curl_easy_getinfo(easy, CURLINFO_RESPONSE_CODE, &status);
    if (code == CURLE_OK && FollowRedirect(status)) return std::nullopt;
    TransferResult result;
    char* effective = nullptr;
    if (curl_easy_getinfo(easy, CURLINFO_EFFECTIVE_URL, &effective) == CURLE_OK && effective != nullptr) {
      location = effective;
    }
    result.location = location;
    char* type = nullptr;
    if (curl_easy_getinfo(easy, CURLINFO_CONTENT_TYPE, &type) == CURLE_OK && type != nullptr) {
      result.content_type = type;
    }
    if (too_large || code == CURLE_FILESIZE_EXCEEDED) {
      result.failure = "The answer is larger than the limit of " + std::to_string(max_answer) +
                       " bytes (KV_WEB_MAX_ANSWER_BYTES); it was not read.";
    } else if (code == CURLE_SEND_FAIL_REWIND) {
      result.failure = "The connection closed before the answer came; the request was not sent again.";
    } else if (code != CURLE_OK) {
      result.failure = error_buffer[0] != '\0' ? error_buffer : curl_easy_strerror(code);
    } else {
      result.status = static_cast<int>(status);
    }
    result.reason = std::move(status_reason);
    result.body = std::move(received);
    result.redirect_failure = std::move(redirect_failure);
    received.clear();
    status_reason.clear();
    redirect_failure.clear();
    ParkTransfer();
    return result;
  }

  CURLM* multi = nullptr;
  CURL* easy = nullptr;
  std::string easy_ca_file;  // the certificate file the handle was made for; "" for the system's store
  bool in_flight = false;    // the handle is in the multi handle, its transfer under way
  curl_slist* header_list = nullptr;
  std::string location;
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
  // A transfer that failed before it could start; its result comes from the next dispatch like any other.
  bool pending_failure = false;
  std::string pending_reason;

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
  // Why the redirect that ended the transfer was not followed.
  std::string redirect_failure;
};

class CurlTransportImpl final : public Transport {
 public:
  std::unique_ptr<Channel> OpenChannel() override { return std::make_unique<CurlChannel>(); }
};

}  // namespace

Transport& CurlTransport() {
  static CurlTransportImpl transport;
  return transport;
}

}  // namespace platform::web
