// The menu picks of the stand-in: the listing of subscribed menus and the event text a pick sends.

#include "standins/quickbooks/menu.h"

#include <stdexcept>

#include "platform/xml/escape.h"

namespace standins::quickbooks {

using namespace platform::qb;
using platform::xml::EscapeXmlText;

namespace {

std::vector<const MenuItemData*> Items(const UIExtensionSubscriptionRet& subscription) {
  std::vector<const MenuItemData*> items;
  const MenuExtensionSubscriptionData& extension = subscription.MenuExtensionSubscription;
  if (extension.Menu) items.push_back(&*extension.Menu);
  if (extension.Submenu) {
    for (const MenuItemData& item : extension.Submenu->MenuItemList) items.push_back(&item);
  }
  return items;
}

}  // namespace

std::string DescribeMenus(SubscriptionStore& store) {
  std::vector<UIExtensionSubscriptionRet> subscriptions = store.List();
  if (subscriptions.empty()) return "No menu subscriptions.\n";
  std::string text;
  for (const UIExtensionSubscriptionRet& subscription : subscriptions) {
    const MenuExtensionSubscriptionData& extension = subscription.MenuExtensionSubscription;
    std::string where = AddToMenuName(extension.AddToMenu) + " menu";
    if (extension.Submenu) {
      std::string title =
          extension.Submenu->MenuText.empty() ? subscription.COMCallbackInfo.AppName : extension.Submenu->MenuText;
      where += " | " + title;
    }
    text += "Subscriber " + subscription.SubscriberID + " (" + subscription.COMCallbackInfo.AppName + ", " +
            (subscription.COMCallbackInfo.ProgID.empty() ? subscription.COMCallbackInfo.CLSID
                                                         : subscription.COMCallbackInfo.ProgID) +
            "): " + where + "\n";
    for (const MenuItemData* item : Items(subscription)) {
      text += "  [" + item->EventTag + "] " + item->MenuText + (IsVisible(*item) ? "" : "  (hidden)") + "\n";
    }
  }
  return text;
}

std::string MenuEventText(const std::string& eventTag, const std::string& subscriberID,
                          const std::filesystem::path& companyFile) {
  std::string text = "<?xml version=\"1.0\" ?>\n<QBXML>\n  <QBXMLEvents>\n    <UIExtensionEvent>\n";
  text += "      <SubscriberID>" + EscapeXmlText(subscriberID) + "</SubscriberID>\n";
  text += "      <CompanyFilePath>" + EscapeXmlText(companyFile.string()) + "</CompanyFilePath>\n";
  // The callback finds the tag by this line's first characters, so it stands at the start of its line.
  text += "<EventTag>" + EscapeXmlText(eventTag) + "</EventTag>\n";
  text += "    </UIExtensionEvent>\n  </QBXMLEvents>\n</QBXML>\n";
  return text;
}

UIExtensionSubscriptionRet SubscriptionForPick(SubscriptionStore& store, const std::string& eventTag,
                                               const std::string& subscriberID) {
  std::optional<std::string> wanted;
  if (!subscriberID.empty()) {
    wanted = SubscriberKey(subscriberID);
    if (!wanted) throw std::runtime_error("\"" + subscriberID + "\" is not a subscriber id (a GUID).");
  }
  std::vector<UIExtensionSubscriptionRet> matches;
  for (const UIExtensionSubscriptionRet& subscription : store.List()) {
    if (wanted && SubscriberKey(subscription.SubscriberID) != wanted) continue;
    for (const MenuItemData* item : Items(subscription)) {
      if (item->EventTag == eventTag && IsVisible(*item)) {
        matches.push_back(subscription);
        break;
      }
    }
  }
  if (matches.empty()) {
    throw std::runtime_error("No menu item with the event tag \"" + eventTag + "\" is shown in QuickBooks" +
                             (wanted ? " for subscriber " + subscriberID : std::string()) +
                             " (qb-standin menu lists them).");
  }
  if (matches.size() > 1) {
    throw std::runtime_error("Several subscribers show a menu item with the event tag \"" + eventTag +
                             "\"; choose one with --subscriber.");
  }
  return matches.front();
}

}  // namespace standins::quickbooks
