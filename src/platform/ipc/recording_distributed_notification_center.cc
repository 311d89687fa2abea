#include "platform/ipc/recording_distributed_notification_center.h"

namespace qlt {

bool RecordingDistributedNotificationCenter::post(const DistributedNotification& notification,
                                                  bool deliverImmediately, Error*) {
  {
    std::lock_guard lock(mutex_);
    records_.push_back({notification, deliverImmediately});
  }
  posted_.notify_all();
  deliver(observers_, notification);
  return true;
}

ObserverToken RecordingDistributedNotificationCenter::addObserver(const std::string& name, const std::string& object,
                                                                  Callback callback, Error*) {
  return observers_.add({name, object}, std::move(callback));
}

void RecordingDistributedNotificationCenter::removeObserver(ObserverToken token) { observers_.remove(token); }

std::vector<RecordingDistributedNotificationCenter::Record> RecordingDistributedNotificationCenter::notifications()
    const {
  std::lock_guard lock(mutex_);
  return records_;
}

std::vector<std::string> RecordingDistributedNotificationCenter::names() const {
  std::lock_guard lock(mutex_);
  std::vector<std::string> result;
  for (auto& record : records_) result.push_back(record.notification.name);
  return result;
}

bool RecordingDistributedNotificationCenter::waitForNotifications(size_t count,
                                                                  std::chrono::milliseconds timeout) const {
  std::unique_lock lock(mutex_);
  return posted_.wait_for(lock, timeout, [&] { return records_.size() >= count; });
}

void RecordingDistributedNotificationCenter::clear() {
  std::lock_guard lock(mutex_);
  records_.clear();
}

}  // namespace qlt
