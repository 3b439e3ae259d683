#pragma once

// A scriptable QuickBooks for tests: installs itself as the class factory of platform/qb for its lifetime, so
// every RequestProcessor and QBSessionManager the code under test creates is a fake that answers from the
// script below, raises the failures injected by operation, and records every call.
//
//   platform::qb::fake::FakeQuickBooks qb;                  // installed until the end of the scope
//   qb.companyFile = "C:\\QB\\Acme.QBW";
//   qb.versions = std::vector<std::string>{"1.0", "1.1", "2.0"};   // std::nullopt: "not a list"
//   qb.QueueResponse("<?xml ...?><QBXML>...</QBXML>");         // answers to ProcessRequest, in order
//   qb.SetNotRunning();                                       // BeginSession raises the not-running error
//   qb.FailOn("ProcessRequest", platform::qb::kErrCannotReachQuickBooks, "QuickBooks went away");
//   ... run the code ...
//   EXPECT_EQ(qb.Operations(), (std::vector<std::string>{"OpenConnection", "BeginSession", ...}));
//   EXPECT_EQ(qb.OpenSessions(), 0);                         // nothing left open after release
//
// Link the test with the CMake target qb_test_support.
//
// The fake keeps QuickBooks' rules, so callers that get the order wrong fail as they would against QuickBooks:
// BeginSession before OpenConnection raises kErrNotConnected, a second OpenConnection or BeginSession
// kErrAlreadyOpen, a ticket other than the open session's kErrInvalidTicket. Releasing an object ends its open
// session and closes its connection; that is recorded as the call "Release" whose args name what it ended
// ("EndSession", "CloseConnection").

#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "platform/qb/class_factory.h"
#include "platform/qb/qb_errors.h"

namespace platform::qb::fake {

inline constexpr int kAlways = -1;

struct QBCall {
  std::string object;  // "RequestProcessor" or "QBSessionManager"
  int instance = 0;    // 1, 2, ... in order of creation, counted per kind
  std::string operation;
  std::vector<std::string> args;
};

class FakeQuickBooks : public ClassFactory {
 public:
  FakeQuickBooks();
  ~FakeQuickBooks() override;
  FakeQuickBooks(const FakeQuickBooks&) = delete;
  FakeQuickBooks& operator=(const FakeQuickBooks&) = delete;

  // ---------------------------------------------------------------- what QuickBooks answers
  std::string companyFile = "C:\\QuickBooks\\Sample Company.QBW";  // GetCurrentCompanyFileName
  std::string ticket = "{5F4B2C1A-0000-4000-8000-00000000F00D}";   // BeginSession ("" allowed)
  std::optional<std::vector<std::string>> versions = std::vector<std::string>{"1.0", "1.1", "2.0"};
  QBVersion libraryVersion{3, 0, 0, 0};  // GetVersion

  // Answers of ProcessRequest: queued answers first, one per call; then `responder` when set; otherwise a
  // response with an empty message set.
  void QueueResponse(std::string response);
  std::function<std::string(const std::string& request)> responder;

  // Subscriptions are kept in memory and answered as QuickBooks does (an add replaces the subscriber's
  // subscription; a query answers type 1163 with the record as detail, or status 1 without detail; a delete
  // removes it). A queued response set replaces the next answer of DoSubscriptionRequests; nullptr makes it
  // give no response set.
  void QueueSubscriptionResponse(std::unique_ptr<SubscriptionMsgSetResponse> response);
  // CreateSubscriptionMsgSetRequest gives nothing while this is set.
  bool noRequestSet = false;
  // Adds a subscription as if an earlier add had succeeded.
  void Subscribe(const UIExtensionSubscriptionAdd& subscription);
  // The stored subscription of a subscriber, or nothing.
  std::optional<UIExtensionSubscriptionAdd> SubscriptionOf(const std::string& subscriberID) const;

  // ---------------------------------------------------------------- failures
  // Calls of `operation` raise kv::Error(number, description): the first `skip` calls succeed, then `times`
  // calls fail (kAlways: every further call). `operation` is "CreateRequestProcessor", "CreateSessionManager"
  // or a method name ("OpenConnection", "BeginSession", "GetCurrentCompanyFileName", "QBXMLVersionsForSession",
  // "ProcessRequest", "EndSession", "CloseConnection", "GetVersion", "CreateSubscriptionMsgSetRequest",
  // "DoSubscriptionRequests"); a method name applies to both kinds of object unless written
  // "RequestProcessor.OpenConnection" or "QBSessionManager.OpenConnection". A failing call changes no state.
  void FailOn(std::string operation, int64_t number, std::string description, int skip = 0, int times = kAlways);
  // QuickBooks is not running: BeginSession raises kErrQBNotRunning with a text that begins with
  // "If QuickBooks is not running".
  void SetNotRunning();
  void ClearFailures();

  // ---------------------------------------------------------------- record
  std::vector<QBCall> calls;                                    // every call, failed ones included
  std::vector<std::string> requests;                            // the text of every ProcessRequest, in order
  std::vector<SubscriptionMsgSetRequest> subscriptionRequests;  // a copy of every set sent
  // The operation names of `calls`, in order; with object "RequestProcessor" or "QBSessionManager" only those.
  std::vector<std::string> Operations(const std::string& object = "") const;
  int CountOf(const std::string& operation) const;
  int processorsCreated = 0;
  int sessionManagersCreated = 0;
  int ObjectsAlive() const { return alive_; }
  int OpenSessions() const { return open_sessions_; }
  int OpenConnections() const { return open_connections_; }

  // ClassFactory
  std::unique_ptr<RequestProcessor> CreateRequestProcessor() override;
  std::unique_ptr<QBSessionManager> CreateSessionManager() override;

  // ---------------------------------------------------------------- used by the fake objects
  struct Failure {
    std::string operation;
    int64_t number;
    std::string description;
    int skip;
    int times;
  };
  // Records the call and raises its failure when one is due.
  void Enter(const std::string& object, int instance, const std::string& operation, std::vector<std::string> args);
  std::string NextResponse(const std::string& request);
  std::unique_ptr<SubscriptionMsgSetResponse> AnswerSubscriptions(const SubscriptionMsgSetRequest& requests);
  void ObjectCreated() { ++alive_; }
  void ObjectReleased() { --alive_; }
  void SessionOpened() { ++open_sessions_; }
  void SessionEnded() { --open_sessions_; }
  void ConnectionOpened() { ++open_connections_; }
  void ConnectionClosed() { --open_connections_; }

 private:
  ScopedClassFactory scope_;
  std::vector<std::string> queued_;
  size_t next_queued_ = 0;
  std::vector<std::unique_ptr<SubscriptionMsgSetResponse>> queued_subscription_;
  size_t next_subscription_ = 0;
  std::vector<Failure> failures_;
  std::map<std::string, UIExtensionSubscriptionAdd> subscriptions_;
  int alive_ = 0;
  int open_sessions_ = 0;
  int open_connections_ = 0;
};

}  // namespace platform::qb::fake
