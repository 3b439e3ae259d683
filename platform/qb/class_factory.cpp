// The factory that talks to the QuickBooks stand-in, and the installed-factory switch tests use.

#include "platform/qb/class_factory.h"

#include <charconv>
#include <utility>

#include "platform/base/error.h"
#include "platform/qb/qb_errors.h"
#include "platform/qb/standin_connection.h"
#include "platform/qb/subscription_xml.h"

namespace platform::qb {

namespace {

ClassFactory* g_installed = nullptr;

std::filesystem::path RequireStandin() {
  std::optional<std::filesystem::path> program = FindStandinProgram();
  if (!program) {
    throw kv::Error(kErrCannotCreateObject,
                    "ActiveX component can't create object: the QuickBooks stand-in (qb-standin) was not found "
                    "($QB_STANDIN, the program's directory, PATH).");
  }
  return *program;
}

// Takes the answer over: a response runs to hundreds of megabytes, and a copy would double the peak.
std::string Single(std::vector<std::string>&& result) {
  if (result.size() != 1) {
    throw kv::Error(kErrCannotReachQuickBooks, "Could not access QuickBooks: it sent an answer of unknown form.");
  }
  return std::move(result[0]);
}

// The connection and session rules both objects keep on their side, so a call in the wrong order fails the same
// way whether or not the stand-in process is running.
class SessionState {
 public:
  explicit SessionState(std::filesystem::path program) : connection_(std::move(program)) {}

  StandinConnection& connection() { return connection_; }
  // A call on the connection. When the call ended the stand-in (it did not answer in time, or went away), the
  // connection and its session are gone with it: the next OpenConnection starts afresh.
  std::vector<std::string> Call(const std::vector<std::string_view>& message) {
    try {
      return connection_.Call(message);
    } catch (const kv::Error&) {
      if (!connection_.Running()) {
        connected_ = false;
        ticket_.clear();
      }
      throw;
    }
  }
  bool Connected() const { return connected_; }
  const std::string& Ticket() const { return ticket_; }

  void RequireConnected() const {
    if (!connected_) {
      throw kv::Error(kErrNotConnected, "There is no connection to QuickBooks; call OpenConnection first.");
    }
  }

  void OpenConnection(const std::string& appID, const std::string& appName) {
    if (connected_) throw kv::Error(kErrAlreadyOpen, "The connection to QuickBooks is already open.");
    connection_.Start();
    connection_.Call({"OpenConnection", appID, appName});
    connected_ = true;
  }

  std::string BeginSession(const std::string& fileName, int openMode) {
    RequireConnected();
    std::string ticket = Single(Call({"BeginSession", fileName, std::to_string(openMode)}));
    ticket_ = ticket;
    return ticket;
  }

  void EndSession(const std::string& ticket) {
    RequireConnected();
    Call({"EndSession", ticket});
    if (ticket == ticket_) ticket_.clear();
  }

  void CloseConnection() {
    RequireConnected();
    Call({"CloseConnection"});
    connected_ = false;
    ticket_.clear();
    connection_.Stop();
  }

  // What releasing the object does: end the open session, close the open connection, end the process.
  void Release() noexcept {
    try {
      if (connected_ && !ticket_.empty()) EndSession(ticket_);
    } catch (...) {
    }
    try {
      if (connected_) CloseConnection();
    } catch (...) {
    }
    connection_.Stop();
  }

 private:
  StandinConnection connection_;
  bool connected_ = false;
  std::string ticket_;
};

class StandinRequestProcessor : public RequestProcessor {
 public:
  explicit StandinRequestProcessor(std::filesystem::path program) : state_(std::move(program)) {}
  ~StandinRequestProcessor() override { state_.Release(); }

  void OpenConnection(const std::string& appID, const std::string& appName) override {
    state_.OpenConnection(appID, appName);
  }
  std::string BeginSession(const std::string& qbFileName, int openMode) override {
    return state_.BeginSession(qbFileName, openMode);
  }
  std::string GetCurrentCompanyFileName(const std::string& ticket) override {
    state_.RequireConnected();
    return Single(state_.Call({"GetCurrentCompanyFileName", ticket}));
  }
  std::optional<std::vector<std::string>> QBXMLVersionsForSession(const std::string& ticket) override {
    state_.RequireConnected();
    std::vector<std::string> result = state_.Call({"QBXMLVersionsForSession", ticket});
    if (result.empty()) {
      throw kv::Error(kErrCannotReachQuickBooks, "Could not access QuickBooks: it sent an answer of unknown form.");
    }
    if (result[0] != "list") return std::nullopt;
    result.erase(result.begin());
    return result;
  }
  std::string ProcessRequest(const std::string& ticket, const std::string& request) override {
    state_.RequireConnected();
    return Single(state_.Call({"ProcessRequest", ticket, request}));
  }
  void EndSession(const std::string& ticket) override { state_.EndSession(ticket); }
  void CloseConnection() override { state_.CloseConnection(); }

