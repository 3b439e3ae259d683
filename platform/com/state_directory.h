#pragma once

#include <filesystem>

namespace platform::com {

// Where the QuickBooks stand-in keeps its state (open company file, UI-extension subscriptions, the class
// registry of out-of-process servers): $QB_STANDIN_HOME, else $XDG_STATE_HOME/qb-standin, else
// ~/.local/state/qb-standin. Empty or relative XDG_STATE_HOME is ignored, as the XDG rules ask. The directory is
// not created here; writers create it when they first need it.
std::filesystem::path StateDirectory();

}  // namespace platform::com
