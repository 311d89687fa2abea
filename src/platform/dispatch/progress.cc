#include "platform/dispatch/progress.h"

#include <algorithm>

namespace qlt {

int64_t Progress::totalUnitCount() const {
  std::lock_guard lock(mutex_);
  return total_;
}

void Progress::setTotalUnitCount(int64_t count) {
  {
    std::lock_guard lock(mutex_);
    total_ = count;
  }
  completeIfFinished();
}

int64_t Progress::completedUnitCount() const {
  std::lock_guard lock(mutex_);
  return completed_;
}

void Progress::setCompletedUnitCount(int64_t count) {
  {
    std::lock_guard lock(mutex_);
    completed_ = count;
  }
  completeIfFinished();
}

double Progress::fractionCompleted() const {
  int64_t total, completed;
  std::vector<Child> children;
  {
    std::lock_guard lock(mutex_);
    total = total_;
    completed = completed_;
    children = children_;
  }
  if (total <= 0 || completed < 0) return 0;
  double units = static_cast<double>(completed);
  for (auto& child : children)
    units += static_cast<double>(child.pendingUnitCount) * std::clamp(child.progress->fractionCompleted(), 0.0, 1.0);
  return units / static_cast<double>(total);
}

bool Progress::isIndeterminate() const {
  std::lock_guard lock(mutex_);
  return total_ < 0 || completed_ < 0 || (total_ == 0 && completed_ == 0);
}

bool Progress::isFinished() const {
  std::lock_guard lock(mutex_);
  return total_ > 0 && completed_ >= total_;
}

bool Progress::isCancellable() const {
  std::lock_guard lock(mutex_);
  return cancellable_;
}

void Progress::setCancellable(bool cancellable) {
  std::lock_guard lock(mutex_);
  cancellable_ = cancellable;
}

bool Progress::isCancelled() const {
  std::lock_guard lock(mutex_);
  return cancelled_;
}

void Progress::cancel() {
  std::function<void()> handler;
  std::vector<Child> children;
  {
    std::lock_guard lock(mutex_);
    if (cancelled_) return;
    cancelled_ = true;
    handler = cancellationHandler_;
    children = children_;
  }
  if (handler) handler();
  for (auto& child : children) child.progress->cancel();
}

void Progress::setCancellationHandler(std::function<void()> handler) {
  {
    std::lock_guard lock(mutex_);
    cancellationHandler_ = std::move(handler);
    if (!cancelled_) return;
    handler = cancellationHandler_;
  }
  if (handler) handler();
}

void Progress::addChild(std::shared_ptr<Progress> child, int64_t pendingUnitCount) {
  if (!child || child.get() == this) return;
  {
    std::lock_guard lock(child->mutex_);
    child->parent_ = weak_from_this();
  }
  bool cancelled;
  {
    std::lock_guard lock(mutex_);
    children_.push_back({child, pendingUnitCount});
    cancelled = cancelled_;
  }
  if (cancelled) child->cancel();
  child->completeIfFinished();
}

void Progress::completeIfFinished() {
  std::shared_ptr<Progress> parent;
  {
    std::lock_guard lock(mutex_);
    if (total_ <= 0 || completed_ < total_) return;
    parent = parent_.lock();
    parent_.reset();
  }
  if (parent) parent->childFinished(this);
}

void Progress::childFinished(const Progress* child) {
  std::shared_ptr<Progress> released;
  {
    std::lock_guard lock(mutex_);
    auto found = std::find_if(children_.begin(), children_.end(), [&](auto& c) { return c.progress.get() == child; });
    if (found == children_.end()) return;
    completed_ += found->pendingUnitCount;
    released = std::move(found->progress);
    children_.erase(found);
  }
  completeIfFinished();
}

std::string Progress::localizedDescription() const {
  std::lock_guard lock(mutex_);
  return localizedDescription_;
}

void Progress::setLocalizedDescription(std::string text) {
  std::lock_guard lock(mutex_);
  localizedDescription_ = std::move(text);
}

}  // namespace qlt
