#include "platform/dispatch/run_loop.h"

#include <algorithm>
#include <condition_variable>
#include <cstdlib>
#include <deque>
#include <mutex>
#include <optional>
#include <thread>
#include <tuple>
#include <vector>

namespace qlt {

namespace detail {

struct RunLoopCore : std::enable_shared_from_this<RunLoopCore> {
  std::mutex mutex;
  std::condition_variable wakeup;
  std::deque<std::function<void()>> blocks;
  std::vector<std::shared_ptr<Timer>> timers;
  std::thread::id driver;  // the thread running the loop, if any
  std::thread worker;      // the loop's own thread
  bool workerStop = false;
  bool runActive = false;  // a run() call owns the loop
  bool runStop = false;
  bool shutDown = false;

  // REQUIRES: mutex held.
  void ensureDriver() {
    if (shutDown || runActive || worker.joinable()) return;
    // The thread keeps the core alive in case the loop is destroyed from
    // one of its own blocks (the thread is then detached).
    worker = std::thread([self = shared_from_this()] {
      std::unique_lock lock(self->mutex);
      self->driver = std::this_thread::get_id();
      self->drive(lock, self->workerStop);
      self->driver = {};
    });
  }

  void addTimer(std::shared_ptr<Timer> timer) {
    std::lock_guard lock(mutex);
    if (shutDown || std::find(timers.begin(), timers.end(), timer) != timers.end()) return;
    {
      std::lock_guard timerLock(timer->mutex_);
      timer->loop_ = weak_from_this();
    }
    timers.push_back(std::move(timer));
    ensureDriver();
    wakeup.notify_all();
  }

  // Runs blocks and timers until `stop` or shutDown is set.
  // REQUIRES: `lock` holds mutex.
  void drive(std::unique_lock<std::mutex>& lock, const bool& stop) {
    while (!stop && !shutDown) {
      auto now = Timer::Clock::now();
      std::optional<Timer::Clock::time_point> nextFire;
      std::vector<std::shared_ptr<Timer>> due = takeDueTimers(now, nextFire);
      size_t queued = blocks.size();
      if (due.empty() && queued == 0) {
        if (nextFire)
          wakeup.wait_until(lock, *nextFire);
        else
          wakeup.wait(lock);
        continue;
      }
      if (!due.empty()) {
        lock.unlock();
        for (auto& timer : due) timer->fireIfDue(now);
        due.clear();
        lock.lock();
      }
      // Only blocks queued before the timers fired, so that a stream of
      // blocks cannot hold timers back.
      for (; queued > 0 && !blocks.empty() && !stop && !shutDown; --queued) {
        std::function<void()> block = std::move(blocks.front());
        blocks.pop_front();
        lock.unlock();
        block();
        block = nullptr;
        lock.lock();
      }
    }
  }

