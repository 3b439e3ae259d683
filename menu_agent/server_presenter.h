#pragma once

// How a server started by QuickBooks presents its message boxes. QuickBooks starts the agent with standard
// input from /dev/null and its own standard output and error, so the boxes are printed on the inherited
// standard output, and a box with a choice (the uninstall question) takes its answer from:
//   1. the file named by CORVALINK_ANSWER_FILE when that variable is set: its first line answers the box and is
//      removed from the file (under a lock, so successive server processes take successive lines); an empty or
//      missing file gives the cautious answer (No, Cancel);
//   2. otherwise the controlling terminal (/dev/tty) when there is one;
//   3. otherwise standard input, whose end gives the cautious answer.
// Answers are the button's word or its first letter, in any letter case ("Yes", "y", "No").

#include <iosfwd>
#include <optional>
#include <string>

#include "platform/forms/presenter.h"

namespace corvalink {

class ServerPresenter : public platform::forms::Presenter {
 public:
  explicit ServerPresenter(std::ostream& out);

  int MessageBox(std::string_view prompt, int buttons, std::string_view title) override;
  void ShowModal(platform::forms::Form& form) override;
  std::optional<std::string> AskText(std::string_view prompt, bool hidden) override;

 private:
  std::ostream& out_;
};

// Takes the first line of an answer file and rewrites the file without it; nothing when the file is missing,
// unreadable or empty.
std::optional<std::string> TakeAnswerLine(const std::string& path);

}  // namespace corvalink
