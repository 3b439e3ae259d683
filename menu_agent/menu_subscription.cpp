// Adding, querying and removing the agent's menu subscription in QuickBooks.

#include "menu_agent/menu_subscription.h"

#include <array>
#include <memory>

#include "menu_agent/host_form.h"
#include "menu_agent/main_mod.h"
#include "platform/base/error.h"
#include "platform/forms/presenter.h"
#include "platform/qb/class_factory.h"
#include "platform/web/open_browser.h"

namespace corvalink {
namespace {

using platform::qb::QBSessionManager;
using platform::qb::SubscriptionMsgSetRequest;
using platform::qb::SubscriptionMsgSetResponse;
using platform::qb::SubscriptionResponse;

constexpr std::array<const char*, kMenuItemCount> kMenuTexts = {
    "Get Timesheets", "Get Expenses",  "Syncronize",      "------------------------",
    "Setup Employee", "Staff Project", "Customize",       "----------------------",
    "Online Help",    "Uninstall",     "Go to Staffmere", "Siteid",
    "Sitecode"};
// Tag 8 is not used: the help item answers to 9.
constexpr std::array<const char*, kSiteIdPosition> kMenuTags = {"0", "1", "2", "3",  "4", "5",
                                                                "6", "7", "9", "10", "11"};

std::unique_ptr<SubscriptionMsgSetRequest> NewRequestSet(QBSessionManager& manager) {
  std::unique_ptr<SubscriptionMsgSetRequest> set = manager.CreateSubscriptionMsgSetRequest(3, 0);
  if (!set) throw kv::Error(kv::kErrObjectRequired, "QuickBooks gave no subscription request set.");
  return set;
}

const SubscriptionResponse& FirstResponse(const std::unique_ptr<SubscriptionMsgSetResponse>& responses) {
  if (!responses || !responses->ResponseList()) {
    throw kv::Error(kv::kErrObjectRequired, "QuickBooks gave no answer to the subscription request.");
  }
  return responses->ResponseList()->GetAt(0);
}

}  // namespace

std::string MenuItemText(long position) {
  if (position < 0 || position >= kMenuItemCount) return "";
  return kMenuTexts[static_cast<size_t>(position)];
}

std::string MenuItemTag(long position) {
  if (position < 0 || position >= kSiteIdPosition) return "";
  return kMenuTags[static_cast<size_t>(position)];
}

bool AddMenu(bool Silent) {
  MainModState& state = MainMod();
  state.SubscriberID = kSubscriberID;
  std::unique_ptr<QBSessionManager> manager = platform::qb::CreateSessionManager();
  manager->OpenConnection("", kAppName);

  std::unique_ptr<SubscriptionMsgSetRequest> set = NewRequestSet(*manager);
  platform::qb::UIExtensionSubscriptionAdd& add = set->AppendUIExtensionSubscriptionAddRq();
  add.SubscriberID = state.SubscriberID;
  add.COMCallbackInfo.AppName = kAppName;
  add.COMCallbackInfo.ProgID = kProgID;
  add.MenuExtensionSubscription.AddToMenu = platform::qb::kAddToMenuFile;
  platform::qb::SubmenuData& submenu = add.MenuExtensionSubscription.SetSubmenu();
  for (int position = 0; position < kMenuItemCount; ++position) {
    submenu.MenuItemList.Append().MenuText = MenuItemText(position);
    platform::qb::MenuItemData& item = submenu.MenuItemList.GetAt(position);
    if (position == kSiteIdPosition || position == kSiteCodePosition) {
      item.EventTag = position == kSiteIdPosition ? state.SiteID : state.SiteCode;
      item.DisplayCondition.VisibleIfNot.Add(platform::qb::kVisibleIfNotHidden);
    } else {
      item.EventTag = MenuItemTag(position);
    }
  }

  const std::unique_ptr<SubscriptionMsgSetResponse> responses = manager->DoSubscriptionRequests(*set);
  const SubscriptionResponse& response = FirstResponse(responses);
  const bool added = response.StatusCode() == 0;
  if (!Silent) {
    if (!added) {
      AgentMsgBox("Could not add Kalvor menu to QuickBooks menu." + response.StatusMessage());
    } else {
      // The menu is in place by now; a browser that cannot be started must not make the user believe otherwise.
      try {
        platform::web::OpenBrowser(state.ServerURL + "help/QBmenuInstallHelp.html");
      } catch (const kv::Error& e) {
        AgentMsgBox(e.description());
      }
      AgentMsgBox(
          "Kalvor menu items added to QuickBooks under File | Kalvor. Please restart QuickBooks to see the new "
          "menu items and to complete installation.");
    }
  }
  manager->CloseConnection();
  return added;
}

void RemoveMenu(bool Silent) {
  MainModState& state = MainMod();
  state.SubscriberID = kSubscriberID;
  if (!Silent) {
    // The question has to come up in front of QuickBooks, which is what the host form is shown for.
    kalvorSync& host = HostForm();
    host.SetVisible(true);
    const int answer = AgentMsgBox("Do you want to remove Kalvor menu\u2019s from QuickBooks",
                                   platform::forms::vbYesNo | platform::forms::vbInformation);
    host.Hide();
    if (answer != platform::forms::vbYes) return;
  }
  std::unique_ptr<QBSessionManager> manager = platform::qb::CreateSessionManager();
  manager->OpenConnection("", kAppName);
  std::unique_ptr<SubscriptionMsgSetRequest> set = NewRequestSet(*manager);
  platform::qb::SubscriptionDel& del = set->AppendSubscriptionDelRq();
  del.SubscriberID = state.SubscriberID;
  del.SubscriptionType = platform::qb::kSubscriptionTypeUIExtension;

  const std::unique_ptr<SubscriptionMsgSetResponse> responses = manager->DoSubscriptionRequests(*set);
  const SubscriptionResponse& response = FirstResponse(responses);
  if (!Silent) {
    if (response.StatusCode() != 0) {
      AgentMsgBox("Could not remove Kalvor from QuickBooks menu: " + response.StatusMessage());
    } else {
      AgentMsgBox(
          "Kalvor menu items removed from QuickBooks. Please restart QuickBooks to complete the  uninstall process");
    }
  }
  manager->CloseConnection();
}

}  // namespace corvalink
