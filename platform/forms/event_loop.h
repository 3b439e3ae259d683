#pragma once

// The user-interface thread's event loop and the sources it waits on.

#include <poll.h>

#include <chrono>
#include <cstdint>
#include <functional>
#include <span>
#include <vector>

namespace platform::forms {

// Something the loop waits on besides timers and posted events: a web transfer, a pipe to a child process.
class EventSource {
 public:
  virtual ~EventSource() = default;
  // Appends the descriptors to wait on; returns the longest wait in milliseconds it allows, -1 for no limit.
  virtual int Prepare(std::vector<pollfd>& fds) = 0;
  // Runs after each wait with the descriptors Prepare appended, their revents filled in.
  virtual void Dispatch(std::span<const pollfd> fds) = 0;
};

// The user-interface thread's event loop. Posted events, timer ticks and source completions are delivered
// only from DoEvents or a wait; a wait blocks in poll() until one of them needs running and never spins.
// Handlers may pump the loop again (a Cancel click runs inside an upload's wait).
class EventLoop {
 public:
  using TimerId = uint64_t;

  // The loop of the calling thread, made on first use.
  static EventLoop& Current();

  EventLoop();
  ~EventLoop();
  EventLoop(const EventLoop&) = delete;
  EventLoop& operator=(const EventLoop&) = delete;

  // Queues a handler; safe from any thread.
  void Post(std::function<void()> handler);
  // A repeating timer; its first tick is one interval from now.
  TimerId StartTimer(std::chrono::milliseconds interval, std::function<void()> tick);
  void StopTimer(TimerId id);
  void AddSource(EventSource* source);
  void RemoveSource(EventSource* source);

  // Delivers what is due now, without waiting.
  void DoEvents();
  // Waits up to timeout_ms (-1: until something arrives) and delivers what is due.
  void WaitOnce(int timeout_ms);
  // Pumps events until busy() turns false.
  void WaitWhile(const std::function<bool()>& busy);

  // Ctrl-C: the handler runs on this loop, from the next DoEvents or wait. Installs a SIGINT handler.
  void OnInterrupt(std::function<void()> handler);
  // Async-signal-safe: wakes a blocked wait and marks an interrupt.
  void RaiseInterrupt();

 private:
  struct Timer {
    TimerId id;
    std::chrono::milliseconds interval;
    std::chrono::steady_clock::time_point due;
    std::function<void()> tick;
  };
  void Iterate(int timeout_ms);
  void RunDueTimers();
  void RunPosted();
  void Wake();

  int wake_fd_ = -1;
  std::vector<Timer> timers_;
  std::vector<EventSource*> sources_;
  TimerId next_timer_id_ = 1;
  std::function<void()> interrupt_handler_;
  struct Shared;
  Shared* shared_;
};

// The platform's DoEvents on the current thread's loop.
void DoEvents();

}  // namespace platform::forms
