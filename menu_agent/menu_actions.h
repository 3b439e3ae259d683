#pragma once

// What each item of the Kalvor menu does: most open a service or portal page in a new browser window with the
// site code and site id; Syncronize refreshes the site values first; Uninstall removes the menu.

#include <string>

namespace corvalink {

// Item numbers: the tags of the submenu's items.
inline constexpr long kPickGetTimesheets = 0;
inline constexpr long kPickGetExpenses = 1;
inline constexpr long kPickSynchronize = 2;
inline constexpr long kPickSetupEmployee = 4;
inline constexpr long kPickStaffProject = 5;
inline constexpr long kPickCustomize = 6;
inline constexpr long kPickOnlineHelp = 9;
inline constexpr long kPickUninstall = 10;
inline constexpr long kPickGoToPortal = 11;

// Runs the action of an item number; numbers without an action (the separator lines 3 and 7, anything else)
// do nothing. Picks are handled one at a time in the order they arrive: one that comes while an earlier pick
// is still handled (waiting on the service, say) waits for it, in this process or in another server process
// of this user (see PickTurn), and is never dropped. Failures raise kv::Error.
void DispatchMenuEvent(long item);

void GetTimesheets();
void GetExpenses();
void SetupEmployee();
void StaffProject();
void Customize();
void OnlineHelp();
void GoToPortal();
void Synchronize();

// The page addresses the actions open, with the module's current values.
std::string SitePageUrl(const std::string& page);
std::string PortalPageUrl();

}  // namespace corvalink
