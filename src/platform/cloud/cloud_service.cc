#include "platform/cloud/cloud_service.h"

namespace qlt {

const char* cloudDatabaseScopeName(CloudDatabaseScope scope) {
  return scope == CloudDatabaseScope::Private ? "private" : "shared";
}

void CloudCancellation::cancel() {
  {
    std::lock_guard lock(mutex_);
    cancelled_ = true;
  }
  condition_.notify_all();
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
