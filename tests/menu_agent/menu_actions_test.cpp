// Each menu number's action: the page it opens, the site refresh before synchronising, and picks that arrive
// while another is under way, which wait for it.

#include "menu_agent/menu_actions.h"

#include <gtest/gtest.h>
#include <pwd.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <optional>
#include <thread>

#include "menu_agent/host_form.h"
#include "menu_agent/main_mod.h"
#include "menu_agent/pick_queue.h"
#include "platform/forms/event_loop.h"
#include "tests/menu_agent/menu_test_support.h"
#include "tests/support/event_wait.h"
#include "tests/support/qb/fake_quickbooks.h"
#include "tests/support/scripted_presenter_scope.h"
#include "tests/support/service/service_standin.h"

namespace {

using corvalink::DispatchMenuEvent;
using corvalink::MainMod;

class DispatchTest : public menutest::AgentTest {
 protected:
  DispatchTest() {
    MainMod().ServerURL = "http://kalvor.test/";
    MainMod().PortalURL = "http://portal.test/";
    MainMod().SiteCode = "ACME";
    MainMod().SiteID = "K-77";
  }
};

TEST_F(DispatchTest, EveryItemOpensItsPage) {
  kvtest::ScriptedUi ui;
  for (long item : {0, 1, 4, 5, 6, 9, 11}) DispatchMenuEvent(item);
  EXPECT_EQ(Opened(), (std::vector<std::string>{
                          "http://kalvor.test/tspenddownlist.asp?sitecode=ACME&siteid=K-77",
                          "http://kalvor.test/exppenddownlist.asp?sitecode=ACME&siteid=K-77",
                          "http://kalvor.test/UserSetupMain.asp?sitecode=ACME&siteid=K-77",
                          "http://kalvor.test/ProjectListTry.asp?sitecode=ACME&siteid=K-77",
                          "http://kalvor.test/KVCustom.asp?sitecode=ACME&siteid=K-77",
                          "http://kalvor.test/help/QBmenu.html",
                          "http://portal.test/tsemplogin.asp?sitecode=ACME",
                      }));
}

TEST_F(DispatchTest, SeparatorsAndUnknownNumbersDoNothing) {
  kvtest::ScriptedUi ui;
  for (long item : {3, 7, 8, 12, 13, -1, -10, 2147483647}) DispatchMenuEvent(item);
  EXPECT_TRUE(Opened().empty());
}

TEST_F(DispatchTest, SiteValuesAreEncodedAndMayBeEmpty) {
  kvtest::ScriptedUi ui;
  MainMod().SiteCode = "A&B #1";
  MainMod().SiteID = "x=y";
  DispatchMenuEvent(0);
  MainMod().SiteCode.clear();
  MainMod().SiteID.clear();
  DispatchMenuEvent(1);
  DispatchMenuEvent(1);
  EXPECT_EQ(Opened(), (std::vector<std::string>{
                          "http://kalvor.test/tspenddownlist.asp?sitecode=A%26B%20%231&siteid=x%3Dy",
                          "http://kalvor.test/exppenddownlist.asp?sitecode=&siteid=",
                          "http://kalvor.test/exppenddownlist.asp?sitecode=&siteid=",
                      }));
}

TEST_F(DispatchTest, UninstallAsksBeforeRemoving) {
  platform::qb::fake::FakeQuickBooks qb;
  kvtest::ScriptedUi ui;
  ui.ExpectBoxContaining("Do you want to remove Kalvor menu", platform::forms::vbNo);
  DispatchMenuEvent(10);
  EXPECT_EQ(qb.sessionManagersCreated, 0);
  corvalink::HostForm().Unload();
}

// Runs a pick on a thread of its own, as another server process would: the queue's locks tell the two apart
// as they tell processes apart.
std::thread PickElsewhere(long item) {
  return std::thread([item] {
    MainMod().ServerURL = "http://kalvor.test/";
    DispatchMenuEvent(item);
  });
}

size_t PicksInQueue() {
  std::error_code ec;
  size_t count = 0;
  for (std::filesystem::directory_iterator it(corvalink::PickQueuePath(), ec), end; !ec && it != end;
       it.increment(ec)) {
    ++count;
  }
  return count;
}

bool WaitForPicksInQueue(size_t count) {
  const auto deadline = std::chrono::steady_clock::now() + kv::test::kEventWait;
  while (PicksInQueue() != count) {
    if (std::chrono::steady_clock::now() > deadline) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
  return true;
}

TEST_F(DispatchTest, PicksWaitForThePickAheadAndRunInTheOrderTheyCame) {
  kvtest::ScriptedUi ui;
  std::optional<corvalink::PickTurn> ahead(std::in_place);  // a pick of another process, still under way
  std::thread first = PickElsewhere(0);
  ASSERT_TRUE(WaitForPicksInQueue(2));
  std::thread second = PickElsewhere(1);
  ASSERT_TRUE(WaitForPicksInQueue(3));
  EXPECT_TRUE(Opened().empty());
  ahead.reset();
  first.join();
  second.join();
  EXPECT_EQ(Opened(), (std::vector<std::string>{"http://kalvor.test/tspenddownlist.asp?sitecode=&siteid=",
                                                "http://kalvor.test/exppenddownlist.asp?sitecode=&siteid="}));
  EXPECT_EQ(PicksInQueue(), 0u);
}

TEST_F(DispatchTest, APlaceLeftByADeadProcessIsPassedOver) {
  kvtest::ScriptedUi ui;
  std::filesystem::create_directories(corvalink::PickQueuePath());
  menutest::WriteAll(corvalink::PickQueuePath() / "00000000000000000001", "");
  DispatchMenuEvent(0);
  EXPECT_EQ(Opened().size(), 1u);
  EXPECT_EQ(PicksInQueue(), 0u);
}

// A state folder another user could change holds no queue: the pick goes at once and leaves nothing in it.
TEST_F(DispatchTest, APickGoesAtOnceWithoutTheQueueInAFolderOfAnotherUser) {
  const passwd* nobody = getpwnam("nobody");
  if (geteuid() != 0 || !nobody) GTEST_SKIP() << "needs root and a user \"nobody\"";
  const std::filesystem::path state = corvalink::PickQueuePath().parent_path();
  std::filesystem::create_directories(state);
  ASSERT_EQ(chown(state.c_str(), nobody->pw_uid, static_cast<gid_t>(-1)), 0);
  kvtest::ScriptedUi ui;
  testing::internal::CaptureStderr();
  DispatchMenuEvent(0);
  EXPECT_NE(testing::internal::GetCapturedStderr().find("The state folder " + state.string()), std::string::npos);
  EXPECT_EQ(Opened().size(), 1u);
  EXPECT_TRUE(std::filesystem::is_empty(state));
}

class SynchronizeTest : public DispatchTest {
 protected:
  SynchronizeTest() : server_env_("CORVALINK_SERVER_URL", service_.BaseUrl()) {
    MainMod().ServerURL = service_.BaseUrl();
    service_.WriteFile("accounts.txt", menutest::AccountLine("ACME", "K-77", "ACME", "K-99", "C:\\QB\\a.QBW"));
  }
  // The forms go first: a browser control still holding its connection would keep the stand-in from ending.
  ~SynchronizeTest() override { platform::forms::ResetDefaultInstances(); }
  std::string SyncPage(const std::string& code, const std::string& id) const {
    return service_.BaseUrl() + "BrintavelCall.asp?sitecode=" + code + "&siteid=" + id;
  }
  kv::test::ServiceStandinProcess service_;
  menutest::ScopedEnv server_env_;
};

TEST_F(SynchronizeTest, RefreshesTheSiteSilentlyThenOpensTheSyncPage) {
  kvtest::ScriptedUi ui;
  DispatchMenuEvent(2);
  EXPECT_EQ(Opened(), std::vector<std::string>{SyncPage("ACME", "K-99")});
  EXPECT_EQ(MainMod().QBFilePath, "C:\\QB\\a.QBW");
  const auto requests = service_.Received();
  ASSERT_EQ(requests.size(), 1u);
  EXPECT_EQ(requests[0].Query(),
            (std::vector<std::pair<std::string, std::string>>{{"user", "ACME"}, {"pwd", "K-77"}, {"storuser", "1"}}));
}

TEST_F(SynchronizeTest, FailedRefreshStillOpensTheSyncPageWithTheOldValues) {
  kvtest::ScriptedUi ui;
  MainMod().SiteID = "stale";
  DispatchMenuEvent(2);
  service_.SetFault("kvrGetQBMenuSpecs.asp", "status 500");
  DispatchMenuEvent(2);
  EXPECT_EQ(Opened(), (std::vector<std::string>{SyncPage("ACME", "stale"), SyncPage("ACME", "stale")}));
}

TEST_F(SynchronizeTest, AStalledRefreshEndsAtTheWebTimeOutAndStillOpensTheSyncPage) {
  kvtest::ScriptedUi ui;  // silent: no box may come
  MainMod().SiteCode = "ACME";
  MainMod().SiteID = "K-77";
  menutest::ScopedEnv stall("KV_WEB_STALL_TIMEOUT_MS", "300");
  service_.SetFault("kvrGetQBMenuSpecs.asp", "delay-ms 4000");
  const auto start = std::chrono::steady_clock::now();
  DispatchMenuEvent(2);
  EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(3000));
  EXPECT_EQ(Opened(), std::vector<std::string>{SyncPage("ACME", "K-77")});
}

TEST_F(SynchronizeTest, PicksArrivingDuringTheWaitRunAfterItInOrder) {
  kvtest::ScriptedUi ui;
  service_.SetFault("kvrGetQBMenuSpecs.asp", "delay-ms 300");
  // Something run by the event loop while the refresh waits picks again.
  platform::forms::EventLoop::Current().Post([] {
    DispatchMenuEvent(0);
    DispatchMenuEvent(2);
  });
  DispatchMenuEvent(2);
  EXPECT_EQ(Opened(), (std::vector<std::string>{SyncPage("ACME", "K-99"),
                                                service_.BaseUrl() + "tspenddownlist.asp?sitecode=ACME&siteid=K-99",
                                                SyncPage("ACME", "K-99")}));
  EXPECT_EQ(service_.ReceivedCount(), 2u);
  DispatchMenuEvent(0);
  EXPECT_EQ(Opened().size(), 4u);
}

}  // namespace
