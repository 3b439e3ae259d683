// Forms' load, show and unload, and the thread's default instances.

#include "platform/forms/form.h"

#include <map>
#include <vector>

#include "platform/base/error.h"
#include "platform/forms/event_loop.h"
#include "platform/forms/presenter.h"
#include "platform/forms/timer.h"

namespace platform::forms {

// The default instances of one thread. An instance unloaded while something still runs on it (its own click
// handler called Unload) is retired rather than freed, and freed once nothing runs on it any more.
struct DefaultInstances {
  std::map<std::type_index, std::unique_ptr<Form>> live;
  std::vector<std::unique_ptr<Form>> retired;

  static DefaultInstances& Get() {
    // The loop is made first so that it outlives the forms, whose timers stop on it when they are freed.
    EventLoop::Current();
    thread_local DefaultInstances instances;
    return instances;
  }

  void FreeRetired() {
    std::vector<std::unique_ptr<Form>> idle;
    for (auto it = retired.begin(); it != retired.end();) {
      if ((*it)->Busy() == 0) {
        idle.push_back(std::move(*it));
        it = retired.erase(it);
      } else {
        ++it;
      }
    }
    // idle is freed here, after the list is consistent again (a form's destructor may use the registry).
  }

  static void MarkDefault(Form& form) { form.default_instance_ = true; }
  static bool Stale(const Form& form) { return form.replace_on_next_use_; }
};

Form::Form(std::string name) : Control(nullptr, std::move(name)) {
  SetVisibleFlag(false);
}

Form::~Form() = default;

void Form::UpdateTimers() {
  ForEachDescendant(*this, [](Control& c) {
    if (auto* timer = dynamic_cast<Timer*>(&c)) timer->Update();
  });
}

void Form::Load() {
  if (loaded_) return;
  loaded_ = true;
  replace_on_next_use_ = false;
  UpdateTimers();
  RaiseEvent(OnLoad);
}

bool Form::Unload(int unload_mode) {
  if (!loaded_) return true;
  int cancel = 0;
  RaiseEvent(OnQueryUnload, cancel, unload_mode);
  if (cancel != 0) return false;
  RaiseEvent(OnUnload, cancel);
  if (cancel != 0) return false;
  SetVisibleFlag(false);
  loaded_ = false;
  UpdateTimers();
  if (default_instance_) replace_on_next_use_ = true;
  return true;
}

void Form::Show(int modal) {
  if (modal == vbModal && Visible()) {
    throw kv::Error(kErrFormAlreadyShown, "Form already displayed; can't show modally");
  }
  Load();
  if (!loaded_) return;  // the load handler unloaded it again
  SetVisibleFlag(true);
  if (modal != vbModal) {
    CurrentPresenter().ShowModeless(*this);
    return;
  }
  BusyScope busy(*this);
  struct Depth {
    int& depth;
    explicit Depth(int& d) : depth(d) { ++depth; }
    ~Depth() { --depth; }
  } depth(modal_depth_);
  try {
    CurrentPresenter().ShowModal(*this);
  } catch (...) {
    SetVisibleFlag(false);
    throw;
  }
  // A modal show ends with the form off the screen, whatever the presenter did.
  SetVisibleFlag(false);
}

void Form::Hide() {
  SetVisibleFlag(false);
}

void Form::SetVisible(bool visible) {
  if (visible) {
    Show(vbModeless);
  } else {
    Hide();
  }
}

void Form::DescribeForm(std::ostream& out) const {
  out << "== " << (Caption().empty() ? Name() : Caption()) << " ==\n";
  for (const Control* child : Controls()) child->Describe(out, 0);
}

namespace detail {

Form& DefaultInstanceSlot(std::type_index type, const std::function<std::unique_ptr<Form>()>& make) {
  DefaultInstances& d = DefaultInstances::Get();
  d.FreeRetired();
  auto it = d.live.find(type);
  if (it != d.live.end() && DefaultInstances::Stale(*it->second)) {
    std::unique_ptr<Form> old = std::move(it->second);
    d.live.erase(it);
    if (old->Busy() != 0) d.retired.push_back(std::move(old));
    old.reset();
    it = d.live.end();
  }
  if (it == d.live.end()) {
    std::unique_ptr<Form> form = make();
    DefaultInstances::MarkDefault(*form);
    it = d.live.emplace(type, std::move(form)).first;
  }
  return *it->second;
}

bool HasDefaultInstance(std::type_index type) {
  DefaultInstances& d = DefaultInstances::Get();
  auto it = d.live.find(type);
  return it != d.live.end() && !DefaultInstances::Stale(*it->second);
}

}  // namespace detail

void ResetDefaultInstances() {
  DefaultInstances& d = DefaultInstances::Get();
  auto live = std::move(d.live);
  auto retired = std::move(d.retired);
  d.live.clear();
  d.retired.clear();
}

ScreenState& Screen() {
  thread_local ScreenState screen;
  return screen;
}

}  // namespace platform::forms
