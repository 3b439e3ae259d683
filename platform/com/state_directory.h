#pragma once

// Where the QuickBooks stand-in and the class registry keep their state, and the checks on a private folder.

#include <cstdint>
#include <filesystem>

namespace platform::com {

// Where the QuickBooks stand-in keeps its state (open company file, UI-extension subscriptions, the class
// registry of out-of-process servers): $QB_STANDIN_HOME, else $XDG_STATE_HOME/qb-standin, else
// ~/.local/state/qb-standin. Empty or relative XDG_STATE_HOME is ignored, as the XDG rules ask. The directory is
// not created here; writers open it with OpenPrivateFolder when they first need it.
std::filesystem::path StateDirectory();

// "Permission denied": a state folder that another user could change is refused with it.
inline constexpr int64_t kErrPermissionDenied = 70;
inline constexpr unsigned kPrivateFolderMode = 0700;
inline constexpr unsigned kPrivateFileMode = 0600;

// A state folder holds what signs in to the service and which program a menu pick starts, so no other local
// user may be able to change it. A missing folder is created 0700 whatever the umask (its parents as usual). An
// existing one must belong to this user (as must a link that names it) and be writable by no one else; one that
// others may only read or search is tightened to 0700 with a notice on stderr. Returns dir. Raises kv::Error
// kErrPermissionDenied naming the folder when it belongs to another user, others may write it or it is not a
// folder, errno when it cannot be created.
std::filesystem::path OpenPrivateFolder(const std::filesystem::path& dir);

// The same checks for a reader, which has nothing to read in a folder that does not exist: false then, with
// nothing created; true when the folder exists and may be used.
bool CheckPrivateFolder(const std::filesystem::path& dir);

}  // namespace platform::com
