// What each menu pick does: the page it opens, the refresh it waits for, the uninstall question.

#include "menu_agent/menu_actions.h"

#include <deque>
#include <exception>
#include <iostream>

#include "menu_agent/main_mod.h"
#include "menu_agent/menu_subscription.h"
#include "menu_agent/online_access.h"
#include "menu_agent/pick_queue.h"
#include "platform/base/error.h"
#include "platform/forms/form.h"
#include "platform/web/open_browser.h"
#include "platform/web/query_builder.h"

namespace corvalink {
namespace {

// Set while this thread handles a pick; picks that come meanwhile (its waits pump events) wait in the list.
thread_local bool t_handling_pick = false;
thread_local std::deque<long> t_waiting_picks;

class HandlingPick {
 public:
  HandlingPick() { t_handling_pick = true; }
  ~HandlingPick() {
    t_handling_pick = false;
    t_waiting_picks.clear();
  }
  HandlingPick(const HandlingPick&) = delete;
  HandlingPick& operator=(const HandlingPick&) = delete;
};

void OpenSitePage(const std::string& page) {
  platform::web::OpenBrowser(SitePageUrl(page));
}

}  // namespace

std::string SitePageUrl(const std::string& page) {
  const MainModState& state = MainMod();
  return platform::web::QueryBuilder(page)
      .Add("sitecode", state.SiteCode)
      .Add("siteid", state.SiteID)
      .Url(state.ServerURL);
}

std::string PortalPageUrl() {
  const MainModState& state = MainMod();
  return platform::web::QueryBuilder("tsemplogin.asp").Add("sitecode", state.SiteCode).Url(state.PortalURL);
}

void GetTimesheets() {
  OpenSitePage("tspenddownlist.asp");
}
void GetExpenses() {
  OpenSitePage("exppenddownlist.asp");
}
void SetupEmployee() {
  OpenSitePage("UserSetupMain.asp");
}
void StaffProject() {
  OpenSitePage("ProjectListTry.asp");
}
void Customize() {
  OpenSitePage("KVCustom.asp");
}
void OnlineHelp() {
  platform::web::OpenBrowser(MainMod().ServerURL + "help/QBmenu.html");
}
void GoToPortal() {
  platform::web::OpenBrowser(PortalPageUrl());
}

void Synchronize() {
  {
    // The dialog's load sets the service address; it is never shown for the refresh.
    frmOnlineAccess& dialog = platform::forms::DefaultInstance<frmOnlineAccess>();
    dialog.Load();
    MainModState& state = MainMod();
    const std::string user = state.SiteCode;
    const std::string password = state.SiteID;
    // Whatever the service answers, the page opens with the values as they stand afterwards.
    dialog.DownloadFromKV(user, password, true);
    dialog.Unload();
  }
  OpenSitePage("BrintavelCall.asp");
}

namespace {

bool HasAction(long item) {
  switch (item) {
    case kPickGetTimesheets:
    case kPickGetExpenses:
    case kPickSynchronize:
    case kPickSetupEmployee:
    case kPickStaffProject:
    case kPickCustomize:
    case kPickOnlineHelp:
    case kPickUninstall:
    case kPickGoToPortal:
      return true;
    default:
      return false;
  }
}

void RunMenuAction(long item) {
  switch (item) {
    case kPickGetTimesheets:
      GetTimesheets();
      break;
    case kPickGetExpenses:
      GetExpenses();
      break;
    case kPickSynchronize:
      Synchronize();
      break;
    case kPickSetupEmployee:
      SetupEmployee();
      break;
    case kPickStaffProject:
      StaffProject();
      break;
    case kPickCustomize:
      Customize();
      break;
    case kPickOnlineHelp:
      OnlineHelp();
      break;
    case kPickUninstall:
      RemoveMenu(false);
      break;
    case kPickGoToPortal:
      GoToPortal();
      break;
    default:
      break;
  }
}

}  // namespace

void DispatchMenuEvent(long item) {
  if (!HasAction(item)) return;
  if (t_handling_pick) {
    t_waiting_picks.push_back(item);
    return;
  }
  PickTurn turn;
  HandlingPick handling;
  std::exception_ptr failure;
  try {
    RunMenuAction(item);
  } catch (...) {
    failure = std::current_exception();
  }
  // The picks that came meanwhile were taken from QuickBooks as delivered: each runs, whatever the others do,
  // and a failure of one has no caller left to go back to but the log.
  while (!t_waiting_picks.empty()) {
    const long next = t_waiting_picks.front();
    t_waiting_picks.pop_front();
    try {
      RunMenuAction(next);
    } catch (const kv::Error& e) {
      std::cerr << "corvalink: the pick of item " << next << " failed: " << e.description() << "\n";
    } catch (const std::exception& e) {
      std::cerr << "corvalink: the pick of item " << next << " failed: " << e.what() << "\n";
    }
  }
  if (failure) std::rethrow_exception(failure);
}

}  // namespace corvalink
