// The scriptable QuickBooks of the tests, installed through the class factory.

#include "tests/support/qb/fake_quickbooks.h"

#include "platform/base/error.h"
#include "standins/quickbooks/subscription_service.h"

namespace platform::qb::fake {

namespace {

constexpr const char* kEmptyResponse = "<?xml version=\"1.0\" ?>\n<QBXML>\n<QBXMLMsgsRs>\n</QBXMLMsgsRs>\n</QBXML>\n";

// The connection and session rules both fake objects keep.
class FakeObject {
 public:
  FakeObject(FakeQuickBooks& qb, const char* kind, int instance) : qb_(qb), kind_(kind), instance_(instance) {
    qb_.ObjectCreated();
  }

  void Enter(const std::string& operation, std::vector<std::string> args = {}) {
    qb_.Enter(kind_, instance_, operation, std::move(args));
  }

  void RequireConnected() const {
    if (!connected_)
      throw kv::Error(kErrNotConnected, "There is no connection to QuickBooks; call OpenConnection first.");
  }
  void RequireTicket(const std::string& ticket) const {
    RequireConnected();
    if (!session_ || ticket != ticket_) {
      throw kv::Error(kErrInvalidTicket, "The ticket \"" + ticket + "\" names no open session with QuickBooks.");
    }
  }

  void OpenConnection() {
    if (connected_) throw kv::Error(kErrAlreadyOpen, "The connection to QuickBooks is already open.");
    connected_ = true;
    qb_.ConnectionOpened();
  }
  std::string BeginSession() {
    RequireConnected();
    if (session_) throw kv::Error(kErrAlreadyOpen, "A session with QuickBooks is already open.");
    ticket_ = qb_.ticket;
    session_ = true;
    qb_.SessionOpened();
    return ticket_;
  }
  void EndSession() {
    session_ = false;
    qb_.SessionEnded();
  }
  void CloseConnection() {
    RequireConnected();
    if (session_) EndSession();
    connected_ = false;
    qb_.ConnectionClosed();
  }
  void Release() {
    std::vector<std::string> ended;
    if (session_) {
      EndSession();
      ended.push_back("EndSession");
    }
    if (connected_) {
      connected_ = false;
      qb_.ConnectionClosed();
      ended.push_back("CloseConnection");
    }
    qb_.calls.push_back({kind_, instance_, "Release", ended});
    qb_.ObjectReleased();
  }
  const std::string& ticket() const { return ticket_; }
  FakeQuickBooks& qb() { return qb_; }

 private:
  FakeQuickBooks& qb_;
  std::string kind_;
  int instance_;
  bool connected_ = false;
  bool session_ = false;
  std::string ticket_;
};

class FakeProcessor : public RequestProcessor {
 public:
  FakeProcessor(FakeQuickBooks& qb, int instance) : object_(qb, "RequestProcessor", instance) {}
  ~FakeProcessor() override { object_.Release(); }

  void OpenConnection(const std::string& appID, const std::string& appName) override {
    object_.Enter("OpenConnection", {appID, appName});
    object_.OpenConnection();
  }
  std::string BeginSession(const std::string& qbFileName, int openMode) override {
    object_.Enter("BeginSession", {qbFileName, std::to_string(openMode)});
    return object_.BeginSession();
  }
  std::string GetCurrentCompanyFileName(const std::string& ticket) override {
    object_.Enter("GetCurrentCompanyFileName", {ticket});
    object_.RequireTicket(ticket);
    return object_.qb().companyFile;
  }
  std::optional<std::vector<std::string>> QBXMLVersionsForSession(const std::string& ticket) override {
    object_.Enter("QBXMLVersionsForSession", {ticket});
    object_.RequireTicket(ticket);
    return object_.qb().versions;
  }
  std::string ProcessRequest(const std::string& ticket, const std::string& request) override {
    object_.Enter("ProcessRequest", {ticket, request});
    object_.RequireTicket(ticket);
    object_.qb().requests.push_back(request);
    return object_.qb().NextResponse(request);
  }
  void EndSession(const std::string& ticket) override {
    object_.Enter("EndSession", {ticket});
    object_.RequireTicket(ticket);
    object_.EndSession();
  }
  void CloseConnection() override {
    object_.Enter("CloseConnection");
    object_.CloseConnection();
  }

