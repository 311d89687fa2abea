#pragma once

#include <functional>
#include <memory>

#include "platform/dispatch/timer.h"

namespace qlt {

namespace detail {
// Lets a timer whose schedule changed wake the loop it is scheduled on.
void wakeRunLoop(const std::weak_ptr<RunLoopCore>& loop);
}  // namespace detail

// Both modes behave the same here; the argument keeps call sites explicit.
enum class RunLoopMode { Default, Common };

// A loop that runs queued blocks and timers one at a time on one thread.
// The loop starts its own thread when work arrives and nobody runs it; a
// program may instead run it on a thread of its own with run().
class RunLoop {
 public:
  RunLoop();
  // Stops the loop's thread and discards pending blocks and timers.
  ~RunLoop();
  RunLoop(const RunLoop&) = delete;
  RunLoop& operator=(const RunLoop&) = delete;

  // The loop of the main queue. Its thread is stopped and joined at exit.
  static RunLoop& main();

  // Queues `block`; blocks run in the order they were queued.
  void perform(std::function<void()> block);
  // Runs `block` on the loop's thread and returns when it has run; runs it
  // inline when called on that thread. Returns without running it only if
  // the loop shuts down first.
  void performAndWait(std::function<void()> block);

  void addTimer(std::shared_ptr<Timer> timer, RunLoopMode mode = RunLoopMode::Default);

  // Whether the calling thread is the one running the loop.
  bool isCurrent() const;

  // Runs the loop on the calling thread, taking over from the loop's own
  // thread, until stop(). Afterwards the loop's own thread takes over again
  // when there is work.
  // REQUIRES: not called on the loop's thread; one caller at a time.
  void run();
  // Makes run() return once the block or timers under way are done.
  void stop();

 private:
  void shutDown();

  std::shared_ptr<detail::RunLoopCore> core_;
};

}  // namespace qlt
