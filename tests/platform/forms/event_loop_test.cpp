#include "platform/forms/event_loop.h"

#include <gtest/gtest.h>
#include <sys/resource.h>

#include <thread>

namespace platform::forms {
namespace {

using namespace std::chrono_literals;

double CpuSeconds() {
  rusage u{};
  getrusage(RUSAGE_SELF, &u);
  return static_cast<double>(u.ru_utime.tv_sec + u.ru_stime.tv_sec) +
         static_cast<double>(u.ru_utime.tv_usec + u.ru_stime.tv_usec) / 1e6;
}

TEST(EventLoopTest, PostedEventsRunOnlyFromDoEvents) {
  EventLoop loop;
  int runs = 0;
  loop.Post([&] { ++runs; });
  EXPECT_EQ(runs, 0);
  loop.DoEvents();
  EXPECT_EQ(runs, 1);
  loop.DoEvents();
  EXPECT_EQ(runs, 1);
}

TEST(EventLoopTest, WaitBlocksUntilATimerTicksWithoutSpinning) {
  EventLoop loop;
  bool busy = true;
  int ticks = 0;
  const auto id = loop.StartTimer(300ms, [&] {
    if (++ticks == 2) busy = false;
  });
  const double cpu = CpuSeconds();
  const auto start = std::chrono::steady_clock::now();
  loop.WaitWhile([&] { return busy; });
  loop.StopTimer(id);
  EXPECT_EQ(ticks, 2);
  EXPECT_GE(std::chrono::steady_clock::now() - start, 550ms);
  EXPECT_LT(CpuSeconds() - cpu, 0.05);
}

TEST(EventLoopTest, WaitWakesOnAnEventPostedFromAnotherThread) {
  EventLoop loop;
  bool done = false;
  std::thread poster([&] {
    std::this_thread::sleep_for(200ms);
    loop.Post([&] { done = true; });
  });
  const double cpu = CpuSeconds();
  loop.WaitWhile([&] { return !done; });
  poster.join();
  EXPECT_TRUE(done);
  EXPECT_LT(CpuSeconds() - cpu, 0.05);
}

TEST(EventLoopTest, HandlersMayPumpTheLoopAndStopTheirTimer) {
  EventLoop loop;
  int inner = 0;
  EventLoop::TimerId id = 0;
  id = loop.StartTimer(10ms, [&] {
    loop.StopTimer(id);
    loop.Post([&] { ++inner; });
    loop.DoEvents();  // nested pump, as a click handler inside an upload wait does
  });
  loop.WaitWhile([&] { return inner == 0; });
  EXPECT_EQ(inner, 1);
}

TEST(EventLoopTest, InterruptRunsItsHandlerOnTheLoop) {
  EventLoop loop;
  bool cancelled = false;
  loop.OnInterrupt([&] { cancelled = true; });
  std::thread raiser([&] {
    std::this_thread::sleep_for(50ms);
    loop.RaiseInterrupt();
  });
  loop.WaitWhile([&] { return !cancelled; });
  raiser.join();
  EXPECT_TRUE(cancelled);
}

}  // namespace
}  // namespace platform::forms
