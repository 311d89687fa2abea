#include "platform/ipc/distributed_notification_center.h"

#include <mutex>
#include <utility>

#include "platform/ipc/local_distributed_notification_center.h"

namespace qlt {

namespace {

struct SharedCenter {
  std::mutex mutex;
  std::shared_ptr<DistributedNotificationCenter> center;
};

SharedCenter& sharedCenter() {
  static auto& shared = *new SharedCenter;
  return shared;
}

}  // namespace

std::shared_ptr<DistributedNotificationCenter> DistributedNotificationCenter::shared() {
  auto& shared = sharedCenter();
  std::lock_guard lock(shared.mutex);
  if (!shared.center) shared.center = std::make_shared<LocalDistributedNotificationCenter>();
  return shared.center;
}

void DistributedNotificationCenter::setShared(std::shared_ptr<DistributedNotificationCenter> center) {
  std::shared_ptr<DistributedNotificationCenter> previous;
  auto& shared = sharedCenter();
  {
    std::lock_guard lock(shared.mutex);
    previous = std::exchange(shared.center, std::move(center));
  }
  // `previous` goes away outside the lock: its destructor may wait for
  // callbacks that use shared().
}

bool DistributedNotificationCenter::postNotification(const std::string& name, const std::string& object,
                                                     const PropertyListDictionary& userInfo,
                                                     bool deliverImmediately, Error* error) {
  return post(DistributedNotification{name, object, userInfo}, deliverImmediately, error);
}

}  // namespace qlt
