#include "store/main_thread_notification.h"

#include "platform/objectstore/managed_object_context.h"
#include "platform/dispatch/notification_center.h"
#include "store/library_manager.h"

namespace qlt {

void postWithMainThreadObject(std::string name, ObjectID id, std::function<bool(const ManagedObject&)> accept) {
  auto manager = LibraryManager::sharedManager();
  auto container = manager ? manager->container() : nullptr;
  if (!container || !container->isLoaded()) return;
  // The view context's queue is the main queue: on the main thread this
  // runs inline, elsewhere the poster waits for it.
  ManagedObjectContext& mainContext = container->viewContext();
  mainContext.performAndWait([&] {
    ManagedObjectPtr object = mainContext.existingObjectWithID(id);
    if (!object || (accept && !accept(*object))) return;
    NotificationCenter::defaultCenter().post(name, object.get());
  });
}

}  // namespace qlt
