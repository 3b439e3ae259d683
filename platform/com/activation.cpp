#include "platform/com/activation.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/socket.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <utility>
#include <vector>

#include "common/error.h"
#include "platform/com/class_registry.h"
#include "platform/com/local_server.h"
#include "platform/com/wire.h"

extern char** environ;

namespace platform::com {
namespace {

using Clock = std::chrono::steady_clock;

constexpr char kCantCreate[] = "ActiveX component can't create object";
// The socket's number in the server; 0-2 stay the standard streams.
constexpr int kServerSideFd = 3;
// How long a server that has lost its client may take to end before it is killed.
constexpr std::chrono::milliseconds kEndGrace{5000};

enum class Phase { kCreate, kCall };

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

int PollFor(pollfd* fds, nfds_t count, Clock::time_point deadline) {
  const auto left = std::chrono::ceil<std::chrono::milliseconds>(deadline - Clock::now()).count();
  const int timeout = static_cast<int>(std::clamp<int64_t>(left, 0, 1 << 30));
  const int rc = poll(fds, count, timeout);
  return rc < 0 && errno == EINTR ? 0 : rc;
}

}  // namespace

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
  pid_t pid = -1;
  int fd = -1;
  int pidfd = -1;  // readable when the server ends; -1 where the kernel offers none
  bool ended = false;
  int status = 0;
  bool unresponsive = false;

  ~Connection() {
    if (fd >= 0) close(fd);
    if (pid > 0 && !ended) {
      // Without its client a sound server ends at once; one stuck in a call would never notice.
      if (!unresponsive) WaitForEnd(Clock::now() + kEndGrace);
      if (!ended) {
        kill(pid, SIGKILL);
        int raw = 0;
        while (waitpid(pid, &raw, 0) < 0 && errno == EINTR) {
        }
        ended = true;
      }
    }
    if (pidfd >= 0) close(pidfd);
  }

  static std::shared_ptr<Connection> Start(const ServerRegistration& entry) {
    auto connection = std::make_shared<Connection>();
    connection->program = entry.program.string();
    int pair[2];
    if (socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, pair) < 0) {
      throw kv::Error(kErrCantCreateObject, std::string(kCantCreate) + ": " + std::strerror(errno));
    }
    connection->fd = pair[0];

    std::vector<std::string> variables;
    const std::string marker = std::string(kServerFdVariable) + "=";
    for (char** e = environ; e && *e; ++e) {
      if (std::strncmp(*e, marker.c_str(), marker.size()) != 0) variables.emplace_back(*e);
    }
    variables.push_back(marker + std::to_string(kServerSideFd));
    std::vector<char*> envp;
    for (std::string& v : variables) envp.push_back(v.data());
    envp.push_back(nullptr);
    std::string arg0 = connection->program;
    std::string arg1 = kEmbeddingSwitch;
    char* argv[] = {arg0.data(), arg1.data(), nullptr};

    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    // dup2 onto itself clears close-on-exec, so the socket survives exec whichever number it has.
    posix_spawn_file_actions_adddup2(&actions, pair[1], kServerSideFd);
    posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
#if defined(__GLIBC__) && (__GLIBC__ > 2 || __GLIBC_MINOR__ >= 34)
    posix_spawn_file_actions_addclosefrom_np(&actions, kServerSideFd + 1);
#endif
    pid_t pid = -1;
    const int rc = posix_spawn(&pid, arg0.c_str(), &actions, nullptr, argv, envp.data());
    posix_spawn_file_actions_destroy(&actions);
    close(pair[1]);
    if (rc != 0) {
      throw kv::Error(kErrCantCreateObject, std::string(kCantCreate) + ": the server program " + connection->program +
                                                " could not be started (" + std::strerror(rc) + ")");
    }
    connection->pid = pid;
    connection->pidfd = static_cast<int>(syscall(SYS_pidfd_open, pid, 0));
    if (connection->pidfd >= 0) fcntl(connection->pidfd, F_SETFD, FD_CLOEXEC);
    return connection;
  }

  bool TryReap() {
    if (ended) return true;
    int raw = 0;
    pid_t rc;
    do {
      rc = waitpid(pid, &raw, WNOHANG);
    } while (rc < 0 && errno == EINTR);
    if (rc == 0) return false;
    ended = true;
    status = rc < 0 ? -1 : WIFEXITED(raw) ? WEXITSTATUS(raw) : WIFSIGNALED(raw) ? 128 + WTERMSIG(raw) : -1;
    if (rc > 0 && WIFSIGNALED(raw)) signal_number = WTERMSIG(raw);
    return true;
  }

  // Waits for the server to end until the deadline; true when it has.
  bool WaitForEnd(Clock::time_point deadline) {
    while (!TryReap()) {
      if (Clock::now() >= deadline) return false;
      if (pidfd >= 0) {
        pollfd p{pidfd, POLLIN, 0};
        PollFor(&p, 1, deadline);
      } else {
        pollfd none{-1, 0, 0};
        PollFor(&none, 1, std::min(deadline, Clock::now() + std::chrono::milliseconds(20)));
      }
    }
    return true;
  }

  std::string EndText() const {
    if (signal_number > 0) {
      return "was ended by signal " + std::to_string(signal_number) + " (" + strsignal(signal_number) + ")";
    }
    if (status >= 0) return "ended with exit status " + std::to_string(status);
    return "ended";
  }

  kv::Error Ended(Phase phase) {
    // The end of the stream comes a moment before the process is gone.
    WaitForEnd(Clock::now() + std::chrono::seconds(2));
    const std::string what = "the server program " + program + " " + (ended ? EndText() : "closed its connection");
    if (phase == Phase::kCreate) {
      return kv::Error(kErrCantCreateObject, std::string(kCantCreate) + ": " + what + " before creating the object");
    }
    return kv::Error(kRpcCallFailed, "The remote procedure call failed: " + what + " during the call");
  }

  // Sends one request and returns the payload of its reply.
  std::string Call(const std::string& request, Phase phase) {
    if (fd < 0 || ended) throw Ended(phase);
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
      pollfd fds[2] = {{fd, POLLIN, 0}, {pidfd, POLLIN, 0}};
      PollFor(fds, pidfd >= 0 ? 2 : 1, pidfd >= 0 ? deadline : std::min(deadline, Clock::now() + kReapSlice));
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
      if (TryReap()) throw Ended(phase);
    }
  }

  int signal_number = 0;
  static constexpr std::chrono::milliseconds kReapSlice{100};
};

namespace {

// Reads a reply: its value, or the server's error raised here.
uint32_t ReplyValue(const std::string& payload) {
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
  return connection_ ? connection_->pid : -1;
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
  return connection_->status;
}

void ActivateAndInform(const std::string& progId, const std::string& eventXML) {
  RemoteObject object = RemoteObject::Create(progId);
  object.Inform(eventXML);
  object.Release();
  object.WaitForServerExit();
}

}  // namespace platform::com
