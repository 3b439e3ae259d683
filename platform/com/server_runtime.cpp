// One server's connection to its client: the create, call and release requests, and the replies to them.

#include "platform/com/server_runtime.h"

#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cerrno>

#include "platform/base/error.h"
#include "platform/com/activation.h"

namespace platform::com {
namespace {

std::string Lower(std::string text) {
  std::transform(text.begin(), text.end(), text.begin(),
                 [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
  return text;
}

// What went wrong in the program's own code, as the client will read it.
std::string FailureReply(int64_t fallback_number) {
  try {
    throw;
  } catch (const kv::Error& e) {
    return wire::ErrorReply(e.number(), e.description());
  } catch (const std::exception& e) {
    return wire::ErrorReply(fallback_number, e.what());
  } catch (...) {
    return wire::ErrorReply(fallback_number, "Unexpected error");
  }
}

}  // namespace

ServerRuntime::ServerRuntime(int fd) : fd_(fd), had_client_(fd >= 0) {}

ServerRuntime::~ServerRuntime() {
  if (loop_) loop_->RemoveSource(this);
  if (fd_ >= 0) close(fd_);
}

void ServerRuntime::RegisterClass(const std::string& progId, ClassFactory factory, forms::EventLoop& loop) {
  classes_[Lower(progId)] = std::move(factory);
  if (loop_ != &loop) {
    if (loop_) loop_->RemoveSource(this);
    loop_ = &loop;
    loop.AddSource(this);
  }
}

bool ServerRuntime::Finished() const {
  if (busy_ || !objects_.empty()) return false;
  if (fd_ < 0) return true;
  // Until the client's first create the connection alone keeps the server up; the client is on its way.
  return created_any_ && locks_ == 0;
}

int ServerRuntime::Run(forms::EventLoop& loop) {
  if (loop_ != &loop) {
    if (loop_) loop_->RemoveSource(this);
    loop_ = &loop;
    loop.AddSource(this);
  }
  loop.WaitWhile([this] { return !Finished(); });
  return 0;
}

int ServerRuntime::Prepare(std::vector<pollfd>& fds) {
  if (fd_ >= 0) fds.push_back({fd_, POLLIN, 0});
  return -1;
}

void ServerRuntime::Dispatch(std::span<const pollfd> fds) {
  if (fd_ >= 0 && !fds.empty() && fds[0].fd == fd_ && fds[0].revents != 0) ReadAvailable();
  ServeQueue();
}

void ServerRuntime::ReadAvailable() {
  char buffer[65536];
  for (;;) {
    const ssize_t n = read(fd_, buffer, sizeof buffer);
    if (n > 0) {
      received_.Append(buffer, static_cast<size_t>(n));
      if (static_cast<size_t>(n) < sizeof buffer) break;
      continue;
    }
    if (n < 0 && errno == EINTR) continue;
    if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) break;
    Disconnect();  // end of stream or a broken connection: the client is gone
    return;
  }
  try {
    while (auto payload = received_.Next()) pending_.push_back(std::move(*payload));
  } catch (const wire::ProtocolError&) {
    Disconnect();
  }
}

void ServerRuntime::ServeQueue() {
  // A call that pumps the loop comes back here through Dispatch; the busy flag keeps the next request waiting
  // until that call has returned.
  while (!busy_ && !pending_.empty() && fd_ >= 0) {
    const os::Message request = std::move(pending_.front());
    pending_.pop_front();
    busy_ = true;
    const std::string reply = Serve(request);
    busy_ = false;
    if (fd_ >= 0 && !wire::SendAll(fd_, reply)) Disconnect();
  }
  if (fd_ < 0 && !busy_) {
    pending_.clear();
    ReleaseAll();
  }
}

std::string ServerRuntime::Serve(const os::Message& request) {
  try {
    wire::Reader in(request);
    switch (static_cast<wire::RequestKind>(in.U8())) {
      case wire::RequestKind::kCreate:
        return Create(in.Text());
      case wire::RequestKind::kInform: {
        const uint32_t id = in.U32();
        return Inform(id, in.Text());
      }
      case wire::RequestKind::kRelease:
        return Release(in.U32());
    }
  } catch (const wire::ProtocolError&) {
  }
  return wire::ErrorReply(kv::kErrInvalidArgument, "Malformed request");
}

std::string ServerRuntime::Create(const std::string& progId) {
  auto it = classes_.find(Lower(progId));
  if (it == classes_.end()) {
    return wire::ErrorReply(kErrCantCreateObject,
                            "ActiveX component can't create object: this server does not serve " + progId);
  }
  created_any_ = true;
  try {
    std::unique_ptr<IEventCallback> object = it->second();
    if (!object) return wire::ErrorReply(kErrCantCreateObject, "ActiveX component can't create object");
    const uint32_t id = next_id_++;
    objects_[id] = std::move(object);
    return wire::OkReply(id);
  } catch (...) {
    return FailureReply(kErrCantCreateObject);
  }
}

std::string ServerRuntime::Inform(uint32_t id, const std::string& text) {
  auto it = objects_.find(id);
  if (it == objects_.end()) {
    return wire::ErrorReply(kRpcDisconnected, "The object invoked has disconnected from its clients.");
  }
  // The object stays alive for the whole call: its own release can only be served after the call returns.
  IEventCallback* object = it->second.get();
  try {
    object->inform(text);
    return wire::OkReply(0);
  } catch (...) {
    return FailureReply(static_cast<int32_t>(E_FAIL));
  }
}

std::string ServerRuntime::Release(uint32_t id) {
  auto it = objects_.find(id);
  if (it == objects_.end()) {
    return wire::ErrorReply(kRpcDisconnected, "The object invoked has disconnected from its clients.");
  }
  std::unique_ptr<IEventCallback> object = std::move(it->second);
  objects_.erase(it);
  object.reset();
  return wire::OkReply(0);
}

void ServerRuntime::Disconnect() {
  if (fd_ < 0) return;
  close(fd_);
  fd_ = -1;
}

void ServerRuntime::ReleaseAll() {
  // Destructors may pump the loop and come back here; they find the map already empty.
  auto doomed = std::move(objects_);
  objects_.clear();
  doomed.clear();
}

}  // namespace platform::com
