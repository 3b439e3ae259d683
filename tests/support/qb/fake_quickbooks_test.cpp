// The fake QuickBooks keeps the connection and session rules the real one does.

#include "tests/support/qb/fake_quickbooks.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "platform/base/error.h"

namespace platform::qb::fake {
namespace {

using ::testing::ElementsAre;
using ::testing::StartsWith;

int64_t NumberOf(const std::function<void()>& call) {
  try {
    call();
  } catch (const kv::Error& e) {
    return e.number();
  }
  return 0;
}

TEST(FakeQuickBooks, InstallsItselfForItsScopeOnly) {
  {
    FakeQuickBooks qb;
    auto processor = CreateRequestProcessor();
    EXPECT_EQ(qb.processorsCreated, 1);
  }
  // Outside the scope the default factory is back: with no stand-in to be found it cannot create one.
  setenv("QB_STANDIN", "/nonexistent/qb-standin", 1);
  EXPECT_EQ(NumberOf([] { CreateRequestProcessor(); }), kErrCannotCreateObject);
  unsetenv("QB_STANDIN");
}

TEST(FakeQuickBooks, AnswersFromTheScriptAndRecordsEveryCall) {
  FakeQuickBooks qb;
  qb.companyFile = "C:\\QB\\Acme.QBW";
  qb.versions = std::vector<std::string>{"1.0", "CA2.0"};
  qb.QueueResponse("first");
  qb.responder = [](const std::string& request) { return "echo:" + request; };
  auto processor = CreateRequestProcessor();
  processor->OpenConnection("731-5096-4482630", "Pellucent");
  std::string ticket = processor->BeginSession("", kOpenModeDoNotCare);
  EXPECT_EQ(ticket, qb.ticket);
  EXPECT_EQ(processor->GetCurrentCompanyFileName(ticket), "C:\\QB\\Acme.QBW");
  EXPECT_EQ(processor->QBXMLVersionsForSession(ticket), qb.versions);
  EXPECT_EQ(processor->ProcessRequest(ticket, "a"), "first");
  EXPECT_EQ(processor->ProcessRequest(ticket, "b"), "echo:b");
  processor->EndSession(ticket);
  processor->CloseConnection();
  processor.reset();
  EXPECT_THAT(qb.Operations(), ElementsAre("CreateRequestProcessor", "OpenConnection", "BeginSession",
                                           "GetCurrentCompanyFileName", "QBXMLVersionsForSession", "ProcessRequest",
                                           "ProcessRequest", "EndSession", "CloseConnection", "Release"));
  EXPECT_THAT(qb.calls[1].args, ElementsAre("731-5096-4482630", "Pellucent"));
  EXPECT_THAT(qb.calls[2].args, ElementsAre("", "2"));
  EXPECT_THAT(qb.requests, ElementsAre("a", "b"));
  EXPECT_TRUE(qb.calls.back().args.empty());  // nothing was left open at release
  EXPECT_EQ(qb.ObjectsAlive(), 0);
}

TEST(FakeQuickBooks, VersionListCanBeMissingAndTicketEmpty) {
  FakeQuickBooks qb;
  qb.versions = std::nullopt;
  auto processor = CreateRequestProcessor();
  processor->OpenConnection("id", "app");
  std::string ticket = processor->BeginSession("", 2);
  EXPECT_FALSE(processor->QBXMLVersionsForSession(ticket).has_value());
}

TEST(FakeQuickBooks, InjectedFailuresRaiseTheirNumberAndChangeNothing) {
  FakeQuickBooks qb;
  qb.SetNotRunning();
  auto processor = CreateRequestProcessor();
  processor->OpenConnection("id", "app");
  try {
    processor->BeginSession("", 2);
    FAIL() << "no error";
  } catch (const kv::Error& e) {
    EXPECT_EQ(e.number(), kErrQBNotRunning);
    EXPECT_THAT(e.description(), StartsWith("If QuickBooks is not running"));
  }
  EXPECT_EQ(qb.OpenSessions(), 0);
  EXPECT_EQ(qb.OpenConnections(), 1);
  EXPECT_EQ(qb.CountOf("BeginSession"), 1);  // failed calls are recorded too
}

TEST(FakeQuickBooks, FailuresCountSkipsAndTimesAndCanBeQualifiedByObject) {
  FakeQuickBooks qb;
  qb.FailOn("ProcessRequest", 42, "second call fails", /*skip=*/1, /*times=*/1);
  qb.FailOn("QBSessionManager.OpenConnection", 43, "managers only");
  auto processor = CreateRequestProcessor();
  processor->OpenConnection("id", "app");  // not failed: the qualified failure is for session managers
  std::string ticket = processor->BeginSession("", 2);
  EXPECT_EQ(NumberOf([&] { processor->ProcessRequest(ticket, "1"); }), 0);
  EXPECT_EQ(NumberOf([&] { processor->ProcessRequest(ticket, "2"); }), 42);
  EXPECT_EQ(NumberOf([&] { processor->ProcessRequest(ticket, "3"); }), 0);
  auto manager = CreateSessionManager();
  EXPECT_EQ(NumberOf([&] { manager->OpenConnection("", "Kalvor"); }), 43);
  EXPECT_EQ(NumberOf([&] { manager->OpenConnection("", "Kalvor"); }), 43);  // kAlways
  qb.ClearFailures();
  EXPECT_EQ(NumberOf([&] { manager->OpenConnection("", "Kalvor"); }), 0);
}

TEST(FakeQuickBooks, CreationCanFail) {
  FakeQuickBooks qb;
  qb.FailOn("CreateRequestProcessor", kErrCannotCreateObject, "ActiveX component can't create object");
  EXPECT_EQ(NumberOf([] { CreateRequestProcessor(); }), kErrCannotCreateObject);
  EXPECT_EQ(qb.processorsCreated, 0);
}

TEST(FakeQuickBooks, KeepsQuickBooksOrderRules) {
  FakeQuickBooks qb;
  auto processor = CreateRequestProcessor();
  EXPECT_EQ(NumberOf([&] { processor->BeginSession("", 2); }), kErrNotConnected);
  processor->OpenConnection("id", "app");
  EXPECT_EQ(NumberOf([&] { processor->OpenConnection("id", "app"); }), kErrAlreadyOpen);
  std::string ticket = processor->BeginSession("", 2);
  EXPECT_EQ(NumberOf([&] { processor->ProcessRequest("other", "x"); }), kErrInvalidTicket);
  processor->EndSession(ticket);
  EXPECT_EQ(NumberOf([&] { processor->EndSession(ticket); }), kErrInvalidTicket);
}

TEST(FakeQuickBooks, ReleaseEndsTheSessionAndClosesTheConnection) {
  FakeQuickBooks qb;
  auto processor = CreateRequestProcessor();
  processor->OpenConnection("id", "app");
  processor->BeginSession("", 2);
  EXPECT_EQ(qb.OpenSessions(), 1);
  processor.reset();
  EXPECT_EQ(qb.calls.back().operation, "Release");
  EXPECT_THAT(qb.calls.back().args, ElementsAre("EndSession", "CloseConnection"));
  EXPECT_EQ(qb.OpenSessions(), 0);
  EXPECT_EQ(qb.OpenConnections(), 0);
}

UIExtensionSubscriptionAdd MenuAdd(const std::string& siteID) {
  UIExtensionSubscriptionAdd add;
  add.SubscriberID = "{B5492484-1401-4EDA-AF03-62F1627C094A}";
  add.COMCallbackInfo.AppName = "Kalvor";
  add.COMCallbackInfo.ProgID = "Corvalink.QBMenuListener";
  add.MenuExtensionSubscription.AddToMenu = kAddToMenuFile;
  SubmenuData& submenu = add.MenuExtensionSubscription.SetSubmenu();
  submenu.MenuItemList.Append().MenuText = "Get Timesheets";
  submenu.MenuItemList.GetAt(0).EventTag = "0";
  MenuItemData& carrier = submenu.MenuItemList.Append();
  carrier.MenuText = "Siteid";
  carrier.EventTag = siteID;
  carrier.DisplayCondition.VisibleIfNot.Add(kVisibleIfNotHidden);
  return add;
}

TEST(FakeQuickBooks, SubscriptionsBehaveAsQuickBooksByDefault) {
  FakeQuickBooks qb;
  auto manager = CreateSessionManager();
  manager->OpenConnection("", "Kalvor");
  auto set = manager->CreateSubscriptionMsgSetRequest(3, 0);
  set->AppendUIExtensionSubscriptionAddRq() = MenuAdd("site-1");
  set->AppendUIExtensionSubscriptionQueryRq().SubscriberID = "{b5492484-1401-4eda-af03-62f1627c094a}";
  auto responses = manager->DoSubscriptionRequests(*set);
  ASSERT_NE(responses->ResponseList(), nullptr);
  ASSERT_EQ(responses->ResponseList()->Count(), 2);
  EXPECT_EQ(responses->ResponseList()->GetAt(0).StatusCode(), 0);
  const SubscriptionResponse& query = responses->ResponseList()->GetAt(1);
  EXPECT_EQ(query.Type(), kRtUIExtensionSubscriptionQueryRs);
  auto* ret = dynamic_cast<const UIExtensionSubscriptionRet*>(query.Detail());
  ASSERT_NE(ret, nullptr);
  EXPECT_EQ(ret->MenuExtensionSubscription.Submenu->MenuItemList.GetAt(1).EventTag, "site-1");
  ASSERT_EQ(qb.subscriptionRequests.size(), 1u);
  EXPECT_TRUE(qb.SubscriptionOf("{B5492484-1401-4EDA-AF03-62F1627C094A}").has_value());
}

TEST(FakeQuickBooks, SubscriptionAnswersCanBeScripted) {
  FakeQuickBooks qb;
  qb.QueueSubscriptionResponse(nullptr);
  auto failing = std::make_unique<SubscriptionMsgSetResponse>();
  failing->MutableResponseList().Append(SubscriptionResponse(kRtUIExtensionSubscriptionAddRs, 3100, "Error", "no"));
  qb.QueueSubscriptionResponse(std::move(failing));
  auto manager = CreateSessionManager();
  manager->OpenConnection("", "Kalvor");
  auto set = manager->CreateSubscriptionMsgSetRequest(3, 0);
  EXPECT_EQ(manager->DoSubscriptionRequests(*set), nullptr);
  EXPECT_EQ(manager->DoSubscriptionRequests(*set)->ResponseList()->GetAt(0).StatusMessage(), "no");
  qb.noRequestSet = true;
  EXPECT_EQ(manager->CreateSubscriptionMsgSetRequest(3, 0), nullptr);
  qb.libraryVersion = {2, 1, 0, 0};
  int16_t major = 0, minor = 0, level = 0, number = 0;
  manager->GetVersion(major, minor, level, number);
  EXPECT_EQ(major, 2);
  EXPECT_EQ(minor, 1);
}

}  // namespace
}  // namespace platform::qb::fake
