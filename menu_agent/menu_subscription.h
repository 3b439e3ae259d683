#pragma once

// The agent's UI-extension subscription with QuickBooks: the Kalvor submenu under File, with two hidden items
// whose tags carry the site id and site code.

#include <string>

namespace corvalink {

// Number of items of the submenu; the last two are the hidden carriers.
inline constexpr int kMenuItemCount = 13;
inline constexpr int kSiteIdPosition = 11;
inline constexpr int kSiteCodePosition = 12;

// The text of the item at a position of the submenu; "" outside 0..12.
std::string MenuItemText(long position);
// The event tag of the item at a position (0..10); the carriers' tags come from the module variables.
std::string MenuItemTag(long position);

// Subscribes the submenu. Unless silent, tells the user the outcome and, on success, opens the installation
// help page. Returns whether QuickBooks accepted the subscription. Failing QuickBooks calls raise kv::Error to
// the caller.
bool AddMenu(bool Silent);
// Deletes the subscription. Unless silent, asks first (No sends nothing) and tells the user the outcome.
void RemoveMenu(bool Silent);

}  // namespace corvalink
