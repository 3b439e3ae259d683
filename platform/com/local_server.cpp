// The process's one server runtime over the client socket it was started with.

#include "platform/com/local_server.h"

#include <fcntl.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cctype>
#include <cstdlib>
#include <filesystem>
#include <iostream>

#include "platform/base/error.h"
#include "platform/com/class_registry.h"
#include "platform/com/server_runtime.h"

namespace platform::com {
namespace {

// The client's socket, taken from the environment. The variable is removed and the socket marked
// close-on-exec, so that programs this server starts (a browser) neither hold the client's connection open nor
// take themselves for servers.
int TakeClientSocket() {
  const char* text = std::getenv(kServerFdVariable);
  if (!text) return -1;
  char* end = nullptr;
  errno = 0;
  const long fd = std::strtol(text, &end, 10);
  const bool number = *text != '\0' && *end == '\0' && errno == 0 && fd > 2 && fd < 1 << 20;
  unsetenv(kServerFdVariable);
  if (!number) return -1;
  struct stat info {};
  if (fstat(static_cast<int>(fd), &info) < 0 || !S_ISSOCK(info.st_mode)) return -1;
  const int socket = static_cast<int>(fd);
  fcntl(socket, F_SETFD, FD_CLOEXEC);
  fcntl(socket, F_SETFL, fcntl(socket, F_GETFL) | O_NONBLOCK);
  return socket;
}

// One per process: the client connection belongs to the process, and only its user-interface thread serves.
// Never destroyed, so that objects still alive at exit are not torn down after the statics they use.
ServerRuntime& Runtime() {
  static ServerRuntime* runtime = new ServerRuntime(TakeClientSocket());
  return *runtime;
}

std::string Lower(std::string text) {
  for (char& c : text) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return text;
}

std::filesystem::path OwnProgram() {
  std::error_code ec;
  std::filesystem::path path = std::filesystem::read_symlink("/proc/self/exe", ec);
  if (ec) throw kv::Error(ec.value(), "The path of this program could not be found: " + ec.message());
  return path;
}

}  // namespace

std::optional<int> HandleRegistrationArgs(int argc, char** argv, const ServerClass& serverClass) {
  const std::string command = argc > 1 && argv[1] ? Lower(argv[1]) : std::string();
  const bool regserver = command == "/regserver" || command == "-regserver";
  const bool unregserver = command == "/unregserver" || command == "-unregserver";
  if (!regserver && !unregserver) {
    Runtime();  // takes the client's connection before the program's own start code starts anything
    return std::nullopt;
  }
  const std::string name = argc > 0 && argv[0] ? std::filesystem::path(argv[0]).filename().string() : "server";
  try {
    if (regserver) {
      RegisterLocalServer({serverClass.progId, serverClass.clsid, OwnProgram()});
    } else {
      UnregisterLocalServer(serverClass.progId);  // removing what is not there is no failure
    }
    return 0;
  } catch (const kv::Error& e) {
    std::cerr << name << ": " << (regserver ? "/regserver" : "/unregserver") << " failed: " << e.description() << "\n";
    return 1;
  }
}

bool StartedByActivation() {
  return Runtime().HadClient();
}

void RegisterClassObject(const std::string& progId, ClassFactory factory) {
  Runtime().RegisterClass(progId, std::move(factory), forms::EventLoop::Current());
}

void LockServer() {
  Runtime().Lock();
}
void UnlockServer() {
  Runtime().Unlock();
}
int ServerLockCount() {
  return Runtime().LockCount();
}
int ServerObjectCount() {
  return Runtime().ObjectCount();
}

int RunServer() {
  return Runtime().Run(forms::EventLoop::Current());
}

}  // namespace platform::com
