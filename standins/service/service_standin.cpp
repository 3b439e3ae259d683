// The stand-in's HTTP server: routing, faults, the recording of every request and stopping.

#include "standins/service/service_standin.h"

#include <arpa/inet.h>
#include <dirent.h>
#include <httplib.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <condition_variable>
#include <cstdlib>
#include <cstring>
#include <iostream>
#include <memory>
#include <mutex>
#include <set>
#include <stdexcept>

#include "standins/service/data_dir.h"
#include "standins/service/pages.h"
#include "standins/service/request_log.h"

namespace standins::service {
namespace {

int HexValue(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  return -1;
}

// Query values as the service's pages read them: "+" is a blank, %XX a byte.
std::string FormDecode(std::string_view text) {
  std::string out;
  for (size_t i = 0; i < text.size(); ++i) {
    if (text[i] == '+') {
      out.push_back(' ');
    } else if (text[i] == '%' && i + 2 < text.size() && HexValue(text[i + 1]) >= 0 && HexValue(text[i + 2]) >= 0) {
      out.push_back(static_cast<char>(HexValue(text[i + 1]) * 16 + HexValue(text[i + 2])));
      i += 2;
    } else {
      out.push_back(text[i]);
    }
  }
  return out;
}

std::vector<std::pair<std::string, std::string>> ParseTargetQuery(std::string_view target) {
  std::vector<std::pair<std::string, std::string>> pairs;
  const size_t mark = target.find('?');
  if (mark == std::string_view::npos) return pairs;
  std::string_view query = target.substr(mark + 1);
  if (const size_t hash = query.find('#'); hash != std::string_view::npos) query = query.substr(0, hash);
  while (!query.empty()) {
    const size_t amp = query.find('&');
    const std::string_view item = query.substr(0, amp);
    const size_t eq = item.find('=');
    if (!item.empty()) {
      pairs.emplace_back(FormDecode(item.substr(0, eq)),
                         eq == std::string_view::npos ? std::string() : FormDecode(item.substr(eq + 1)));
    }
    if (amp == std::string_view::npos) break;
    query.remove_prefix(amp + 1);
  }
  return pairs;
}

std::string PageOf(const std::string& path) {
  const size_t slash = path.rfind('/');
  return slash == std::string::npos ? path : path.substr(slash + 1);
}

int PortOf(const sockaddr_storage& address) {
  if (address.ss_family == AF_INET) return ntohs(reinterpret_cast<const sockaddr_in&>(address).sin_port);
  if (address.ss_family == AF_INET6) return ntohs(reinterpret_cast<const sockaddr_in6&>(address).sin6_port);
  return -1;
}

// The server library offers no way to hang up from a handler, so the connection's socket is found among the
// process's descriptors by its two ports and shut down; the library's answer then goes nowhere.
void DropConnection(int local_port, int remote_port) {
  DIR* dir = opendir("/proc/self/fd");
  if (dir == nullptr) return;
  while (dirent* entry = readdir(dir)) {
    char* end = nullptr;
    const long fd = std::strtol(entry->d_name, &end, 10);
    if (end == entry->d_name || *end != '\0' || fd == dirfd(dir)) continue;
    sockaddr_storage local{}, peer{};
    socklen_t local_len = sizeof local, peer_len = sizeof peer;
    if (getsockname(static_cast<int>(fd), reinterpret_cast<sockaddr*>(&local), &local_len) != 0) continue;
    if (getpeername(static_cast<int>(fd), reinterpret_cast<sockaddr*>(&peer), &peer_len) != 0) continue;
    if (PortOf(local) == local_port && PortOf(peer) == remote_port) shutdown(static_cast<int>(fd), SHUT_RDWR);
  }
  closedir(dir);
}

RecordedHeaders HeadersOf(const httplib::Request& req) {
  RecordedHeaders headers;
  for (const auto& [name, value] : req.headers) {
    // The library files the peer's addresses among the headers.
    if (name == "REMOTE_ADDR" || name == "REMOTE_PORT" || name == "LOCAL_ADDR" || name == "LOCAL_PORT") continue;
    headers.emplace_back(name, value);
  }
  return headers;
}

std::unique_ptr<httplib::Server> MakeHttpServer(const StandinOptions& options) {
  if (options.tls_cert.empty() && options.tls_key.empty()) return std::make_unique<httplib::Server>();
  auto server = std::make_unique<httplib::SSLServer>(options.tls_cert.c_str(), options.tls_key.c_str());
  if (!server->is_valid()) {
    throw std::runtime_error("cannot use the certificate " + options.tls_cert.string() + " with the key " +
                             options.tls_key.string());
  }
  return server;
}

// The server library says only that it could not listen; a bind of our own, set up as the library's, says why.
std::string WhyNotBound(int port) {
  const int sock = socket(AF_INET, SOCK_STREAM, 0);
  if (sock < 0) return std::strerror(errno);
  int yes = 1;
  setsockopt(sock, SOL_SOCKET, SO_REUSEADDR, &yes, sizeof yes);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_port = htons(static_cast<uint16_t>(port));
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  const int result = bind(sock, reinterpret_cast<const sockaddr*>(&address), sizeof address);
  const int error = errno;
  close(sock);
  if (result == 0) return "the port could not be bound";
  if (error == EADDRINUSE) return "the port is in use by another program (--port 0 picks a free one)";
  return std::strerror(error);
}

}  // namespace

struct ServiceStandin::Server {
  std::unique_ptr<httplib::Server> server;
  httplib::Server& http;
  DataDir data;
  std::unique_ptr<RequestRecorder> recorder;
  // The requests a handler recorded and the logger has not yet seen: the logger records only what never reached a
  // handler (a body too large, a request the library refused). The logger sees the handler's own request object,
  // and cpp-httplib calls it after every handler, so an address is always taken out again before the library
  // reuses that object for the connection's next request.
  std::mutex recorded_mutex;
  std::set<const httplib::Request*> recorded;
  std::mutex mutex;
  std::condition_variable stopping_changed;
  bool stopping = false;

