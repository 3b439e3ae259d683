// A small out-of-process server for the activation tests. It serves KvComTest.Listener; what its inform does
// is chosen by the event text, and it writes what happens into $KV_COM_TEST_DIR.

#include <signal.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <fstream>
#include <memory>
#include <stdexcept>
#include <string>

#include "platform/base/error.h"
#include "platform/com/local_server.h"
#include "platform/forms/event_loop.h"

namespace {

using platform::com::IEventCallback;
using platform::forms::EventLoop;

std::string TestDir() {
  const char* dir = std::getenv("KV_COM_TEST_DIR");
  return dir ? dir : ".";
}

void Log(const std::string& line) {
  std::ofstream(TestDir() + "/log", std::ios::app) << line << "\n";
}

class Listener : public IEventCallback {
 public:
  Listener() { Log("create"); }
  ~Listener() override { Log("terminate"); }

  void inform(const std::string& eventXML) override {
    std::ofstream(TestDir() + "/received", std::ios::binary | std::ios::trunc) << eventXML;
    Log("inform");
    if (eventXML.starts_with("raise ")) {
      // "raise <number> <description>"
      const size_t blank = eventXML.find(' ', 6);
      throw kv::Error(std::stoll(eventXML.substr(6, blank - 6)), eventXML.substr(blank + 1));
    }
    if (eventXML == "plain failure") throw std::runtime_error("plain failure");
    if (eventXML == "crash") kill(getpid(), SIGKILL);
    if (eventXML == "hang") EventLoop::Current().WaitWhile([] { return true; });
    if (eventXML.starts_with("lock ")) {
      // Holds the server for a while after the call, as a host form would.
      platform::com::LockServer();
      auto timer = std::make_shared<EventLoop::TimerId>();
      *timer = EventLoop::Current().StartTimer(std::chrono::milliseconds(std::stoi(eventXML.substr(5))), [timer] {
        EventLoop::Current().StopTimer(*timer);
        Log("unlocked");
        platform::com::UnlockServer();
      });
    }
  }
};

}  // namespace

int main(int argc, char** argv) {
  constexpr platform::com::Guid kClsid{0x5A1D7C40, 0x2E0B, 0x4F43, {0x9C, 0x11, 0x3B, 0x6E, 0x52, 0x07, 0xA4, 0xD8}};
  if (auto rc = platform::com::HandleRegistrationArgs(argc, argv, {"KvComTest.Listener", kClsid})) return *rc;
  Log(std::string("start ") + (argc > 1 ? argv[1] : "") + (std::getenv("KV_COM_SERVER_FD") ? " leaked" : ""));
  if (!std::getenv("KV_COM_TEST_NO_CLASS")) {
    platform::com::RegisterClassObject("KvComTest.Listener", []() -> std::unique_ptr<IEventCallback> {
      if (std::getenv("KV_COM_TEST_FACTORY_FAILS")) throw kv::Error(70, "Permission denied");
      return std::make_unique<Listener>();
    });
  }
  const int rc = platform::com::RunServer();
  Log("ended");
  return rc;
}
