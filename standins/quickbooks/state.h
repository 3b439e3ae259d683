#pragma once

// The QuickBooks stand-in's state directory: which company file is open and where subscriptions are kept.

#include <filesystem>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/os/file_lock.h"
#include "platform/qb/session_manager.h"

namespace standins::quickbooks {

// The stand-in's state directory ($QB_STANDIN_HOME, else $XDG_STATE_HOME/qb-standin, else
// ~/.local/state/qb-standin), shared with the class registry of platform/com. Files in it:
//   open-company              the absolute path of the company file open in QuickBooks (absent: not running)
//   library-version           "major minor releaseLevel releaseNumber" of the integration library (default 3 0 0 0)
//   subscriptions/*.xml       one UI-extension subscription per subscriber
//   denied-applications       names of applications refused access, one a line
//   sessions.lock             held shared by every open session, exclusively by a single-user one
//   added-transactions        one line per transaction that an add request created: path TAB kind TAB TxnID
//   faults                    failures scripted for tests, one a line ("#" starts a comment); each event takes
//                             and removes the first line that names it, and goes on normally when none does:
//                               session ok          BeginSession goes on
//                               session refuse      BeginSession is refused as when the user denies access
//                               session hold        BeginSession creates session-held and waits until that file
//                                                   is gone, then goes on: QuickBooks that does not answer
//                               add ok              an add message goes on
//                               add fail [CODE]     an add message saves nothing and answers an error status
//                                                   (CODE, default 3180: QuickBooks could not save it)
//                               add hold            an add message creates add-held and, holding the company
//                                                   file's lock, waits until that file is gone, then goes on:
//                                                   an add caught while QuickBooks processes it
//                               add lose            an add message is saved, then the connection breaks before
//                                                   its answer goes back: an answer lost on the way
// Both raise kv::Error, naming the folder, when it belongs to another user: nothing in it is read or written.
std::filesystem::path StateDir();
// Creates the state directory when missing and returns it.
std::filesystem::path EnsureStateDir();

// The open company file, or nothing when QuickBooks is not running.
std::optional<std::filesystem::path> OpenCompanyFile();
void SetOpenCompanyFile(const std::filesystem::path& path);
void ClearOpenCompanyFile();

// Applications the user has refused access to the company file (by application name).
bool IsAccessDenied(const std::string& appName);
void SetAccessDenied(const std::string& appName, bool denied);

// Takes the first line of the faults file that names the event ("session", "add") and returns the rest of it
// ("refuse", "fail 3180"); nothing when no line names the event. Safe between processes.
std::optional<std::string> TakeFault(std::string_view event);
// Appends lines to the faults file.
void AddFaults(const std::vector<std::string>& lines);
// The lines still waiting for their event, in the order they are taken; ClearFaults drops them all.
std::vector<std::string> PendingFaults();
void ClearFaults();

// Where an add or a session told to hold waits (see the faults above).
std::filesystem::path AddHeldMarker();
std::filesystem::path SessionHeldMarker();
// Creates the marker and waits until it is gone.
void HoldWhile(const std::filesystem::path& marker);

platform::qb::QBVersion LibraryVersion();
void SetLibraryVersion(const platform::qb::QBVersion& version);

// Whole-file helpers. ReadFile, ReadStateFile and WriteFileAtomically raise std::runtime_error with the path and
// the reason.
std::string ReadFile(const std::filesystem::path& path);
// A file of the state directory, or nothing when it is missing. A link in its place is not followed and a file of
// another user is not read: either could steer the stand-in to a file of someone else's choosing.
std::optional<std::string> ReadStateFile(const std::filesystem::path& path);
// Replaces the file as a whole (see platform/os/atomic_file.h): a reader sees either the old or the new file,
// never a part, and the new one survives a power cut. A failed write removes its temporary file.
// With a mode the file gets exactly that one; without, the replaced file's (0644 for a new file).
void WriteFileAtomically(const std::filesystem::path& path, std::string_view content);
void WriteFileAtomically(const std::filesystem::path& path, const std::vector<std::string_view>& pieces,
                         std::optional<unsigned> mode = std::nullopt);
// Removes the temporary files a killed WriteFileAtomically of that file left beside it. Call it only while
// holding the file's lock (LockCompanyFile): a writer holding it may have one in progress.
void RemoveLeftoverTemporaries(const std::filesystem::path& path);
// Opens (creating when missing) a file of the state directory, readable by its owner only; -1 with errno set.
// Like ReadStateFile, it follows no link and opens no file of another user (EPERM).
int OpenPrivate(const std::filesystem::path& path, int flags);
// A file of the state directory: readable by its owner only.
void WriteStateFile(const std::filesystem::path& path, std::string_view content);

// The exclusive lock of the company file, which writers replace by renaming: the lock is on the file itself and
// is taken again when the file was replaced while waiting for it. A missing file is an error.
platform::os::FileLock LockCompanyFile(const std::filesystem::path& path);
// The file a company path names, its links followed: QuickBooks opens a company file through a link as the file
// itself, so it is locked, cleaned and written where it lies, and the link stays a link.
std::filesystem::path CompanyFileBehindLinks(const std::filesystem::path& path);

}  // namespace standins::quickbooks