  Server(const StandinOptions& options, std::unique_ptr<RequestRecorder> request_recorder)
      : server(MakeHttpServer(options)), http(*server), data(options.data_dir), recorder(std::move(request_recorder)) {}

  void Record(const httplib::Request& req, std::string_view body) {
    recorder->Record(req.method + " " + req.target + " " + req.version, HeadersOf(req), body);
  }

  // Whether a handler recorded the request; forgets it either way.
  bool TakeRecorded(const httplib::Request& req) {
    std::lock_guard lock(recorded_mutex);
    return recorded.erase(&req) > 0;
  }

  // Waits out a delay; false when the stand-in is stopping meanwhile.
  bool Delay(std::chrono::milliseconds delay) {
    std::unique_lock lock(mutex);
    return !stopping_changed.wait_for(lock, delay, [this] { return stopping; });
  }

  void Handle(const httplib::Request& req, httplib::Response& res, const std::string& base_url) {
    Record(req, req.body);
    {
      std::lock_guard lock(recorded_mutex);
      recorded.insert(&req);
    }
    const PageRequest request{PageOf(req.path), ParseTargetQuery(req.target), base_url, req.body};
    const Fault fault = data.TakeFault(request.page);
    if (fault.delay.count() > 0 && !Delay(fault.delay)) {
      DropConnection(req.local_port, req.remote_port);
      return;
    }
    Answer answer;
    if (auto scripted = data.TakeAnswer(request.page)) {
      answer.content_type = ContentTypeOf(*scripted);
      answer.body = std::move(*scripted);
    } else {
      // A request that fails before the page runs changes nothing; a lost answer comes after the work.
      const bool failed = fault.drop || fault.status != 0 || !fault.redirect.empty();
      answer = NormalAnswer(data, request, failed && !fault.answer_lost ? PageWork::kAnswerOnly : PageWork::kDo);
    }
    if (fault.drop || fault.answer_lost) {
      DropConnection(req.local_port, req.remote_port);
      res.status = 500;
      return;
    }
    res.status = fault.status != 0 ? fault.status : answer.status;
    if (!fault.redirect.empty()) {
      if (fault.status == 0) res.status = 302;
      res.set_header("Location", fault.redirect);
    }
    if (fault.trickle.count() > 0) {
      auto body = std::make_shared<std::string>(std::move(answer.body));
      res.set_content_provider(body->size(), answer.content_type,
                               [this, body, trickle = fault.trickle](size_t offset, size_t, httplib::DataSink& sink) {
                                 if (!Delay(trickle)) return false;
                                 return sink.write(body->data() + offset, 1);
                               });
      return;
    }
    if (fault.chunked) {
      auto body = std::make_shared<std::string>(std::move(answer.body));
      res.set_chunked_content_provider(answer.content_type, [body](size_t offset, httplib::DataSink& sink) {
        const size_t n = std::min<size_t>(16384, body->size() - offset);
        if (n > 0 && !sink.write(body->data() + offset, n)) return false;
        if (offset + n >= body->size()) sink.done();
        return true;
      });
      return;
    }
    res.set_content(answer.body, answer.content_type.c_str());
  }
};

ServiceStandin::ServiceStandin(StandinOptions options) : options_(std::move(options)) {
  std::filesystem::create_directories(options_.data_dir / "received");
  server_ = std::make_unique<Server>(options_, std::make_unique<RequestLog>(options_.data_dir / "received"));
}

ServiceStandin::ServiceStandin(StandinOptions options, std::unique_ptr<RequestRecorder> recorder)
    : options_(std::move(options)) {
  server_ = std::make_unique<Server>(options_, std::move(recorder));
}

ServiceStandin::~ServiceStandin() {
  Stop();
}

std::string ServiceStandin::Bind() {
  httplib::Server& http = server_->http;
  http.set_payload_max_length(options_.max_body);
  // Benchmarks send thousands of requests over one connection; without TCP_NODELAY (inherited by accepted
  // sockets) each answer's second write would wait for the client's delayed acknowledgement.
  http.set_keep_alive_max_count(1000000);
  http.set_socket_options([](socket_t sock) {
    int yes = 1;
    setsockopt(sock, SOL_SOCKET, SO_REUSEADDR, &yes, sizeof yes);
    setsockopt(sock, IPPROTO_TCP, TCP_NODELAY, &yes, sizeof yes);
  });
  auto handler = [this](const httplib::Request& req, httplib::Response& res) { server_->Handle(req, res, base_url_); };
  http.Get(".*", handler);
  http.Post(".*", handler);
  http.set_logger([this](const httplib::Request& req, const httplib::Response& res) {
    if (!server_->TakeRecorded(req) && !req.method.empty()) {
      try {
        server_->Record(req, {});
      } catch (const std::exception& e) {
        std::cerr << "kalvor-standin: " << e.what() << " (status " << res.status << ")\n";
      }
    }
  });
  http.set_exception_handler([](const httplib::Request&, httplib::Response& res, std::exception_ptr ep) {
    std::string what = "unknown error";
    try {
      std::rethrow_exception(ep);
    } catch (const std::exception& e) {
      what = e.what();
    } catch (...) {
    }
    std::cerr << "kalvor-standin: " << what << "\n";
    res.status = 500;
    res.set_content("ERROR:" + what, "text/plain");
  });

  int port = options_.port;
  if (port == 0) {
    port = http.bind_to_any_port("127.0.0.1");
    if (port < 0) throw std::runtime_error("cannot listen on 127.0.0.1");
  } else if (!http.bind_to_port("127.0.0.1", port)) {
    throw std::runtime_error("cannot listen on 127.0.0.1:" + std::to_string(port) + ": " + WhyNotBound(port));
  }
  const bool tls = !options_.tls_cert.empty() || !options_.tls_key.empty();
  base_url_ = (tls ? "https://127.0.0.1:" : "http://127.0.0.1:") + std::to_string(port) + "/";
  return base_url_;
}

void ServiceStandin::Run() {
  server_->http.listen_after_bind();
}

void ServiceStandin::Stop() {
  if (!server_) return;
  {
    std::lock_guard lock(server_->mutex);
    server_->stopping = true;
  }
  server_->stopping_changed.notify_all();
  server_->http.stop();
}

}  // namespace standins::service
