#include "platform/dispatch/timer.h"

#include <algorithm>
#include <atomic>
#include <cmath>

#include "platform/dispatch/run_loop.h"

namespace qlt {

namespace {

constexpr double kMinimumInterval = 0.0001;
// Keeps conversions of far dates (distantFuture) inside the clock's range.
constexpr double kLongestOffset = 100.0 * 365 * 24 * 3600;

Timer::Clock::duration toDuration(double seconds) {
  seconds = std::clamp(seconds, -kLongestOffset, kLongestOffset);
  return std::chrono::duration_cast<Timer::Clock::duration>(std::chrono::duration<double>(seconds));
}

// Dates map to clock times through one fixed pair of readings, so that equal
// dates give equal fire times and a fire date reads back as it was set.
struct Anchor {
  Timer::Clock::time_point time = Timer::Clock::now();
  Date date = Date::now();
};

const Anchor& anchor() {
  static const Anchor value;
  return value;
}

Timer::Clock::time_point toClockTime(Date date) {
  return anchor().time + toDuration(date.timeIntervalSince(anchor().date));
}

Date toDate(Timer::Clock::time_point time) {
  return anchor().date.addingTimeInterval(std::chrono::duration<double>(time - anchor().time).count());
}

uint64_t nextSequence() {
  static std::atomic<uint64_t> counter{0};
  return ++counter;
}

}  // namespace

Timer::Timer(Clock::time_point fireTime, double interval, bool repeats, Block block)
    : repeats_(repeats),
      interval_(std::max(interval, kMinimumInterval)),
      sequence_(nextSequence()),
      block_(std::move(block)),
      fireTime_(fireTime) {}

std::shared_ptr<Timer> Timer::make(double interval, bool repeats, Block block) {
  interval = std::max(interval, kMinimumInterval);
  return std::shared_ptr<Timer>(new Timer(Clock::now() + toDuration(interval), interval, repeats, std::move(block)));
}

std::shared_ptr<Timer> Timer::make(Date fireDate, double interval, bool repeats, Block block) {
  return std::shared_ptr<Timer>(new Timer(toClockTime(fireDate), interval, repeats, std::move(block)));
}

std::shared_ptr<Timer> Timer::scheduled(double interval, bool repeats, Block block) {
  auto timer = make(interval, repeats, std::move(block));
  RunLoop::main().addTimer(timer);
  return timer;
}

Date Timer::fireDate() const {
  std::lock_guard lock(mutex_);
  return toDate(fireTime_);
}

void Timer::setFireDate(Date date) {
  std::weak_ptr<detail::RunLoopCore> loop;
  {
    std::lock_guard lock(mutex_);
    fireTime_ = toClockTime(date);
    loop = loop_;
  }
  detail::wakeRunLoop(loop);
}

double Timer::timeInterval() const { return repeats_ ? interval_ : 0; }

double Timer::tolerance() const {
  std::lock_guard lock(mutex_);
  return tolerance_;
}

void Timer::setTolerance(double seconds) {
  std::lock_guard lock(mutex_);
  tolerance_ = std::max(seconds, 0.0);
}

bool Timer::isValid() const {
  std::lock_guard lock(mutex_);
  return valid_;
}

void Timer::invalidate() {
  Block released;
  std::weak_ptr<detail::RunLoopCore> loop;
  {
    std::lock_guard lock(mutex_);
    if (!valid_) return;
    valid_ = false;
    released = std::move(block_);
    block_ = nullptr;
    loop = loop_;
  }
  // Lets the loop drop its reference now rather than at the old fire date.
  detail::wakeRunLoop(loop);
}

void Timer::fire() {
  Block block;
  {
    std::lock_guard lock(mutex_);
    if (!valid_) return;
    block = block_;
  }
  if (block) block(*this);
  if (!repeats_) invalidate();
}

void Timer::fireIfDue(Clock::time_point now) {
  Block block;
  {
    std::lock_guard lock(mutex_);
    if (!valid_ || fireTime_ > now) return;
    block = block_;
    if (repeats_) {
      // Missed firings are skipped, keeping the original phase.
      auto interval = toDuration(interval_);
      auto missed = (now - fireTime_) / interval;
      fireTime_ += interval * (missed + 1);
    }
  }
  if (block) block(*this);
  if (!repeats_) invalidate();
}

}  // namespace qlt
