// The host's side of a control's life: siting it with or without parameters, resizing it, tearing it down.

#include "platform/activex/user_control.h"

#include "platform/base/error.h"
#include "platform/forms/timer.h"

namespace platform::activex {

ControlHost::~ControlHost() {
  try {
    Teardown();
  } catch (...) {
    // A destructor has no caller to report to; Teardown reports when the host calls it itself.
  }
}

void ControlHost::Site(std::optional<PropertyBag> bag, int width_twips, int height_twips) {
  if (initialized_) throw kv::Error(kv::kErrInvalidArgument, "The control is already sited");
  bag_ = std::move(bag);
  initialized_ = true;
  control_.Initialize();
  if (bag_) {
    try {
      control_.ReadProperties(*bag_);
    } catch (const kv::Error& e) {
      if (e.number() == kv::kErrTypeMismatch && !bag_->FailedKey().empty()) {
        const std::string& key = bag_->FailedKey();
        throw kv::Error(e.number(), e.description() + ": the parameter " + key + " is \"" + bag_->ReadText(key) + "\"");
      }
      throw;
    }
  } else {
    control_.InitProperties();
  }
  Resize(width_twips, height_twips);
}

void ControlHost::Resize(int width_twips, int height_twips) {
  control_.SetWidth(width_twips);
  control_.SetHeight(height_twips);
  control_.Resize();
}

void ControlHost::Teardown() {
  if (!initialized_ || terminated_) return;
  terminated_ = true;
  // The timers stop even when Terminate fails: nothing may tick into a control that is going away.
  struct StopTimers {
    UserControl& control;
    ~StopTimers() {
      control.terminated_ = true;
      platform::forms::ForEachDescendant(control, [](platform::forms::Control& c) {
        if (auto* timer = dynamic_cast<platform::forms::Timer*>(&c)) timer->Update();
      });
    }
  } stop{control_};
  control_.Terminate();
}

}  // namespace platform::activex
