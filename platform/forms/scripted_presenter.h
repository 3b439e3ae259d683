#pragma once

// The presenter tests drive: it records what is shown and answers from queues.

#include <deque>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "platform/forms/presenter.h"

namespace platform::forms {

// A presenter for tests: records every box, prompt and modal form in order and answers from queues.
//
// Anything that arrives with nothing queued for it, or whose prompt differs from the one queued, is recorded
// in Unexpected() and answered with the box's cancelling choice (OK for an OK-only box), so the code under
// test goes on; the test then fails on the list. tests/support/scripted_presenter_scope.h installs one for a
// test and fails the test on anything unexpected or left unanswered.
class ScriptedPresenter : public Presenter {
 public:
  struct Box {
    std::string prompt;
    int buttons = 0;
    std::string title;
    int answer = 0;
  };

  // The next box, whatever its text, is answered with result.
  void QueueAnswer(int result);
  // The next box must carry exactly this prompt; it is answered with result.
  void ExpectBox(std::string prompt, int result = vbOK);
  // The next box must contain fragment somewhere in its prompt; it is answered with result.
  void ExpectBoxContaining(std::string fragment, int result = vbOK);
  // The next AskText gets this answer (nullopt: cancelled).
  void QueueText(std::optional<std::string> answer);
  // The next modal form is handed to action, which should close it (click a button, Unload, Hide).
  void QueueModal(std::function<void(Form&)> action);

  int MessageBox(std::string_view prompt, int buttons, std::string_view title) override;
  void ShowModal(Form& form) override;
  std::optional<std::string> AskText(std::string_view prompt, bool hidden) override;
  void Refresh(Control& control) override;

  const std::vector<Box>& Boxes() const { return boxes_; }
  // The prompts of the boxes shown, in order.
  std::vector<std::string> Prompts() const;
  const std::vector<std::string>& TextPrompts() const { return text_prompts_; }
  // Names of the forms shown modally, in order.
  const std::vector<std::string>& ModalForms() const { return modal_forms_; }
  // Names of the controls repainted, in order.
  const std::vector<std::string>& Refreshes() const { return refreshes_; }
  // What arrived unscripted or differed from its script.
  const std::vector<std::string>& Unexpected() const { return unexpected_; }
  // Answers, texts and modal actions queued but never used.
  size_t PendingCount() const { return answers_.size() + texts_.size() + modals_.size(); }
  // One text naming everything unexpected and everything left unused; "" when all went as scripted.
  std::string Problems() const;
  void Clear();

 private:
  struct Answer {
    std::optional<std::string> prompt;
    int result;
    bool fragment = false;
  };
  std::deque<Answer> answers_;
  std::deque<std::optional<std::string>> texts_;
  std::deque<std::function<void(Form&)>> modals_;
  std::vector<Box> boxes_;
  std::vector<std::string> text_prompts_;
  std::vector<std::string> modal_forms_;
  std::vector<std::string> refreshes_;
  std::vector<std::string> unexpected_;
};

// The button that cancels a box of this style: OK for OK-only, No for Yes/No, Cancel where there is one,
// Abort for Abort/Retry/Ignore.
int CancellingAnswer(int buttons);

}  // namespace platform::forms
