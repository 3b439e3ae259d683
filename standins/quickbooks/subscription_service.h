#pragma once

// Where the stand-in keeps UI-extension subscriptions: the store interface, the files of the state directory,
// and memory for tests.

#include <filesystem>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "platform/qb/subscription.h"

namespace standins::quickbooks {

// Where UI-extension subscriptions are kept, by subscriber id (a GUID; compared without regard to braces or
// letter case).
class SubscriptionStore {
 public:
  virtual ~SubscriptionStore() = default;
  virtual std::optional<platform::qb::UIExtensionSubscriptionRet> Get(const std::string& key) = 0;
  virtual void Put(const std::string& key, const platform::qb::UIExtensionSubscriptionRet& subscription) = 0;
  virtual bool Remove(const std::string& key) = 0;
  virtual std::vector<platform::qb::UIExtensionSubscriptionRet> List() = 0;
};

// One file per subscriber under the state directory's subscriptions/, so they outlive the process that made
// them. Each file is replaced atomically.
class FileSubscriptionStore : public SubscriptionStore {
 public:
  FileSubscriptionStore();
  std::optional<platform::qb::UIExtensionSubscriptionRet> Get(const std::string& key) override;
  void Put(const std::string& key, const platform::qb::UIExtensionSubscriptionRet& subscription) override;
  bool Remove(const std::string& key) override;
  std::vector<platform::qb::UIExtensionSubscriptionRet> List() override;

 private:
  std::filesystem::path FileOf(const std::string& key) const;
  std::filesystem::path dir_;
};

class MemorySubscriptionStore : public SubscriptionStore {
 public:
  std::optional<platform::qb::UIExtensionSubscriptionRet> Get(const std::string& key) override;
  void Put(const std::string& key, const platform::qb::UIExtensionSubscriptionRet& subscription) override;
  bool Remove(const std::string& key) override;
  std::vector<platform::qb::UIExtensionSubscriptionRet> List() override;

 private:
  std::map<std::string, platform::qb::UIExtensionSubscriptionRet> items_;
};

// The store key of a subscriber id: its GUID in registry form, or nothing when it is no GUID.
std::optional<std::string> SubscriberKey(const std::string& subscriberID);

// Answers a subscription request set as QuickBooks does: an add checks the subscription and keeps it (replacing
// the subscriber's earlier one), a delete of type UIExtension removes it, a query answers type 1163 with the
// subscription as detail (status 1 without detail when there is none). One response per request, in order.
platform::qb::SubscriptionMsgSetResponse ProcessSubscriptionRequests(
    const platform::qb::SubscriptionMsgSetRequest& requests, SubscriptionStore& store);

// Whether QuickBooks shows the item: conditions all hold in the stand-in, so an item with any VisibleIfNot
// entry is never shown.
bool IsVisible(const platform::qb::MenuItemData& item);

}  // namespace standins::quickbooks
