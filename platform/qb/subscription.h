#pragma once

// The subscription requests and responses of the session manager, as plain values.

#include <deque>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace platform::qb {

// The subscription requests and responses of the session manager (session_manager.h), as the menu agent uses
// them. Request objects are plain values: set their fields, then hand the set to DoSubscriptionRequests.
//
//   auto set = manager->CreateSubscriptionMsgSetRequest(3, 0);
//   auto& add = set->AppendUIExtensionSubscriptionAddRq();
//   add.SubscriberID = "{B5492484-...}";
//   add.COMCallbackInfo.AppName = "Kalvor";
//   add.COMCallbackInfo.ProgID = "Corvalink.QBMenuListener";
//   add.MenuExtensionSubscription.AddToMenu = kAddToMenuFile;
//   auto& submenu = add.MenuExtensionSubscription.SetSubmenu();
//   submenu.MenuItemList.Append().MenuText = "Get Timesheets";
//   submenu.MenuItemList.GetAt(0).EventTag = "0";
//   submenu.MenuItemList.GetAt(11).DisplayCondition.VisibleIfNot.Add(kVisibleIfNotHidden);
//   auto responses = manager->DoSubscriptionRequests(*set);
//   const SubscriptionResponse& r = responses->ResponseList()->GetAt(0);
//   if (r.StatusCode() != 0) ... r.StatusMessage() ...

// A QuickBooks list: Append gives the new last element, GetAt a 0-based element. References stay valid while
// elements are appended. GetAt past the end raises kv::Error kErrIndexOutOfRange.
template <class T>
class QBList {
 public:
  T& Append() { return items_.emplace_back(); }
  void Add(T value) { items_.push_back(std::move(value)); }
  T& GetAt(int index);
  const T& GetAt(int index) const;
  int Count() const { return static_cast<int>(items_.size()); }
  bool Empty() const { return items_.empty(); }
  auto begin() const { return items_.begin(); }
  auto end() const { return items_.end(); }
  friend bool operator==(const QBList&, const QBList&) = default;

 private:
  std::deque<T> items_;
};

[[noreturn]] void ThrowIndexOutOfRange(int index, int count);

template <class T>
T& QBList<T>::GetAt(int index) {
  if (index < 0 || index >= Count()) ThrowIndexOutOfRange(index, Count());
  return items_[static_cast<size_t>(index)];
}
template <class T>
const T& QBList<T>::GetAt(int index) const {
  if (index < 0 || index >= Count()) ThrowIndexOutOfRange(index, Count());
  return items_[static_cast<size_t>(index)];
}

// AddToMenu values: the QuickBooks menu that gets the extension.
inline constexpr int kAddToMenuFile = 0;
inline constexpr int kAddToMenuCompany = 1;
inline constexpr int kAddToMenuCustomers = 2;
inline constexpr int kAddToMenuVendors = 3;
inline constexpr int kAddToMenuEmployees = 4;
inline constexpr int kAddToMenuBanking = 5;
inline constexpr int kAddToMenuReports = 6;
inline constexpr int kAddToMenuWindow = 7;
// The menu's name for a value, or "" for a value QuickBooks does not know.
std::string AddToMenuName(int addToMenu);
// The value for a name, or -1.
int AddToMenuValue(const std::string& name);

// The VisibleIfNot condition with which QuickBooks never shows an item (the menu agent's hidden carriers).
inline constexpr int kVisibleIfNotHidden = 1;

// SubscriptionType of a delete.
inline constexpr int kSubscriptionTypeData = 0;
inline constexpr int kSubscriptionTypeUIEvent = 1;
inline constexpr int kSubscriptionTypeUIExtension = 2;

// Response type codes.
inline constexpr int kRtUIExtensionSubscriptionAddRs = 1162;
inline constexpr int kRtUIExtensionSubscriptionQueryRs = 1163;
inline constexpr int kRtSubscriptionDelRs = 1154;

struct COMCallbackInfoData {
  std::string AppName;
  std::string ProgID;
  std::string CLSID;  // optional; "" when not given
  friend bool operator==(const COMCallbackInfoData&, const COMCallbackInfoData&) = default;
};

// When QuickBooks shows (VisibleIf, VisibleIfNot) and enables (EnabledIf, EnabledIfNot) a menu item; each list
// holds condition values. An item without conditions is always shown.
struct DisplayConditionData {
  QBList<int> VisibleIf;
  QBList<int> VisibleIfNot;
  QBList<int> EnabledIf;
  QBList<int> EnabledIfNot;
  bool Empty() const { return VisibleIf.Empty() && VisibleIfNot.Empty() && EnabledIf.Empty() && EnabledIfNot.Empty(); }
  friend bool operator==(const DisplayConditionData&, const DisplayConditionData&) = default;
};

struct MenuItemData {
  std::string MenuText;
  std::string EventTag;
  DisplayConditionData DisplayCondition;
  friend bool operator==(const MenuItemData&, const MenuItemData&) = default;
};

struct SubmenuData {
  std::string MenuText;  // optional; QuickBooks names the submenu after the application when empty
  QBList<MenuItemData> MenuItemList;
  friend bool operator==(const SubmenuData&, const SubmenuData&) = default;
};

