// Keeping a timer's tick on the event loop in step with its interval, its enabled flag and its form.

#include "platform/forms/timer.h"

#include "platform/base/error.h"

namespace platform::forms {

Timer::~Timer() {
  if (id_ != 0) loop_->StopTimer(id_);
}

void Timer::SetInterval(int milliseconds) {
  if (milliseconds < 0) throw kv::Error(kErrInvalidPropertyValue, "Invalid property value");
  interval_ms_ = milliseconds;
  // A new interval counts from now, so the running timer is started again.
  if (id_ != 0) {
    loop_->StopTimer(id_);
    id_ = 0;
  }
  Update();
}

void Timer::SetEnabled(bool enabled) {
  Control::SetEnabled(enabled);
  Update();
}

void Timer::Update() {
  const bool should_run = Enabled() && interval_ms_ > 0 && Root().SurfaceLive();
  if (should_run && id_ == 0) {
    loop_ = &EventLoop::Current();
    id_ = loop_->StartTimer(std::chrono::milliseconds(interval_ms_), [this] { Tick(); });
  } else if (!should_run && id_ != 0) {
    loop_->StopTimer(id_);
    id_ = 0;
  }
}

void Timer::Tick() {
  if (in_tick_) return;
  in_tick_ = true;
  struct Reset {
    bool& flag;
    ~Reset() { flag = false; }
  } reset{in_tick_};
  RaiseEvent(OnTimer);
}

}  // namespace platform::forms
