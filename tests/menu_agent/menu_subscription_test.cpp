// Adding and removing the Kalvor submenu, against the scriptable QuickBooks.

#include "menu_agent/menu_subscription.h"

#include <gtest/gtest.h>

#include "menu_agent/host_form.h"
#include "menu_agent/main_mod.h"
#include "platform/base/error.h"
#include "platform/qb/subscription.h"
#include "platform/qb/subscription_xml.h"
#include "standins/quickbooks/qbxml_schema.h"
#include "tests/menu_agent/menu_test_support.h"
#include "tests/support/qb/fake_quickbooks.h"
#include "tests/support/scripted_presenter_scope.h"

namespace {

using corvalink::MainMod;
using platform::qb::fake::FakeQuickBooks;
namespace qb = platform::qb;

constexpr char kAdded[] =
    "Kalvor menu items added to QuickBooks under File | Kalvor. Please restart QuickBooks to see the new menu items "
    "and to complete installation.";
constexpr char kRemoved[] =
    "Kalvor menu items removed from QuickBooks. Please restart QuickBooks to complete the  uninstall process";
constexpr char kQuestion[] = "Do you want to remove Kalvor menu\u2019s from QuickBooks";

std::unique_ptr<qb::SubscriptionMsgSetResponse> StatusResponse(int type, int code, const std::string& message) {
  auto set = std::make_unique<qb::SubscriptionMsgSetResponse>();
  set->MutableResponseList().Append(qb::SubscriptionResponse(type, code, code == 0 ? "Info" : "Error", message));
  return set;
}

class SubscriptionTest : public menutest::AgentTest {
 protected:
  SubscriptionTest() {
    MainMod().ServerURL = "http://kalvor.test/";
    MainMod().SiteCode = "ACME";
    MainMod().SiteID = "K-77";
  }
  FakeQuickBooks qb_;
};

TEST_F(SubscriptionTest, AddSubscribesThirteenItemsWithTwoHiddenCarriers) {
  kvtest::ScriptedUi ui;
  ui.ExpectBox(kAdded);
  EXPECT_TRUE(corvalink::AddMenu(false));

  ASSERT_EQ(qb_.subscriptionRequests.size(), 1u);
  const qb::SubscriptionMsgSetRequest& set = qb_.subscriptionRequests[0];
  EXPECT_EQ(set.QBXMLMajorVersion(), 3);
  EXPECT_EQ(set.QBXMLMinorVersion(), 0);
  ASSERT_EQ(set.Requests().Count(), 1);
  const qb::UIExtensionSubscriptionAdd& add = set.Requests().GetAt(0).add;
  EXPECT_EQ(add.SubscriberID, "{B5492484-1401-4EDA-AF03-62F1627C094A}");
  EXPECT_EQ(add.COMCallbackInfo.AppName, "Kalvor");
  EXPECT_EQ(add.COMCallbackInfo.ProgID, "Corvalink.QBMenuListener");
  EXPECT_EQ(add.MenuExtensionSubscription.AddToMenu, qb::kAddToMenuFile);
  ASSERT_TRUE(add.MenuExtensionSubscription.Submenu);
  EXPECT_EQ(add.MenuExtensionSubscription.Submenu->MenuText, "");

  const std::vector<std::pair<std::string, std::string>> expected = {
      {"Get Timesheets", "0"}, {"Get Expenses", "1"},  {"Syncronize", "2"},       {std::string(24, '-'), "3"},
      {"Setup Employee", "4"}, {"Staff Project", "5"}, {"Customize", "6"},        {std::string(22, '-'), "7"},
      {"Online Help", "9"},    {"Uninstall", "10"},    {"Go to Staffmere", "11"}, {"Siteid", "K-77"},
      {"Sitecode", "ACME"}};
  const auto& items = add.MenuExtensionSubscription.Submenu->MenuItemList;
  ASSERT_EQ(items.Count(), 13);
  for (int i = 0; i < 13; ++i) {
    SCOPED_TRACE(i);
    EXPECT_EQ(items.GetAt(i).MenuText, expected[static_cast<size_t>(i)].first);
    EXPECT_EQ(items.GetAt(i).EventTag, expected[static_cast<size_t>(i)].second);
    const qb::DisplayConditionData& condition = items.GetAt(i).DisplayCondition;
    if (i < 11) {
      EXPECT_TRUE(condition.Empty());
    } else {
      EXPECT_TRUE(condition.VisibleIf.Empty());
      ASSERT_EQ(condition.VisibleIfNot.Count(), 1);
      EXPECT_EQ(condition.VisibleIfNot.GetAt(0), qb::kVisibleIfNotHidden);
    }
  }

  EXPECT_EQ(Opened(), std::vector<std::string>{"http://kalvor.test/help/QBmenuInstallHelp.html"});
  EXPECT_EQ(qb_.Operations(),
            (std::vector<std::string>{"CreateSessionManager", "OpenConnection", "CreateSubscriptionMsgSetRequest",
                                      "DoSubscriptionRequests", "CloseConnection", "Release"}));
  EXPECT_EQ(qb_.OpenConnections(), 0);
  EXPECT_EQ(MainMod().SubscriberID, corvalink::kSubscriberID);
  EXPECT_TRUE(qb_.SubscriptionOf(corvalink::kSubscriberID));
}

TEST_F(SubscriptionTest, RefusedAddShowsQuickBooksTextAndOpensNoPage) {
  qb_.QueueSubscriptionResponse(StatusResponse(qb::kRtUIExtensionSubscriptionAddRs, 3180, "There was an error."));
  kvtest::ScriptedUi ui;
  ui.ExpectBox("Could not add Kalvor menu to QuickBooks menu.There was an error.");
  EXPECT_FALSE(corvalink::AddMenu(false));
  EXPECT_TRUE(Opened().empty());
  EXPECT_EQ(qb_.OpenConnections(), 0);
}

TEST_F(SubscriptionTest, BrowserThatCannotStartDoesNotHideTheAddedMenu) {
  menutest::ScopedEnv log("KV_BROWSER_LOG", (Dir() / "no-such-dir" / "log").string());
  kvtest::ScriptedUi ui;
  ui.ExpectBoxContaining("could not be opened");
  ui.ExpectBox(kAdded);
  EXPECT_TRUE(corvalink::AddMenu(false));
  EXPECT_TRUE(qb_.SubscriptionOf(corvalink::kSubscriberID));
}

TEST_F(SubscriptionTest, SilentAddAndRemoveShowNothing) {
  kvtest::ScriptedUi ui;
  qb_.QueueSubscriptionResponse(StatusResponse(qb::kRtUIExtensionSubscriptionAddRs, 1, "no"));
  corvalink::AddMenu(true);
  qb_.QueueSubscriptionResponse(StatusResponse(qb::kRtSubscriptionDelRs, 1, "no"));
  corvalink::RemoveMenu(true);
  EXPECT_TRUE(Opened().empty());
  EXPECT_EQ(qb_.CountOf("DoSubscriptionRequests"), 2);
}

TEST_F(SubscriptionTest, FailingQuickBooksCallsReachTheCaller) {
  qb_.FailOn("OpenConnection", qb::kErrAccessDenied, "denied");
  kvtest::ScriptedUi ui;
  try {
    corvalink::AddMenu(false);
    FAIL() << "no error";
  } catch (const kv::Error& e) {
    EXPECT_EQ(e.number(), qb::kErrAccessDenied);
  }
  EXPECT_EQ(qb_.ObjectsAlive(), 0);
}

TEST_F(SubscriptionTest, RemoveAsksInFrontOfQuickBooksThenDeletes) {
  corvalink::AddMenu(true);
  qb_.subscriptionRequests.clear();
  corvalink::HostForm().Load();
  kvtest::ScriptedUi ui;
  ui.ExpectBox(kQuestion, platform::forms::vbYes);
  ui.ExpectBox(kRemoved);
  corvalink::RemoveMenu(false);
  ASSERT_EQ(ui.Boxes().size(), 2u);
  EXPECT_EQ(ui.Boxes()[0].buttons, platform::forms::vbYesNo | platform::forms::vbInformation);
  EXPECT_FALSE(corvalink::HostForm().Visible());
  ASSERT_EQ(qb_.subscriptionRequests.size(), 1u);
  const qb::SubscriptionDel& del = qb_.subscriptionRequests[0].Requests().GetAt(0).del;
  EXPECT_EQ(del.SubscriberID, corvalink::kSubscriberID);
  EXPECT_EQ(del.SubscriptionType, qb::kSubscriptionTypeUIExtension);
  EXPECT_EQ(qb_.OpenConnections(), 0);
  EXPECT_FALSE(qb_.SubscriptionOf(corvalink::kSubscriberID));
  corvalink::HostForm().Unload();
}

TEST_F(SubscriptionTest, AnsweringNoSendsNothing) {
  kvtest::ScriptedUi ui;
  ui.ExpectBox(kQuestion, platform::forms::vbNo);
  corvalink::RemoveMenu(false);
  EXPECT_EQ(qb_.sessionManagersCreated, 0);
  EXPECT_FALSE(corvalink::HostForm().Visible());
  corvalink::HostForm().Unload();
}

TEST_F(SubscriptionTest, RefusedRemoveShowsQuickBooksText) {
  qb_.QueueSubscriptionResponse(StatusResponse(qb::kRtSubscriptionDelRs, 1, "Object not found."));
  kvtest::ScriptedUi ui;
  ui.ExpectBox(kQuestion, platform::forms::vbYes);
  ui.ExpectBox("Could not remove Kalvor from QuickBooks menu: Object not found.");
  corvalink::RemoveMenu(false);
  corvalink::HostForm().Unload();
}

TEST(MenuItemText, GivesTheTableTextsAndNothingOutside) {
  EXPECT_EQ(corvalink::MenuItemText(0), "Get Timesheets");
  EXPECT_EQ(corvalink::MenuItemText(8), "Online Help");
  EXPECT_EQ(corvalink::MenuItemText(12), "Sitecode");
  EXPECT_EQ(corvalink::MenuItemText(13), "");
  EXPECT_EQ(corvalink::MenuItemText(-1), "");
}

// QuickBooks checks a subscription request against its message set before it reads it: the add and the delete
// the agent writes fit it, whatever the site values hold.
TEST_F(SubscriptionTest, TheAddAndTheDeleteFitTheSubscriptionMessageSet) {
  MainMod().SiteCode = "A<&>\"'\r\nZ";
  MainMod().SiteID = "";
  EXPECT_TRUE(corvalink::AddMenu(true));
  corvalink::RemoveMenu(true);
  ASSERT_EQ(qb_.subscriptionRequests.size(), 2u);
  for (const qb::SubscriptionMsgSetRequest& set : qb_.subscriptionRequests) {
    const std::string xml = qb::SubscriptionRequestsToXml(set);
    try {
      standins::quickbooks::CheckSubscriptionRequest(xml, 3, 0);
    } catch (const kv::Error& e) {
      ADD_FAILURE() << e.description() << "\n" << xml;
    }
  }
}

}  // namespace
