#include <iostream>
#include <memory>

#include "common/error.h"
#include "common/text.h"
#include "menu_agent/host_form.h"
#include "menu_agent/main_mod.h"
#include "menu_agent/menu_listener.h"
#include "menu_agent/online_access.h"
#include "menu_agent/server_presenter.h"
#include "menu_agent/setup_run.h"
#include "platform/com/guid.h"
#include "platform/com/local_server.h"
#include "platform/forms/terminal_presenter.h"

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

int SetupMain() {
  TerminalPresenter terminal;
  platform::forms::PresenterScope scope(terminal);
  terminal.OnModal("frmOnlineAccess", PresentSignIn);
  return RunSetup() == SetupOutcome::kMenuAdded ? 0 : 1;
}

int ServerMain(const char* program) {
  ServerPresenter presenter(std::cout);
  platform::forms::PresenterScope scope(presenter);
  platform::com::RegisterClassObject(kProgID, [] { return std::make_unique<QBMenuListener>(); });
  StartServer();
  if (!platform::com::StartedByActivation()) {
    HostForm().Unload();
    std::cerr << program << ": QuickBooks starts this program when a Kalvor menu item is picked; run \"" << program
              << " a\" to sign in and add the Kalvor menu.\n";
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
  try {
    return IsSetupCommandLine(args) ? SetupMain() : ServerMain(program);
  } catch (const kv::Error& e) {
    std::cerr << program << ": " << e.description() << "\n";
  } catch (const std::exception& e) {
    std::cerr << program << ": " << e.what() << "\n";
  }
  return 1;
}

}  // namespace corvalink
