#pragma once

#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>

#include "platform/foundation/date.h"

namespace qlt {

namespace detail {
struct RunLoopCore;
}

// A one-shot or repeating timer. It fires only while scheduled on a run loop
// (RunLoop::addTimer), on that loop's thread; the loop keeps it alive until
// it is invalidated. Firing may be late (by up to the tolerance, or more when
// the loop is busy) but never early; timers due together fire in fire-date
// order.
class Timer {
 public:
  using Clock = std::chrono::steady_clock;
  using Block = std::function<void(Timer&)>;

  // A timer, not yet scheduled, that first fires `interval` seconds from now
  // (repeating ones then every `interval` seconds). Non-positive intervals
  // become 0.1 ms.
  static std::shared_ptr<Timer> make(double interval, bool repeats, Block block);
  static std::shared_ptr<Timer> make(Date fireDate, double interval, bool repeats, Block block);
  // Makes a timer and schedules it on the main run loop in the default mode.
  static std::shared_ptr<Timer> scheduled(double interval, bool repeats, Block block);

  Timer(const Timer&) = delete;
  Timer& operator=(const Timer&) = delete;

  Date fireDate() const;
  void setFireDate(Date date);
  // 0 for a non-repeating timer.
  double timeInterval() const;
  double tolerance() const;
  void setTolerance(double seconds);
  bool repeats() const { return repeats_; }
  bool isValid() const;

  // Stops the timer for good and releases its block.
  // REQUIRES: called on the thread of the run loop the timer is scheduled on
  // (from another thread a firing already under way may still happen).
  void invalidate();

  // Calls the block now without changing the schedule; a non-repeating timer
  // is invalidated afterwards. Does nothing on an invalid timer.
  void fire();

 private:
  friend struct detail::RunLoopCore;

  Timer(Clock::time_point fireTime, double interval, bool repeats, Block block);

  // Called by the run loop for a firing due at or before `now`.
  void fireIfDue(Clock::time_point now);

  const bool repeats_;
  const double interval_;
  const uint64_t sequence_;  // orders timers with equal fire dates
  mutable std::mutex mutex_;
  Block block_;
  Clock::time_point fireTime_;
  double tolerance_ = 0;
  bool valid_ = true;
  std::weak_ptr<detail::RunLoopCore> loop_;
};

}  // namespace qlt
