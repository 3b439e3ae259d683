// The thread's current presenter and the message box call that goes through it.

#include "platform/forms/presenter.h"

#include <memory>

#include "platform/base/text.h"
#include "platform/forms/terminal_presenter.h"

namespace platform::forms {
namespace {

struct PresenterState {
  Presenter* current = nullptr;
  std::unique_ptr<TerminalPresenter> terminal;
};

PresenterState& State() {
  thread_local PresenterState state;
  return state;
}

}  // namespace

Presenter& CurrentPresenter() {
  PresenterState& state = State();
  if (state.current) return *state.current;
  if (!state.terminal) state.terminal = std::make_unique<TerminalPresenter>();
  return *state.terminal;
}

Presenter* SetCurrentPresenter(Presenter* presenter) {
  PresenterState& state = State();
  Presenter* previous = state.current;
  state.current = presenter;
  return previous;
}

int MsgBox(std::string_view prompt, int buttons, std::string_view title) {
  if (kv::CodePointCount(prompt) > kMsgBoxPromptLimit) {
    const std::string cut = std::string(kv::LeftChars(prompt, kMsgBoxPromptLimit - 3)) + "...";
    return CurrentPresenter().MessageBox(cut, buttons, title);
  }
  return CurrentPresenter().MessageBox(prompt, buttons, title);
}

std::optional<std::string> AskText(std::string_view prompt, bool hidden) {
  return CurrentPresenter().AskText(prompt, hidden);
}

std::string_view IconName(int buttons) {
  switch (buttons & 0x70) {
    case vbCritical:
      return "Critical";
    case vbQuestion:
      return "Question";
    case vbExclamation:
      return "Exclamation";
    case vbInformation:
      return "Information";
    default:
      return "Message";
  }
}

}  // namespace platform::forms
