#pragma once

#include <filesystem>

namespace platform::com {

// Where the QuickBooks stand-in keeps its state (open company file, UI-extension subscriptions, the class
// registry of out-of-process servers): $QB_STANDIN_HOME, else $XDG_STATE_HOME/qb-standin, else
// ~/.local/state/qb-standin. Empty or relative XDG_STATE_HOME is ignored, as the XDG rules ask. The directory is
// not created here; writers create it when they first need it.
std::filesystem::path StateDirectory();

// The state holds the site code and site id that sign in to the service: the directory is created readable by
// its owner only (0700, whatever the umask; its parents as usual), and the files in it are written 0600.
// Raises std::filesystem::filesystem_error when it cannot be created.
void CreatePrivateDirectory(const std::filesystem::path& dir);
inline constexpr unsigned kPrivateFileMode = 0600;

}  // namespace platform::com
