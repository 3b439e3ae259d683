#include "platform/web/open_browser.h"

#include <fcntl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "common/error.h"
#include "common/text.h"
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

// Looks the program up on PATH here, so that a missing browser is reported before anything is started.
std::string ResolveProgram(const std::string& name) {
  if (name.find('/') != std::string::npos) {
    if (access(name.c_str(), X_OK) != 0) Fail("The browser " + name + " could not be started", errno);
    return name;
  }
  const char* path = std::getenv("PATH");
  const std::string dirs = path != nullptr && *path != '\0' ? path : "/usr/local/bin:/usr/bin:/bin";
  for (const std::string& dir : kv::Split(dirs, ":")) {
    const std::string candidate = (dir.empty() ? std::string(".") : dir) + "/" + name;
    if (access(candidate.c_str(), X_OK) == 0) return candidate;
  }
  Fail("The browser " + name + " could not be started", ENOENT);
}

}  // namespace

void OpenBrowser(const std::string& url) {
  if (const char* log = std::getenv("KV_BROWSER_LOG"); log != nullptr && *log != '\0') {
    AppendToLog(log, HideSecrets(url));
    return;
  }
  const std::vector<std::string> args = BrowserCommand(url);
  const std::string program = ResolveProgram(args.front());
  std::vector<char*> argv;
  for (const std::string& arg : args) argv.push_back(const_cast<char*>(arg.c_str()));
  argv.push_back(nullptr);

  int report[2];
  if (pipe2(report, O_CLOEXEC) != 0) Fail("The browser could not be started", errno);
  // Two forks: the browser's parent exits at once, so the browser is never our zombie and lives in a session
  // of its own. Only async-signal-safe calls run between fork and exec.
  const pid_t middle = fork();
  if (middle < 0) {
    const int error = errno;
    close(report[0]);
    close(report[1]);
    Fail("The browser could not be started", error);
  }
  if (middle == 0) {
    setsid();
    const pid_t child = fork();
    if (child == 0) {
      sigset_t none;
      sigemptyset(&none);
      sigprocmask(SIG_SETMASK, &none, nullptr);
      const int null_fd = open("/dev/null", O_RDONLY);
      if (null_fd >= 0) dup2(null_fd, STDIN_FILENO);
      execv(program.c_str(), argv.data());
      const int error = errno;
      [[maybe_unused]] ssize_t n = write(report[1], &error, sizeof error);
      _exit(127);
    }
    if (child < 0) {
      const int error = errno;
      [[maybe_unused]] ssize_t n = write(report[1], &error, sizeof error);
    }
    _exit(0);
  }
  close(report[1]);
  int status = 0;
  while (waitpid(middle, &status, 0) < 0 && errno == EINTR) {
  }
  int error = 0;
  ssize_t n;
  do {
    n = read(report[0], &error, sizeof error);
  } while (n < 0 && errno == EINTR);
  close(report[0]);
  if (n == static_cast<ssize_t>(sizeof error)) Fail("The browser " + program + " could not be started", error);
}

}  // namespace platform::web
