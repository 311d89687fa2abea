#pragma once

#include <condition_variable>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

namespace qlt {

// A unit of work for an OperationQueue. It moves once from ready to
// executing to finished; every state query is safe from any thread.
// Operations are owned by std::shared_ptr.
//
// A synchronous subclass overrides main(); the operation finishes when
// main() returns. Asynchronous ones derive from AsyncOperation.
class Operation : public std::enable_shared_from_this<Operation> {
 public:
  Operation() = default;
  virtual ~Operation() = default;
  Operation(const Operation&) = delete;
  Operation& operator=(const Operation&) = delete;

  bool isCancelled() const;
  bool isExecuting() const;
  bool isFinished() const;
  // Every dependency has finished (completion block included), or the
  // operation is cancelled.
  bool isReady() const;
  virtual bool isAsynchronous() const { return false; }

  // A cancelled operation finishes at once; otherwise main() runs between
  // the executing and the finished state. Starting twice does nothing.
  virtual void start();
  virtual void main() {}
  // Only sets the flag; the work is expected to check isCancelled().
  // Overrides must call this.
  virtual void cancel();

  // Runs once, on the thread that finishes the operation, before
  // waitUntilFinished() returns and before dependents become ready.
  void setCompletionBlock(std::function<void()> block);

  // REQUIRES: no dependency cycle.
  void addDependency(std::shared_ptr<Operation> operation);
  void removeDependency(const std::shared_ptr<Operation>& operation);
  std::vector<std::shared_ptr<Operation>> dependencies() const;

  // REQUIRES: not called from the work that finishes this operation.
  void waitUntilFinished() const;

  // "<ClassName: address>", for logs.
  virtual std::string description() const;

 protected:
  // Enters the executing state; false if the operation had started before.
  bool beginExecuting();
  // Enters the finished state, runs the completion block, wakes waiters,
  // dependents and the queue. False (and nothing happens) if the operation
  // had finished before.
  bool finish();

 private:
  friend class OperationQueue;

  // Finished and completion block returned.
  bool isDone() const;
  // The queue's hook; false if the operation is in a queue or has started.
  bool attachToQueue(std::function<void()> observer);
  void notifyStateChanged();

  mutable std::mutex mutex_;
  mutable std::condition_variable doneCondition_;
  bool cancelled_ = false;
  bool executing_ = false;
  bool finished_ = false;
  bool done_ = false;
  bool queued_ = false;
  std::function<void()> completionBlock_;
  std::vector<std::shared_ptr<Operation>> dependencies_;
  std::vector<std::weak_ptr<Operation>> dependents_;
  std::function<void()> queueObserver_;
};

}  // namespace qlt