 private:
  FakeObject object_;
};

class FakeSessionManager : public QBSessionManager {
 public:
  FakeSessionManager(FakeQuickBooks& qb, int instance) : object_(qb, "QBSessionManager", instance) {}
  ~FakeSessionManager() override { object_.Release(); }

  void GetVersion(int16_t& major, int16_t& minor, int16_t& releaseLevel, int16_t& releaseNumber) override {
    object_.Enter("GetVersion");
    const QBVersion& version = object_.qb().libraryVersion;
    major = version.major;
    minor = version.minor;
    releaseLevel = version.releaseLevel;
    releaseNumber = version.releaseNumber;
  }
  void OpenConnection(const std::string& appID, const std::string& appName) override {
    object_.Enter("OpenConnection", {appID, appName});
    object_.OpenConnection();
  }
  void BeginSession(const std::string& fileName, int openMode) override {
    object_.Enter("BeginSession", {fileName, std::to_string(openMode)});
    object_.BeginSession();
  }
  std::string GetCurrentCompanyFileName() override {
    object_.Enter("GetCurrentCompanyFileName");
    object_.RequireTicket(object_.ticket());
    return object_.qb().companyFile;
  }
  void EndSession() override {
    object_.Enter("EndSession");
    object_.RequireTicket(object_.ticket());
    object_.EndSession();
  }
  void CloseConnection() override {
    object_.Enter("CloseConnection");
    object_.CloseConnection();
  }
  std::unique_ptr<SubscriptionMsgSetRequest> CreateSubscriptionMsgSetRequest(int16_t major, int16_t minor) override {
    object_.Enter("CreateSubscriptionMsgSetRequest", {std::to_string(major), std::to_string(minor)});
    if (object_.qb().noRequestSet) return nullptr;
    return std::make_unique<SubscriptionMsgSetRequest>(major, minor);
  }
  std::unique_ptr<SubscriptionMsgSetResponse> DoSubscriptionRequests(
      const SubscriptionMsgSetRequest& requests) override {
    object_.Enter("DoSubscriptionRequests", {std::to_string(requests.Requests().Count())});
    object_.RequireConnected();
    object_.qb().subscriptionRequests.push_back(requests);
    return object_.qb().AnswerSubscriptions(requests);
  }

 private:
  FakeObject object_;
};

// The in-memory subscriptions, seen through the store interface the stand-in's rules work on.
class MapStore : public standins::quickbooks::SubscriptionStore {
 public:
  explicit MapStore(std::map<std::string, UIExtensionSubscriptionAdd>& items) : items_(items) {}
  std::optional<UIExtensionSubscriptionRet> Get(const std::string& key) override {
    auto found = items_.find(key);
    if (found == items_.end()) return std::nullopt;
    return ToRet(found->second);
  }
  void Put(const std::string& key, const UIExtensionSubscriptionRet& subscription) override {
    UIExtensionSubscriptionAdd add;
    add.SubscriberID = subscription.SubscriberID;
    add.COMCallbackInfo = subscription.COMCallbackInfo;
    add.MenuExtensionSubscription = subscription.MenuExtensionSubscription;
    items_.insert_or_assign(key, add);
  }
  bool Remove(const std::string& key) override { return items_.erase(key) > 0; }
  std::vector<UIExtensionSubscriptionRet> List() override {
    std::vector<UIExtensionSubscriptionRet> all;
    for (const auto& [key, add] : items_) all.push_back(ToRet(add));
    return all;
  }
  static UIExtensionSubscriptionRet ToRet(const UIExtensionSubscriptionAdd& add) {
    UIExtensionSubscriptionRet ret;
    ret.SubscriberID = add.SubscriberID;
    ret.COMCallbackInfo = add.COMCallbackInfo;
    ret.MenuExtensionSubscription = add.MenuExtensionSubscription;
    return ret;
  }

