// The presenter of a pick's server process, which has no terminal of its own.

#include "menu_agent/server_presenter.h"

#include <unistd.h>

#include <cstdlib>
#include <fstream>
#include <iostream>
#include <sstream>
#include <system_error>

#include "platform/forms/terminal_presenter.h"
#include "platform/os/file_lock.h"

namespace corvalink {
namespace {

using platform::forms::TerminalPresenter;

bool HasChoice(int buttons) {
  return (buttons & 7) != platform::forms::vbOKOnly;
}

}  // namespace

std::optional<std::string> TakeAnswerLine(const std::string& path) {
  // The file is rewritten in place under its own lock, so that a second server process waits for its turn and
  // then takes the next line.
  platform::os::FileLock lock;
  try {
    lock = platform::os::FileLock::Acquire(path, platform::os::LockMode::kExclusive, platform::os::LockOpen::kExisting);
  } catch (const std::system_error&) {
    return std::nullopt;
  }
  if (!lock.Held()) return std::nullopt;
  const int fd = lock.fd();
  std::string content;
  char buffer[4096];
  for (;;) {
    const ssize_t n = read(fd, buffer, sizeof buffer);
    if (n <= 0) break;
    content.append(buffer, static_cast<size_t>(n));
  }
  std::optional<std::string> line;
  if (!content.empty()) {
    const size_t end = content.find('\n');
    line = content.substr(0, end);
    if (!line->empty() && line->back() == '\r') line->pop_back();
    const std::string rest = end == std::string::npos ? std::string() : content.substr(end + 1);
    if (ftruncate(fd, 0) == 0 && lseek(fd, 0, SEEK_SET) == 0) {
      size_t written = 0;
      while (written < rest.size()) {
        const ssize_t n = write(fd, rest.data() + written, rest.size() - written);
        if (n <= 0) break;
        written += static_cast<size_t>(n);
      }
    }
  }
  return line;
}

ServerPresenter::ServerPresenter(std::ostream& out) : out_(out) {}

int ServerPresenter::MessageBox(std::string_view prompt, int buttons, std::string_view title) {
  if (!HasChoice(buttons)) {
    std::istringstream none;
    return TerminalPresenter(out_, none).MessageBox(prompt, buttons, title);
  }
  if (const char* file = std::getenv("CORVALINK_ANSWER_FILE"); file != nullptr && *file != '\0') {
    const std::optional<std::string> answer = TakeAnswerLine(file);
    std::istringstream in(answer ? *answer + "\n" : std::string());
    return TerminalPresenter(out_, in).MessageBox(prompt, buttons, title);
  }
  std::ifstream tty("/dev/tty");
  if (tty.is_open()) return TerminalPresenter(out_, tty, true).MessageBox(prompt, buttons, title);
  return TerminalPresenter(out_, std::cin).MessageBox(prompt, buttons, title);
}

void ServerPresenter::ShowModal(platform::forms::Form& form) {
  // The server shows no dialog of its own; one that came up anyway is closed rather than left waiting.
  std::istringstream none;
  TerminalPresenter(out_, none).ShowModal(form);
}

std::optional<std::string> ServerPresenter::AskText(std::string_view, bool) {
  return std::nullopt;
}

}  // namespace corvalink
