// The default processor and session manager against the real stand-in program.

#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <unistd.h>

#include <filesystem>

#include "platform/base/error.h"
#include "platform/os/process.h"
#include "platform/qb/class_factory.h"
#include "platform/qb/qb_errors.h"
#include "tests/support/qb/standin_env.h"

namespace platform::qb {
namespace {

using ::testing::HasSubstr;
using testing::StandinEnv;
using ::testing::StartsWith;

using testing::ErrorOf;

constexpr const char* kEmployeeQuery =
    "<?xml version = \"1.0\"?>\r\n<!DOCTYPE QBXML PUBLIC '-//INTUIT//DTD QBXML QBD 1.0//EN'>\r\n<QBXML>\r\n"
    "<QBXMLMsgsRq onError = \"continueOnError\">\r\n<EmployeeQueryRq requestID = \"1\">\r\n"
    "<ActiveStatus>All</ActiveStatus>\r\n</EmployeeQueryRq>\r\n</QBXMLMsgsRq>\r\n</QBXML>";

TEST(StandinProcessor, NoCompanyFileOpenIsQuickBooksNotRunning) {
  StandinEnv env;
  auto processor = CreateRequestProcessor();
  processor->OpenConnection("731-5096-4482630", "Pellucent");
  kv::Error error = ErrorOf([&] { processor->BeginSession("", kOpenModeDoNotCare); });
  EXPECT_EQ(error.number(), kErrQBNotRunning);
  EXPECT_EQ(error.number(), static_cast<int32_t>(0x80040416u));
  EXPECT_THAT(error.description(), StartsWith("If QuickBooks is not running"));
}

TEST(StandinProcessor, SessionOnTheOpenCompanyFile) {
  StandinEnv env;
  auto company = env.CopySample();
  env.Open(company);
  auto processor = CreateRequestProcessor();
  processor->OpenConnection("731-5096-4482630", "Pellucent");
  std::string ticket = processor->BeginSession("", kOpenModeDoNotCare);
  EXPECT_FALSE(ticket.empty());
  EXPECT_EQ(processor->GetCurrentCompanyFileName(ticket), company.string());
  EXPECT_EQ(processor->QBXMLVersionsForSession(ticket), (std::vector<std::string>{"1.0", "1.1", "2.0"}));
  std::string response = processor->ProcessRequest(ticket, kEmployeeQuery);
  EXPECT_THAT(response, HasSubstr("<EmployeeQueryRs requestID=\"1\" statusCode=\"0\""));
  EXPECT_THAT(response, HasSubstr("<Name>Marcus O'Neill</Name>"));
  processor->EndSession(ticket);
  EXPECT_EQ(ErrorOf([&] { processor->ProcessRequest(ticket, kEmployeeQuery); }).number(), kErrInvalidTicket);
  processor->CloseConnection();
  EXPECT_EQ(ErrorOf([&] { processor->BeginSession("", 2); }).number(), kErrNotConnected);
}

TEST(StandinProcessor, VersionListsComeFromTheCompanyFile) {
  StandinEnv env;
  auto company = env.Write("ca.xml", "<QBStandinCompany qbxmlVersions=\" 1.0 CA1.0  CA2.0 \"/>");
  env.Open(company);
  auto processor = CreateRequestProcessor();
  processor->OpenConnection("id", "app");
  std::string ticket = processor->BeginSession("", 2);
  EXPECT_EQ(processor->QBXMLVersionsForSession(ticket), (std::vector<std::string>{"1.0", "CA1.0", "CA2.0"}));
  processor.reset();

  env.Open(env.Write("none.xml", "<QBStandinCompany qbxmlVersions=\"\"/>"));
  processor = CreateRequestProcessor();
  processor->OpenConnection("id", "app");
  ticket = processor->BeginSession("", 2);
  EXPECT_FALSE(processor->QBXMLVersionsForSession(ticket).has_value());
}

TEST(StandinProcessor, NamedCompanyFileMustBeTheOpenOne) {
  StandinEnv env;
  auto company = env.CopySample();
  env.Open(company);
  auto processor = CreateRequestProcessor();
  processor->OpenConnection("id", "app");
  EXPECT_EQ(ErrorOf([&] { processor->BeginSession((env.dir() / "other.xml").string(), 2); }).number(),
            kErrDifferentFileOpen);
  // A name that differs in letter case is another file, even when both are on disk.
  std::filesystem::copy_file(company, env.dir() / "Company.xml");
  EXPECT_EQ(ErrorOf([&] { processor->BeginSession((env.dir() / "Company.xml").string(), 2); }).number(),
            kErrDifferentFileOpen);
  // The same file by another spelling of its path, or through a link, is the open one.
  std::string ticket = processor->BeginSession((env.dir() / "." / "company.xml").string(), 2);
  EXPECT_FALSE(ticket.empty());
  processor->EndSession(ticket);
  std::filesystem::create_symlink(company, env.dir() / "link.xml");
  EXPECT_FALSE(processor->BeginSession((env.dir() / "link.xml").string(), 2).empty());
}

TEST(StandinProcessor, SingleUserSessionsExcludeOthersUntilReleased) {
  StandinEnv env;
  env.Open(env.CopySample());
  auto first = CreateRequestProcessor();
  first->OpenConnection("id", "first");
  first->BeginSession("", kOpenModeSingleUser);
  auto second = CreateRequestProcessor();
  second->OpenConnection("id", "second");
  EXPECT_EQ(ErrorOf([&] { second->BeginSession("", kOpenModeDoNotCare); }).number(), kErrSingleUserConflict);
  // Releasing the processor without EndSession or CloseConnection must not leave the company file held.
  first.reset();
  std::string ticket = second->BeginSession("", kOpenModeSingleUser);
  EXPECT_FALSE(ticket.empty());
}

TEST(StandinProcessor, AClientThatDiesLeavesNoCompanyFileHeld) {
  StandinEnv env;
  env.Open(env.CopySample());
  int ready[2];
  ASSERT_EQ(pipe(ready), 0);
  platform::os::Process child = platform::os::Process::Fork([&] {
    // Holds a single-user session and dies without releasing anything.
    auto processor = CreateRequestProcessor();
    processor->OpenConnection("id", "crashing");
    processor->BeginSession("", kOpenModeSingleUser);
    char byte = 1;
    (void)!write(ready[1], &byte, 1);
    raise(SIGKILL);
    return 1;
  });
  close(ready[1]);
  char byte = 0;
  ASSERT_EQ(read(ready[0], &byte, 1), 1);
  close(ready[0]);
  EXPECT_EQ(child.Wait().signal, SIGKILL);
  auto processor = CreateRequestProcessor();
  processor->OpenConnection("id", "next");
  // The dead client's stand-in notices the end of its connection and ends, releasing the session.
  std::string ticket;
  for (int attempt = 0; attempt < 100 && ticket.empty(); ++attempt) {
    try {
      ticket = processor->BeginSession("", kOpenModeSingleUser);
    } catch (const kv::Error& e) {
      ASSERT_EQ(e.number(), kErrSingleUserConflict);
      usleep(50 * 1000);
    }
  }
  EXPECT_FALSE(ticket.empty());
}

TEST(StandinProcessor, AccessCanBeDenied) {
  StandinEnv env;
  env.Open(env.CopySample());
  ASSERT_EQ(env.Run({"access", "Kalvor", "deny"}).status, 0);
  auto manager = CreateSessionManager();
  manager->OpenConnection("", "Kalvor");
  EXPECT_EQ(ErrorOf([&] { manager->BeginSession("", 2); }).number(), kErrAccessDenied);
}

TEST(StandinProcessor, MissingStandinCannotBeCreated) {
  StandinEnv env;
  setenv("QB_STANDIN", (env.dir() / "missing").c_str(), 1);
  kv::Error error = ErrorOf([] { CreateRequestProcessor(); });
  EXPECT_EQ(error.number(), kErrCannotCreateObject);
  EXPECT_EQ(ErrorOf([] { CreateSessionManager(); }).number(), 429);
}

TEST(StandinProcessor, AStandinThatDiesIsReportedNotHung) {
  StandinEnv env;
  // A "stand-in" that ends at once stands for QuickBooks crashing.
  auto fake = env.Write("dead-standin", "#!/bin/sh\nexit 3\n");
  std::filesystem::permissions(fake, std::filesystem::perms::owner_all);
  setenv("QB_STANDIN", fake.c_str(), 1);
  auto processor = CreateRequestProcessor();
  EXPECT_EQ(ErrorOf([&] { processor->OpenConnection("id", "app"); }).number(), kErrCannotReachQuickBooks);
}

TEST(StandinProcessor, AnAddWhoseAnswerIsLostIsSavedAndTheCallFails) {
  StandinEnv env;
  auto company = env.CopySample();
  env.Open(company);
  ASSERT_EQ(env.Run({"fault", "add lose"}).status, 0);
  auto processor = CreateRequestProcessor();
  processor->OpenConnection("731-5096-4482630", "Pellucent");
  std::string ticket = processor->BeginSession("", kOpenModeDoNotCare);
  const std::string add =
      "<?xml version=\"1.0\"?>\n<?qbxml version=\"2.0\"?>\n<QBXML>\n<QBXMLMsgsRq onError=\"stopOnError\">\n"
      "<TimeTrackingAddRq requestID=\"1\"><TimeTrackingAdd><TxnDate>2006-04-03</TxnDate>"
      "<EntityRef><FullName>Marcus O&apos;Neill</FullName></EntityRef>"
      "<ItemServiceRef><FullName>Consulting</FullName></ItemServiceRef>"
      "<Duration>PT1H</Duration><Notes>lost on the way</Notes></TimeTrackingAdd></TimeTrackingAddRq>\n"
      "</QBXMLMsgsRq>\n</QBXML>\n";
  EXPECT_EQ(ErrorOf([&] { processor->ProcessRequest(ticket, add); }).number(), kErrCannotReachQuickBooks);
  // QuickBooks has the record all the same.
  EXPECT_THAT(env.Read(company), HasSubstr("<Notes>lost on the way</Notes>"));
}

TEST(StandinSessionManager, VersionAndCompanyFile) {
  StandinEnv env;
  auto company = env.CopySample();
  env.Open(company);
  auto manager = CreateSessionManager();
  int16_t major = 0, minor = 0, level = 0, number = 0;
  manager->GetVersion(major, minor, level, number);
  EXPECT_EQ(major, 3);
  EXPECT_EQ(minor, 0);
  ASSERT_EQ(env.Run({"version", "2.1"}).status, 0);
  manager->GetVersion(major, minor, level, number);
  EXPECT_EQ(major, 2);
  EXPECT_EQ(minor, 1);
  manager->OpenConnection("", "Kalvor");
  manager->BeginSession("", kOpenModeDoNotCare);
  EXPECT_EQ(manager->GetCurrentCompanyFileName(), company.string());
  manager->EndSession();
  manager->CloseConnection();
}

TEST(StandinSessionManager, ReleasingItEndsItsSessionAndClosesItsConnection) {
  StandinEnv env;
  env.Open(env.CopySample());
  auto manager = CreateSessionManager();
  manager->OpenConnection("", "Kalvor");
  manager->BeginSession("", kOpenModeSingleUser);
  auto processor = CreateRequestProcessor();
  processor->OpenConnection("id", "next");
  EXPECT_EQ(ErrorOf([&] { processor->BeginSession("", kOpenModeSingleUser); }).number(), kErrSingleUserConflict);
  // Gone without EndSession or CloseConnection: the company file must be free again.
  manager.reset();
  EXPECT_FALSE(processor->BeginSession("", kOpenModeSingleUser).empty());
}

std::unique_ptr<SubscriptionMsgSetRequest> AddMenu(QBSessionManager& manager, const std::string& siteID) {
  auto set = manager.CreateSubscriptionMsgSetRequest(3, 0);
  UIExtensionSubscriptionAdd& add = set->AppendUIExtensionSubscriptionAddRq();
  add.SubscriberID = "{B5492484-1401-4EDA-AF03-62F1627C094A}";
  add.COMCallbackInfo.AppName = "Kalvor";
  add.COMCallbackInfo.ProgID = "Corvalink.QBMenuListener";
  add.MenuExtensionSubscription.AddToMenu = kAddToMenuFile;
  SubmenuData& submenu = add.MenuExtensionSubscription.SetSubmenu();
  for (int i = 0; i < 13; ++i) {
    submenu.MenuItemList.Append().MenuText = "Item " + std::to_string(i);
    submenu.MenuItemList.GetAt(i).EventTag = i == 11 ? siteID : std::to_string(i);
    if (i >= 11) submenu.MenuItemList.GetAt(i).DisplayCondition.VisibleIfNot.Add(kVisibleIfNotHidden);
  }
  return set;
}

TEST(StandinSessionManager, SubscriptionsOutliveTheProcessThatMadeThem) {
  StandinEnv env;
  {
    auto manager = CreateSessionManager();
    manager->OpenConnection("", "Kalvor");
    auto responses = manager->DoSubscriptionRequests(*AddMenu(*manager, "S-1"));
    ASSERT_EQ(responses->ResponseList()->Count(), 1);
    EXPECT_EQ(responses->ResponseList()->GetAt(0).StatusCode(), 0);
    EXPECT_EQ(responses->ResponseList()->GetAt(0).Type(), kRtUIExtensionSubscriptionAddRs);
    // A second add replaces the first: the carrier tags are those of the last add.
    manager->DoSubscriptionRequests(*AddMenu(*manager, "S-2"));
    manager->CloseConnection();
  }
  auto manager = CreateSessionManager();  // another stand-in process
  manager->OpenConnection("", "Kalvor");
  auto set = manager->CreateSubscriptionMsgSetRequest(3, 0);
  set->AppendUIExtensionSubscriptionQueryRq().SubscriberID = "{B5492484-1401-4EDA-AF03-62F1627C094A}";
  auto responses = manager->DoSubscriptionRequests(*set);
  const SubscriptionResponse& response = responses->ResponseList()->GetAt(0);
  EXPECT_EQ(response.StatusCode(), 0);
  EXPECT_EQ(response.Type(), 1163);
  auto* ret = dynamic_cast<const UIExtensionSubscriptionRet*>(response.Detail());
  ASSERT_NE(ret, nullptr);
  EXPECT_EQ(ret->COMCallbackInfo.ProgID, "Corvalink.QBMenuListener");
  const QBList<MenuItemData>& items = ret->MenuExtensionSubscription.Submenu->MenuItemList;
  ASSERT_EQ(items.Count(), 13);
  EXPECT_EQ(items.GetAt(11).EventTag, "S-2");
  EXPECT_EQ(items.GetAt(12).DisplayCondition.VisibleIfNot.GetAt(0), kVisibleIfNotHidden);

  set = manager->CreateSubscriptionMsgSetRequest(3, 0);
  SubscriptionDel& del = set->AppendSubscriptionDelRq();
  del.SubscriberID = "{B5492484-1401-4EDA-AF03-62F1627C094A}";
  del.SubscriptionType = kSubscriptionTypeUIExtension;
  set->AppendUIExtensionSubscriptionQueryRq().SubscriberID = del.SubscriberID;
  set->AppendSubscriptionDelRq() = del;
  responses = manager->DoSubscriptionRequests(*set);
  ASSERT_EQ(responses->ResponseList()->Count(), 3);
  EXPECT_EQ(responses->ResponseList()->GetAt(0).StatusCode(), 0);
  EXPECT_EQ(responses->ResponseList()->GetAt(1).StatusCode(), 1);  // nothing left to find
  EXPECT_EQ(responses->ResponseList()->GetAt(1).Detail(), nullptr);
  EXPECT_NE(responses->ResponseList()->GetAt(2).StatusCode(), 0);  // nothing left to delete
  EXPECT_FALSE(responses->ResponseList()->GetAt(2).StatusMessage().empty());
}

TEST(StandinSessionManager, BadSubscriptionGetsAnErrorStatus) {
  StandinEnv env;
  auto manager = CreateSessionManager();
  EXPECT_EQ(ErrorOf([&] { manager->DoSubscriptionRequests(SubscriptionMsgSetRequest(3, 0)); }).number(),
            kErrNotConnected);
  manager->OpenConnection("", "Kalvor");
  auto set = AddMenu(*manager, "x");
  UIExtensionSubscriptionAdd& bad = set->AppendUIExtensionSubscriptionAddRq();
  bad = set->Requests().GetAt(0).add;
  bad.SubscriberID = "not a guid";
  auto responses = manager->DoSubscriptionRequests(*set);
  EXPECT_EQ(responses->ResponseList()->GetAt(0).StatusCode(), 0);
  EXPECT_NE(responses->ResponseList()->GetAt(1).StatusCode(), 0);
  EXPECT_THAT(responses->ResponseList()->GetAt(1).StatusMessage(), HasSubstr("not a GUID"));
}

TEST(StandinSessionManager, ASubscriptionRequestThatDoesNotFitIsRefusedWhole) {
  StandinEnv env;
  auto manager = CreateSessionManager();
  manager->OpenConnection("", "Kalvor");
  auto set = AddMenu(*manager, "x");
  set->AppendSubscriptionDelRq().SubscriberID = "{B5492484-1401-4EDA-AF03-62F1627C094A}";  // no type
  EXPECT_EQ(ErrorOf([&] { manager->DoSubscriptionRequests(*set); }).number(), kErrRequestNotXml);
  auto query = manager->CreateSubscriptionMsgSetRequest(3, 0);
  query->AppendUIExtensionSubscriptionQueryRq().SubscriberID = "{B5492484-1401-4EDA-AF03-62F1627C094A}";
  EXPECT_EQ(manager->DoSubscriptionRequests(*query)->ResponseList()->GetAt(0).StatusCode(), 1);  // nothing was added
}

}  // namespace
}  // namespace platform::qb