// The menu extension: a menu and either one item (Menu) or a submenu of items (Submenu).
struct MenuExtensionSubscriptionData {
  int AddToMenu = -1;
  std::optional<MenuItemData> Menu;
  std::optional<SubmenuData> Submenu;
  // Chooses the submenu alternative and returns it.
  SubmenuData& SetSubmenu() {
    Menu.reset();
    return Submenu.emplace();
  }
  MenuItemData& SetMenu() {
    Submenu.reset();
    return Menu.emplace();
  }
  friend bool operator==(const MenuExtensionSubscriptionData&, const MenuExtensionSubscriptionData&) = default;
};

// --- requests ---

struct UIExtensionSubscriptionAdd {
  std::string SubscriberID;
  COMCallbackInfoData COMCallbackInfo;
  MenuExtensionSubscriptionData MenuExtensionSubscription;
  friend bool operator==(const UIExtensionSubscriptionAdd&, const UIExtensionSubscriptionAdd&) = default;
};

struct SubscriptionDel {
  std::string SubscriberID;
  int SubscriptionType = -1;
  friend bool operator==(const SubscriptionDel&, const SubscriptionDel&) = default;
};

struct UIExtensionSubscriptionQuery {
  std::string SubscriberID;
  friend bool operator==(const UIExtensionSubscriptionQuery&, const UIExtensionSubscriptionQuery&) = default;
};

// One request of a set, in the order appended.
struct SubscriptionRequest {
  enum class Kind { kUIExtensionAdd, kDel, kUIExtensionQuery };
  Kind kind = Kind::kUIExtensionQuery;
  UIExtensionSubscriptionAdd add;
  SubscriptionDel del;
  UIExtensionSubscriptionQuery query;
};

class SubscriptionMsgSetRequest {
 public:
  SubscriptionMsgSetRequest(int qbXMLMajorVersion, int qbXMLMinorVersion)
      : major_(qbXMLMajorVersion), minor_(qbXMLMinorVersion) {}

  UIExtensionSubscriptionAdd& AppendUIExtensionSubscriptionAddRq();
  SubscriptionDel& AppendSubscriptionDelRq();
  UIExtensionSubscriptionQuery& AppendUIExtensionSubscriptionQueryRq();

  int QBXMLMajorVersion() const { return major_; }
  int QBXMLMinorVersion() const { return minor_; }
  const QBList<SubscriptionRequest>& Requests() const { return requests_; }

 private:
  int major_;
  int minor_;
  QBList<SubscriptionRequest> requests_;
};

// --- responses ---

// What a response carries besides its status; take it as the record type the request returns.
class ResponseDetail {
 public:
  virtual ~ResponseDetail() = default;
};

// The detail of a UI-extension subscription query: the subscription as QuickBooks keeps it.
class UIExtensionSubscriptionRet : public ResponseDetail {
 public:
  std::string SubscriberID;
  COMCallbackInfoData COMCallbackInfo;
  MenuExtensionSubscriptionData MenuExtensionSubscription;
};

class SubscriptionResponse {
 public:
  SubscriptionResponse(int type, int statusCode, std::string statusSeverity, std::string statusMessage,
                       std::shared_ptr<const ResponseDetail> detail = nullptr)
      : type_(type),
        status_code_(statusCode),
        severity_(std::move(statusSeverity)),
        message_(std::move(statusMessage)),
        detail_(std::move(detail)) {}

  int StatusCode() const { return status_code_; }
  const std::string& StatusSeverity() const { return severity_; }  // "Info", "Warn" or "Error"
  const std::string& StatusMessage() const { return message_; }
  // The response type code (kRt... above).
  int Type() const { return type_; }
  // Nothing when the response has no detail; otherwise e.g. a UIExtensionSubscriptionRet:
  //   auto* ret = dynamic_cast<const UIExtensionSubscriptionRet*>(r.Detail());
  const ResponseDetail* Detail() const { return detail_.get(); }
  std::shared_ptr<const ResponseDetail> SharedDetail() const { return detail_; }

 private:
  int type_;
  int status_code_;
  std::string severity_;
  std::string message_;
  std::shared_ptr<const ResponseDetail> detail_;
};

class SubscriptionResponseList {
 public:
  int Count() const { return static_cast<int>(items_.size()); }
  // Raises kv::Error kErrIndexOutOfRange past the end.
  const SubscriptionResponse& GetAt(int index) const;
  void Append(SubscriptionResponse response) { items_.push_back(std::move(response)); }

 private:
  std::vector<SubscriptionResponse> items_;
};

class SubscriptionMsgSetResponse {
 public:
  // A set with an empty response list.
  SubscriptionMsgSetResponse() : list_(SubscriptionResponseList()) {}
  // Nothing when QuickBooks sent no response list.
  const SubscriptionResponseList* ResponseList() const { return list_ ? &*list_ : nullptr; }
  SubscriptionResponseList& MutableResponseList() { return list_ ? *list_ : list_.emplace(); }
  void ClearResponseList() { list_.reset(); }

 private:
  std::optional<SubscriptionResponseList> list_;
};

}  // namespace platform::qb
