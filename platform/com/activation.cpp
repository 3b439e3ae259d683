// The client side of out-of-process activation: starting the server, the create, call and release exchanges,
// and the time-outs that end a server that no longer answers.

#include "platform/com/activation.h"

#include <poll.h>
#include <signal.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <system_error>
#include <utility>
#include <vector>

#include "platform/base/error.h"
#include "platform/com/class_registry.h"
#include "platform/com/local_server.h"
#include "platform/com/wire.h"
#include "platform/os/process.h"

namespace platform::com {
namespace {

using Clock = std::chrono::steady_clock;

constexpr char kCantCreate[] = "ActiveX component can't create object";
// The socket's number in the server; 0-2 stay the standard streams.
constexpr int kServerSideFd = 3;
// How long a server that has lost its client may take to end before it is killed.
constexpr std::chrono::milliseconds kEndGrace{5000};

enum class Phase { kCreate, kCall };

int PollFor(pollfd* fds, nfds_t count, Clock::time_point deadline) {
  const auto left = std::chrono::ceil<std::chrono::milliseconds>(deadline - Clock::now()).count();
  const int timeout = static_cast<int>(std::clamp<int64_t>(left, 0, 1 << 30));
  const int rc = poll(fds, count, timeout);
  return rc < 0 && errno == EINTR ? 0 : rc;
}

}  // namespace

std::string SecondsText(std::chrono::milliseconds span) {
  const auto ms = span.count();
  std::string text = std::to_string(ms / 1000);
  if (ms % 1000 != 0) {
    std::string fraction = std::to_string(1000 + ms % 1000).substr(1);
    while (fraction.back() == '0') fraction.pop_back();
    text += "." + fraction;
  }
  return text;
}

std::chrono::milliseconds RemoteCallTimeout() {
  if (const char* text = std::getenv("KV_COM_TIMEOUT_SECONDS")) {
    char* end = nullptr;
    const double seconds = std::strtod(text, &end);
    if (end != text && *end == '\0' && std::isfinite(seconds) && seconds > 0 && seconds < 1e7) {
      return std::chrono::milliseconds(std::max<int64_t>(1, std::llround(seconds * 1000)));
    }
  }
  return std::chrono::minutes(10);
}

// The server process started for one client and the socket to it.
struct RemoteObject::Connection {
  std::string program;
  os::Process process;
  int fd = -1;
  bool unresponsive = false;

  ~Connection() {
    if (fd >= 0) close(fd);
    // Without its client a sound server ends at once; one stuck in a call would never notice.
    if (process.Running() && !unresponsive) WaitForEnd(Clock::now() + kEndGrace);
    // What is still running is killed and reaped by the process's own end.
  }

  static std::shared_ptr<Connection> Start(const ServerRegistration& entry) {
    auto connection = std::make_shared<Connection>();
    connection->program = entry.program.string();
    int pair[2];
    if (socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, pair) < 0) {
      throw kv::Error(kErrCantCreateObject, std::string(kCantCreate) + ": " + std::strerror(errno));
    }
    connection->fd = pair[0];
    os::Launch launch;
    launch.argv = {connection->program, kEmbeddingSwitch};
    launch.env = {{kServerFdVariable, std::to_string(kServerSideFd)}};
    launch.in = os::Redirect::Null();
    launch.descriptors = {{kServerSideFd, pair[1]}};
    try {
      connection->process = os::Process::Start(launch);
    } catch (const std::system_error& e) {
      close(pair[1]);
      throw kv::Error(kErrCantCreateObject, std::string(kCantCreate) + ": the server program " + connection->program +
                                                " could not be started (" + e.code().message() + ")");
    }
    close(pair[1]);
    return connection;
  }

  // Waits for the server to end until the deadline; true when it has.
  bool WaitForEnd(Clock::time_point deadline) {
    const auto left = std::chrono::ceil<std::chrono::milliseconds>(deadline - Clock::now());
    return process.WaitFor(std::max(left, std::chrono::milliseconds(0))).has_value();
  }

  std::string EndText() {
    const os::ExitStatus status = process.Wait();
    if (status.signal > 0) {
      return "was ended by signal " + std::to_string(status.signal) + " (" + strsignal(status.signal) + ")";
    }
    if (status.code >= 0) return "ended with exit status " + std::to_string(status.code);
    return "ended";
  }

  kv::Error Ended(Phase phase) {
    // The end of the stream comes a moment before the process is gone.
    const bool ended = WaitForEnd(Clock::now() + std::chrono::seconds(2));
    const std::string what = "the server program " + program + " " + (ended ? EndText() : "closed its connection");
    if (phase == Phase::kCreate) {
      return kv::Error(kErrCantCreateObject, std::string(kCantCreate) + ": " + what + " before creating the object");
    }
    return kv::Error(kRpcCallFailed, "The remote procedure call failed: " + what + " during the call");
  }

