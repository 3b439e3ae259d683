#pragma once

// Creating an object in another process by its ProgID and calling it, as the platform's activation does.

#include <chrono>
#include <memory>
#include <string>

namespace platform::com {

// The setting of a call to a local server, as a program's help lists it.
inline constexpr char kSettingsHelp[] = "  KV_COM_TIMEOUT_SECONDS     time for a QuickBooks call (default 600)\n";

// Error numbers of activation and remote calls (as the platform reports them).
inline constexpr int64_t kErrCantCreateObject = 429;                          // "ActiveX component can't create object"
inline constexpr int64_t kRpcCallFailed = static_cast<int32_t>(0x800706BEu);  // the server ended during a call
inline constexpr int64_t kRpcTimeout = static_cast<int32_t>(0x8001011Fu);     // no answer within the time-out
inline constexpr int64_t kRpcDisconnected = static_cast<int32_t>(0x80010108u);  // object unknown to the server

// How long a client waits for any one answer of a server (and for the server to end after the last release), and
// how long any call of QuickBooks may take (platform/qb): KV_COM_TIMEOUT_SECONDS (decimals allowed), default 600.
std::chrono::milliseconds RemoteCallTimeout();
// A span as a number of seconds, as the setting is written: "600", "0.5".
std::string SecondsText(std::chrono::milliseconds span);

// An object created in a server process that this client started (single use: each Create starts its own
// server process). The server program is looked up by ProgID in the class registry and started as
// "<program> -Embedding", with standard input from /dev/null and this process's standard output and error.
// Calls block until the server answers. Errors are kv::Error:
//   - Create: 429 "ActiveX component can't create object" when the ProgID is not registered; 429 with the
//     reason appended when the program cannot be started, ends before answering or does not serve the class;
//     the factory's own error when its constructor fails.
//   - Inform: the number and description the server's inform raised; kRpcCallFailed when the server ends
//     during the call; kRpcTimeout when it does not answer in time (after which every further call on the
//     object raises kRpcTimeout at once: a late answer must not be taken for another call's).
// The destructor releases the object when still held (errors ignored), closes the connection, and reaps the
// server, killing it when it has not ended within a few seconds of losing its client.
class RemoteObject {
 public:
  static RemoteObject Create(const std::string& progId);

  RemoteObject(RemoteObject&&) noexcept;
  RemoteObject& operator=(RemoteObject&&) noexcept;
  ~RemoteObject();

  void Inform(const std::string& eventXML);
  // Releases the object; the server ends after it unless it holds a lock. Releasing again does nothing;
  // Inform on a released object raises 424 "Object required".
  void Release();
  bool IsHeld() const;
  int ServerProcessId() const;
  // After Release: waits for the server to end on its own and returns its exit status (128 + signal number
  // when a signal ended it). Raises kRpcTimeout when it is still running after the time-out.
  int WaitForServerExit();

 private:
  struct Connection;
  RemoteObject(std::shared_ptr<Connection> connection, uint32_t id);
  std::shared_ptr<Connection> connection_;
  uint32_t id_ = 0;
  bool held_ = false;
};

// What a QuickBooks menu pick does: create the ProgID's object, inform it with the event text, release it, and
// wait for the server to end. Errors as above.
void ActivateAndInform(const std::string& progId, const std::string& eventXML);

}  // namespace platform::com
