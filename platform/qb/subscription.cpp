// The subscription message set's requests and responses, with their index checks.

#include "platform/qb/subscription.h"

#include <array>

#include "platform/base/error.h"
#include "platform/qb/qb_errors.h"

namespace platform::qb {

namespace {
constexpr std::array<const char*, 8> kMenuNames = {"File",      "Company", "Customers", "Vendors",
                                                   "Employees", "Banking", "Reports",   "Window"};
}

void ThrowIndexOutOfRange(int index, int count) {
  throw kv::Error(kErrIndexOutOfRange, "Subscript out of range: index " + std::to_string(index) + " of a list of " +
                                           std::to_string(count) + " elements");
}

std::string AddToMenuName(int addToMenu) {
  if (addToMenu < 0 || addToMenu >= static_cast<int>(kMenuNames.size())) return "";
  return kMenuNames[static_cast<size_t>(addToMenu)];
}

int AddToMenuValue(const std::string& name) {
  for (size_t i = 0; i < kMenuNames.size(); ++i) {
    if (name == kMenuNames[i]) return static_cast<int>(i);
  }
  return -1;
}

UIExtensionSubscriptionAdd& SubscriptionMsgSetRequest::AppendUIExtensionSubscriptionAddRq() {
  SubscriptionRequest& request = requests_.Append();
  request.kind = SubscriptionRequest::Kind::kUIExtensionAdd;
  return request.add;
}

SubscriptionDel& SubscriptionMsgSetRequest::AppendSubscriptionDelRq() {
  SubscriptionRequest& request = requests_.Append();
  request.kind = SubscriptionRequest::Kind::kDel;
  return request.del;
}

UIExtensionSubscriptionQuery& SubscriptionMsgSetRequest::AppendUIExtensionSubscriptionQueryRq() {
  SubscriptionRequest& request = requests_.Append();
  request.kind = SubscriptionRequest::Kind::kUIExtensionQuery;
  return request.query;
}

const SubscriptionResponse& SubscriptionResponseList::GetAt(int index) const {
  if (index < 0 || index >= Count()) ThrowIndexOutOfRange(index, Count());
  return items_[static_cast<size_t>(index)];
}

}  // namespace platform::qb
