#pragma once

#include <any>
#include <functional>
#include <map>
#include <memory>
#include <string>

#include "platform/foundation/observer_list.h"

namespace qlt {

// `object` only identifies the sender (usually `this` of the poster); it is
// compared, never dereferenced by the center.
struct Notification {
  std::string name;
  const void* object = nullptr;
  std::map<std::string, std::any> userInfo;

  // The user-info value under `key` if it holds a T, else nullptr.
  template <typename T>
  const T* userInfoValue(const std::string& key) const {
    auto found = userInfo.find(key);
    return found == userInfo.end() ? nullptr : std::any_cast<T>(&found->second);
  }
};

// In-process notifications. An observer receives the notifications that
// match its name (an empty name matches every name) and its object (a null
// object matches every object). Thread-safe; callbacks run on the posting
// thread and may add or remove observers.
class NotificationCenter {
 public:
  using Callback = std::function<void(const Notification&)>;

  static NotificationCenter& defaultCenter();

  NotificationCenter();
  ~NotificationCenter();
  NotificationCenter(const NotificationCenter&) = delete;
  NotificationCenter& operator=(const NotificationCenter&) = delete;

  ObserverToken addObserver(const std::string& name, const void* object, Callback callback);
  // Once this returns the callback is not called again, also when it is
  // running right now on another thread; from inside the callback itself it
  // returns at once.
  void removeObserver(ObserverToken token);

  // Delivers synchronously to every matching observer.
  void post(const Notification& notification);
  void post(const std::string& name, const void* object = nullptr, std::map<std::string, std::any> userInfo = {});

  // Delivers asynchronously on the main queue. Nothing is delivered if the
  // center is destroyed first.
  void postOnMainQueue(Notification notification);
  void postOnMainQueue(const std::string& name, const void* object = nullptr,
                       std::map<std::string, std::any> userInfo = {});

 private:
  struct Filter {
    std::string name;
    const void* object = nullptr;
  };
  using Observers = ObserverList<Filter, Notification>;

  static void deliver(Observers& observers, const Notification& notification);

  std::shared_ptr<Observers> observers_;
};

}  // namespace qlt
