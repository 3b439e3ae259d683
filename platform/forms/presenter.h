#pragma once

// The presenter interface that message boxes, modal forms and refreshes go through, and the box constants.

#include <optional>
#include <string>
#include <string_view>

namespace platform::forms {

class Control;
class Form;
class ProgressBar;

// Message box buttons (the low bits of the style).
inline constexpr int vbOKOnly = 0;
inline constexpr int vbOKCancel = 1;
inline constexpr int vbAbortRetryIgnore = 2;
inline constexpr int vbYesNoCancel = 3;
inline constexpr int vbYesNo = 4;
inline constexpr int vbRetryCancel = 5;
// Icons.
inline constexpr int vbCritical = 16;
inline constexpr int vbQuestion = 32;
inline constexpr int vbExclamation = 48;
inline constexpr int vbInformation = 64;
// Default button.
inline constexpr int vbDefaultButton1 = 0;
inline constexpr int vbDefaultButton2 = 256;
inline constexpr int vbDefaultButton3 = 512;
// Results.
inline constexpr int vbOK = 1;
inline constexpr int vbCancel = 2;
inline constexpr int vbAbort = 3;
inline constexpr int vbRetry = 4;
inline constexpr int vbIgnore = 5;
inline constexpr int vbYes = 6;
inline constexpr int vbNo = 7;

// What the user sees and answers: message boxes, modal forms, text prompts and repaints. The terminal host
// presents them on a terminal, tests script them. One presenter is current per thread.
class Presenter {
 public:
  virtual ~Presenter() = default;
  // Shows a box and returns the button pressed (vbOK, vbYes, ...).
  virtual int MessageBox(std::string_view prompt, int buttons, std::string_view title) = 0;
  // Presents a loaded, visible form modally; returns once the form is hidden or unloaded. Form::Show hides the
  // form if it is still visible when this returns.
  virtual void ShowModal(Form& form) = 0;
  // Asks for one line of text; hidden input is never echoed or printed. nullopt: closed or cancelled.
  virtual std::optional<std::string> AskText(std::string_view prompt, bool hidden) = 0;
  // A control or form asked to be repainted now.
  virtual void Refresh(Control&) {}
  // A progress bar moved; range_set: its Min or Max was set, which starts the bar over. A real progress bar
  // repaints itself on every move, without a Refresh.
  virtual void ProgressChanged(ProgressBar&, bool /*range_set*/) {}
  // A form was shown modeless.
  virtual void ShowModeless(Form&) {}
};

// The thread's presenter: the one set last, else a terminal presenter on standard output and input.
Presenter& CurrentPresenter();
// Makes presenter current (null: back to the terminal default); returns the one it replaces.
Presenter* SetCurrentPresenter(Presenter* presenter);

// Makes a presenter current for a scope and restores the previous one after it.
class PresenterScope {
 public:
  explicit PresenterScope(Presenter& presenter) : previous_(SetCurrentPresenter(&presenter)) {}
  ~PresenterScope() { SetCurrentPresenter(previous_); }
  PresenterScope(const PresenterScope&) = delete;
  PresenterScope& operator=(const PresenterScope&) = delete;

 private:
  Presenter* previous_;
};

// The platform's MsgBox on the current presenter. Like the platform's, it shows at most about 1024 characters of
// its prompt: a longer one (a whole web page of an answer) is cut there and ends in "...".
inline constexpr size_t kMsgBoxPromptLimit = 1024;
int MsgBox(std::string_view prompt, int buttons = vbOKOnly, std::string_view title = "");
// A text prompt on the current presenter.
std::optional<std::string> AskText(std::string_view prompt, bool hidden = false);

// "Information", "Critical", "Question", "Exclamation" or "Message" by the icon bits of a style.
std::string_view IconName(int buttons);

}  // namespace platform::forms
