#include "platform/dispatch/run_loop.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "platform/dispatch/main_queue.h"
#include "support/polling.h"

namespace qlt {
namespace {

using namespace std::chrono_literals;

// Records events from any thread.
struct Trace {
  std::mutex mutex;
  std::vector<std::string> events;
  void add(std::string event) {
    std::lock_guard lock(mutex);
    events.push_back(std::move(event));
  }
  std::vector<std::string> get() {
    std::lock_guard lock(mutex);
    return events;
  }
  size_t size() { return get().size(); }
};

TEST(RunLoopTest, TimersFireInFireDateOrderThenCreationOrder) {
  RunLoop loop;
  Trace trace;
  // Fire dates from one instant, far enough apart for a slow (sanitized)
  // build to add every timer before the first fires.
  Date base = Date::now();
  Date soon = base.addingTimeInterval(0.2);
  auto record = [&](std::string name) { return [&trace, name](Timer&) { trace.add(name); }; };
  auto late = Timer::make(base.addingTimeInterval(0.3), 0, false, record("late"));
  auto tied1 = Timer::make(soon, 0, false, record("tied1"));
  auto early = Timer::make(base.addingTimeInterval(0.1), 0, false, record("early"));
  auto tied2 = Timer::make(soon, 0, false, record("tied2"));
  for (auto& timer : {late, tied1, early, tied2}) loop.addTimer(timer, RunLoopMode::Common);
  ASSERT_TRUE(eventually([&] { return trace.size() == 4; }));
  EXPECT_EQ(trace.get(), (std::vector<std::string>{"early", "tied1", "tied2", "late"}));
  EXPECT_FALSE(early->isValid());
}

TEST(RunLoopTest, OneShotFiresOnceAndRepeatingRepeatsUntilItInvalidatesItself) {
  RunLoop loop;
  std::atomic<int> oneShot = 0, repeating = 0;
  auto once = Timer::make(0.01, false, [&](Timer&) { ++oneShot; });
  auto every = Timer::make(0.01, true, [&](Timer& timer) {
    if (++repeating == 3) timer.invalidate();
  });
  EXPECT_EQ(once->timeInterval(), 0);
  EXPECT_DOUBLE_EQ(every->timeInterval(), 0.01);
  loop.addTimer(once);
  loop.addTimer(every);
  ASSERT_TRUE(eventually([&] { return repeating == 3; }));
  std::this_thread::sleep_for(50ms);
  EXPECT_EQ(oneShot, 1);
  EXPECT_EQ(repeating, 3);
  EXPECT_FALSE(every->isValid());
}

TEST(RunLoopTest, InvalidatedTimerNeverFiresAndMovedFireDateWakesTheLoop) {
  RunLoop loop;
  std::atomic<int> fired = 0;
  auto doomed = Timer::make(0.05, false, [&](Timer&) { fired += 100; });
  auto moved = Timer::make(Date::now().addingTimeInterval(3600), 0, false, [&](Timer&) { ++fired; });
  moved->setTolerance(1.0);
  loop.addTimer(moved);
  // Added and invalidated in one block of the loop: nothing fires between.
  loop.performAndWait([&] {
    loop.addTimer(doomed);
    doomed->invalidate();
  });
  EXPECT_FALSE(doomed->isValid());
  EXPECT_GT(moved->fireDate(), Date::now().addingTimeInterval(3000));
  moved->setFireDate(Date::now().addingTimeInterval(0.03));
  ASSERT_TRUE(eventually([&] { return fired != 0; }));
  std::this_thread::sleep_for(20ms);
  EXPECT_EQ(fired, 1);
  EXPECT_EQ(moved->tolerance(), 1.0);
  loop.addTimer(doomed);  // invalid timers cannot be rescheduled
  std::this_thread::sleep_for(30ms);
  EXPECT_EQ(fired, 1);
}

TEST(RunLoopTest, RunTakesOverOnTheCallingThreadUntilStopped) {
  RunLoop loop;
  auto self = std::this_thread::get_id();
  std::thread::id before, after;
  loop.performAndWait([&] { before = std::this_thread::get_id(); });
  int ticksHere = 0;
  loop.addTimer(Timer::make(0.005, true, [&](Timer& timer) {
    if (std::this_thread::get_id() != self) return;
    EXPECT_TRUE(loop.isCurrent());
    if (++ticksHere == 3) {
      timer.invalidate();
      loop.stop();
    }
  }));
  loop.run();
  EXPECT_EQ(ticksHere, 3);
  EXPECT_NE(before, self);
  EXPECT_FALSE(loop.isCurrent());
  loop.performAndWait([&] { after = std::this_thread::get_id(); });
  EXPECT_NE(after, self);
}

TEST(RunLoopTest, DestroyingTheLoopDiscardsPendingBlocksAndReleasesWaitersEvenFromItsOwnBlock) {
  auto loop = std::make_unique<RunLoop>();
  std::atomic<bool> started = false, release = false, discardedRan = false, waiterReturned = false;
  loop->perform([&] {
    started = true;
    eventually([&] { return release.load(); });
  });
  ASSERT_TRUE(eventually([&] { return started.load(); }));
  // The destructor cannot return before `release`, so `raw` outlives the
  // waiter's call whether it comes before or during destruction.
  RunLoop* raw = loop.get();
  std::thread waiter([&] {
    raw->performAndWait([&] { discardedRan = true; });
    waiterReturned = true;
    release = true;
  });
  std::this_thread::sleep_for(20ms);
  loop.reset();
  waiter.join();
  EXPECT_TRUE(waiterReturned);
  EXPECT_FALSE(discardedRan);

  auto* doomed = new RunLoop;
  std::atomic<bool> deleted = false;
  doomed->perform([&] {
    delete doomed;
    deleted = true;
  });
  EXPECT_TRUE(eventually([&] { return deleted.load(); }));
}

TEST(MainQueueTest, SyncDispatchFromTheMainThreadRunsInlineAndAsyncIsFIFO) {
  EXPECT_FALSE(isMainThread());
  std::vector<int> order;
  for (int i = 0; i < 100; ++i) dispatchMainAsync([&order, i] { order.push_back(i); });
  bool nestedRan = false;
  dispatchMainSync([&] {
    EXPECT_TRUE(isMainThread());
    dispatchMainSync([&] { nestedRan = true; });
  });
  EXPECT_TRUE(nestedRan);
  ASSERT_EQ(order.size(), 100u);
  for (int i = 0; i < 100; ++i) EXPECT_EQ(order[i], i);
}

TEST(MainQueueTest, ScheduledTimerFiresOnTheMainThread) {
  std::atomic<bool> onMain = false, fired = false;
  Timer::scheduled(0.01, false, [&](Timer&) {
    onMain = isMainThread();
    fired = true;
  });
  ASSERT_TRUE(eventually([&] { return fired.load(); }));
  EXPECT_TRUE(onMain);
}

}  // namespace
}  // namespace qlt
