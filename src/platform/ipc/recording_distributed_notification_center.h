#pragma once

#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <mutex>
#include <vector>

#include "platform/ipc/distributed_notification_center.h"

namespace qlt {

// Keeps every posted notification instead of sending it anywhere, and
// delivers it synchronously to its own observers. For substituting with
// DistributedNotificationCenter::setShared(). Thread-safe.
class RecordingDistributedNotificationCenter : public DistributedNotificationCenter {
 public:
  struct Record {
    DistributedNotification notification;
    bool deliverImmediately = true;
  };

  [[nodiscard]] bool post(const DistributedNotification& notification, bool deliverImmediately, Error* error) override;
  ObserverToken addObserver(const std::string& name, const std::string& object, Callback callback,
                            Error* error) override;
  using DistributedNotificationCenter::addObserver;
  void removeObserver(ObserverToken token) override;

  std::vector<Record> notifications() const;
  // The names of the notifications, in the order they were posted.
  std::vector<std::string> names() const;
  // Waits until at least `count` notifications were posted; false on timeout.
  bool waitForNotifications(size_t count, std::chrono::milliseconds timeout) const;
  void clear();

 private:
  mutable std::mutex mutex_;
  mutable std::condition_variable posted_;
  std::vector<Record> records_;
  Observers observers_;
};

}  // namespace qlt
