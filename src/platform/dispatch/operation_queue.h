#pragma once

#include <cstddef>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "platform/dispatch/operation.h"

namespace qlt {

// Starts the operations added to it once they are ready, in the order they
// were added, with at most maxConcurrentOperationCount() running (started
// and not finished) at once. Operations start on worker threads; those of
// mainQueue() start on the main queue. Every operation added is started,
// cancelled ones too, so that it finishes.
class OperationQueue {
 public:
  static constexpr int kDefaultMaxConcurrentOperationCount = -1;

  OperationQueue();
  // Waits until every operation added has finished. Destroyed from one of
  // its own operations, the queue lets the remaining ones finish afterwards.
  ~OperationQueue();
  OperationQueue(const OperationQueue&) = delete;
  OperationQueue& operator=(const OperationQueue&) = delete;

  // Runs at most one operation at a time, on the main queue.
  static OperationQueue& mainQueue();
  bool isMainQueue() const;

  std::string name() const;
  void setName(std::string name);
  // kDefaultMaxConcurrentOperationCount means no fixed limit. The main
  // queue keeps its limit of 1.
  int maxConcurrentOperationCount() const;
  void setMaxConcurrentOperationCount(int count);

  // Ignores (and logs) an operation that is in a queue or has started.
  void addOperation(std::shared_ptr<Operation> operation);
  void addOperations(const std::vector<std::shared_ptr<Operation>>& operations, bool waitUntilFinished);
  void addOperationAndWaitUntilFinished(std::shared_ptr<Operation> operation);
  void addOperationWithBlock(std::function<void()> block);
  // Runs `block` inline when this is the main queue and the caller is on the
  // main thread; otherwise adds it as an operation and waits for it.
  void addOperationWithBlockAndWaitUntilFinished(std::function<void()> block);

  // REQUIRES: not called from an operation of this queue (nor, for the main
  // queue, on the main thread).
  void waitUntilAllOperationsAreFinished();
  void cancelAllOperations();
  // Operations added and not finished yet.
  size_t operationCount() const;
  std::vector<std::shared_ptr<Operation>> operations() const;

 private:
  struct Core;
  explicit OperationQueue(bool main);

  std::shared_ptr<Core> core_;
};

}  // namespace qlt
