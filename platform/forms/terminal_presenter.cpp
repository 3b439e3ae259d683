// Message boxes and prompts on a terminal: printing the box, reading the choice, hidden input.

#include "platform/forms/terminal_presenter.h"

#include <termios.h>
#include <unistd.h>

#include <csignal>
#include <iostream>
#include <vector>

#include "platform/base/text.h"
#include "platform/forms/caret_escape.h"
#include "platform/forms/control.h"
#include "platform/forms/event_loop.h"
#include "platform/forms/form.h"

namespace platform::forms {
namespace {

struct Choice {
  std::string_view word;
  int result;
};

std::vector<Choice> ChoicesOf(int buttons) {
  switch (buttons & 7) {
    case vbOKCancel:
      return {{"OK", vbOK}, {"Cancel", vbCancel}};
    case vbAbortRetryIgnore:
      return {{"Abort", vbAbort}, {"Retry", vbRetry}, {"Ignore", vbIgnore}};
    case vbYesNoCancel:
      return {{"Yes", vbYes}, {"No", vbNo}, {"Cancel", vbCancel}};
    case vbYesNo:
      return {{"Yes", vbYes}, {"No", vbNo}};
    case vbRetryCancel:
      return {{"Retry", vbRetry}, {"Cancel", vbCancel}};
    default:
      return {{"OK", vbOK}};
  }
}

// The word itself or its first letter, in any letter case.
const Choice* Match(const std::vector<Choice>& choices, std::string_view answer) {
  const std::string typed = kv::ToLowerAscii(kv::TrimBlanks(answer));
  for (const Choice& choice : choices) {
    const std::string word = kv::ToLowerAscii(choice.word);
    if (typed == word || (typed.size() == 1 && typed[0] == word[0])) return &choice;
  }
  return nullptr;
}

// What a Ctrl-C during hidden input needs: the terminal settings to put back before the default action ends
// the program, so the user's shell is not left without echo.
int g_echo_fd = -1;
termios g_echo_saved{};
struct sigaction g_previous_sigint {};

void OnSigintWhileHidden(int sig) {
  if (g_previous_sigint.sa_handler == SIG_DFL) {
    tcsetattr(g_echo_fd, TCSANOW, &g_echo_saved);
    signal(SIGINT, SIG_DFL);
    raise(SIGINT);
  } else if (g_previous_sigint.sa_handler != SIG_IGN && !(g_previous_sigint.sa_flags & SA_SIGINFO)) {
    g_previous_sigint.sa_handler(sig);
  }
}

// Echo off on the terminal for as long as it lives.
class EchoOff {
 public:
  explicit EchoOff(int fd) : fd_(fd) {
    if (tcgetattr(fd_, &saved_) != 0) return;
    g_echo_fd = fd_;
    g_echo_saved = saved_;
    struct sigaction sa {};
    sa.sa_handler = OnSigintWhileHidden;
    sigemptyset(&sa.sa_mask);
    sa.sa_flags = SA_RESTART;
    installed_ = sigaction(SIGINT, &sa, &g_previous_sigint) == 0;
    termios quiet = saved_;
    quiet.c_lflag &= ~static_cast<tcflag_t>(ECHO);
    active_ = tcsetattr(fd_, TCSAFLUSH, &quiet) == 0;
  }
  ~EchoOff() {
    if (active_) tcsetattr(fd_, TCSAFLUSH, &saved_);
    if (installed_) sigaction(SIGINT, &g_previous_sigint, nullptr);
  }
  EchoOff(const EchoOff&) = delete;
  EchoOff& operator=(const EchoOff&) = delete;

