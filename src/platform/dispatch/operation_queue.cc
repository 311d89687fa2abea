#include "platform/dispatch/operation_queue.h"

#include <algorithm>
#include <condition_variable>
#include <deque>
#include <limits>
#include <mutex>
#include <thread>

#include "platform/dispatch/block_operation.h"
#include "platform/foundation/log.h"
#include "platform/dispatch/main_queue.h"

namespace qlt {

namespace {
constexpr size_t kMaxWorkers = 64;
constexpr auto kWorkerIdleTimeout = std::chrono::seconds(5);
}  // namespace

struct OperationQueue::Core : std::enable_shared_from_this<Core> {
  explicit Core(bool main) : main(main), maxConcurrent(main ? 1 : kDefaultMaxConcurrentOperationCount) {}

  const bool main;
  mutable std::mutex mutex;
  std::condition_variable finished;  // an operation left the queue
  std::condition_variable work;      // toStart gained an operation, or stopping
  std::condition_variable workersGone;
  std::string name;
  int maxConcurrent;
  std::vector<std::shared_ptr<Operation>> pending;   // not started yet
  std::vector<std::shared_ptr<Operation>> launched;  // started or about to start, not finished
  std::deque<std::shared_ptr<Operation>> toStart;    // launched, waiting for a worker
  size_t workers = 0;
  size_t idleWorkers = 0;
  bool stopping = false;

  static thread_local const Core* currentWorkerCore;

  // REQUIRES: mutex held.
  void schedule(std::vector<std::shared_ptr<Operation>>& removed) {
    size_t limit = maxConcurrent < 0 ? std::numeric_limits<size_t>::max() : size_t(maxConcurrent);
    for (auto it = pending.begin(); it != pending.end() && launched.size() < limit;) {
      if ((*it)->isDone()) {
        // Started and finished by someone else.
        removed.push_back(std::move(*it));
        it = pending.erase(it);
        finished.notify_all();
      } else if ((*it)->isReady()) {
        launched.push_back(std::move(*it));
        it = pending.erase(it);
        launch(launched.back());
      } else {
        ++it;
      }
    }
  }

  // REQUIRES: mutex held.
  void launch(const std::shared_ptr<Operation>& operation) {
    if (main) {
      dispatchMainAsync([operation] { operation->start(); });
      return;
    }
    toStart.push_back(operation);
    if (toStart.size() > idleWorkers && workers < kMaxWorkers) {
      ++workers;
      std::thread([self = shared_from_this()] { self->workerMain(); }).detach();
    }
    work.notify_one();
  }

  void workerMain() {
    currentWorkerCore = this;
    std::unique_lock lock(mutex);
    while (true) {
      if (!toStart.empty()) {
        std::shared_ptr<Operation> operation = std::move(toStart.front());
        toStart.pop_front();
        lock.unlock();
        operation->start();
        operation.reset();
        lock.lock();
        continue;
      }
      if (stopping) break;
      ++idleWorkers;
      bool woken = work.wait_for(lock, kWorkerIdleTimeout, [&] { return stopping || !toStart.empty(); });
      --idleWorkers;
      if (!woken) break;
    }
    --workers;
    workersGone.notify_all();
  }

  void operationChanged(Operation* operation) {
    std::vector<std::shared_ptr<Operation>> removed;
    std::lock_guard lock(mutex);
    if (operation->isDone()) {
      for (auto* list : {&pending, &launched}) {
        auto found = std::find_if(list->begin(), list->end(), [&](auto& o) { return o.get() == operation; });
        if (found == list->end()) continue;
        removed.push_back(std::move(*found));
        list->erase(found);
        finished.notify_all();
      }
    }
    schedule(removed);
  }
};

thread_local const OperationQueue::Core* OperationQueue::Core::currentWorkerCore = nullptr;

OperationQueue::OperationQueue() : OperationQueue(false) {}

OperationQueue::OperationQueue(bool main) : core_(std::make_shared<Core>(main)) {}

OperationQueue::~OperationQueue() {
  if (Core::currentWorkerCore == core_.get()) {
    std::lock_guard lock(core_->mutex);
    core_->stopping = true;
    core_->work.notify_all();
    return;
  }
  waitUntilAllOperationsAreFinished();
  std::unique_lock lock(core_->mutex);
  core_->stopping = true;
  core_->work.notify_all();
  core_->workersGone.wait(lock, [&] { return core_->workers == 0; });
}

OperationQueue& OperationQueue::mainQueue() {
  // Never destroyed, like the main run loop.
  static auto& queue = *new OperationQueue(true);
  return queue;
}

bool OperationQueue::isMainQueue() const { return core_->main; }

std::string OperationQueue::name() const {
  std::lock_guard lock(core_->mutex);
  return core_->name;
}

void OperationQueue::setName(std::string name) {
  std::lock_guard lock(core_->mutex);
  core_->name = std::move(name);
}

int OperationQueue::maxConcurrentOperationCount() const {
  std::lock_guard lock(core_->mutex);
  return core_->maxConcurrent;
}

void OperationQueue::setMaxConcurrentOperationCount(int count) {
  std::vector<std::shared_ptr<Operation>> removed;
  std::lock_guard lock(core_->mutex);
  if (core_->main) return;
  core_->maxConcurrent = count;
  core_->schedule(removed);
}

void OperationQueue::addOperation(std::shared_ptr<Operation> operation) {
  if (!operation) return;
  std::weak_ptr<Core> weakCore = core_;
  Operation* raw = operation.get();
  bool attached = operation->attachToQueue([weakCore, raw] {
    if (auto core = weakCore.lock()) core->operationChanged(raw);
  });
  if (!attached) {
    log("Not adding %@: it is in a queue or has started", operation->description());
    return;
  }
  std::vector<std::shared_ptr<Operation>> removed;
  std::lock_guard lock(core_->mutex);
  core_->pending.push_back(std::move(operation));
  core_->schedule(removed);
}

void OperationQueue::addOperations(const std::vector<std::shared_ptr<Operation>>& operations,
                                   bool waitUntilFinished) {
  for (auto& operation : operations) addOperation(operation);
  if (!waitUntilFinished) return;
  for (auto& operation : operations) {
    if (operation) operation->waitUntilFinished();
  }
}

void OperationQueue::addOperationAndWaitUntilFinished(std::shared_ptr<Operation> operation) {
  addOperations({std::move(operation)}, true);
}

void OperationQueue::addOperationWithBlock(std::function<void()> block) {
  addOperation(BlockOperation::make(std::move(block)));
}

void OperationQueue::addOperationWithBlockAndWaitUntilFinished(std::function<void()> block) {
  if (core_->main && isMainThread()) {
    block();
    return;
  }
  addOperationAndWaitUntilFinished(BlockOperation::make(std::move(block)));
}

void OperationQueue::waitUntilAllOperationsAreFinished() {
  std::unique_lock lock(core_->mutex);
  core_->finished.wait(lock, [&] { return core_->pending.empty() && core_->launched.empty(); });
}

void OperationQueue::cancelAllOperations() {
  for (auto& operation : operations()) operation->cancel();
}

size_t OperationQueue::operationCount() const {
  std::lock_guard lock(core_->mutex);
  return core_->pending.size() + core_->launched.size();
}

std::vector<std::shared_ptr<Operation>> OperationQueue::operations() const {
  std::lock_guard lock(core_->mutex);
  std::vector<std::shared_ptr<Operation>> all = core_->launched;
  all.insert(all.end(), core_->pending.begin(), core_->pending.end());
  return all;
}

}  // namespace qlt
