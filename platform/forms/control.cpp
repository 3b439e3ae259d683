// The control tree: parents and children, captions, visibility and the default and cancel buttons.

#include "platform/forms/control.h"

#include <algorithm>
#include <sstream>

#include "platform/base/date_time.h"
#include "platform/base/error.h"
#include "platform/base/text.h"
#include "platform/forms/presenter.h"

namespace platform::forms {
namespace {

[[noreturn]] void InvalidPropertyValue() {
  throw kv::Error(kErrInvalidPropertyValue, "Invalid property value");
}

}  // namespace

std::string ShownCaption(std::string_view caption) {
  std::string out;
  for (size_t i = 0; i < caption.size(); ++i) {
    if (caption[i] == '&') {
      if (i + 1 < caption.size() && caption[i + 1] == '&') out += '&', ++i;
      continue;
    }
    out += caption[i];
  }
  return out;
}

bool ShownOnSurface(const Control& control) {
  for (const Control* c = &control; c->Container(); c = c->Container()) {
    if (!c->Visible()) return false;
  }
  return true;
}

Control::Control(Control* container, std::string name, int index)
    : container_(container), name_(std::move(name)), index_(index) {
  if (container_) container_->children_.push_back(this);
}

Control::~Control() {
  if (container_) std::erase(container_->children_, this);
  // A control that outlives its container must not reach back into it.
  for (Control* child : children_) child->container_ = nullptr;
}

Control& Control::Root() {
  Control* c = this;
  while (c->container_) c = c->container_;
  return *c;
}

const Control& Control::Root() const {
  const Control* c = this;
  while (c->container_) c = c->container_;
  return *c;
}

void Control::Move(int left, int top, int width, int height) {
  SetLeft(left);
  SetTop(top);
  SetWidth(width);
  SetHeight(height);
}

void Control::Refresh() {
  ++refresh_count_;
  CurrentPresenter().Refresh(*this);
}

void Control::DescribeLine(std::ostream&) const {}

void Control::Describe(std::ostream& out, int depth) const {
  if (!visible_) return;
  std::ostringstream line;
  DescribeLine(line);
  int child_depth = depth;
  if (!line.str().empty()) {
    const std::string indent(static_cast<size_t>(depth) * 2, ' ');
    for (const std::string& part : kv::Split(line.str(), "\n")) out << indent << part << '\n';
    child_depth = depth + 1;
  }
  for (const Control* child : children_) child->Describe(out, child_depth);
}

void ForEachDescendant(Control& root, const std::function<void(Control&)>& visit) {
  // A copy: a visit may create or destroy controls.
  const std::vector<Control*> children = root.Controls();
  for (Control* child : children) {
    visit(*child);
    ForEachDescendant(*child, visit);
  }
}

void Label::DescribeLine(std::ostream& out) const {
  if (!Caption().empty()) out << ShownCaption(Caption());
}

void CheckBox::SetValue(int value) {
  if (value < vbUnchecked || value > vbGrayed) InvalidPropertyValue();
  if (value == value_) return;
  value_ = value;
  RaiseEvent(OnClick);
}

void CheckBox::Click() {
  if (!Enabled()) return;
  SetValue(value_ == vbChecked ? vbUnchecked : vbChecked);
}

void CheckBox::DescribeLine(std::ostream& out) const {
  out << (value_ == vbChecked ? "[x] " : value_ == vbGrayed ? "[-] " : "[ ] ") << ShownCaption(Caption());
}

void OptionButton::SetValue(bool value) {
  if (!value) {
    value_ = false;
    return;
  }
  if (Container()) {
    for (Control* sibling : Container()->Controls()) {
      if (sibling == this) continue;
      if (auto* option = dynamic_cast<OptionButton*>(sibling)) option->value_ = false;
    }
  }
  if (value_) return;
  value_ = true;
  RaiseEvent(OnClick);
}

void OptionButton::Click() {
  if (Enabled()) SetValue(true);
}

void OptionButton::DescribeLine(std::ostream& out) const {
  out << (value_ ? "(o) " : "( ) ") << ShownCaption(Caption());
}

bool CommandButton::Click() {
  if (!Enabled() || !Visible()) return false;
  RaiseEvent(OnClick);
  return true;
}

void CommandButton::DescribeLine(std::ostream& out) const {
  out << "<" << ShownCaption(Caption()) << ">";
  if (!Enabled()) out << " (disabled)";
}

namespace {
CommandButton* FindButton(Control& root, bool cancel) {
  CommandButton* found = nullptr;
  ForEachDescendant(root, [&](Control& c) {
    auto* button = dynamic_cast<CommandButton*>(&c);
    if (!found && button && (cancel ? button->Cancel() : button->Default())) found = button;
  });
  return found;
}
}  // namespace

CommandButton* FindDefaultButton(Control& root) {
  return FindButton(root, false);
}
CommandButton* FindCancelButton(Control& root) {
  return FindButton(root, true);
}

void Frame::DescribeLine(std::ostream& out) const {
  if (!Caption().empty()) out << "-- " << ShownCaption(Caption()) << " --";
}

void TextBox::SetText(std::string text) {
  if (text == text_) return;
  text_ = std::move(text);
  RaiseEvent(OnChange);
}

bool TextBox::Type(std::string_view text) {
  if (locked_ || !Enabled()) return false;
  if (max_length_ > 0) text = kv::LeftChars(text, static_cast<size_t>(max_length_));
  SetText(std::string(text));
  return true;
}

void TextBox::SetMaxLength(int characters) {
  if (characters < 0) InvalidPropertyValue();
  max_length_ = characters;
}

std::string TextBox::DisplayText() const {
  if (password_char_.empty()) return text_;
  std::string shown;
  for (size_t i = 0, n = kv::CodePointCount(text_); i < n; ++i) shown += password_char_;
  return shown;
}

void TextBox::DescribeLine(std::ostream& out) const {
  out << Name() << ": " << DisplayText();
}

void ProgressBar::SetMin(double min) {
  if (min >= max_) InvalidPropertyValue();
  min_ = min;
  value_ = std::max(value_, min_);
  CurrentPresenter().ProgressChanged(*this, true);
}

void ProgressBar::SetMax(double max) {
  if (max <= min_) InvalidPropertyValue();
  max_ = max;
  value_ = std::min(value_, max_);
  CurrentPresenter().ProgressChanged(*this, true);
}

void ProgressBar::SetValue(double value) {
  if (value < min_ || value > max_) InvalidPropertyValue();
  value_ = value;
  CurrentPresenter().ProgressChanged(*this, false);
}

void ProgressBar::DescribeLine(std::ostream& out) const {
  const double span = max_ - min_;
  const int width = 30;
  const int filled = span > 0 ? static_cast<int>((value_ - min_) / span * width + 0.5) : 0;
  out << "[" << std::string(static_cast<size_t>(filled), '#') << std::string(static_cast<size_t>(width - filled), '.')
      << "] " << kv::NumberText(value_ - min_) << " of " << kv::NumberText(span);
}

}  // namespace platform::forms
