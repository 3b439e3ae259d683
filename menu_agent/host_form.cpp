// The agent's hidden host form and its default instance.

#include "menu_agent/host_form.h"

#include "menu_agent/main_mod.h"
#include "platform/com/local_server.h"

namespace corvalink {

kalvorSync::kalvorSync() : Form("kalvorSync") {
  SetCaption("Kalvor");
  // Never seen by the user: it exists to keep the server up and to own the uninstall question.
  Form::SetVisible(false);
  OnLoad = [] {
    MainModState& state = MainMod();
    const Configuration config = CurrentConfiguration();
    state.SubscriberID = kSubscriberID;
    state.ServerURL = config.serverUrl;
    state.PortalURL = config.portalUrl;
    // A loaded host form is what keeps a server process alive between QuickBooks' calls.
    platform::com::LockServer();
  };
  OnUnload = [](int&) { platform::com::UnlockServer(); };
}

kalvorSync::~kalvorSync() {
  // A form dropped without its unload (a test resetting its forms) must not keep the server up.
  if (Loaded()) platform::com::UnlockServer();
}

kalvorSync& HostForm() {
  return platform::forms::DefaultInstance<kalvorSync>();
}

bool HostFormLoaded() {
  return platform::forms::HasDefaultInstance<kalvorSync>() && HostForm().Loaded();
}

}  // namespace corvalink
