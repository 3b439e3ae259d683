#pragma once

// Ctrl-C outside a run, where the page waits at a prompt (the wizard's choices, a message box's answer): the page
// is cancelled and kvpage ends with the cancelled status, the terminal's settings as they were when it started.
// Inside a run the event loop takes Ctrl-C instead and presses the control's Cancel.

namespace kvpage {

// Installs the handling; call again after a run has had Ctrl-C for itself.
void CancelAtPrompts();

}  // namespace kvpage
