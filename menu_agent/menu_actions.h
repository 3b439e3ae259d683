#pragma once

// What each item of the Kalvor menu does: most open a service or portal page in a new browser window with the
// site code and site id; Syncronize refreshes the site values first; Uninstall removes the menu.

#include <filesystem>
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
// do nothing. A pick that arrives while an earlier pick still waits on the service, in this process or in
// another server process of this user, does nothing either (see PickLockPath). Failures raise kv::Error.
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

// QuickBooks starts one server process per pick, so a pick that waits on the service is marked by an exclusive
// lock on this file (in the QuickBooks state directory) for as long as it waits; a later pick that finds the
// lock held dispatches nothing.
std::filesystem::path PickLockPath();

}  // namespace corvalink
