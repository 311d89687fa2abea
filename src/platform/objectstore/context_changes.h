#pragma once

#include <vector>

#include "platform/objectstore/managed_object.h"
#include "platform/objectstore/object_id.h"

namespace qlt {

inline constexpr const char* kContextWillSaveNotification = "NSManagedObjectContextWillSaveNotification";
inline constexpr const char* kContextDidSaveNotification = "NSManagedObjectContextDidSaveNotification";
// Posted by a container, from any thread, when another process (or another
// container on the same file) committed to its store.
inline constexpr const char* kStoreRemoteChangeNotification = "NSPersistentStoreRemoteChangeNotification";
// The user-info key of the two context notifications; its value is a
// ContextChanges. The notification's object is the context.
inline constexpr const char* kContextChangesKey = "changes";

// The objects a save wrote (or is about to write). The objects are only for
// the saving context's queue; other contexts use the IDs.
struct ContextChanges {
  std::vector<ObjectID> inserted;
  std::vector<ObjectID> updated;
  std::vector<ObjectID> deleted;
  std::vector<ManagedObjectPtr> insertedObjects;
  std::vector<ManagedObjectPtr> updatedObjects;
  std::vector<ManagedObjectPtr> deletedObjects;

  bool empty() const { return inserted.empty() && updated.empty() && deleted.empty(); }
};

}  // namespace qlt
