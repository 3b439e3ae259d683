#pragma once

// Replacing a file so that a reader, or a crash at any moment, sees either the old file whole or the new one
// whole: the content goes to a temporary file in the same folder, is flushed to disk, renamed over the file,
// and the folder is flushed so the new name survives a crash too. On failure the temporary file is removed and
// the old file is left as it was. Errors are std::system_error naming the file.
//
// Once the rename is done every reader sees the new file, so a folder that cannot be flushed after it is not
// reported: the caller would otherwise take a file that is in place for one that was not written.

#include <sys/types.h>

#include <filesystem>
#include <string_view>
#include <vector>

namespace platform::os {

// The mode new files get unless told otherwise: readable by their owner only.
inline constexpr mode_t kPrivateMode = 0600;

// kNone skips both flushes: a reader still sees the old or the new file whole, but a crash of the machine may
// lose the new one. For files that matter only while their writer runs (a stand-in's records of requests).
enum class Flush { kToDisk, kNone };

void ReplaceFileAtomically(const std::filesystem::path& path, const std::vector<std::string_view>& pieces,
                           mode_t mode = kPrivateMode, Flush flush = Flush::kToDisk);
void ReplaceFileAtomically(const std::filesystem::path& path, std::string_view content, mode_t mode = kPrivateMode,
                           Flush flush = Flush::kToDisk);

// Flushes a folder, so that names made, renamed or removed in it survive a crash. A file system that cannot
// flush a folder (EINVAL) is taken as done.
void SyncFolder(const std::filesystem::path& folder);

}  // namespace platform::os
