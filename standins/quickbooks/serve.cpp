// The server side of the stand-in protocol: one client's connections, sessions and requests.

#include "standins/quickbooks/serve.h"

#include <fcntl.h>
#include <signal.h>
#include <unistd.h>

#include <charconv>
#include <cstdio>
#include <optional>

#include "common/file_identity.h"
#include "platform/base/error.h"
#include "platform/com/guid.h"
#include "platform/qb/qb_errors.h"
#include "platform/qb/request_processor.h"
#include "platform/qb/standin_wire.h"
#include "platform/qb/subscription_xml.h"
#include "standins/quickbooks/company_file.h"
#include "standins/quickbooks/qbxml_schema.h"
#include "standins/quickbooks/request_handler.h"
#include "standins/quickbooks/state.h"
#include "standins/quickbooks/subscription_service.h"

namespace standins::quickbooks {

using namespace platform::qb;

namespace {

std::string NewTicket() {
  platform::com::Guid guid;
  int fd = open("/dev/urandom", O_RDONLY | O_CLOEXEC);
  unsigned char bytes[16] = {};
  if (fd >= 0) {
    ssize_t got = read(fd, bytes, sizeof bytes);
    (void)got;
    close(fd);
  }
  guid.data1 = (uint32_t{bytes[0]} << 24) | (uint32_t{bytes[1]} << 16) | (uint32_t{bytes[2]} << 8) | bytes[3];
  guid.data2 = static_cast<uint16_t>((bytes[4] << 8) | bytes[5]);
  guid.data3 = static_cast<uint16_t>((bytes[6] << 8) | bytes[7]);
  for (size_t i = 0; i < 8; ++i) guid.data4[i] = bytes[8 + i];
  return platform::com::GuidToString(guid);
}

// One connection's state: the stand-in serves exactly one client per process.
class Server {
 public:
  Server(int in, int out) : in_(in), out_(out) {}

  int Run() {
    while (true) {
      std::optional<wire::Message> message;
      try {
        message = wire::Receive(in_);
      } catch (const wire::WireError& e) {
        std::fprintf(stderr, "qb-standin serve: %s\n", e.what());
        return 1;
      }
      if (!message) return 0;  // the client went away: its session and locks end with us
      try {
        Dispatch(*message);
      } catch (const kv::Error& e) {
        Reply({"error", std::to_string(e.number()), e.description()});
      } catch (const wire::WireError& e) {
        std::fprintf(stderr, "qb-standin serve: %s\n", e.what());
        return 1;
      } catch (const std::exception& e) {
        Reply({"error", std::to_string(kErrUnexpected),
               std::string("QuickBooks found an unexpected error: ") + e.what()});
      }
      if (closed_) return 0;
    }
  }

 private:
  void Reply(const std::vector<std::string_view>& fields) { wire::Send(out_, fields); }

  static void Arguments(const wire::Message& message, size_t count) {
    if (message.size() != count + 1) {
      throw kv::Error(kErrUnexpected, message[0] + " takes " + std::to_string(count) + " arguments.");
    }
  }

  void RequireConnected() const {
    if (!connected_)
      throw kv::Error(kErrNotConnected, "There is no connection to QuickBooks; call OpenConnection first.");
  }

  const std::filesystem::path& SessionFile(const std::string& ticket) const {
    RequireConnected();
    if (!session_ || ticket != session_->ticket) {
      throw kv::Error(kErrInvalidTicket, "The ticket \"" + ticket + "\" names no open session with QuickBooks.");
    }
    return session_->company;
  }