 private:
  std::map<std::string, UIExtensionSubscriptionAdd>& items_;
};

bool Matches(const FakeQuickBooks::Failure& failure, const std::string& object, const std::string& operation) {
  return failure.operation == operation || failure.operation == object + "." + operation;
}

}  // namespace

FakeQuickBooks::FakeQuickBooks() : scope_(*this) {}
FakeQuickBooks::~FakeQuickBooks() = default;

void FakeQuickBooks::QueueResponse(std::string response) {
  queued_.push_back(std::move(response));
}

void FakeQuickBooks::QueueSubscriptionResponse(std::unique_ptr<SubscriptionMsgSetResponse> response) {
  queued_subscription_.push_back(std::move(response));
}

void FakeQuickBooks::Subscribe(const UIExtensionSubscriptionAdd& subscription) {
  std::optional<std::string> key = standins::quickbooks::SubscriberKey(subscription.SubscriberID);
  subscriptions_.insert_or_assign(key ? *key : subscription.SubscriberID, subscription);
}

std::optional<UIExtensionSubscriptionAdd> FakeQuickBooks::SubscriptionOf(const std::string& subscriberID) const {
  std::optional<std::string> key = standins::quickbooks::SubscriberKey(subscriberID);
  auto found = subscriptions_.find(key ? *key : subscriberID);
  if (found == subscriptions_.end()) return std::nullopt;
  return found->second;
}

void FakeQuickBooks::FailOn(std::string operation, int64_t number, std::string description, int skip, int times) {
  failures_.push_back({std::move(operation), number, std::move(description), skip, times});
}

void FakeQuickBooks::SetNotRunning() {
  FailOn("BeginSession", kErrQBNotRunning,
         std::string(kNotRunningText) + ", a call to BeginSession must name a company file; no company file is open.");
}

void FakeQuickBooks::ClearFailures() {
  failures_.clear();
}

std::vector<std::string> FakeQuickBooks::Operations(const std::string& object) const {
  std::vector<std::string> operations;
  for (const QBCall& call : calls) {
    if (object.empty() || call.object == object) operations.push_back(call.operation);
  }
  return operations;
}

int FakeQuickBooks::CountOf(const std::string& operation) const {
  int count = 0;
  for (const QBCall& call : calls) count += call.operation == operation;
  return count;
}

void FakeQuickBooks::Enter(const std::string& object, int instance, const std::string& operation,
                           std::vector<std::string> args) {
  calls.push_back({object, instance, operation, std::move(args)});
  for (Failure& failure : failures_) {
    if (!Matches(failure, object, operation) || failure.times == 0) continue;
    if (failure.skip > 0) {
      --failure.skip;
      continue;
    }
    if (failure.times > 0) --failure.times;
    throw kv::Error(failure.number, failure.description);
  }
}

std::string FakeQuickBooks::NextResponse(const std::string& request) {
  if (next_queued_ < queued_.size()) return queued_[next_queued_++];
  if (responder) return responder(request);
  return kEmptyResponse;
}

std::unique_ptr<SubscriptionMsgSetResponse> FakeQuickBooks::AnswerSubscriptions(
    const SubscriptionMsgSetRequest& requests) {
  if (next_subscription_ < queued_subscription_.size()) return std::move(queued_subscription_[next_subscription_++]);
  MapStore store(subscriptions_);
  return std::make_unique<SubscriptionMsgSetResponse>(
      standins::quickbooks::ProcessSubscriptionRequests(requests, store));
}

std::unique_ptr<RequestProcessor> FakeQuickBooks::CreateRequestProcessor() {
  Enter("RequestProcessor", processorsCreated + 1, "CreateRequestProcessor", {});
  return std::make_unique<FakeProcessor>(*this, ++processorsCreated);
}

std::unique_ptr<QBSessionManager> FakeQuickBooks::CreateSessionManager() {
  Enter("QBSessionManager", sessionManagersCreated + 1, "CreateSessionManager", {});
  return std::make_unique<FakeSessionManager>(*this, ++sessionManagersCreated);
}

}  // namespace platform::qb::fake
