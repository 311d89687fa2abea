#pragma once

#include <functional>
#include <memory>
#include <string>

#include "platform/foundation/error.h"
#include "platform/foundation/observer_list.h"
#include "platform/foundation/property_list.h"

namespace qlt {

struct DistributedNotification {
  std::string name;
  // Identifies the sender, e.g. a domain identifier; empty when none.
  std::string object;
  PropertyListDictionary userInfo;

  bool operator==(const DistributedNotification&) const = default;
};

// Notifications between processes of the user. An observer receives the
// notifications that match its name (an empty name matches every name) and
// its object (an empty object matches every object), those posted by its own
// process included.
class DistributedNotificationCenter {
 public:
  using Callback = std::function<void(const DistributedNotification&)>;

  // The center the process uses. Unless another one was set, a
  // LocalDistributedNotificationCenter on the default folder, created on
  // first use.
  static std::shared_ptr<DistributedNotificationCenter> shared();
  // Replaces the shared center; nullptr brings back the default one.
  static void setShared(std::shared_ptr<DistributedNotificationCenter> center);

  virtual ~DistributedNotificationCenter() = default;

  bool postNotification(const std::string& name, const std::string& object = {},
                        const PropertyListDictionary& userInfo = {}, bool deliverImmediately = true,
                        Error* error = nullptr);

  // Fails when the notification cannot be sent at all; observers that
  // vanished do not make it fail.
  [[nodiscard]] virtual bool post(const DistributedNotification& notification, bool deliverImmediately, Error* error) = 0;
  // Returns 0 when the center cannot receive notifications.
  virtual ObserverToken addObserver(const std::string& name, const std::string& object, Callback callback,
                                    Error* error) = 0;
  ObserverToken addObserver(const std::string& name, const std::string& object, Callback callback) {
    return addObserver(name, object, std::move(callback), nullptr);
  }
  // Once this returns the callback is not called again.
  virtual void removeObserver(ObserverToken token) = 0;

 protected:
  struct Filter {
    std::string name;
    std::string object;
    bool matches(const DistributedNotification& notification) const {
      return (name.empty() || name == notification.name) && (object.empty() || object == notification.object);
    }
  };
  using Observers = ObserverList<Filter, DistributedNotification>;

  static void deliver(Observers& observers, const DistributedNotification& notification) {
    observers.notify([&](const Filter& filter) { return filter.matches(notification); }, notification);
  }
};

}  // namespace qlt
