// The scripted presenter's queues: expected boxes, answers and what came unexpected.

#include "platform/forms/scripted_presenter.h"

#include <algorithm>

#include "platform/forms/event_loop.h"
#include "platform/forms/form.h"

namespace platform::forms {
namespace {

std::vector<int> ButtonsOf(int buttons) {
  switch (buttons & 7) {
    case vbOKCancel:
      return {vbOK, vbCancel};
    case vbAbortRetryIgnore:
      return {vbAbort, vbRetry, vbIgnore};
    case vbYesNoCancel:
      return {vbYes, vbNo, vbCancel};
    case vbYesNo:
      return {vbYes, vbNo};
    case vbRetryCancel:
      return {vbRetry, vbCancel};
    default:
      return {vbOK};
  }
}

std::string Quoted(std::string_view text) {
  std::string quoted = "\"";
  quoted.append(text);
  return quoted + '"';
}

}  // namespace

int CancellingAnswer(int buttons) {
  switch (buttons & 7) {
    case vbAbortRetryIgnore:
      return vbAbort;
    case vbYesNo:
      return vbNo;
    case vbOKCancel:
    case vbYesNoCancel:
    case vbRetryCancel:
      return vbCancel;
    default:
      return vbOK;
  }
}

void ScriptedPresenter::QueueAnswer(int result) {
  answers_.push_back({std::nullopt, result});
}

void ScriptedPresenter::ExpectBox(std::string prompt, int result) {
  answers_.push_back({std::move(prompt), result});
}

void ScriptedPresenter::ExpectBoxContaining(std::string fragment, int result) {
  answers_.push_back({std::move(fragment), result, true});
}

void ScriptedPresenter::QueueText(std::optional<std::string> answer) {
  texts_.push_back(std::move(answer));
}

void ScriptedPresenter::QueueModal(std::function<void(Form&)> action) {
  modals_.push_back(std::move(action));
}

int ScriptedPresenter::MessageBox(std::string_view prompt, int buttons, std::string_view title) {
  Box box{std::string(prompt), buttons, std::string(title), CancellingAnswer(buttons)};
  if (answers_.empty()) {
    unexpected_.push_back("unscripted message box " + Quoted(prompt));
  } else {
    Answer answer = std::move(answers_.front());
    answers_.pop_front();
    if (answer.prompt && answer.fragment && prompt.find(*answer.prompt) == std::string_view::npos) {
      unexpected_.push_back("message box " + Quoted(prompt) + " came where one containing " + Quoted(*answer.prompt) +
                            " was expected");
    } else if (answer.prompt && !answer.fragment && *answer.prompt != prompt) {
      unexpected_.push_back("message box " + Quoted(prompt) + " came where " + Quoted(*answer.prompt) +
                            " was expected");
    }
    const std::vector<int> allowed = ButtonsOf(buttons);
    if (std::find(allowed.begin(), allowed.end(), answer.result) == allowed.end()) {
      unexpected_.push_back("answer " + std::to_string(answer.result) + " is no button of message box " +
                            Quoted(prompt));
    } else {
      box.answer = answer.result;
    }
  }
  boxes_.push_back(box);
  return box.answer;
}

void ScriptedPresenter::ShowModal(Form& form) {
  modal_forms_.push_back(form.Name());
  auto shown = [&form] { return form.Loaded() && form.Visible(); };
  if (modals_.empty()) {
    unexpected_.push_back("unscripted modal form " + form.Name());
    form.Unload(vbFormControlMenu);
  } else {
    auto action = std::move(modals_.front());
    modals_.pop_front();
    action(form);
    // What the action's clicks posted may be what closes the form.
    if (shown()) EventLoop::Current().DoEvents();
    if (shown()) unexpected_.push_back("modal form " + form.Name() + " was still shown after its scripted action");
  }
  // Never leave the caller waiting on a form that nobody will close.
  if (shown()) form.Hide();
}

std::optional<std::string> ScriptedPresenter::AskText(std::string_view prompt, bool) {
  text_prompts_.emplace_back(prompt);
  if (texts_.empty()) {
    unexpected_.push_back("unscripted text prompt " + Quoted(prompt));
    return std::nullopt;
  }
  auto answer = std::move(texts_.front());
  texts_.pop_front();
  return answer;
}

void ScriptedPresenter::Refresh(Control& control) {
  refreshes_.push_back(control.Name());
}

std::vector<std::string> ScriptedPresenter::Prompts() const {
  std::vector<std::string> prompts;
  for (const Box& box : boxes_) prompts.push_back(box.prompt);
  return prompts;
}

std::string ScriptedPresenter::Problems() const {
  std::string text;
  for (const std::string& item : unexpected_) text += item + "\n";
  for (const Answer& answer : answers_) {
    text += "queued message box answer " + std::to_string(answer.result);
    if (answer.prompt) text += " for " + Quoted(*answer.prompt);
    text += " was never used\n";
  }
  if (!texts_.empty()) text += std::to_string(texts_.size()) + " queued text answer(s) never used\n";
  if (!modals_.empty()) text += std::to_string(modals_.size()) + " queued modal action(s) never used\n";
  return text;
}

void ScriptedPresenter::Clear() {
  answers_.clear();
  texts_.clear();
  modals_.clear();
  boxes_.clear();
  text_prompts_.clear();
  modal_forms_.clear();
  refreshes_.clear();
  unexpected_.clear();
}

}  // namespace platform::forms
