// Opening an address in the user's browser, or logging it where tests ask.

#include "platform/web/open_browser.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <system_error>
#include <vector>

#include "platform/base/error.h"
#include "platform/base/text.h"
#include "platform/os/process.h"
#include "platform/web/http_text.h"

namespace platform::web {
namespace {

[[noreturn]] void Fail(const std::string& what, int error) {
  throw kv::Error(kErrBrowserNotStarted, what + ": " + std::strerror(error));
}

void AppendToLog(const char* path, const std::string& url) {
  const int fd = open(path, O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0644);
  if (fd < 0) Fail(std::string("The browser log ") + path + " could not be opened", errno);
  // One write, so that lines from several processes never interleave.
  const std::string line = url + "\n";
  const ssize_t n = write(fd, line.data(), line.size());
  const int error = errno;
  close(fd);
  if (n != static_cast<ssize_t>(line.size()))
    Fail(std::string("The browser log ") + path + " could not be written", error);
}

std::vector<std::string> BrowserCommand(const std::string& url) {
  const char* browser = std::getenv("BROWSER");
  if (browser == nullptr || kv::TrimBlanks(browser).empty()) return {"xdg-open", url};
  std::vector<std::string> args;
  bool placed = false;
  for (std::string& word : kv::Split(browser, " ")) {
    if (word.empty()) continue;
    if (word == "%s") {
      word = url;
      placed = true;
    }
    args.push_back(std::move(word));
  }
  if (!placed) args.push_back(url);
  return args;
}

}  // namespace

void OpenBrowser(const std::string& url) {
  if (const char* log = std::getenv("KV_BROWSER_LOG"); log != nullptr && *log != '\0') {
    AppendToLog(log, HideSecrets(url));
    return;
  }
  os::Launch launch;
  launch.argv = BrowserCommand(url);
  launch.in = os::Redirect::Null();
  try {
    os::StartDetached(launch);
  } catch (const std::system_error& e) {
    Fail("The browser " + launch.argv.front() + " could not be started", e.code().value());
  }
}

}  // namespace platform::web
