// The callback QuickBooks calls for a pick: the site values read back from the subscription, the event text
// rules, and the host form it keeps loaded.

#include "menu_agent/menu_listener.h"

#include <gtest/gtest.h>

#include "menu_agent/host_form.h"
#include "menu_agent/main_mod.h"
#include "menu_agent/menu_subscription.h"
#include "platform/base/error.h"
#include "platform/com/local_server.h"
#include "platform/qb/subscription.h"
#include "platform/qb/subscription_xml.h"
#include "standins/quickbooks/qbxml_schema.h"
#include "tests/menu_agent/menu_test_support.h"
#include "tests/support/qb/fake_quickbooks.h"
#include "tests/support/scripted_presenter_scope.h"

namespace {

using corvalink::MainMod;
using corvalink::QBMenuListener;
namespace qb = platform::qb;

std::string EventText(const std::string& tagLines, const std::string& end = "\n") {
  return "<?xml version=\"1.0\" ?>" + end + "<QBXML>" + end + "  <UIExtensionEvent>" + end + tagLines +
         "  </UIExtensionEvent>" + end + "</QBXML>" + end;
}

class ListenerTest : public menutest::AgentTest {
 protected:
  ListenerTest() {
    // What the setup run left with QuickBooks.
    MainMod().SiteCode = "ACME";
    MainMod().SiteID = "K-77";
    corvalink::AddMenu(true);
    corvalink::ResetMainMod();
    qb_.calls.clear();
    qb_.subscriptionRequests.clear();
  }
  ~ListenerTest() override {
    listener_.reset();
    EXPECT_EQ(platform::com::ServerLockCount(), 0);
  }
  QBMenuListener& Listener() {
    if (!listener_) listener_ = std::make_unique<QBMenuListener>();
    return *listener_;
  }
  static std::string UserSetup(const std::string& code, const std::string& id) {
    return corvalink::CurrentConfiguration().serverUrl + "UserSetupMain.asp?sitecode=" + code + "&siteid=" + id;
  }

