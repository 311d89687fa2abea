#include "platform/dispatch/operation_queue.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "platform/dispatch/async_operation.h"
#include "platform/dispatch/block_operation.h"
#include "platform/dispatch/main_queue.h"
#include "support/polling.h"

namespace qlt {
namespace {

using namespace std::chrono_literals;

// Executing from start() until the test finishes it.
class ManualOperation : public AsyncOperation {
 public:
  std::atomic<int> started = 0;
  void main() override { ++started; }
  bool complete() { return finish(); }
};

TEST(OperationTest, StartRunsBlocksOnceAndACancelledOperationJustFinishes) {
  int runs = 0;
  auto operation = BlockOperation::make([&] { ++runs; });
  operation->addExecutionBlock([&] { runs += 10; });
  EXPECT_TRUE(operation->isReady());
  operation->start();
  operation->start();
  operation->waitUntilFinished();
  EXPECT_EQ(runs, 11);
  EXPECT_TRUE(operation->isFinished());
  EXPECT_FALSE(operation->isExecuting());
  EXPECT_EQ(operation->description().rfind("<qlt::BlockOperation: 0x", 0), 0u) << operation->description();

  auto cancelled = BlockOperation::make([&] { ++runs; });
  cancelled->cancel();
  cancelled->start();
  EXPECT_EQ(runs, 11);
  EXPECT_TRUE(cancelled->isFinished());

  OperationQueue queue;
  queue.addOperation(operation);  // started already: refused
  EXPECT_EQ(queue.operationCount(), 0u);
}

TEST(OperationQueueTest, ConcurrencyLimitHolds) {
  for (int limit : {1, 3}) {
    OperationQueue queue;
    queue.setMaxConcurrentOperationCount(limit);
    std::atomic<int> running = 0, peak = 0;
    for (int i = 0; i < 12; ++i) {
      queue.addOperationWithBlock([&] {
        int now = ++running;
        for (int seen = peak; now > seen && !peak.compare_exchange_weak(seen, now);) {
        }
        std::this_thread::sleep_for(2ms);
        --running;
      });
    }
    queue.waitUntilAllOperationsAreFinished();
    EXPECT_LE(peak, limit);
    EXPECT_EQ(queue.operationCount(), 0u);
  }
}

TEST(OperationQueueTest, WithoutALimitOperationsRunTogether) {
  OperationQueue queue;
  std::atomic<int> arrived = 0;
  std::atomic<int> metAll = 0;
  for (int i = 0; i < 6; ++i) {
    queue.addOperationWithBlock([&] {
      ++arrived;
      if (eventually([&] { return arrived == 6; })) ++metAll;
    });
  }
  queue.waitUntilAllOperationsAreFinished();
  EXPECT_EQ(metAll, 6);
}

TEST(OperationQueueTest, AsyncOperationsRunUntilFinishedAndCountAgainstTheLimit) {
  OperationQueue queue;
  queue.setMaxConcurrentOperationCount(2);
  std::vector<std::shared_ptr<ManualOperation>> ops;
  std::atomic<int> completions = 0;
  for (int i = 0; i < 3; ++i) {
    ops.push_back(std::make_shared<ManualOperation>());
    ops.back()->setCompletionBlock([&] { ++completions; });
    queue.addOperation(ops.back());
  }
  ASSERT_TRUE(eventually([&] { return ops[0]->isExecuting() && ops[1]->isExecuting(); }));
  std::this_thread::sleep_for(20ms);
  EXPECT_EQ(ops[2]->started, 0);
  EXPECT_FALSE(ops[0]->isFinished());
  EXPECT_EQ(queue.operationCount(), 3u);

  std::thread([&] { EXPECT_TRUE(ops[0]->complete()); }).join();
  EXPECT_FALSE(ops[0]->complete());
  EXPECT_TRUE(ops[0]->isFinished());
  EXPECT_FALSE(ops[0]->isExecuting());
  ASSERT_TRUE(eventually([&] { return ops[2]->isExecuting(); }));
  std::thread([&] {
    ops[1]->complete();
    ops[2]->complete();
  }).join();
  queue.waitUntilAllOperationsAreFinished();
  EXPECT_EQ(completions, 3);
  for (auto& op : ops) EXPECT_EQ(op->started, 1);

  auto cancelled = std::make_shared<ManualOperation>();
  cancelled->cancel();
  queue.addOperationAndWaitUntilFinished(cancelled);
  EXPECT_EQ(cancelled->started, 0);
  EXPECT_TRUE(cancelled->isFinished());
}

TEST(OperationQueueTest, DependenciesFinishFirstEvenInAnotherQueue) {
  OperationQueue queue, other;
  std::mutex mutex;
  std::vector<std::string> trace;
  auto record = [&](std::string event) {
    return [&, event] {
      std::lock_guard lock(mutex);
      trace.push_back(event);
    };
  };
  auto a = BlockOperation::make(record("a"));
  a->setCompletionBlock(record("a completed"));
  auto b = BlockOperation::make(record("b"));
  auto c = BlockOperation::make(record("c"));
  c->addDependency(b);
  b->addDependency(a);
  EXPECT_FALSE(b->isReady());
  queue.addOperations({c, b}, false);
  std::this_thread::sleep_for(10ms);
  EXPECT_EQ(queue.operationCount(), 2u);
  other.addOperation(a);
  queue.waitUntilAllOperationsAreFinished();
  std::lock_guard lock(mutex);
  EXPECT_EQ(trace, (std::vector<std::string>{"a", "a completed", "b", "c"}));
}

TEST(OperationQueueTest, CancelAllSkipsPendingWorkButEveryCompletionBlockRuns) {
  OperationQueue queue;
  queue.setMaxConcurrentOperationCount(1);
  std::atomic<bool> release = false;
  std::atomic<int> ran = 0, completed = 0;
  auto gate = BlockOperation::make([&] {
    eventually([&] { return release.load(); });
    ++ran;
  });
  gate->setCompletionBlock([&] { ++completed; });
  queue.addOperation(gate);
  ASSERT_TRUE(eventually([&] { return gate->isExecuting(); }));
  std::vector<std::shared_ptr<Operation>> pending;
  for (int i = 0; i < 5; ++i) {
    pending.push_back(BlockOperation::make([&] { ++ran; }));
    pending.back()->setCompletionBlock([&] { ++completed; });
  }
  pending[0]->addDependency(BlockOperation::make([] {}));  // never runs
  queue.addOperations(pending, false);
  EXPECT_EQ(queue.operationCount(), 6u);
  queue.cancelAllOperations();
  EXPECT_TRUE(gate->isCancelled());
  EXPECT_TRUE(pending[0]->isReady());
  release = true;
  queue.waitUntilAllOperationsAreFinished();
  EXPECT_EQ(ran, 1);
  EXPECT_EQ(completed, 6);
  EXPECT_EQ(queue.operationCount(), 0u);
  for (auto& op : pending) EXPECT_TRUE(op->isFinished() && op->isCancelled());
}

TEST(OperationQueueTest, MainQueueRunsOnTheMainThreadAndInlineFromIt) {
  OperationQueue& main = OperationQueue::mainQueue();
  EXPECT_TRUE(main.isMainQueue());
  bool onMain = false, ranInline = false, onWorker = false;
  main.addOperationWithBlockAndWaitUntilFinished([&] { onMain = isMainThread(); });
  EXPECT_TRUE(onMain);
  OperationQueue queue;
  dispatchMainSync([&] {
    main.addOperationWithBlockAndWaitUntilFinished([&] { ranInline = true; });
    EXPECT_TRUE(ranInline);
    queue.addOperationWithBlockAndWaitUntilFinished([&] { onWorker = !isMainThread(); });
  });
  EXPECT_TRUE(onWorker);
}

TEST(OperationQueueTest, QueueDestroyedByItsOwnOperationFinishesTheRest) {
  auto* queue = new OperationQueue;
  queue->setMaxConcurrentOperationCount(1);
  std::atomic<bool> added = false, lastRan = false;
  queue->addOperationWithBlock([&, queue] {
    eventually([&] { return added.load(); });
    delete queue;
  });
  queue->addOperationWithBlock([&] { lastRan = true; });
  added = true;
  EXPECT_TRUE(eventually([&] { return lastRan.load(); }));
}

}  // namespace
}  // namespace qlt
