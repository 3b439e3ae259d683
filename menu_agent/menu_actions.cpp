#include "menu_agent/menu_actions.h"

#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <system_error>

#include "menu_agent/main_mod.h"
#include "menu_agent/menu_subscription.h"
#include "menu_agent/online_access.h"
#include "platform/com/state_directory.h"
#include "platform/forms/form.h"
#include "platform/web/open_browser.h"
#include "platform/web/query_builder.h"

namespace corvalink {
namespace {

// Set while this thread waits on the service for a pick.
thread_local bool t_waiting_on_service = false;

// The cross-process mark of a pick waiting on the service. An unusable state directory leaves only the
// in-process mark: a pick is never refused for a file it could not open.
class PickLock {
 public:
  PickLock() {
    std::error_code ec;
    const std::filesystem::path path = PickLockPath();
    std::filesystem::create_directories(path.parent_path(), ec);
    fd_ = open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0600);
    if (fd_ < 0) return;
    if (flock(fd_, LOCK_EX | LOCK_NB) != 0) {
      held_elsewhere_ = errno == EWOULDBLOCK;
      close(fd_);
      fd_ = -1;
    }
  }
  ~PickLock() {
    if (fd_ >= 0) close(fd_);  // closing drops the lock
  }
  PickLock(const PickLock&) = delete;
  PickLock& operator=(const PickLock&) = delete;

  // Another pick holds the lock: it is waiting on the service now.
  bool HeldElsewhere() const { return held_elsewhere_; }

 private:
  int fd_ = -1;
  bool held_elsewhere_ = false;
};

class WaitingOnService {
 public:
  WaitingOnService() { t_waiting_on_service = true; }
  ~WaitingOnService() { t_waiting_on_service = false; }
  WaitingOnService(const WaitingOnService&) = delete;
  WaitingOnService& operator=(const WaitingOnService&) = delete;
};

void OpenSitePage(const std::string& page) {
  platform::web::OpenBrowser(SitePageUrl(page));
}

}  // namespace

std::filesystem::path PickLockPath() {
  return platform::com::StateDirectory() / "corvalink-pick.lock";
}

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

void DispatchMenuEvent(long item) {
  if (t_waiting_on_service) return;
  if (item == kPickSynchronize) {
    PickLock lock;
    if (lock.HeldElsewhere()) return;
    WaitingOnService waiting;
    Synchronize();
    return;
  }
  {
    // The other actions do not wait on the service; they only must not start beside one that does.
    PickLock lock;
    if (lock.HeldElsewhere()) return;
  }
  switch (item) {
    case kPickGetTimesheets:
      GetTimesheets();
      break;
    case kPickGetExpenses:
      GetExpenses();
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

}  // namespace corvalink