  void Dispatch(const wire::Message& message) {
    if (message.empty()) throw kv::Error(kErrUnexpected, "An empty message names no operation.");
    const std::string& operation = message[0];
    if (operation == "OpenConnection") {
      Arguments(message, 2);
      if (connected_) throw kv::Error(kErrAlreadyOpen, "The connection to QuickBooks is already open.");
      if (message[2].empty()) {
        throw kv::Error(kErrQBGeneral, "QuickBooks needs the name of the application that opens a connection.");
      }
      application_ = {message[1], message[2]};
      connected_ = true;
      Reply({"ok"});
    } else if (operation == "BeginSession") {
      Arguments(message, 2);
      Reply({"ok", BeginSession(message[1], message[2])});
    } else if (operation == "GetCurrentCompanyFileName") {
      Arguments(message, 1);
      Reply({"ok", SessionFile(message[1]).string()});
    } else if (operation == "QBXMLVersionsForSession") {
      Arguments(message, 1);
      std::shared_ptr<const Company> company = Load(SessionFile(message[1]));
      std::vector<std::string_view> fields = {"ok", company->versions().empty() ? "none" : "list"};
      for (const std::string& version : company->versions()) fields.push_back(version);
      Reply(fields);
    } else if (operation == "ProcessRequest") {
      Arguments(message, 2);
      RequestResult result = HandleQBXMLRequest(SessionFile(message[1]), message[2], application_);
      if (result.answer_lost) {
        // Saved, and the connection ends here: the client never hears the answer.
        closed_ = true;
        return;
      }
      wire::SendPieces(out_, {{"ok"}, result.response.Pieces()});
    } else if (operation == "EndSession") {
      Arguments(message, 1);
      SessionFile(message[1]);
      session_.reset();
      Reply({"ok"});
    } else if (operation == "CloseConnection") {
      Arguments(message, 0);
      RequireConnected();
      session_.reset();
      connected_ = false;
      closed_ = true;
      Reply({"ok"});
    } else if (operation == "GetVersion") {
      Arguments(message, 0);
      QBVersion version = LibraryVersion();
      Reply({"ok", std::to_string(version.major), std::to_string(version.minor), std::to_string(version.releaseLevel),
             std::to_string(version.releaseNumber)});
    } else if (operation == "DoSubscriptionRequests") {
      Arguments(message, 1);
      RequireConnected();
      QBVersion library = LibraryVersion();
      CheckSubscriptionRequest(message[1], library.major, library.minor);
      SubscriptionMsgSetRequest requests = SubscriptionRequestsFromXml(message[1]);
      FileSubscriptionStore store;
      Reply({"ok", SubscriptionResponsesToXml(ProcessSubscriptionRequests(requests, store))});
    } else {
      throw kv::Error(kErrUnexpected, "QuickBooks has no operation \"" + operation + "\".");
    }
  }

  std::shared_ptr<const Company> Load(const std::filesystem::path& path) {
    try {
      return LoadCompanyCached(path);
    } catch (const std::exception& e) {
      throw kv::Error(kErrCannotOpenFile, std::string("Could not open the company file: ") + e.what());
    }
  }

  std::string BeginSession(const std::string& fileName, const std::string& modeText) {
    RequireConnected();
    if (session_) throw kv::Error(kErrAlreadyOpen, "A session with QuickBooks is already open on this connection.");
    int mode = -1;
    auto [end, ec] = std::from_chars(modeText.data(), modeText.data() + modeText.size(), mode);
    if (ec != std::errc() || end != modeText.data() + modeText.size() || mode < kOpenModeSingleUser ||
        mode > kOpenModeDoNotCare) {
      throw kv::Error(kErrQBGeneral, "The open mode " + modeText +
                                         " is not one QuickBooks knows (0 single-user, 1 multi-user, 2 either).");
    }
    std::optional<std::filesystem::path> open = OpenCompanyFile();
    if (!open) {
      throw kv::Error(kErrQBNotRunning,
                      std::string(kNotRunningText) +
                          ", a call to BeginSession must name a company file, and no company file is open in "
                          "QuickBooks (the stand-in opens one with \"qb-standin open FILE\").");
    }
    if (!fileName.empty() && !kv::SameFile(fileName, open->string())) {
      throw kv::Error(kErrDifferentFileOpen,
                      "A company file is already open in QuickBooks and it is not the one "
                      "requested: open is " +
                          open->string() + ", requested was " + fileName + ".");
    }
    Load(*open);
    if (IsAccessDenied(application_.name)) {
      throw kv::Error(kErrAccessDenied, "The QuickBooks user has denied the application \"" + application_.name +
                                            "\" access to the company file.");
    }
    const std::optional<std::string> fault = TakeFault("session");
    if (fault == "hold") HoldWhile(SessionHeldMarker());
    if (fault == "refuse") {
      throw kv::Error(kErrAccessDenied, "The QuickBooks user has denied the application \"" + application_.name +
                                            "\" access to the company file (a scripted fault).");
    }
    // Every session holds the sessions lock: shared for multi-user use, exclusive for single-user use, so the
    // two kinds exclude each other across processes and a session that dies releases its hold with its process.
    platform::os::FileLock lock = platform::os::FileLock::TryAcquire(
        EnsureStateDir() / "sessions.lock",
        mode == kOpenModeSingleUser ? platform::os::LockMode::kExclusive : platform::os::LockMode::kShared);
    if (!lock.Held()) {
      throw kv::Error(kErrSingleUserConflict,
                      mode == kOpenModeSingleUser
                          ? "This application asks for single-user use of the company file and another application "
                            "is sharing it."
                          : "Another application uses the company file in single-user mode.");
    }
    session_ = Session{NewTicket(), *open, std::move(lock)};
    return session_->ticket;
  }

  struct Session {
    std::string ticket;
    std::filesystem::path company;
    platform::os::FileLock lock;
  };

  int in_;
  int out_;
  bool connected_ = false;
  bool closed_ = false;
  Application application_;
  std::optional<Session> session_;
};

}  // namespace

int Serve(int in, int out) {
  signal(SIGPIPE, SIG_IGN);
  return Server(in, out).Run();
}

}  // namespace standins::quickbooks
