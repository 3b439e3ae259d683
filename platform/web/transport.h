#pragma once
// The seam between the browser control and the network: the browser keeps the document and its reading rules, a
// transport moves the bytes. The real transport is libcurl's; tests and fuzz targets install a fake
// (tests/support/web/web_answers.h) the way platform/qb's class factory takes fakes.

#include <poll.h>

#include <cstdint>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <vector>

namespace platform::web {

// One navigation as the browser hands it over; the address is already known to be http:// or https://.
struct TransferRequest {
  std::string url;
  int flags = 0;                         // kNavNoReadFromCache asks for the no-cache headers
  std::optional<std::string> post_data;  // absent for a GET
  std::string headers;                   // the caller's header string, not yet made well-formed
  bool follow_redirects = true;
};

// How a transfer ended: an answer with its status, or a failure of the transport (status 0).
struct TransferResult {
  std::string location;  // the address of the answer, after the redirects followed
  int status = 0;
  std::string failure;  // why no answer came; empty when one did
  std::string reason;   // the reason phrase of the answer's status line, when it had one
  std::string content_type;
  std::string body;              // the answer's bytes as they came
  std::string redirect_failure;  // why the redirect the answer asked for was not followed
};

// The transfers of one browser control, one at a time, over the connections the channel keeps between them. The
// browser's event source drives it: Prepare and Dispatch keep the event loop's contract (forms::EventSource).
class Channel {
 public:
  virtual ~Channel() = default;
  // Starts a transfer; the one in flight, if any, is cancelled first. Never completes from inside.
  virtual void Start(TransferRequest request) = 0;
  // Ends the transfer in flight without a result; harmless when there is none.
  virtual void Cancel() = 0;
  // The address being fetched now (a followed redirect changes it).
  virtual const std::string& Location() const = 0;
  virtual int Prepare(std::vector<pollfd>& fds) = 0;
  // The result once the transfer in flight has ended, and from then on no transfer is in flight.
  virtual std::optional<TransferResult> Dispatch(std::span<const pollfd> fds) = 0;
};

class Transport {
 public:
  virtual ~Transport() = default;
  virtual std::unique_ptr<Channel> OpenChannel() = 0;
};

// The transport over the network (libcurl): time-outs, size limit and certificate checks as web_browser.h lists.
Transport& CurlTransport();

// The transport browsers use for their next navigation: the innermost ScopedTransport's, else CurlTransport().
Transport& InstalledTransport();
// Changes whenever a transport is installed or put back, so that a browser opens a channel of the transport
// installed now rather than keep one of a transport that is gone.
uint64_t InstalledTransportGeneration();

// Installs a transport for the lifetime of the scope and puts back the one before it at its end. The transport
// must outlive the scope. Scopes nest; the innermost is used.
class ScopedTransport {
 public:
  explicit ScopedTransport(Transport& transport);
  ~ScopedTransport();
  ScopedTransport(const ScopedTransport&) = delete;
  ScopedTransport& operator=(const ScopedTransport&) = delete;

 private:
  Transport* previous_;
};

}  // namespace platform::web