 private:
  SessionState state_;
};

class StandinSessionManager : public QBSessionManager {
 public:
  explicit StandinSessionManager(std::filesystem::path program) : state_(std::move(program)) {}
  ~StandinSessionManager() override { state_.Release(); }

  void GetVersion(int16_t& major, int16_t& minor, int16_t& releaseLevel, int16_t& releaseNumber) override {
    // The library's version does not need a connection; the stand-in says which library it plays.
    bool started = !state_.connection().Running();
    state_.connection().Start();
    std::vector<std::string> result;
    try {
      result = state_.Call({"GetVersion"});
    } catch (...) {
      if (started && !state_.Connected()) state_.connection().Stop();
      throw;
    }
    if (started && !state_.Connected()) state_.connection().Stop();
    int values[4] = {0, 0, 0, 0};
    for (size_t i = 0; i < 4; ++i) {
      const std::string& text = i < result.size() ? result[i] : std::string();
      auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), values[i]);
      if (ec != std::errc() || end != text.data() + text.size()) {
        throw kv::Error(kErrCannotReachQuickBooks, "Could not access QuickBooks: it sent an answer of unknown form.");
      }
    }
    major = static_cast<int16_t>(values[0]);
    minor = static_cast<int16_t>(values[1]);
    releaseLevel = static_cast<int16_t>(values[2]);
    releaseNumber = static_cast<int16_t>(values[3]);
  }
  void OpenConnection(const std::string& appID, const std::string& appName) override {
    state_.OpenConnection(appID, appName);
  }
  void BeginSession(const std::string& fileName, int openMode) override {
    if (!state_.Ticket().empty()) throw kv::Error(kErrAlreadyOpen, "A session with QuickBooks is already open.");
    state_.BeginSession(fileName, openMode);
  }
  std::string GetCurrentCompanyFileName() override {
    state_.RequireConnected();
    return Single(state_.Call({"GetCurrentCompanyFileName", state_.Ticket()}));
  }
  void EndSession() override { state_.EndSession(state_.Ticket()); }
  void CloseConnection() override { state_.CloseConnection(); }
  std::unique_ptr<SubscriptionMsgSetRequest> CreateSubscriptionMsgSetRequest(int16_t major, int16_t minor) override {
    return std::make_unique<SubscriptionMsgSetRequest>(major, minor);
  }
  std::unique_ptr<SubscriptionMsgSetResponse> DoSubscriptionRequests(
      const SubscriptionMsgSetRequest& requests) override {
    state_.RequireConnected();
    std::string answer = Single(state_.Call({"DoSubscriptionRequests", SubscriptionRequestsToXml(requests)}));
    return SubscriptionResponsesFromXml(answer);
  }

 private:
  SessionState state_;
};

class DefaultFactory : public ClassFactory {
 public:
  std::unique_ptr<RequestProcessor> CreateRequestProcessor() override {
    return std::make_unique<StandinRequestProcessor>(RequireStandin());
  }
  std::unique_ptr<QBSessionManager> CreateSessionManager() override {
    return std::make_unique<StandinSessionManager>(RequireStandin());
  }
};

ClassFactory& Installed() {
  return g_installed != nullptr ? *g_installed : StandinClassFactory();
}

}  // namespace

ClassFactory& StandinClassFactory() {
  static DefaultFactory factory;
  return factory;
}

std::unique_ptr<RequestProcessor> CreateRequestProcessor() {
  return Installed().CreateRequestProcessor();
}
std::unique_ptr<QBSessionManager> CreateSessionManager() {
  return Installed().CreateSessionManager();
}

ScopedClassFactory::ScopedClassFactory(ClassFactory& factory) : previous_(g_installed) {
  g_installed = &factory;
}
ScopedClassFactory::~ScopedClassFactory() {
  g_installed = previous_;
}

}  // namespace platform::qb
