#pragma once

// Forms: top-level surfaces of controls, their life cycle and their default instances.

#include <functional>
#include <memory>
#include <string>
#include <typeindex>

#include "platform/forms/control.h"

namespace platform::forms {

inline constexpr int vbModeless = 0;
inline constexpr int vbModal = 1;

// Why a form unloads, as QueryUnload and Unload are told.
inline constexpr int vbFormControlMenu = 0;  // the user closed the window
inline constexpr int vbFormCode = 1;         // code called Unload

// Error 400: a form that is already shown cannot be shown modally.
inline constexpr int64_t kErrFormAlreadyShown = 400;

// A form: a top-level surface of controls. A form class derives from Form, declares its controls as members
// (containers first) and wires their handlers and its own OnLoad in its constructor.
//
// Loading runs OnLoad once; Show loads when needed. A modal Show returns when the form is hidden or unloaded,
// and pumps events meanwhile through the current presenter. Unload raises QueryUnload (which may cancel) and
// Unload, hides the form and stops its timers. A default instance that is unloaded is replaced by a fresh
// object on its next use, so the next use starts from the design state and loads afresh.
class Form : public Control {
 public:
  explicit Form(std::string name);
  ~Form() override;
  std::string_view Kind() const override { return "Form"; }
  bool SurfaceLive() const override { return loaded_; }

  bool Loaded() const { return loaded_; }
  // Runs OnLoad when the form is not loaded yet; nothing when it is.
  void Load();
  // Returns false when QueryUnload or Unload cancelled; true also when the form was not loaded.
  bool Unload(int unload_mode = vbFormCode);
  // vbModeless: loads and shows, then returns. vbModal: loads, shows through the presenter and returns once
  // the form is hidden or unloaded; error 400 when the form is already visible.
  void Show(int modal = vbModeless);
  void Hide();
  // Visible(true) shows modeless, Visible(false) hides.
  void SetVisible(bool visible) override;
  // Whether a modal Show of this form is waiting now.
  bool ShownModally() const { return modal_depth_ > 0; }

  // The terminal view of the form: caption, then its visible controls. Forms with something better to show
  // (a results grid) override it.
  virtual void DescribeForm(std::ostream& out) const;

  std::function<void()> OnLoad;
  // (cancel, unload mode): set cancel non-zero to keep the form.
  std::function<void(int&, int)> OnQueryUnload;
  std::function<void(int&)> OnUnload;

 private:
  friend struct DefaultInstances;
  void UpdateTimers();

  bool loaded_ = false;
  int modal_depth_ = 0;
  bool default_instance_ = false;
  bool replace_on_next_use_ = false;
};

namespace detail {
Form& DefaultInstanceSlot(std::type_index type, const std::function<std::unique_ptr<Form>()>& make);
bool HasDefaultInstance(std::type_index type);
}  // namespace detail

// The form's default instance on this thread, made on first use and made afresh after it was unloaded.
// Unlike the platform, a use does not load the form by itself: call Load or Show.
template <class F>
F& DefaultInstance() {
  return static_cast<F&>(detail::DefaultInstanceSlot(typeid(F), [] { return std::make_unique<F>(); }));
}
// Whether a default instance of F exists now (an unloaded one that waits for replacement counts as none).
template <class F>
bool HasDefaultInstance() {
  return detail::HasDefaultInstance(typeid(F));
}
// Drops every default instance of this thread (tests start from fresh ones).
void ResetDefaultInstances();

// Mouse pointer values.
inline constexpr int vbDefault = 0;
inline constexpr int vbArrow = 1;
inline constexpr int vbHourglass = 11;

// The screen as the system sees it: its size in twips and the mouse pointer. One per thread.
struct ScreenState {
  int MousePointer = vbDefault;
  int Width = 15360;   // 1024 pixels at 15 twips each
  int Height = 11520;  // 768 pixels
};
ScreenState& Screen();

}  // namespace platform::forms