  // Drops invalid timers and returns the due ones in firing order; sets
  // `nextFire` to the earliest fire time of the others.
  // REQUIRES: mutex held.
  std::vector<std::shared_ptr<Timer>> takeDueTimers(Timer::Clock::time_point now,
                                                    std::optional<Timer::Clock::time_point>& nextFire) {
    std::vector<std::tuple<Timer::Clock::time_point, uint64_t, std::shared_ptr<Timer>>> due;
    std::vector<std::shared_ptr<Timer>> kept;
    for (auto& timer : timers) {
      std::lock_guard timerLock(timer->mutex_);
      if (!timer->valid_) continue;
      kept.push_back(timer);
      if (timer->fireTime_ <= now)
        due.emplace_back(timer->fireTime_, timer->sequence_, timer);
      else if (!nextFire || timer->fireTime_ < *nextFire)
        nextFire = timer->fireTime_;
    }
    timers.swap(kept);
    std::sort(due.begin(), due.end(), [](auto& a, auto& b) {
      return std::tie(std::get<0>(a), std::get<1>(a)) < std::tie(std::get<0>(b), std::get<1>(b));
    });
    std::vector<std::shared_ptr<Timer>> result;
    for (auto& entry : due) result.push_back(std::move(std::get<2>(entry)));
    return result;
  }
};

void wakeRunLoop(const std::weak_ptr<RunLoopCore>& loop) {
  if (auto core = loop.lock()) {
    std::lock_guard lock(core->mutex);
    core->wakeup.notify_all();
  }
}

}  // namespace detail

RunLoop::RunLoop() : core_(std::make_shared<detail::RunLoopCore>()) {}

RunLoop::~RunLoop() { shutDown(); }

RunLoop& RunLoop::main() {
  // Never destroyed, so that threads still dispatching while the process
  // exits find a stopped loop rather than a destroyed one.
  static RunLoop* loop = [] {
    auto* created = new RunLoop;
    std::atexit([] { RunLoop::main().shutDown(); });
    return created;
  }();
  return *loop;
}

void RunLoop::perform(std::function<void()> block) {
  std::function<void()> dropped;
  std::lock_guard lock(core_->mutex);
  if (core_->shutDown) {
    dropped = std::move(block);
    return;
  }
  core_->blocks.push_back(std::move(block));
  core_->ensureDriver();
  core_->wakeup.notify_all();
}

void RunLoop::performAndWait(std::function<void()> block) {
  if (isCurrent()) {
    block();
    return;
  }
  struct Completion {
    std::mutex mutex;
    std::condition_variable done;
    bool finished = false;
  };
  // Signals when the queued block is destroyed: after it ran, or when the
  // loop discards it.
  struct Signal {
    explicit Signal(std::shared_ptr<Completion> completion) : completion(std::move(completion)) {}
    std::shared_ptr<Completion> completion;
    ~Signal() {
      std::lock_guard lock(completion->mutex);
      completion->finished = true;
      completion->done.notify_all();
    }
  };
  auto completion = std::make_shared<Completion>();
  perform([block = std::move(block), signal = std::make_shared<Signal>(completion)]() mutable {
    block();
    block = nullptr;
  });
  std::unique_lock lock(completion->mutex);
  completion->done.wait(lock, [&] { return completion->finished; });
}

void RunLoop::addTimer(std::shared_ptr<Timer> timer, RunLoopMode) {
  if (timer && timer->isValid()) core_->addTimer(std::move(timer));
}

bool RunLoop::isCurrent() const {
  std::lock_guard lock(core_->mutex);
  return core_->driver == std::this_thread::get_id();
}

void RunLoop::run() {
  auto& core = *core_;
  auto self = std::this_thread::get_id();
  std::unique_lock lock(core.mutex);
  if (core.shutDown || core.runActive || core.driver == self) return;
  core.runActive = true;
  core.runStop = false;
  if (core.worker.joinable()) {
    std::thread worker = std::move(core.worker);
    core.workerStop = true;
    core.wakeup.notify_all();
    lock.unlock();
    worker.join();
    lock.lock();
    core.workerStop = false;
  }
  core.driver = self;
  core.drive(lock, core.runStop);
  core.driver = {};
  core.runActive = false;
  if (!core.blocks.empty() || !core.timers.empty()) core.ensureDriver();
}

void RunLoop::stop() {
  std::lock_guard lock(core_->mutex);
  if (!core_->runActive) return;
  core_->runStop = true;
  core_->wakeup.notify_all();
}

void RunLoop::shutDown() {
  std::thread worker;
  std::deque<std::function<void()>> blocks;
  std::vector<std::shared_ptr<Timer>> timers;
  {
    std::lock_guard lock(core_->mutex);
    if (core_->shutDown) return;
    core_->shutDown = true;
    worker = std::move(core_->worker);
    blocks.swap(core_->blocks);
    timers.swap(core_->timers);
    core_->wakeup.notify_all();
  }
  blocks.clear();
  timers.clear();
  if (!worker.joinable()) return;
  // exit() or the loop's destruction may come from a block on its own thread.
  if (worker.get_id() == std::this_thread::get_id())
    worker.detach();
  else
    worker.join();
}

}  // namespace qlt
