// A program that registers itself as an out-of-process server of a menu callback class, for the menu-pick
// tests: every inform appends the event text to the file named by QB_PICK_LOG, with a line "--end--" after it;
// with QB_PICK_FAIL set, inform refuses the call.

#include <cstdlib>
#include <fstream>
#include <memory>

#include "platform/base/error.h"
#include "platform/com/local_server.h"

namespace {

constexpr const char* kProgId = "QBStandinTest.Listener";

class Listener : public platform::com::IEventCallback {
 public:
  void inform(const std::string& eventXML) override {
    if (const char* log = std::getenv("QB_PICK_LOG")) {
      std::ofstream(log, std::ios::binary | std::ios::app) << eventXML << "--end--\n";
    }
    if (std::getenv("QB_PICK_FAIL") != nullptr) {
      throw kv::Error(static_cast<int32_t>(0x80040500u), "The listener refused the menu pick.");
    }
  }
};

}  // namespace

int main(int argc, char** argv) {
  if (auto rc = platform::com::HandleRegistrationArgs(argc, argv, {kProgId, {}})) return *rc;
  platform::com::RegisterClassObject(kProgId, [] { return std::make_unique<Listener>(); });
  return platform::com::RunServer();
}
