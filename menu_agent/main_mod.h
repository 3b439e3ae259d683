#pragma once

// The menu agent's module state, its fixed values and its configuration.

#include <string>
#include <string_view>

namespace corvalink {

// The agent's subscriber id with QuickBooks; the same GUID names its type library.
inline constexpr char kSubscriberID[] = "{B5492484-1401-4EDA-AF03-62F1627C094A}";
// Application name for every QuickBooks connection and the callback's AppName.
inline constexpr char kAppName[] = "Kalvor";
inline constexpr char kProgID[] = "Corvalink.QBMenuListener";
// Caption of every message box of the agent.
inline constexpr char kProgramTitle[] = "Corvalink";

// The module variables of MainMod: one set per thread (the agent runs one), empty at start, never stored.
struct MainModState {
  std::string ServerURL;      // base URL of the service, ending in "/"
  std::string PortalURL;      // base URL of the employee portal, ending in "/"
  std::string SiteCode;       // the company's site code at the service
  std::string SiteID;         // the company's site id (site key) at the service
  std::string QBFilePath;     // the company file the service has on record; empty when none
  std::string CurrentQBFile;  // the company file open in QuickBooks
  std::string SubscriberID;
};
MainModState& MainMod();
// Back to the empty state of a new process (tests).
void ResetMainMod();

// Values chosen at build time (CMake cache variables of the same names) and overridable at run time by the
// environment variables of these names:
//   CORVALINK_SERVER_URL      base URL of the service's pages (http or https; a missing final "/" is added)
//   CORVALINK_PORTAL_URL      base URL of the employee portal
//   CORVALINK_PUBLIC_ADDRESS  the service's public web address named in the "file not found" message
//   CORVALINK_QUICKBOOKS_URL  QuickBooks' public web site named when its integration is missing
//   CORVALINK_SUPPORT_EMAIL   support e-mail address of the "account not confirmed" message
//   CORVALINK_SUPPORT_PHONE   support telephone number of the same message
// An empty variable counts as unset.
struct Configuration {
  std::string serverUrl;
  std::string portalUrl;
  std::string publicAddress;
  std::string quickBooksUrl;
  std::string supportEmail;
  std::string supportPhone;
};
// Read afresh on each call.
Configuration CurrentConfiguration();
// The base URL as used: with a final "/" added when it has none.
std::string AsBaseUrl(std::string_view url);

// A message box with the program's title; information icon and OK button unless buttons say otherwise.
int AgentMsgBox(std::string_view prompt, int buttons = 64);

}  // namespace corvalink
