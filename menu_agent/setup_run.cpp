// The setup run (sign in, check and register the company file, subscribe the menu) and the server start of a pick.

#include "menu_agent/setup_run.h"

#include <exception>
#include <filesystem>
#include <memory>

#include "common/file_identity.h"
#include "common/web_form/web_request_form.h"
#include "menu_agent/host_form.h"
#include "menu_agent/main_mod.h"
#include "menu_agent/menu_subscription.h"
#include "menu_agent/online_access.h"
#include "platform/base/error.h"
#include "platform/base/text.h"
#include "platform/forms/form.h"
#include "platform/forms/presenter.h"
#include "platform/qb/class_factory.h"
#include "platform/qb/qb_errors.h"
#include "platform/web/query_builder.h"

namespace corvalink {
namespace {

using platform::forms::vbInformation;
using platform::forms::vbOKOnly;
namespace qb = platform::qb;

// A company file is a regular file (or a link to one), whatever its name: a leading "." hides a name from
// listings here, not from QuickBooks.
bool CompanyFileExists(const std::string& path) {
  std::error_code ec;
  return std::filesystem::is_regular_file(std::filesystem::path(path), ec);
}

// The session manager the run holds now, so that the error handler can close it.
class CurrentManager {
 public:
  qb::QBSessionManager& New() {
    manager_ = qb::CreateSessionManager();
    return *manager_;
  }
  qb::QBSessionManager& operator*() { return *manager_; }
  qb::QBSessionManager* operator->() { return manager_.get(); }
  void Release() { manager_.reset(); }
  // CloseConnection and release; a connection that is not open any more is no new failure.
  void Close() {
    if (!manager_) return;
    try {
      manager_->CloseConnection();
    } catch (const kv::Error&) {
    }
    manager_.reset();
  }

