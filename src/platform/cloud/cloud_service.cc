#include "platform/cloud/cloud_service.h"

namespace qlt {

const char* cloudDatabaseScopeName(CloudDatabaseScope scope) {
  return scope == CloudDatabaseScope::Private ? "private" : "shared";
}

void CloudCancellation::cancel() {
  {
    std::lock_guard lock(mutex_);
    if (cancelled_) return;
    cancelled_ = true;
  }
  condition_.notify_all();
  std::lock_guard lock(observersMutex_);
  for (auto& [key, observer] : observers_) observer();
  observers_.clear();
}

std::shared_ptr<void> CloudCancellation::observe(std::function<void()> onCancel) const {
  std::lock_guard lock(observersMutex_);
  if (isCancelled()) {
    onCancel();
    return nullptr;
  }
  int key = nextObserver_++;
  observers_.emplace(key, std::move(onCancel));
  return std::shared_ptr<void>(nullptr, [this, key](void*) {
    std::lock_guard lock(observersMutex_);
    observers_.erase(key);
  });
}

bool CloudCancellation::isCancelled() const {
  std::lock_guard lock(mutex_);
  return cancelled_;
}

bool CloudCancellation::waitFor(std::chrono::milliseconds duration) const {
  std::unique_lock lock(mutex_);
  return condition_.wait_for(lock, duration, [this] { return cancelled_; });
}

void CloudCancellation::wait() const {
  std::unique_lock lock(mutex_);
  condition_.wait(lock, [this] { return cancelled_; });
}

}  // namespace qlt
