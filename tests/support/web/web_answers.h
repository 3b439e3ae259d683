#pragma once
// A fake transport for the browser control: every navigation is answered by a function in the process instead of
// the network, for fuzz targets and tests that drive a whole deliverable without sockets. It needs no test
// framework, so the fuzz targets link it too.

#include <functional>
#include <optional>
#include <string>

#include "platform/web/transport.h"

namespace platform::web::fake {

// A navigation as the fake sees it.
struct WebRequest {
  std::string url;
  std::optional<std::string> post_data;  // absent for a GET
};

// What the fake answers: an HTTP status with its content type and body bytes, or status 0 for a transport failure
// whose reason is the body.
struct WebAnswer {
  int status = 200;
  std::string content_type = "text/plain";
  std::string body;
};

// Answers each navigation from the function, asked when the navigation starts; the answer completes from the
// event loop and is read by the same rules as one that came over HTTP (body text, error pages).
class AnsweringTransport final : public Transport {
 public:
  using Answerer = std::function<WebAnswer(const WebRequest& request)>;
  explicit AnsweringTransport(Answerer answerer) : answerer_(std::move(answerer)) {}
  std::unique_ptr<Channel> OpenChannel() override;
  WebAnswer Answer(const WebRequest& request) const { return answerer_(request); }

 private:
  Answerer answerer_;
};

// While one is alive, every navigation that starts is answered by its function. Scopes nest; the innermost
// answers. An address that is not a web address still fails as it always does.
class ScopedWebAnswers {
 public:
  using Answerer = AnsweringTransport::Answerer;
  explicit ScopedWebAnswers(Answerer answerer) : transport_(std::move(answerer)), scope_(transport_) {}
  ScopedWebAnswers(const ScopedWebAnswers&) = delete;
  ScopedWebAnswers& operator=(const ScopedWebAnswers&) = delete;

 private:
  AnsweringTransport transport_;
  ScopedTransport scope_;
};

}  // namespace platform::web::fake
