#pragma once

// What a program does to be an out-of-process server: registration arguments, class objects, serving.

#include <functional>
#include <memory>
#include <optional>
#include <string>

#include "platform/com/event_callback.h"
#include "platform/com/guid.h"

namespace platform::com {

// The server side of out-of-process activation, for a program such as the menu agent:
//
//   int main(int argc, char** argv) {
//     if (auto rc = platform::com::HandleRegistrationArgs(argc, argv, {"Corvalink.QBMenuListener", kClsid}))
//       return *rc;
//     platform::com::RegisterClassObject("Corvalink.QBMenuListener", [] { return std::make_unique<Listener>(); });
//     ... the program's own start code (may call LockServer, e.g. while a host form is loaded) ...
//     return platform::com::RunServer();
//   }
//
// A client starts the program as "<program> -Embedding" with a connected socket whose number is in the
// environment variable KV_COM_SERVER_FD. Requests (create an object, inform, release) are served on the
// thread's platform::forms::EventLoop, so they run from DoEvents and waits like a single-threaded COM server's
// message loop.
//
// Re-entrancy: requests are served one at a time, in order. A request that arrives while a call is running
// (inform may pump the event loop, e.g. while waiting on a web request) is queued and served after that call
// has returned. No call ever starts inside another.

inline constexpr const char* kEmbeddingSwitch = "-Embedding";
inline constexpr const char* kServerFdVariable = "KV_COM_SERVER_FD";

struct ServerClass {
  std::string progId;
  Guid clsid;
};

// Handles "/regserver" and "/unregserver" (also "-regserver", "-unregserver", any letter case) as the first
// argument: registers this program's absolute path under the class's ProgID, or removes the entry, and returns
// the exit status (0 done, 1 failed, with a line on stderr). Any other command line returns nothing and the
// program goes on with its own start code. Call it first thing in main.
std::optional<int> HandleRegistrationArgs(int argc, char** argv, const ServerClass& serverClass);

// True when a client started this process to serve it (the connection variable was present and valid).
bool StartedByActivation();

using ClassFactory = std::function<std::unique_ptr<IEventCallback>()>;
// Makes the class creatable by the client; requests are served from the event loop from now on. A factory
// that throws kv::Error fails the client's create with that number and description.
void RegisterClassObject(const std::string& progId, ClassFactory factory);

// Keeps the server running while the program is busy on its own account (a host form loaded). Counted.
void LockServer();
void UnlockServer();
int ServerLockCount();
// Objects the client holds now.
int ServerObjectCount();

// Pumps the event loop until the server's work is over, then returns the exit status for main (0).
// The server keeps running while the client holds an object, while a lock is held, and, until the client's
// first create, while the connection is open. It ends after the last release once no lock remains. When the
// client's connection ends (the client exited or crashed) the objects it held are released, and the server
// ends as soon as no call is running, whatever the locks: nobody can reach it any more. A process that was
// not started by activation returns at once.
int RunServer();

}  // namespace platform::com
