#include "store/main_thread_notification.h"

#include "platform/dispatch/main_queue.h"
#include "platform/dispatch/notification_center.h"
#include "store/library_manager.h"

namespace qlt {

void postWithMainThreadObject(std::string name, ObjectID id, std::function<bool(const ManagedObject&)> accept) {
  dispatchMainAsync([name = std::move(name), id = std::move(id), accept = std::move(accept)] {
    auto manager = LibraryManager::sharedManager();
    auto container = manager ? manager->container() : nullptr;
    if (!container || !container->isLoaded()) return;
    ManagedObjectPtr object = container->viewContext().existingObjectWithID(id);
    if (!object || (accept && !accept(*object))) return;
    NotificationCenter::defaultCenter().post(name, object.get());
  });
}

}  // namespace qlt
