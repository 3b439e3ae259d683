// Finding the stand-in program and calling it over its socket.

#include "platform/qb/standin_connection.h"

#include <errno.h>
#include <signal.h>
#include <sys/socket.h>
#include <unistd.h>

#include <charconv>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <system_error>

#include "platform/base/error.h"
#include "platform/com/activation.h"
#include "platform/qb/qb_errors.h"

namespace platform::qb {

namespace {

bool IsExecutable(const std::filesystem::path& path) {
  std::error_code ec;
  return std::filesystem::is_regular_file(path, ec) && access(path.c_str(), X_OK) == 0;
}

std::filesystem::path OwnProgramDirectory() {
  std::error_code ec;
  std::filesystem::path self = std::filesystem::read_symlink("/proc/self/exe", ec);
  return ec ? std::filesystem::path() : self.parent_path();
}

}  // namespace

std::optional<std::filesystem::path> FindStandinProgram() {
  if (const char* configured = std::getenv("QB_STANDIN"); configured != nullptr && *configured != '\0') {
    std::filesystem::path path(configured);
    if (IsExecutable(path)) return path;
    return std::nullopt;
  }
  std::filesystem::path own = OwnProgramDirectory();
  if (!own.empty()) {
    for (const std::filesystem::path& candidate : {own / "qb-standin", own.parent_path() / "bin" / "qb-standin"}) {
      if (IsExecutable(candidate)) return candidate;
    }
  }
  if (const char* path = std::getenv("PATH"); path != nullptr) {
    std::string_view rest(path);
    while (!rest.empty()) {
      size_t colon = rest.find(':');
      std::string_view dir = rest.substr(0, colon);
      rest = colon == std::string_view::npos ? std::string_view() : rest.substr(colon + 1);
      if (dir.empty()) continue;
      std::filesystem::path candidate = std::filesystem::path(dir) / "qb-standin";
      if (IsExecutable(candidate)) return candidate;
    }
  }
  return std::nullopt;
}

void StandinConnection::Start() {
  if (Running()) return;
  int sockets[2];
  if (socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, sockets) != 0) {
    throw kv::Error(kErrCannotReachQuickBooks, std::string("Could not start QuickBooks: ") + std::strerror(errno));
  }
  os::Launch launch;
  launch.argv = {program_.string(), "serve"};
  launch.in = os::Redirect::Descriptor(sockets[1]);
  launch.out = os::Redirect::Descriptor(sockets[1]);
  // A process group of its own: Ctrl-C at the terminal is the host's Cancel, not the end of QuickBooks.
  launch.new_process_group = true;
  try {
    process_ = os::Process::Start(launch);
  } catch (const std::system_error& e) {
    close(sockets[0]);
    close(sockets[1]);
    throw kv::Error(kErrCannotReachQuickBooks,
                    "Could not start QuickBooks (" + program_.string() + "): " + e.code().message());
  }
  close(sockets[1]);
  fd_ = sockets[0];
}

std::vector<std::string> StandinConnection::Call(const std::vector<std::string_view>& message) {
  if (!Running()) throw kv::Error(kErrNotConnected, "There is no connection to QuickBooks; call OpenConnection first.");
  std::optional<wire::Message> reply;
  const std::chrono::milliseconds timeout = com::RemoteCallTimeout();
  try {
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    wire::Send(fd_, message, deadline);
    reply = wire::Receive(fd_, deadline);
  } catch (const wire::WireTimeout&) {
    // Killed, not asked to end: a stand-in that does not answer would not notice. Its company-file writes are
    // atomic and its lock ends with it, so whatever the call did is in the file wholly or not at all.
    Kill();
    throw kv::Error(kErrQBNoAnswer, "QuickBooks did not answer within " + com::SecondsText(timeout) + " seconds.");
  } catch (const wire::WireError& e) {
    Stop();
    throw kv::Error(kErrCannotReachQuickBooks, std::string("Could not access QuickBooks: ") + e.what());
  }
  if (!reply || reply->empty()) {
    Stop();
    throw kv::Error(kErrCannotReachQuickBooks, "Could not access QuickBooks: it ended the conversation.");
  }
  if ((*reply)[0] == "ok")
    return std::vector<std::string>(std::make_move_iterator(reply->begin() + 1), std::make_move_iterator(reply->end()));
  if ((*reply)[0] == "error" && reply->size() == 3) {
    int64_t number = 0;
    const std::string& text = (*reply)[1];
    auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), number);
    if (ec == std::errc() && end == text.data() + text.size()) throw kv::Error(number, (*reply)[2]);
  }
  Stop();
  throw kv::Error(kErrCannotReachQuickBooks, "Could not access QuickBooks: it sent an answer of unknown form.");
}

void StandinConnection::Kill() {
  if (fd_ >= 0) {
    close(fd_);
    fd_ = -1;
  }
  if (process_.Running()) process_.Stop(SIGKILL, {});
  process_ = os::Process();
}

void StandinConnection::Stop() {
  if (fd_ >= 0) {
    close(fd_);
    fd_ = -1;
  }
  // The stand-in ends at end of input; give it a moment to release its locks cleanly before forcing it.
  if (process_.Running() && !process_.WaitFor(std::chrono::seconds(5))) process_.Stop(SIGKILL, {});
  process_ = os::Process();
}

}  // namespace platform::qb
