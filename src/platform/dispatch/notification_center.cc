#include "platform/dispatch/notification_center.h"

#include "platform/dispatch/main_queue.h"

namespace qlt {

NotificationCenter& NotificationCenter::defaultCenter() {
  // Never destroyed: posts queued on the main queue may still run at exit.
  static NotificationCenter& center = *new NotificationCenter;
  return center;
}

NotificationCenter::NotificationCenter() : observers_(std::make_shared<Observers>()) {}

NotificationCenter::~NotificationCenter() = default;

ObserverToken NotificationCenter::addObserver(const std::string& name, const void* object, Callback callback) {
  return observers_->add({name, object}, std::move(callback));
}

void NotificationCenter::removeObserver(ObserverToken token) { observers_->remove(token); }

void NotificationCenter::deliver(Observers& observers, const Notification& notification) {
  observers.notify(
      [&](const Filter& filter) {
        return (filter.name.empty() || filter.name == notification.name) &&
               (!filter.object || filter.object == notification.object);
      },
      notification);
}

void NotificationCenter::post(const Notification& notification) { deliver(*observers_, notification); }

void NotificationCenter::post(const std::string& name, const void* object, std::map<std::string, std::any> userInfo) {
  post(Notification{name, object, std::move(userInfo)});
}

void NotificationCenter::postOnMainQueue(Notification notification) {
  std::weak_ptr<Observers> weak = observers_;
  dispatchMainAsync([weak, notification = std::move(notification)] {
    if (auto observers = weak.lock()) deliver(*observers, notification);
  });
}

void NotificationCenter::postOnMainQueue(const std::string& name, const void* object,
                                         std::map<std::string, std::any> userInfo) {
  postOnMainQueue(Notification{name, object, std::move(userInfo)});
}

}  // namespace qlt
