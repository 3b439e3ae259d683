#pragma once

// The headless control model. A control is created with its container (the form, a frame, a picture box or an
// ActiveX control surface) and registers itself there; declare a container member before the controls it holds.
// Event handlers are std::function members that a form wires in its constructor, e.g.
//   cmdOK.OnClick = [this] { Unload(); };
// Sizes and positions are in twips, as the system's layouts give them.

#include <cstdint>
#include <functional>
#include <ostream>
#include <string>
#include <string_view>
#include <type_traits>
#include <vector>

namespace platform::forms {

// The run-time error a control raises for a value out of its range.
inline constexpr int64_t kErrInvalidPropertyValue = 380;

// Check-box values.
inline constexpr int vbUnchecked = 0;
inline constexpr int vbChecked = 1;
inline constexpr int vbGrayed = 2;

class Control {
 public:
  // container may be null for a top-level surface (a form, an ActiveX control). index >= 0 marks an element
  // of a control array.
  Control(Control* container, std::string name, int index = -1);
  virtual ~Control();
  Control(const Control&) = delete;
  Control& operator=(const Control&) = delete;

  const std::string& Name() const { return name_; }
  int Index() const { return index_; }
  Control* Container() const { return container_; }
  // The controls placed directly on this one, in creation order.
  const std::vector<Control*>& Controls() const { return children_; }
  // The top-level surface this control sits on (itself when it has no container).
  Control& Root();
  const Control& Root() const;
  // Whether the top-level surface is alive (a form is loaded); timers run only then.
  virtual bool SurfaceLive() const { return true; }
  // A short kind name used when describing a surface ("Label", "CheckBox", ...).
  virtual std::string_view Kind() const = 0;

  const std::string& Caption() const { return caption_; }
  virtual void SetCaption(std::string caption) { caption_ = std::move(caption); }
  bool Visible() const { return visible_; }
  virtual void SetVisible(bool visible) { visible_ = visible; }
  bool Enabled() const { return enabled_; }
  virtual void SetEnabled(bool enabled) { enabled_ = enabled; }
  int Left() const { return left_; }
  int Top() const { return top_; }
  int Width() const { return width_; }
  int Height() const { return height_; }
  void SetLeft(int twips) { left_ = twips; }
  void SetTop(int twips) { top_ = twips; }
  virtual void SetWidth(int twips) { width_ = twips; }
  virtual void SetHeight(int twips) { height_ = twips; }
  void Move(int left, int top, int width, int height);
  const std::string& Tag() const { return tag_; }
  void SetTag(std::string tag) { tag_ = std::move(tag); }

  // Repaints now: passes the control to the current presenter, which may show it.
  void Refresh();
  int RefreshCount() const { return refresh_count_; }

  // Writes the control as one line of a terminal view (empty for controls that show nothing), then its
  // visible children indented. Only visible controls are written.
  virtual void DescribeLine(std::ostream& out) const;
  void Describe(std::ostream& out, int depth = 0) const;

  // Event handlers and modal waits in progress on this surface; a default form instance is not freed while
  // anything runs on it.
  int Busy() const { return Root().busy_; }

 protected:
  // Runs a handler as an event of this control: the surface counts as busy meanwhile, and a copy runs so
  // that the handler may replace itself.
  template <class... Args>
  void RaiseEvent(const std::function<void(Args...)>& handler, std::type_identity_t<Args>... args) {
    if (!handler) return;
    BusyScope busy(*this);
    auto copy = handler;
    copy(args...);
  }

  // Sets the flag alone, for surfaces whose SetVisible does more (a form shows itself).
  void SetVisibleFlag(bool visible) { visible_ = visible; }

  struct BusyScope {
    explicit BusyScope(Control& control) : root(control.Root()) { ++root.busy_; }
    ~BusyScope() { --root.busy_; }
    BusyScope(const BusyScope&) = delete;
    BusyScope& operator=(const BusyScope&) = delete;
    Control& root;
  };

 private:
  Control* container_;
  std::string name_;
  int index_;
  std::vector<Control*> children_;
  std::string caption_;
  bool visible_ = true;
  bool enabled_ = true;
  int left_ = 0;
  int top_ = 0;
  int width_ = 0;
  int height_ = 0;
  std::string tag_;
  int refresh_count_ = 0;
  int busy_ = 0;
};

// A caption as shown: accelerator marks dropped ("Start &Sync" shows "Start Sync"), "&&" kept as "&".
std::string ShownCaption(std::string_view caption);
// Whether a control and every container up to its surface are visible (the surface's own state aside).
bool ShownOnSurface(const Control& control);

// Visits every control below root, depth first, in creation order.
void ForEachDescendant(Control& root, const std::function<void(Control&)>& visit);

class Label : public Control {
 public:
  using Control::Control;
  std::string_view Kind() const override { return "Label"; }
  void DescribeLine(std::ostream& out) const override;
};

class CheckBox : public Control {
 public:
  using Control::Control;
  std::string_view Kind() const override { return "CheckBox"; }
  // 0 unticked, 1 ticked, 2 grayed (shown, but not ticked). Setting a different value raises Click; setting
  // the value it already has raises nothing. Any other value is an invalid property value (380).
  int Value() const { return value_; }
  void SetValue(int value);
  bool Ticked() const { return value_ == vbChecked; }
  // The user's click: an unticked or grayed box becomes ticked, a ticked one unticked. Ignored when disabled.
  void Click();
  void DescribeLine(std::ostream& out) const override;

