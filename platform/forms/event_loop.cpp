// The poll()-based event loop: posted events, timers, sources, and Ctrl-C turned into an interrupt.

#include "platform/forms/event_loop.h"

#include <sys/eventfd.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <csignal>
#include <deque>
#include <mutex>

#include "platform/base/error.h"

namespace platform::forms {
namespace {

using Clock = std::chrono::steady_clock;

// The loop that SIGINT reaches; only one thread at a time takes Ctrl-C.
std::atomic<EventLoop*> g_interrupt_loop{nullptr};

void OnSigint(int) {
  if (EventLoop* loop = g_interrupt_loop.load()) loop->RaiseInterrupt();
}

}  // namespace

struct EventLoop::Shared {
  std::mutex mutex;
  std::deque<std::function<void()>> posted;
  std::atomic<bool> interrupted{false};
};

EventLoop& EventLoop::Current() {
  thread_local EventLoop loop;
  return loop;
}

EventLoop::EventLoop() : shared_(new Shared) {
  wake_fd_ = eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC);
  if (wake_fd_ < 0) throw kv::Error(errno, "The event loop could not be created");
}

EventLoop::~EventLoop() {
  EventLoop* self = this;
  g_interrupt_loop.compare_exchange_strong(self, nullptr);
  close(wake_fd_);
  delete shared_;
}

void EventLoop::Wake() {
  const uint64_t one = 1;
  [[maybe_unused]] ssize_t n = write(wake_fd_, &one, sizeof one);
}

void EventLoop::Post(std::function<void()> handler) {
  {
    std::lock_guard lock(shared_->mutex);
    shared_->posted.push_back(std::move(handler));
  }
  Wake();
}

EventLoop::TimerId EventLoop::StartTimer(std::chrono::milliseconds interval, std::function<void()> tick) {
  if (interval.count() <= 0) interval = std::chrono::milliseconds(1);
  const TimerId id = next_timer_id_++;
  timers_.push_back({id, interval, Clock::now() + interval, std::move(tick)});
  return id;
}

void EventLoop::StopTimer(TimerId id) {
  std::erase_if(timers_, [id](const Timer& t) { return t.id == id; });
}

void EventLoop::AddSource(EventSource* source) {
  if (std::find(sources_.begin(), sources_.end(), source) == sources_.end()) sources_.push_back(source);
}

void EventLoop::RemoveSource(EventSource* source) {
  std::erase(sources_, source);
}

void EventLoop::OnInterrupt(std::function<void()> handler) {
  interrupt_handler_ = std::move(handler);
  g_interrupt_loop.store(this);
  struct sigaction sa {};
  sa.sa_handler = OnSigint;
  sigemptyset(&sa.sa_mask);
  sa.sa_flags = SA_RESTART;
  sigaction(SIGINT, &sa, nullptr);
}

void EventLoop::RaiseInterrupt() {
  shared_->interrupted.store(true);
  const uint64_t one = 1;
  [[maybe_unused]] ssize_t n = write(wake_fd_, &one, sizeof one);
}

void EventLoop::DoEvents() {
  Iterate(0);
}

void EventLoop::WaitOnce(int timeout_ms) {
  Iterate(timeout_ms);
}

void EventLoop::WaitWhile(const std::function<bool()>& busy) {
  while (busy()) Iterate(-1);
}

void EventLoop::Iterate(int timeout_ms) {
  std::vector<pollfd> fds;
  fds.push_back({wake_fd_, POLLIN, 0});
  // Each source's descriptors, remembered by position so that a source removed meanwhile is skipped.
  std::vector<std::pair<EventSource*, std::pair<size_t, size_t>>> spans;
  const std::vector<EventSource*> sources = sources_;
  int timeout = timeout_ms;
  auto limit = [&timeout](int ms) {
    if (ms >= 0 && (timeout < 0 || ms < timeout)) timeout = ms;
  };
  for (EventSource* source : sources) {
    const size_t begin = fds.size();
    limit(source->Prepare(fds));
    spans.push_back({source, {begin, fds.size() - begin}});
  }
  if (!timers_.empty()) {
    auto next = std::min_element(timers_.begin(), timers_.end(), [](const Timer& a, const Timer& b) {
                  return a.due < b.due;
                })->due;
    const auto wait = std::chrono::ceil<std::chrono::milliseconds>(next - Clock::now()).count();
    limit(static_cast<int>(std::max<int64_t>(0, std::min<int64_t>(wait, 1 << 30))));
  }
  {
    std::lock_guard lock(shared_->mutex);
    if (!shared_->posted.empty()) timeout = 0;
  }
  if (shared_->interrupted.load()) timeout = 0;

  int rc;
  do {
    rc = poll(fds.data(), fds.size(), timeout);
  } while (rc < 0 && errno == EINTR && timeout != 0 && !shared_->interrupted.load());

  if (fds[0].revents & POLLIN) {
    uint64_t count;
    [[maybe_unused]] ssize_t n = read(wake_fd_, &count, sizeof count);
  }
  if (shared_->interrupted.exchange(false) && interrupt_handler_) {
    auto handler = interrupt_handler_;
    handler();
  }
  for (auto& [source, span] : spans) {
    if (std::find(sources_.begin(), sources_.end(), source) == sources_.end()) continue;
    source->Dispatch(std::span<const pollfd>(fds.data() + span.first, span.second));
  }
  RunDueTimers();
  RunPosted();
}

void EventLoop::RunDueTimers() {
  const auto now = Clock::now();
  std::vector<TimerId> due;
  for (const Timer& t : timers_) {
    if (t.due <= now) due.push_back(t.id);
  }
  for (TimerId id : due) {
    auto it = std::find_if(timers_.begin(), timers_.end(), [id](const Timer& t) { return t.id == id; });
    if (it == timers_.end()) continue;  // stopped by an earlier tick
    it->due = now + it->interval;
    auto tick = it->tick;  // the tick may stop or start timers
    tick();
  }
}

void EventLoop::RunPosted() {
  std::deque<std::function<void()>> batch;
  {
    std::lock_guard lock(shared_->mutex);
    batch.swap(shared_->posted);
  }
  for (auto& handler : batch) handler();
}

void DoEvents() {
  EventLoop::Current().DoEvents();
}

}  // namespace platform::forms
