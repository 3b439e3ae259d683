// The program's command line: setup or server, its help, and the terminal sign-in dialog.

#include <filesystem>
#include <iostream>
#include <memory>

#include "menu_agent/host_form.h"
#include "menu_agent/main_mod.h"
#include "menu_agent/menu_listener.h"
#include "menu_agent/online_access.h"
#include "menu_agent/server_presenter.h"
#include "menu_agent/setup_run.h"
#include "platform/base/error.h"
#include "platform/base/text.h"
#include "platform/com/activation.h"
#include "platform/com/class_registry.h"
#include "platform/com/guid.h"
#include "platform/com/local_server.h"
#include "platform/forms/terminal_presenter.h"
#include "platform/web/web_browser.h"

namespace corvalink {
namespace {

using platform::forms::Form;
using platform::forms::TerminalPresenter;

// The class id of the callback class, {0B01C3C5-B46F-4CFE-B42F-DA3D4E029F41}: other installations know the
// class by it, so it never changes; QuickBooks finds it by its ProgID.
constexpr platform::com::Guid kListenerClsid{
    0x0B01C3C5, 0xB46F, 0x4CFE, {0xB4, 0x2F, 0xDA, 0x3D, 0x4E, 0x02, 0x9F, 0x41}};

// The sign-in dialog in a terminal: the user name, then the password without echo, until a sign-in closes
// the dialog. A user name of blanks is OK pressed with it, which tells the user that both are required; then
// the dialog's other buttons are offered. The end of input is Cancel.
void PresentSignIn(Form& form, TerminalPresenter& terminal) {
  auto& dialog = static_cast<frmOnlineAccess&>(form);
  terminal.Out() << "== " << dialog.Caption() << " ==\n" << dialog.Label2.Caption() << "\n\n";
  while (dialog.Loaded() && dialog.Visible()) {
    const std::optional<std::string> user = platform::forms::AskText(dialog.Username.Caption() + ":");
    if (!user) {
      dialog.cancel.Click();
      return;
    }
    if (kv::TrimBlanks(*user).empty()) {
      dialog.txtUserID.Type(*user);
      dialog.txtPassword.Type("");
      dialog.Okey.Click();
      if (!dialog.Loaded() || !dialog.Visible()) return;
      const std::optional<std::string> choice =
          platform::forms::AskText("Signup (s), Help (h), Cancel (c), or Enter to sign in:");
      const std::string word = choice ? kv::ToLowerAscii(kv::TrimBlanks(*choice)) : "c";
      if (word == "s" || word == "signup") dialog.cmdSignUp.Click();
      if (word == "h" || word == "help") dialog.Command1.Click();
      if (word == "c" || word == "cancel") dialog.cancel.Click();
      continue;
    }
    const std::optional<std::string> password = platform::forms::AskText(dialog.Label1.Caption() + ":", true);
    if (!password) {
      dialog.cancel.Click();
      return;
    }
    dialog.txtUserID.Type(*user);
    dialog.txtPassword.Type(*password);
    dialog.Okey.Click();
  }
}

const std::string kUsage = R"(Usage:
  {0} /regserver     register the menu listener Corvalink.QBMenuListener, so that QuickBooks can start this
                     program for a menu pick (once; also -regserver)
  {0} /unregserver   remove the registration (also -unregserver)
  {0} a              the setup: sign in at the prompt, check the company file, add the Kalvor menu
  {0} -Embedding     the start QuickBooks makes for a menu pick; by hand it only prints a hint
  {0} --help         this text

Exit status of the setup: 0 when QuickBooks accepted the menu, 1 otherwise (its message says why).

Settings (environment variables; an empty one counts as unset):
  CORVALINK_SERVER_URL       base URL of the service's pages (now {1})
  CORVALINK_PORTAL_URL       base URL of the employee portal
  CORVALINK_PUBLIC_ADDRESS   the service's public address named when the company file on record is missing
  CORVALINK_QUICKBOOKS_URL   QuickBooks' web site named when its integration is missing
  CORVALINK_SUPPORT_EMAIL    e-mail address of the "account not confirmed" message
  CORVALINK_SUPPORT_PHONE    telephone number of the "account not confirmed" message
  CORVALINK_ANSWER_FILE      answers of the server's questions, one a line, each taken once
  BROWSER                    the program that opens a picked page (else xdg-open)
  KV_BROWSER_LOG             a file the picked pages' addresses are appended to instead of opening them
  QB_STANDIN_HOME            state folder of QuickBooks (the stand-in) and of the class registration (else
                             $XDG_STATE_HOME/qb-standin, else ~/.local/state/qb-standin)
  QB_STANDIN                 the QuickBooks stand-in program (else qb-standin beside this program, else on PATH)
)" + std::string(platform::web::kSettingsHelp) +
                           platform::com::kSettingsHelp;

bool IsHelpCommandLine(const std::vector<std::string>& args) {
  if (args.size() != 1) return false;
  const std::string word = kv::ToLowerAscii(args[0]);
  return word == "--help" || word == "-h" || word == "/?" || word == "-?" || word == "/help";
}

void PrintUsage(const char* program) {
  // The program's own name keeps the columns in line however it was called.
  std::string text = kv::ReplaceAll(kUsage, "{0}", std::filesystem::path(program).filename().string());
  text = kv::ReplaceAll(text, "{1}", CurrentConfiguration().serverUrl);
  std::cout << text;
}

// Without the registration every pick of the menu the setup adds fails with error 429 in QuickBooks. A registry
// that cannot be read says so, but does not turn the setup's outcome into a failure.
void HintRegistration(const char* program) {
  try {
    if (platform::com::FindLocalServer(kProgID)) return;
  } catch (const kv::Error& e) {
    std::cout << e.description() << "\n";
  }
  std::cout << "The menu listener " << kProgID << " is not registered, so QuickBooks cannot start this program "
            << "when a Kalvor menu item is picked: run \"" << program << " /regserver\".\n";
}

int SetupMain(const char* program) {
  TerminalPresenter terminal;
  platform::forms::PresenterScope scope(terminal);
  terminal.OnModal("frmOnlineAccess", PresentSignIn);
  const SetupOutcome outcome = RunSetup();
  HintRegistration(program);
  return outcome == SetupOutcome::kMenuAdded ? 0 : 1;
}

int ServerMain(const char* program) {
  ServerPresenter presenter(std::cout);
  platform::forms::PresenterScope scope(presenter);
  platform::com::RegisterClassObject(kProgID, [] { return std::make_unique<QBMenuListener>(); });
  StartServer();
  if (!platform::com::StartedByActivation()) {
    HostForm().Unload();
    std::cerr << program << ": QuickBooks starts this program when a Kalvor menu item is picked; run \"" << program
              << " a\" to sign in and add the Kalvor menu (\"" << program << " --help\" tells more).\n";
    return 0;
  }
  return platform::com::RunServer();
}

}  // namespace

int ProgramMain(int argc, char** argv) {
  if (auto status = platform::com::HandleRegistrationArgs(argc, argv, {kProgID, kListenerClsid})) return *status;
  std::vector<std::string> args;
  for (int i = 1; i < argc; ++i) args.emplace_back(argv[i] ? argv[i] : "");
  const char* program = argc > 0 && argv[0] ? argv[0] : "corvalink";
  if (IsHelpCommandLine(args)) {
    PrintUsage(program);
    return 0;
  }
  try {
    return IsSetupCommandLine(args) ? SetupMain(program) : ServerMain(program);
  } catch (const kv::Error& e) {
    std::cerr << program << ": " << e.description() << "\n";
  } catch (const std::exception& e) {
    std::cerr << program << ": " << e.what() << "\n";
  }
  return 1;
}

}  // namespace corvalink