  std::function<void()> OnClick;

 private:
  int value_ = vbUnchecked;
};

// Option buttons placed on the same container form one group: selecting one clears the others.
class OptionButton : public Control {
 public:
  using Control::Control;
  std::string_view Kind() const override { return "OptionButton"; }
  bool Value() const { return value_; }
  // Selecting clears the others of the group and raises Click when the button was not selected yet.
  // Clearing raises nothing.
  void SetValue(bool value);
  // The user's click: selects the button. Ignored when disabled.
  void Click();
  void DescribeLine(std::ostream& out) const override;

  std::function<void()> OnClick;

 private:
  bool value_ = false;
};

class CommandButton : public Control {
 public:
  using Control::Control;
  std::string_view Kind() const override { return "CommandButton"; }
  // The user's press: raises Click unless the button is disabled or hidden. Returns whether it did.
  bool Click();
  // Code that calls the handler directly, as the platform's `cmd_Click` call did: raises Click always.
  void RaiseClick() { RaiseEvent(OnClick); }
  // Enter presses the default button of a surface, Escape (and Ctrl-C in the terminal) its cancel button.
  bool Default() const { return default_; }
  void SetDefault(bool value) { default_ = value; }
  bool Cancel() const { return cancel_; }
  void SetCancel(bool value) { cancel_ = value; }
  void DescribeLine(std::ostream& out) const override;

  std::function<void()> OnClick;

 private:
  bool default_ = false;
  bool cancel_ = false;
};

// The default and cancel buttons of a surface (visible or not), or null.
CommandButton* FindDefaultButton(Control& root);
CommandButton* FindCancelButton(Control& root);

class Frame : public Control {
 public:
  using Control::Control;
  std::string_view Kind() const override { return "Frame"; }
  void DescribeLine(std::ostream& out) const override;
};

class TextBox : public Control {
 public:
  using Control::Control;
  std::string_view Kind() const override { return "TextBox"; }
  // Setting a different text raises Change. Code may set any text; MaxLength limits only typing.
  const std::string& Text() const { return text_; }
  void SetText(std::string text);
  // The user's typing, replacing the text: refused when the box is locked or disabled, cut to MaxLength
  // characters. Returns whether the text was taken.
  bool Type(std::string_view text);
  // "" shows the text; "*" shows one "*" for each character.
  const std::string& PasswordChar() const { return password_char_; }
  void SetPasswordChar(std::string mark) { password_char_ = std::move(mark); }
  bool Locked() const { return locked_; }
  void SetLocked(bool locked) { locked_ = locked; }
  // Characters, not bytes; 0 for no limit.
  int MaxLength() const { return max_length_; }
  void SetMaxLength(int characters);
  bool MultiLine() const { return multi_line_; }
  void SetMultiLine(bool value) { multi_line_ = value; }
  // The text as the screen shows it: masked when a password character is set.
  std::string DisplayText() const;
  void DescribeLine(std::ostream& out) const override;

  std::function<void()> OnChange;

 private:
  std::string text_;
  std::string password_char_;
  bool locked_ = false;
  int max_length_ = 0;
  bool multi_line_ = false;
};

// The common-controls progress bar. Value must lie within Min..Max (380 otherwise); Max must exceed Min.
class ProgressBar : public Control {
 public:
  using Control::Control;
  std::string_view Kind() const override { return "ProgressBar"; }
  double Min() const { return min_; }
  double Max() const { return max_; }
  double Value() const { return value_; }
  void SetMin(double min);
  // A Value beyond the new bound moves to it, as the bar keeps its position inside its range.
  void SetMax(double max);
  void SetValue(double value);
  void DescribeLine(std::ostream& out) const override;

 private:
  double min_ = 0;
  double max_ = 100;
  double value_ = 0;
};

// Colours are 0x00BBGGRR values as the platform writes them.
class PictureBox : public Control {
 public:
  using Control::Control;
  std::string_view Kind() const override { return "PictureBox"; }
  uint32_t BackColor() const { return back_color_; }
  void SetBackColor(uint32_t color) { back_color_ = color; }
  // The file or resource name of the picture shown; "" for none.
  const std::string& Picture() const { return picture_; }
  void SetPicture(std::string name) { picture_ = std::move(name); }

 private:
  uint32_t back_color_ = 0x8000000F;
  std::string picture_;
};

class Shape : public Control {
 public:
  using Control::Control;
  std::string_view Kind() const override { return "Shape"; }
  uint32_t BackColor() const { return back_color_; }
  void SetBackColor(uint32_t color) { back_color_ = color; }
  uint32_t FillColor() const { return fill_color_; }
  void SetFillColor(uint32_t color) { fill_color_ = color; }
  uint32_t BorderColor() const { return border_color_; }
  void SetBorderColor(uint32_t color) { border_color_ = color; }

 private:
  uint32_t back_color_ = 0x00FFFFFF;
  uint32_t fill_color_ = 0;
  uint32_t border_color_ = 0;
};

}  // namespace platform::forms
