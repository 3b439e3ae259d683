// The UI-extension subscriptions kept in files by subscriber, and in memory for tests.

#include "standins/quickbooks/subscription_service.h"

#include <algorithm>
#include <cctype>

#include "platform/com/guid.h"
#include "platform/com/state_directory.h"
#include "platform/qb/subscription_xml.h"
#include "standins/quickbooks/request_handler.h"
#include "standins/quickbooks/state.h"

namespace standins::quickbooks {

using namespace platform::qb;

namespace {

constexpr const char* kNoMatch = "A query request did not find a matching object in QuickBooks";

SubscriptionResponse Ok(int type, std::shared_ptr<const ResponseDetail> detail = nullptr) {
  return SubscriptionResponse(type, kStatusOk, "Info", "Status OK", std::move(detail));
}

SubscriptionResponse Failed(int type, int code, std::string message) {
  return SubscriptionResponse(type, code, "Error", std::move(message));
}

// What is wrong with an add, or "" when nothing is.
std::string CheckAdd(const UIExtensionSubscriptionAdd& add) {
  if (!SubscriberKey(add.SubscriberID)) return "The SubscriberID \"" + add.SubscriberID + "\" is not a GUID.";
  if (add.COMCallbackInfo.AppName.empty()) return "The COMCallbackInfo needs an AppName.";
  if (add.COMCallbackInfo.ProgID.empty() && add.COMCallbackInfo.CLSID.empty()) {
    return "The COMCallbackInfo needs a ProgID or a CLSID.";
  }
  const MenuExtensionSubscriptionData& extension = add.MenuExtensionSubscription;
  if (AddToMenuName(extension.AddToMenu).empty()) {
    return "The AddToMenu value " + std::to_string(extension.AddToMenu) + " names no QuickBooks menu.";
  }
  if (extension.Menu.has_value() == extension.Submenu.has_value()) {
    return "The MenuExtensionSubscription needs either a Menu or a Submenu.";
  }
  std::vector<const MenuItemData*> items;
  if (extension.Menu) items.push_back(&*extension.Menu);
  if (extension.Submenu) {
    if (extension.Submenu->MenuItemList.Empty()) return "The Submenu needs at least one MenuItem.";
    for (const MenuItemData& item : extension.Submenu->MenuItemList) items.push_back(&item);
  }
  for (const MenuItemData* item : items) {
    if (item->MenuText.empty()) return "Every menu item needs a MenuText.";
  }
  return "";
}

}  // namespace

std::optional<std::string> SubscriberKey(const std::string& subscriberID) {
  std::optional<platform::com::Guid> guid = platform::com::ParseGuid(subscriberID);
  if (!guid) return std::nullopt;
  return platform::com::GuidToString(*guid);
}

SubscriptionMsgSetResponse ProcessSubscriptionRequests(const SubscriptionMsgSetRequest& requests,
                                                       SubscriptionStore& store) {
  SubscriptionMsgSetResponse responses;
  SubscriptionResponseList& list = responses.MutableResponseList();
  for (const SubscriptionRequest& request : requests.Requests()) {
    switch (request.kind) {
      case SubscriptionRequest::Kind::kUIExtensionAdd: {
        std::string problem = CheckAdd(request.add);
        if (!problem.empty()) {
          list.Append(Failed(kRtUIExtensionSubscriptionAddRs, kStatusInvalidValue, problem));
          break;
        }
        UIExtensionSubscriptionRet subscription;
        subscription.SubscriberID = request.add.SubscriberID;
        subscription.COMCallbackInfo = request.add.COMCallbackInfo;
        subscription.MenuExtensionSubscription = request.add.MenuExtensionSubscription;
        store.Put(*SubscriberKey(request.add.SubscriberID), subscription);
        list.Append(Ok(kRtUIExtensionSubscriptionAddRs));
        break;
      }
      case SubscriptionRequest::Kind::kDel: {
        std::optional<std::string> key = SubscriberKey(request.del.SubscriberID);
        if (request.del.SubscriptionType != kSubscriptionTypeUIExtension || !key || !store.Remove(*key)) {
          list.Append(Failed(kRtSubscriptionDelRs, 3120,
                             "There is no subscription of type " + std::to_string(request.del.SubscriptionType) +
                                 " for the subscriber \"" + request.del.SubscriberID + "\"."));
          break;
        }
        list.Append(Ok(kRtSubscriptionDelRs));
        break;
      }
      case SubscriptionRequest::Kind::kUIExtensionQuery: {
        std::optional<std::string> key = SubscriberKey(request.query.SubscriberID);
        std::optional<UIExtensionSubscriptionRet> found = key ? store.Get(*key) : std::nullopt;
        if (!found) {
          list.Append(SubscriptionResponse(kRtUIExtensionSubscriptionQueryRs, kStatusNoMatch, "Warn", kNoMatch));
          break;
        }
        list.Append(Ok(kRtUIExtensionSubscriptionQueryRs, std::make_shared<UIExtensionSubscriptionRet>(*found)));
        break;
      }
    }
  }
  return responses;
}

bool IsVisible(const MenuItemData& item) {
  return item.DisplayCondition.VisibleIfNot.Empty();
}

// ---------------------------------------------------------------- stores

FileSubscriptionStore::FileSubscriptionStore() : dir_(StateDir() / "subscriptions") {}

std::filesystem::path FileSubscriptionStore::FileOf(const std::string& key) const {
  std::string name;
  for (char c : key) {
    if (std::isalnum(static_cast<unsigned char>(c)) || c == '-') name += c;
  }
  return dir_ / (name + ".xml");
}

std::optional<UIExtensionSubscriptionRet> FileSubscriptionStore::Get(const std::string& key) {
  const std::optional<std::string> text = ReadStateFile(FileOf(key));
  if (!text) return std::nullopt;
  return SubscriptionRetFromXml(*text);
}

void FileSubscriptionStore::Put(const std::string& key, const UIExtensionSubscriptionRet& subscription) {
  EnsureStateDir();
  platform::com::OpenPrivateFolder(dir_);
  WriteStateFile(FileOf(key), "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n" + SubscriptionRetToXml(subscription));
}

bool FileSubscriptionStore::Remove(const std::string& key) {
  std::error_code ec;
  return std::filesystem::remove(FileOf(key), ec);
}

std::vector<UIExtensionSubscriptionRet> FileSubscriptionStore::List() {
  std::vector<std::filesystem::path> files;
  std::error_code ec;
  for (const auto& entry : std::filesystem::directory_iterator(dir_, ec)) {
    if (entry.path().extension() == ".xml") files.push_back(entry.path());
  }
  std::sort(files.begin(), files.end());
  std::vector<UIExtensionSubscriptionRet> subscriptions;
  for (const std::filesystem::path& file : files) {
    if (std::optional<std::string> text = ReadStateFile(file)) subscriptions.push_back(SubscriptionRetFromXml(*text));
  }
  return subscriptions;
}

std::optional<UIExtensionSubscriptionRet> MemorySubscriptionStore::Get(const std::string& key) {
  auto found = items_.find(key);
  if (found == items_.end()) return std::nullopt;
  return found->second;
}

void MemorySubscriptionStore::Put(const std::string& key, const UIExtensionSubscriptionRet& subscription) {
  items_.insert_or_assign(key, subscription);
}

bool MemorySubscriptionStore::Remove(const std::string& key) {
  return items_.erase(key) > 0;
}

std::vector<UIExtensionSubscriptionRet> MemorySubscriptionStore::List() {
  std::vector<UIExtensionSubscriptionRet> subscriptions;
  for (const auto& [key, subscription] : items_) subscriptions.push_back(subscription);
  return subscriptions;
}

}  // namespace standins::quickbooks