  // Sends one request and returns the payload of its reply.
  os::Message Call(const std::string& request, Phase phase) {
    if (fd < 0 || !process.Running()) throw Ended(phase);
    // A late answer to the call that timed out would be taken for this call's answer.
    if (unresponsive) {
      throw kv::Error(kRpcTimeout,
                      "This operation returned because the timeout period expired: the server "
                      "program " +
                          program + " has not answered an earlier call");
    }
    const auto timeout = RemoteCallTimeout();
    const auto deadline = Clock::now() + timeout;
    if (!wire::SendAll(fd, request)) throw Ended(phase);
    wire::FrameBuffer received;
    for (;;) {
      try {
        if (auto payload = received.Next()) return *payload;
      } catch (const wire::ProtocolError&) {
        throw kv::Error(kRpcCallFailed, "The remote procedure call failed: the server program " + program +
                                            " sent an answer that is not understood");
      }
      if (Clock::now() >= deadline) {
        unresponsive = true;
        throw kv::Error(kRpcTimeout,
                        "This operation returned because the timeout period expired: the server "
                        "program " +
                            program + " did not answer within " + SecondsText(timeout) + " seconds");
      }
      const int end_fd = process.EndFd();
      pollfd fds[2] = {{fd, POLLIN, 0}, {end_fd, POLLIN, 0}};
      PollFor(fds, end_fd >= 0 ? 2 : 1, end_fd >= 0 ? deadline : std::min(deadline, Clock::now() + kReapSlice));
      if (fds[0].revents & (POLLIN | POLLHUP | POLLERR)) {
        char buffer[4096];
        const ssize_t n = recv(fd, buffer, sizeof buffer, 0);
        if (n > 0) {
          received.Append(buffer, static_cast<size_t>(n));
          continue;
        }
        if (n < 0 && (errno == EINTR || errno == EAGAIN)) continue;
        throw Ended(phase);
      }
      // A server that ended while a child of its own still holds the socket sends no end of stream.
      if (process.TryWait()) throw Ended(phase);
    }
  }

  static constexpr std::chrono::milliseconds kReapSlice{100};
};

namespace {

// Reads a reply: its value, or the server's error raised here.
uint32_t ReplyValue(const os::Message& payload) {
  try {
    wire::Reader in(payload);
    const auto kind = static_cast<wire::ReplyKind>(in.U8());
    if (kind == wire::ReplyKind::kOk) return in.U32();
    if (kind == wire::ReplyKind::kError) {
      const int64_t number = in.I64();
      throw kv::Error(number, in.Text());
    }
  } catch (const wire::ProtocolError&) {
  }
  throw kv::Error(kRpcCallFailed, "The remote procedure call failed: the server sent an answer that is not understood");
}

}  // namespace

RemoteObject::RemoteObject(std::shared_ptr<Connection> connection, uint32_t id)
    : connection_(std::move(connection)), id_(id), held_(true) {}

RemoteObject RemoteObject::Create(const std::string& progId) {
  const std::optional<ServerRegistration> entry = FindLocalServer(progId);
  if (!entry) throw kv::Error(kErrCantCreateObject, kCantCreate);
  std::shared_ptr<Connection> connection = Connection::Start(*entry);
  const std::string request = wire::Writer().U8(static_cast<uint8_t>(wire::RequestKind::kCreate)).Text(progId).Frame();
  const uint32_t id = ReplyValue(connection->Call(request, Phase::kCreate));
  return RemoteObject(std::move(connection), id);
}

RemoteObject::RemoteObject(RemoteObject&& other) noexcept
    : connection_(std::move(other.connection_)), id_(other.id_), held_(std::exchange(other.held_, false)) {}

RemoteObject& RemoteObject::operator=(RemoteObject&& other) noexcept {
  if (this != &other) {
    if (held_) {
      try {
        Release();
      } catch (...) {
      }
    }
    connection_ = std::move(other.connection_);
    id_ = other.id_;
    held_ = std::exchange(other.held_, false);
  }
  return *this;
}

RemoteObject::~RemoteObject() {
  if (held_ && !connection_->unresponsive) {
    try {
      Release();
    } catch (...) {
      // Nobody is left to tell; the connection's end below still ends and reaps the server.
    }
  }
}

void RemoteObject::Inform(const std::string& eventXML) {
  if (!held_) throw kv::Error(kv::kErrObjectRequired, "Object required");
  const std::string request =
      wire::Writer().U8(static_cast<uint8_t>(wire::RequestKind::kInform)).U32(id_).Text(eventXML).Frame();
  ReplyValue(connection_->Call(request, Phase::kCall));
}

void RemoteObject::Release() {
  if (!held_) return;
  held_ = false;
  const std::string request = wire::Writer().U8(static_cast<uint8_t>(wire::RequestKind::kRelease)).U32(id_).Frame();
  ReplyValue(connection_->Call(request, Phase::kCall));
}

bool RemoteObject::IsHeld() const {
  return held_;
}

int RemoteObject::ServerProcessId() const {
  return connection_ ? connection_->process.Id() : -1;
}

int RemoteObject::WaitForServerExit() {
  if (!connection_) throw kv::Error(kv::kErrObjectRequired, "Object required");
  if (held_) throw kv::Error(kv::kErrInvalidArgument, "The object is still held; release it first");
  const auto timeout = RemoteCallTimeout();
  if (!connection_->WaitForEnd(Clock::now() + timeout)) {
    connection_->unresponsive = true;
    throw kv::Error(kRpcTimeout, "This operation returned because the timeout period expired: the server program " +
                                     connection_->program + " was still running " + SecondsText(timeout) +
                                     " seconds after its last object was released");
  }
  return connection_->process.Wait().ShellStatus();
}

void ActivateAndInform(const std::string& progId, const std::string& eventXML) {
  RemoteObject object = RemoteObject::Create(progId);
  object.Inform(eventXML);
  object.Release();
  object.WaitForServerExit();
}

}  // namespace platform::com
