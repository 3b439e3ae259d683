#pragma once

// The timer control, apart from the other controls because it alone ticks on the event loop.

#include <functional>

#include "platform/forms/control.h"
#include "platform/forms/event_loop.h"

namespace platform::forms {

// The timer control. It ticks on the thread's event loop while it is enabled, its interval is above 0 and its
// surface is alive (a form loaded); ticks are delivered only when the loop is pumped. A tick that is still
// running when the next one is due (its handler pumped events) is skipped rather than nested.
class Timer : public Control {
 public:
  // Design defaults: enabled, interval 0 (so not running).
  using Control::Control;
  ~Timer() override;
  std::string_view Kind() const override { return "Timer"; }

  // Milliseconds; 0 stops the timer. Changing it restarts the count from now.
  int Interval() const { return interval_ms_; }
  void SetInterval(int milliseconds);
  void SetEnabled(bool enabled) override;
  // Whether ticks are scheduled now.
  bool Running() const { return id_ != 0; }
  // Starts or stops the loop timer to match the state; called when the surface loads or unloads.
  void Update();
  void DescribeLine(std::ostream&) const override {}

  std::function<void()> OnTimer;

 private:
  void Tick();

  int interval_ms_ = 0;
  EventLoop::TimerId id_ = 0;
  EventLoop* loop_ = nullptr;
  bool in_tick_ = false;
};

}  // namespace platform::forms
