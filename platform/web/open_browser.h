#pragma once

// The stand-alone browser window the menu agent opens service pages in.

#include <cstdint>
#include <string>

namespace platform::web {

// Error number of a browser that could not be started ("application not found").
inline constexpr int64_t kErrBrowserNotStarted = 0x800401F5;

// Opens the address in a new window of the user's browser and returns at once; the window lives on its own.
// - KV_BROWSER_LOG names a file: the address and a LF are appended to it instead (tests, headless machines).
// - else the command in $BROWSER (split at blanks, no shell; a "%s" argument is replaced by the address, otherwise
//   the address is added as the last argument), else xdg-open.
// The browser runs detached in its own session and is never waited for. Throws kv::Error (kErrBrowserNotStarted)
// when the program cannot be found or started, or the log file cannot be written.
void OpenBrowser(const std::string& url);

}  // namespace platform::web
