#pragma once

// Replacing a file so that a reader, or a crash at any moment, sees either the old file whole or the new one
// whole: the content goes to a temporary file in the same folder, is flushed to disk, renamed over the file,
// and the folder is flushed so the new name survives a crash too. On failure the temporary file is removed and
// the old file is left as it was. Errors are std::system_error naming the file.

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

}  // namespace platform::os
