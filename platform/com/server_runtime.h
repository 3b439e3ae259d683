#pragma once

// The server side of one client connection, apart from local_server.h so tests can run one over a socketpair.

#include <cstdint>
#include <deque>
#include <map>
#include <memory>
#include <string>

#include "platform/com/local_server.h"
#include "platform/com/wire.h"
#include "platform/forms/event_loop.h"

namespace platform::com {

// One server's connection to its client, its classes, objects and locks. local_server.cpp keeps the process's
// one instance; tests make their own over a socketpair. The rules it keeps are described in local_server.h.
class ServerRuntime : public forms::EventSource {
 public:
  // Takes ownership of the connected socket; -1 for a process that has no client.
  explicit ServerRuntime(int fd);
  ~ServerRuntime() override;
  ServerRuntime(const ServerRuntime&) = delete;
  ServerRuntime& operator=(const ServerRuntime&) = delete;

  bool Connected() const { return fd_ >= 0; }
  bool HadClient() const { return had_client_; }
  // Registers the class and starts serving from the loop.
  void RegisterClass(const std::string& progId, ClassFactory factory, forms::EventLoop& loop);
  void Lock() { ++locks_; }
  void Unlock() {
    if (locks_ > 0) --locks_;
  }
  int LockCount() const { return locks_; }
  int ObjectCount() const { return static_cast<int>(objects_.size()); }
  // True once nothing keeps the server running.
  bool Finished() const;
  // Serves from the loop until Finished.
  int Run(forms::EventLoop& loop);

  int Prepare(std::vector<pollfd>& fds) override;
  void Dispatch(std::span<const pollfd> fds) override;

 private:
  void ReadAvailable();
  void ServeQueue();
  std::string Serve(const os::Message& request);
  std::string Create(const std::string& progId);
  std::string Inform(uint32_t id, const std::string& text);
  std::string Release(uint32_t id);
  void Disconnect();
  void ReleaseAll();

  int fd_;
  bool had_client_;
  forms::EventLoop* loop_ = nullptr;
  bool busy_ = false;
  bool created_any_ = false;
  int locks_ = 0;
  uint32_t next_id_ = 1;
  std::map<std::string, ClassFactory> classes_;  // by lower-case ProgID
  std::map<uint32_t, std::unique_ptr<IEventCallback>> objects_;
  wire::FrameBuffer received_;
  std::deque<os::Message> pending_;
};

}  // namespace platform::com