 private:
  int fd_;
  termios saved_{};
  bool active_ = false;
  bool installed_ = false;
};

}  // namespace

std::string TerminalLines(std::string_view text) {
  return CaretEscape(text, LineBreaks::kKept);
}

TerminalPresenter::TerminalPresenter()
    : out_(&std::cout), in_(&std::cin), interactive_(isatty(STDIN_FILENO) != 0), uses_stdin_(true) {}

TerminalPresenter::TerminalPresenter(std::ostream& out, std::istream& in, bool interactive)
    : out_(&out), in_(&in), interactive_(interactive), uses_stdin_(&in == &std::cin) {}

bool TerminalPresenter::ReadLine(std::string& line, bool hidden) {
  EndProgressLine();
  out_->flush();
  bool ok;
  if (hidden && interactive_ && uses_stdin_ && isatty(STDIN_FILENO)) {
    EchoOff quiet(STDIN_FILENO);
    ok = static_cast<bool>(std::getline(*in_, line));
    *out_ << '\n';  // the Enter key was not echoed either
  } else {
    ok = static_cast<bool>(std::getline(*in_, line));
  }
  if (ok && !line.empty() && line.back() == '\r') line.pop_back();
  return ok;
}

int TerminalPresenter::MessageBox(std::string_view prompt, int buttons, std::string_view title) {
  EndProgressLine();
  if (OnMessageBox) OnMessageBox(prompt, buttons);
  std::ostream& out = *out_;
  out << '[' << IconName(buttons) << ']';
  if (!title.empty()) out << ' ' << title;
  out << '\n' << TerminalLines(prompt) << "\n\n";
  const std::vector<Choice> choices = ChoicesOf(buttons);
  if (choices.size() == 1) {
    out.flush();
    return choices.front().result;
  }
  std::string question;
  for (const Choice& choice : choices) {
    if (!question.empty()) question += '/';
    question += choice.word;
  }
  question += "? ";
  const size_t default_index = std::min<size_t>(static_cast<size_t>((buttons >> 8) & 3), choices.size() - 1);
  for (;;) {
    out << question;
    std::string line;
    if (!ReadLine(line)) {
      // The end of input is the user walking away: the cautious choice.
      const int result = buttons & 7;
      const Choice* cancel = nullptr;
      for (const Choice& choice : choices) {
        if (choice.result == vbCancel || (result == vbYesNo && choice.result == vbNo) ||
            (result == vbAbortRetryIgnore && choice.result == vbAbort)) {
          cancel = &choice;
        }
      }
      if (!cancel) cancel = &choices.back();
      out << cancel->word << " (end of input)\n\n";
      return cancel->result;
    }
    const Choice* chosen = kv::TrimBlanks(line).empty() ? &choices[default_index] : Match(choices, line);
    if (chosen) {
      if (!interactive_) out << chosen->word << '\n';
      out << '\n';
      return chosen->result;
    }
    if (!interactive_) out << line << '\n';
    out << "Please answer " << question.substr(0, question.size() - 2) << ".\n";
  }
}

std::optional<std::string> TerminalPresenter::AskText(std::string_view prompt, bool hidden) {
  EndProgressLine();
  *out_ << prompt;
  if (!prompt.empty() && prompt.back() != ' ') *out_ << ' ';
  std::string line;
  if (!ReadLine(line, hidden)) {
    *out_ << '\n';
    return std::nullopt;
  }
  if (!interactive_) *out_ << (hidden ? "" : line) << '\n';
  return line;
}

void TerminalPresenter::Refresh(Control& control) {
  if (status_) {
    if (&control == watch_.caption) watch_.await_caption = false;
    const bool watched = &control == watch_.caption || &control == watch_.bar || &control == watch_.blink ||
                         &control == watch_.bar->Container();
    if (watched) UpdateProgressLine();
  }
  if (OnRefresh) OnRefresh(control);
}

void TerminalPresenter::ProgressChanged(ProgressBar& bar, bool range_set) {
  if (!status_ || &bar != watch_.bar) return;
  const bool restarted = range_set || bar.Value() < watch_.last_value;
  watch_.last_value = bar.Value();
  if (restarted) {
    status_->Commit();
    watch_.await_caption = true;
    return;
  }
  UpdateProgressLine();
}

void TerminalPresenter::ShowProgressInPlace(const Control& caption, const ProgressBar& bar, const Control* blink,
                                            bool in_place, int width_fd) {
  watch_ = ProgressWatch{&caption, &bar, blink, bar.Value(), false};
  status_ = std::make_unique<StatusLine>(*out_, in_place, [width_fd] { return TerminalColumns(width_fd); });
}

void TerminalPresenter::UpdateProgressLine() {
  if (watch_.await_caption) return;
  ProgressFrame frame;
  if (watch_.caption->Visible()) frame.caption = watch_.caption->Caption();
  frame.bar_shown = watch_.bar->Visible() && !frame.caption.empty();
  frame.min = watch_.bar->Min();
  frame.max = watch_.bar->Max();
  frame.value = watch_.bar->Value();
  if (watch_.blink && !frame.Empty()) {
    frame.blink_room = kv::CodePointCount(watch_.blink->Caption());
    if (watch_.blink->Visible()) frame.blink = watch_.blink->Caption();
  }
  status_->Update(frame);
}

void TerminalPresenter::EndProgressLine() {
  if (status_) status_->Commit();
}

void TerminalPresenter::PrintLine(std::string_view text) {
  EndProgressLine();
  *out_ << text << '\n' << std::flush;
}

void TerminalPresenter::OnModal(std::string form_name, std::function<void(Form&, TerminalPresenter&)> handler) {
  modal_handlers_[std::move(form_name)] = std::move(handler);
}

void TerminalPresenter::ShowModal(Form& form) {
  EndProgressLine();
  auto shown = [&form] { return form.Loaded() && form.Visible(); };
  auto it = modal_handlers_.find(form.Name());
  if (it != modal_handlers_.end()) {
    auto handler = it->second;
    handler(form, *this);
  } else {
    form.DescribeForm(*out_);
    *out_ << '\n';
    OfferButtons(form);
  }
  EventLoop::Current().WaitWhile(shown);
}

void TerminalPresenter::OfferButtons(Form& form) {
  auto shown = [&form] { return form.Loaded() && form.Visible(); };
  while (shown()) {
    std::vector<CommandButton*> buttons;
    ForEachDescendant(form, [&](Control& c) {
      auto* button = dynamic_cast<CommandButton*>(&c);
      if (button && button->Enabled() && ShownOnSurface(*button)) buttons.push_back(button);
    });
    if (buttons.empty()) return;
    *out_ << "Press:";
    for (size_t i = 0; i < buttons.size(); ++i) *out_ << "  " << i + 1 << " " << ShownCaption(buttons[i]->Caption());
    *out_ << "\n> ";
    std::string line;
    if (!ReadLine(line)) {
      *out_ << "(end of input)\n";
      if (CommandButton* cancel = FindCancelButton(form)) cancel->Click();
      if (shown()) form.Unload(vbFormControlMenu);
      if (shown()) form.Hide();
      return;
    }
    if (!interactive_) *out_ << line << '\n';
    const std::string typed(kv::TrimBlanks(line));
    CommandButton* chosen = nullptr;
    if (typed.empty()) {
      chosen = FindDefaultButton(form);
    } else {
      for (size_t i = 0; i < buttons.size(); ++i) {
        if (typed == std::to_string(i + 1) || kv::EqualsIgnoreCase(typed, ShownCaption(buttons[i]->Caption()))) {
          chosen = buttons[i];
        }
      }
    }
    if (!chosen) {
      *out_ << "Please pick one of the numbers.\n";
      continue;
    }
    chosen->Click();
    EventLoop::Current().DoEvents();
    if (shown()) {
      *out_ << '\n';
      form.DescribeForm(*out_);
      *out_ << '\n';
    }
  }
}

}  // namespace platform::forms