  qb::fake::FakeQuickBooks qb_;
  kvtest::ScriptedUi ui_;
  std::unique_ptr<QBMenuListener> listener_;
};

TEST_F(ListenerTest, ReadsTheSiteBackThenDispatchesTheTag) {
  Listener().inform(EventText("<EventTag>4</EventTag>\n"));
  EXPECT_EQ(MainMod().SiteCode, "ACME");
  EXPECT_EQ(MainMod().SiteID, "K-77");
  EXPECT_EQ(MainMod().SubscriberID, corvalink::kSubscriberID);
  EXPECT_EQ(Opened(), std::vector<std::string>{UserSetup("ACME", "K-77")});

  ASSERT_EQ(qb_.subscriptionRequests.size(), 1u);
  const auto& request = qb_.subscriptionRequests[0];
  EXPECT_EQ(request.QBXMLMajorVersion(), 3);
  ASSERT_EQ(request.Requests().Count(), 1);
  EXPECT_EQ(request.Requests().GetAt(0).kind, qb::SubscriptionRequest::Kind::kUIExtensionQuery);
  EXPECT_EQ(request.Requests().GetAt(0).query.SubscriberID, corvalink::kSubscriberID);
  EXPECT_NO_THROW(standins::quickbooks::CheckSubscriptionRequest(qb::SubscriptionRequestsToXml(request), 3, 0));
  EXPECT_EQ(qb_.CountOf("BeginSession"), 0);
  EXPECT_EQ(qb_.OpenConnections(), 0);
}

TEST_F(ListenerTest, TagLinesAreFoundOnlyByTheExactMarkerAtTheLineStart) {
  // Indented, lower case, or a text without LF: nothing is dispatched and the call succeeds.
  Listener().inform(EventText("  <EventTag>4</EventTag>\n"));
  Listener().inform(EventText("<eventtag>4</eventtag>\n"));
  Listener().inform("<EventTag>4</EventTag>");
  EXPECT_TRUE(Opened().empty());
  // A tag line as the very first line counts once the text holds a LF.
  Listener().inform("<EventTag>4</EventTag>\n");
  // Every tag line is dispatched, in line order.
  Listener().inform(EventText("<EventTag>4</EventTag>\n<EventTag>11</EventTag>\n"));
  const std::string portal = corvalink::CurrentConfiguration().portalUrl + "tsemplogin.asp?sitecode=ACME";
  EXPECT_EQ(Opened(), (std::vector<std::string>{UserSetup("ACME", "K-77"), UserSetup("ACME", "K-77"), portal}));
}

TEST_F(ListenerTest, CarriageReturnLineEndsFailTheCall) {
  try {
    Listener().inform(EventText("<EventTag>4</EventTag>\r\n", "\r\n"));
    FAIL() << "no error";
  } catch (const kv::Error& e) {
    EXPECT_EQ(e.number(), kv::kErrTypeMismatch);
  }
  EXPECT_TRUE(Opened().empty());
}

TEST_F(ListenerTest, AFailingTagLineStopsTheDispatch) {
  EXPECT_THROW(Listener().inform(EventText("<EventTag>4</EventTag>\n<EventTag></EventTag>\n<EventTag>9</EventTag>\n")),
               kv::Error);
  EXPECT_EQ(Opened(), std::vector<std::string>{UserSetup("ACME", "K-77")});
  EXPECT_THROW(Listener().inform(EventText("<EventTag>\n")), kv::Error);
  EXPECT_THROW(Listener().inform(EventText("<EventTag>x</EventTag>\n")), kv::Error);
}

TEST_F(ListenerTest, UnusableSubscriptionAnswersKeepTheEarlierValues) {
  MainMod().SiteCode = "OLD";
  MainMod().SiteID = "O-1";
  auto refused = std::make_unique<qb::SubscriptionMsgSetResponse>();
  refused->MutableResponseList().Append(
      qb::SubscriptionResponse(qb::kRtUIExtensionSubscriptionQueryRs, 1, "Info", "No subscription"));
  qb_.QueueSubscriptionResponse(std::move(refused));
  Listener().inform(EventText("<EventTag>4</EventTag>\n"));
  EXPECT_EQ(Opened(), std::vector<std::string>{UserSetup("OLD", "O-1")});
}

TEST_F(ListenerTest, NoRequestSetOrNoResponsesEndQuietly) {
  qb_.noRequestSet = true;
  Listener().inform(EventText("<EventTag>4</EventTag>\n"));
  qb_.noRequestSet = false;
  qb_.QueueSubscriptionResponse(nullptr);
  Listener().inform(EventText("<EventTag>4</EventTag>\n"));
  auto noList = std::make_unique<qb::SubscriptionMsgSetResponse>();
  noList->ClearResponseList();
  qb_.QueueSubscriptionResponse(std::move(noList));
  Listener().inform(EventText("<EventTag>4</EventTag>\n"));
  EXPECT_TRUE(Opened().empty());
}

TEST_F(ListenerTest, ShortSubmenuOrUnreachableQuickBooksFailTheCall) {
  qb::UIExtensionSubscriptionAdd shortMenu = *qb_.SubscriptionOf(corvalink::kSubscriberID);
  auto& items = shortMenu.MenuExtensionSubscription.Submenu->MenuItemList;
  qb::QBList<qb::MenuItemData> twelve;
  for (int i = 0; i < 12; ++i) twelve.Add(items.GetAt(i));
  items = twelve;
  qb_.Subscribe(shortMenu);
  EXPECT_THROW(Listener().inform(EventText("<EventTag>4</EventTag>\n")), kv::Error);
  qb_.FailOn("OpenConnection", qb::kErrCannotReachQuickBooks, "gone");
  EXPECT_THROW(Listener().inform(EventText("<EventTag>4</EventTag>\n")), kv::Error);
  EXPECT_TRUE(Opened().empty());
}

TEST_F(ListenerTest, TheObjectKeepsTheHostFormLoaded) {
  Listener();
  EXPECT_TRUE(corvalink::HostFormLoaded());
  EXPECT_FALSE(corvalink::HostForm().Visible());
  EXPECT_EQ(platform::com::ServerLockCount(), 1);
  EXPECT_EQ(MainMod().SubscriberID, corvalink::kSubscriberID);
  // A second object while the form is loaded does not run its load again.
  MainMod().ServerURL = "changed";
  {
    QBMenuListener second;
    EXPECT_EQ(MainMod().ServerURL, "changed");
  }
  // Its release unloaded the form; the next object loads it afresh.
  EXPECT_FALSE(corvalink::HostFormLoaded());
  EXPECT_EQ(platform::com::ServerLockCount(), 0);
  listener_.reset();
  Listener();
  EXPECT_EQ(MainMod().ServerURL, corvalink::CurrentConfiguration().serverUrl);
  EXPECT_EQ(platform::com::ServerLockCount(), 1);
}

TEST(TagNumber, RoundsHalfToEvenAndRefusesWhatIsNoNumber) {
  EXPECT_EQ(corvalink::TagNumber(" 4 "), 4);
  EXPECT_EQ(corvalink::TagNumber("-3"), -3);
  EXPECT_EQ(corvalink::TagNumber("2.5"), 2);
  EXPECT_EQ(corvalink::TagNumber("3.5"), 4);
  EXPECT_THROW(corvalink::TagNumber(""), kv::Error);
  EXPECT_THROW(corvalink::TagNumber("4<"), kv::Error);
  try {
    corvalink::TagNumber("2147483648");
    FAIL() << "no error";
  } catch (const kv::Error& e) {
    EXPECT_EQ(e.number(), kv::kErrOverflow);
  }
}

}  // namespace
