#pragma once

// The presenter of the terminal hosts: message boxes printed as blocks, choices and hidden input read back.

#include <functional>
#include <iosfwd>
#include <map>
#include <memory>
#include <string>

#include "platform/forms/presenter.h"
#include "platform/forms/terminal_status.h"

namespace platform::forms {

// Presents on a terminal. A message box is printed as a block:
//   [Information] Title        (the icon's name; " " and the title only when the box has one)
//   the text, CR LF shown as line breaks
//   (blank line)
// and a box with a choice (Yes/No, OK/Cancel, ...) then asks on the input stream; the end of input answers
// No, Cancel or the box's last button.
//
// A modal form is handed to the handler registered for its name when there is one (the host decides what to
// show and press); otherwise the form's terminal view is printed and, while it is shown, its visible, enabled
// command buttons are offered as numbered choices. The end of input presses its cancel button, else closes it.
// A form without buttons to offer is waited on: its own events decide when it closes.
class TerminalPresenter : public Presenter {
 public:
  // interactive: the input is a terminal the user types at (echo can be switched off for hidden input, and
  // answers are not echoed back). Standard streams: interactive when standard input is a terminal.
  TerminalPresenter();
  TerminalPresenter(std::ostream& out, std::istream& in, bool interactive = false);

  int MessageBox(std::string_view prompt, int buttons, std::string_view title) override;
  void ShowModal(Form& form) override;
  std::optional<std::string> AskText(std::string_view prompt, bool hidden) override;
  void Refresh(Control& control) override;
  void ProgressChanged(ProgressBar& bar, bool range_set) override;

  // Shows the progress of a run on one status line instead of leaving it to OnRefresh: the caption of `caption`,
  // the bar and the blinking label `blink` (may be null), drawn in place when in_place, else one line per step.
  // A step ends when the bar is started over (its range set, its value moved back): its last frame then stays
  // as a line of its own. The width follows the terminal on width_fd.
  void ShowProgressInPlace(const Control& caption, const ProgressBar& bar, const Control* blink, bool in_place,
                           int width_fd);
  // Ends the status line (its last frame stays), then prints text as a line of its own.
  void PrintLine(std::string_view text);
  // Ends the status line; its last frame stays in the scroll-back.
  void EndProgressLine();

  // Handler for modal forms of one name (e.g. "frmResults"). It runs with the form shown; when it returns
  // with the form still shown, the presenter waits for the form's own events to close it.
  void OnModal(std::string form_name, std::function<void(Form&, TerminalPresenter&)> handler);
  // Called on every repaint (e.g. to print a status label as it changes).
  std::function<void(Control&)> OnRefresh;
  // Called with every message box before it is shown (e.g. for the host to judge how a run ended).
  std::function<void(std::string_view prompt, int buttons)> OnMessageBox;

  std::ostream& Out() { return *out_; }
  std::istream& In() { return *in_; }
  bool Interactive() const { return interactive_; }
  // Reads one line of input (CR stripped); false at the end of input.
  bool ReadLine(std::string& line, bool hidden = false);

 private:
  void OfferButtons(Form& form);
  void UpdateProgressLine();

  struct ProgressWatch {
    const Control* caption = nullptr;
    const ProgressBar* bar = nullptr;
    const Control* blink = nullptr;
    double last_value = 0;
    // After the bar started over, the old caption is not drawn beside the new bar.
    bool await_caption = false;
  };

  std::ostream* out_;
  std::istream* in_;
  bool interactive_;
  bool uses_stdin_;
  std::map<std::string, std::function<void(Form&, TerminalPresenter&)>> modal_handlers_;
  ProgressWatch watch_;
  std::unique_ptr<StatusLine> status_;
};

// Text with CR LF, lone CR and lone LF all turned into "\n", and every other control character but the tab
// shown in caret notation ("^[" for ESC, "^?" for DEL and the eight-bit controls).
std::string TerminalLines(std::string_view text);

}  // namespace platform::forms