 private:
  std::unique_ptr<qb::QBSessionManager> manager_;
};

std::string S2(const std::string& path) {
  return "The QuickBooks file \u201c" + path + "\u201d (as per your Kalvor records) is not found on your machine." +
         "\r\n\r\nLogin to '" + CurrentConfiguration().publicAddress +
         "' and change your QuickBooks file location under Customize | QuickBooks Preferences";
}

std::string S3(const std::string& path) {
  return "The QuickBooks file \u201c" + path + "\u201d (as per your Kalvor records) is not your current Quickbooks " +
         "file.\r\n\r\nPlease open QuickBooks with correct file and try again..";
}

// Records the open company file with the service; the answer does not matter to the run.
void RegisterCompanyFile() {
  MainModState& state = MainMod();
  const std::string url = platform::web::QueryBuilder(kUpdQBPathPage)
                              .Add("sCde", state.SiteCode)
                              .Add("sKey", state.SiteID)
                              .Add("qbfile", state.CurrentQBFile)
                              .Url(state.ServerURL);
  frmKVDownload& web = platform::forms::DefaultInstance<frmKVDownload>();
  platform::forms::Screen().MousePointer = platform::forms::vbHourglass;
  try {
    web.Request(kUpdQBPathPage, url);
  } catch (...) {
    platform::forms::Screen().MousePointer = platform::forms::vbArrow;
    throw;
  }
  platform::forms::Screen().MousePointer = platform::forms::vbArrow;
}

SetupOutcome HandleSetupError(int64_t number, const std::string& description, CurrentManager& manager) {
  const MainModState& state = MainMod();
  if (number == qb::kErrQBNotRunning || number == qb::kErrQBNoCompanyFile) {
    manager.Close();
    AgentMsgBox(
        "To continue with install, QuickBooks must be open with the correct company file. Please open QuickBooks "
        "and try again..");
    return SetupOutcome::kEnded;
  }
  if (number == qb::kErrAccessDenied) {
    manager.Close();
    AgentMsgBox(
        "To continue with install, you must allow this application to access Quickbooks company file. Please grant "
        "access permissions through the Integrated Applications company preferences.");
    return SetupOutcome::kEnded;
  }
  if (number == qb::kErrNoPermission || number == qb::kErrQBGeneral) {
    AgentMsgBox(description);
    manager.Close();
    return SetupOutcome::kEnded;
  }
  if (number == qb::kErrDifferentFileOpen) {
    AgentMsgBox(
        "Your current QuickBooks file does not match with the file you are using with Kalvor, please open the "
        "correct company file and try again.\r\n\r\nFile linked to Kalvor : " +
        state.QBFilePath);
    manager.Close();
    return SetupOutcome::kEnded;
  }
  if (number == qb::kErrSingleUserConflict) {
    manager.Close();
    AgentMsgBox(
        "The company file is open in single user mode and there is already another application accessing it.  You "
        "need to have the other application end its session with the company file before this program can be run "
        "successfully.",
        vbOKOnly);
    return SetupOutcome::kEnded;
  }
  if (number == qb::kErrCannotCreateObject) {
    AgentMsgBox(
        "Kalvor requires QuickBooks Pro 2004 or later to be installed on this machine. You can get more "
        "information about QuickBooks at " +
        CurrentConfiguration().quickBooksUrl);
    return SetupOutcome::kMenuNotAdded;
  }
  AgentMsgBox(description);
  return SetupOutcome::kMenuNotAdded;
}

SetupOutcome RunSetupSteps(CurrentManager& manager) {
  MainModState& state = MainMod();

  int16_t major = 0, minor = 0, level = 0, release = 0;
  manager.New().GetVersion(major, minor, level, release);
  if (major < 3) {
    manager.Release();
    AgentMsgBox(
        "Kalvor requires QuickBooks 2004 pro or later. \r\nKalvor does not support QuickBooks Simple Start or Basic "
        "edition.");
    return SetupOutcome::kEnded;
  }
  manager.Release();

  {
    frmOnlineAccess& dialog = platform::forms::DefaultInstance<frmOnlineAccess>();
    dialog.Show(platform::forms::vbModal);
    // Cancel, or a dialog closed any other way without a sign-in: there are no site values to go on with.
    const bool signedIn = dialog.SignedIn();
    if (dialog.Loaded()) dialog.Unload();
    if (!signedIn) return SetupOutcome::kEnded;
  }

  manager.New().OpenConnection("", kAppName);
  if (!state.QBFilePath.empty() && !CompanyFileExists(state.QBFilePath)) {
    AgentMsgBox(S2(state.QBFilePath));
    manager.Close();
    return SetupOutcome::kEnded;
  }
  manager->BeginSession("", 2);
  state.CurrentQBFile = manager->GetCurrentCompanyFileName();

  if (kv::TrimBlanks(state.QBFilePath).empty()) {
    RegisterCompanyFile();
    state.QBFilePath = state.CurrentQBFile;
  } else if (!kv::SameFile(state.QBFilePath, state.CurrentQBFile)) {
    // The session is left for the release to end, as QuickBooks ends it with the connection.
    manager.Close();
    AgentMsgBox(S3(state.QBFilePath));
    return SetupOutcome::kEnded;
  }
  manager->EndSession();
  manager->CloseConnection();
  manager.Release();

  return AddMenu(false) ? SetupOutcome::kMenuAdded : SetupOutcome::kMenuNotAdded;
}

}  // namespace

bool IsSetupCommandLine(const std::vector<std::string>& args) {
  std::string text;
  for (size_t i = 0; i < args.size(); ++i) text += (i > 0 ? " " : "") + args[i];
  if (text.empty()) return false;
  const std::vector<std::string> parts = kv::Split(text, " ");
  return parts.size() == 1 && parts[0] == "a";
}

SetupOutcome RunSetup() {
  CurrentManager manager;
  try {
    return RunSetupSteps(manager);
  } catch (const kv::Error& e) {
    return HandleSetupError(e.number(), e.description(), manager);
  } catch (const std::exception& e) {
    return HandleSetupError(0, e.what(), manager);
  }
}

void StartServer() {
  kalvorSync& host = HostForm();
  host.Show(platform::forms::vbModeless);
  host.Hide();
}

}  // namespace corvalink
