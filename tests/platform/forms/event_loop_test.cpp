// The event loop: what DoEvents delivers, waits that block without spinning, and interrupts.

#include "platform/forms/event_loop.h"

#include <gtest/gtest.h>

#include <thread>

#include "tests/support/wait_counter.h"

namespace platform::forms {
namespace {

using namespace std::chrono_literals;

using kv::test::WaitCounter;

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
  WaitCounter counter(loop);
  const auto start = std::chrono::steady_clock::now();
  loop.WaitWhile([&] { return busy; });
  loop.StopTimer(id);
  EXPECT_EQ(ticks, 2);
  EXPECT_GE(std::chrono::steady_clock::now() - start, 550ms);
  // One wait for each tick, and at most one more each for a wait that ended just before its tick was due.
  EXPECT_GE(counter.waits, 2);
  EXPECT_LE(counter.waits, 4);
}

TEST(EventLoopTest, WaitWakesOnAnEventPostedFromAnotherThread) {
  EventLoop loop;
  bool done = false;
  std::thread poster([&] {
    std::this_thread::sleep_for(200ms);
    loop.Post([&] { done = true; });
  });
  WaitCounter counter(loop);
  loop.WaitWhile([&] { return !done; });
  poster.join();
  EXPECT_TRUE(done);
  EXPECT_EQ(counter.waits, 1);  // woken by the post itself, not by looking again and again
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
