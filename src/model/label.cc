#include "model/label.h"

#include "platform/main_queue.h"
#include "platform/notification_center.h"
#include "store/library/library_manager.h"
#include "store/managed_object_context.h"

namespace qlt {

RGBA Label::color() const {
  auto component = [this](const char* key, double fallback) {
    Value value = valueForKey(key);
    return value.real() ? *value.real() : fallback;
  };
  return RGBA{component("red", 0), component("green", 0), component("blue", 0), component("alpha", 1)};
}

void Label::setColor(const RGBA& color) {
  setValueForKey("red", color.red);
  setValueForKey("green", color.green);
  setValueForKey("blue", color.blue);
  setValueForKey("alpha", color.alpha);
  ObjectID id = objectID();
  dispatchMainAsync([id] {
    auto container = LibraryManager::sharedManager()->container();
    if (!container || !container->isLoaded()) return;
    ManagedObjectPtr label = container->viewContext().existingObjectWithID(id);
    if (!label || label->valueForKey("library").isNull()) return;
    NotificationCenter::defaultCenter().post(kLabelColorDidChangeNotification, label.get());
  });
}

}  // namespace qlt
