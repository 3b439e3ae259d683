#pragma once

// What "qb-standin menu" prints and what a pick hands the subscriber's callback.

#include <filesystem>
#include <string>

#include "standins/quickbooks/subscription_service.h"

namespace standins::quickbooks {

// The subscribed menus as "qb-standin menu" prints them: per subscription its subscriber, callback and menu,
// then one line per item with its event tag; items QuickBooks does not show are marked hidden.
std::string DescribeMenus(SubscriptionStore& store);

// The event text QuickBooks gives a subscriber's callback for a pick of the item with that tag: LF line ends,
// the EventTag line unindented.
std::string MenuEventText(const std::string& eventTag, const std::string& subscriberID,
                          const std::filesystem::path& companyFile);

// The subscription whose shown item carries the tag (the only one, or the one of subscriberID when given).
// Raises std::runtime_error with a message for the user when there is none or the choice is ambiguous.
platform::qb::UIExtensionSubscriptionRet SubscriptionForPick(SubscriptionStore& store, const std::string& eventTag,
                                                             const std::string& subscriberID);

}  // namespace standins::quickbooks
