#pragma once

// The user of a measured run: answers every box with its default, closes every modal form at once and keeps
// what it was shown, so the run can be checked afterwards. It does as little as possible, since it runs inside
// the timed part.

#include <functional>
#include <string>
#include <vector>

#include "platform/forms/control.h"
#include "platform/forms/form.h"
#include "platform/forms/presenter.h"
#include "platform/forms/scripted_presenter.h"

namespace kvbench {

class BenchPresenter : public platform::forms::Presenter {
 public:
  int MessageBox(std::string_view prompt, int buttons, std::string_view) override {
    boxes.emplace_back(prompt);
    return (buttons & 7) == platform::forms::vbOKOnly ? platform::forms::vbOK
                                                      : platform::forms::CancellingAnswer(buttons);
  }
  void ShowModal(platform::forms::Form& form) override {
    if (on_modal) on_modal(form);
    form.Unload();
  }
  std::optional<std::string> AskText(std::string_view, bool) override { return std::nullopt; }
  // Keeps the last caption of each run of captions that share their text up to " (": "Getting Classes from QB
  // (12)" replaces "Getting Classes from QB (11)", so what is kept stays small however many records pass.
  void Refresh(platform::forms::Control& control) override {
    if (&control != watched) return;
    const std::string& caption = control.Caption();
    const size_t open = caption.rfind(" (");
    if (!watched_captions.empty() && open != std::string::npos &&
        watched_captions.back().compare(0, open + 2, caption, 0, open + 2) == 0) {
      watched_captions.back() = caption;
    } else {
      watched_captions.push_back(caption);
    }
  }

  std::vector<std::string> boxes;
  // The control whose repaints are kept (the sync's progress label), and a hook for modal forms.
  const platform::forms::Control* watched = nullptr;
  std::vector<std::string> watched_captions;
  std::function<void(platform::forms::Form&)> on_modal;
};

}  // namespace kvbench
