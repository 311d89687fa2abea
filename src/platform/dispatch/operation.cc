#include "platform/dispatch/operation.h"

#include <cxxabi.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <typeinfo>

namespace qlt {

bool Operation::isCancelled() const {
  std::lock_guard lock(mutex_);
  return cancelled_;
}

bool Operation::isExecuting() const {
  std::lock_guard lock(mutex_);
  return executing_;
}

bool Operation::isFinished() const {
  std::lock_guard lock(mutex_);
  return finished_;
}

bool Operation::isDone() const {
  std::lock_guard lock(mutex_);
  return done_;
}

bool Operation::isReady() const {
  std::vector<std::shared_ptr<Operation>> dependencies;
  {
    std::lock_guard lock(mutex_);
    if (cancelled_) return true;
    dependencies = dependencies_;
  }
  return std::all_of(dependencies.begin(), dependencies.end(), [](auto& d) { return d->isDone(); });
}

void Operation::start() {
  if (isCancelled()) {
    finish();
    return;
  }
  if (!beginExecuting()) return;
  main();
  finish();
}

void Operation::cancel() {
  {
    std::lock_guard lock(mutex_);
    if (cancelled_ || finished_) return;
    cancelled_ = true;
  }
  notifyStateChanged();
}

void Operation::setCompletionBlock(std::function<void()> block) {
  std::lock_guard lock(mutex_);
  completionBlock_ = std::move(block);
}

void Operation::addDependency(std::shared_ptr<Operation> operation) {
  if (!operation || operation.get() == this) return;
  {
    std::lock_guard lock(operation->mutex_);
    operation->dependents_.push_back(weak_from_this());
  }
  std::lock_guard lock(mutex_);
  if (std::find(dependencies_.begin(), dependencies_.end(), operation) == dependencies_.end())
    dependencies_.push_back(std::move(operation));
}

void Operation::removeDependency(const std::shared_ptr<Operation>& operation) {
  {
    std::lock_guard lock(mutex_);
    auto found = std::find(dependencies_.begin(), dependencies_.end(), operation);
    if (found == dependencies_.end()) return;
    dependencies_.erase(found);
  }
  notifyStateChanged();
}

std::vector<std::shared_ptr<Operation>> Operation::dependencies() const {
  std::lock_guard lock(mutex_);
  return dependencies_;
}

void Operation::waitUntilFinished() const {
  std::unique_lock lock(mutex_);
  doneCondition_.wait(lock, [&] { return done_; });
}

std::string Operation::description() const {
  const char* mangled = typeid(*this).name();
  int status = 0;
  char* demangled = abi::__cxa_demangle(mangled, nullptr, nullptr, &status);
  std::string name = status == 0 && demangled ? demangled : mangled;
  std::free(demangled);
  char address[32];
  std::snprintf(address, sizeof address, "%p", static_cast<const void*>(this));
  return "<" + name + ": " + address + ">";
}

bool Operation::beginExecuting() {
  std::lock_guard lock(mutex_);
  if (executing_ || finished_) return false;
  executing_ = true;
  return true;
}

bool Operation::finish() {
  // Waiters woken below may drop their references meanwhile.
  auto self = weak_from_this().lock();
  std::function<void()> completion;
  std::vector<std::weak_ptr<Operation>> dependents;
  {
    std::lock_guard lock(mutex_);
    if (finished_) return false;
    executing_ = false;
    finished_ = true;
    completion = std::move(completionBlock_);
    completionBlock_ = nullptr;
    dependents.swap(dependents_);
  }
  if (completion) completion();
  completion = nullptr;
  {
    std::lock_guard lock(mutex_);
    done_ = true;
    doneCondition_.notify_all();
  }
  for (auto& weak : dependents) {
    if (auto dependent = weak.lock()) dependent->notifyStateChanged();
  }
  notifyStateChanged();
  return true;
}

bool Operation::attachToQueue(std::function<void()> observer) {
  std::lock_guard lock(mutex_);
  if (queued_ || executing_ || finished_) return false;
  queued_ = true;
  queueObserver_ = std::move(observer);
  return true;
}

void Operation::notifyStateChanged() {
  std::function<void()> observer;
  {
    std::lock_guard lock(mutex_);
    observer = queueObserver_;
  }
  if (observer) observer();
}

}  // namespace qlt
