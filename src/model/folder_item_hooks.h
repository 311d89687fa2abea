#pragma once

#include <functional>

#include "platform/objectstore/managed_object.h"

namespace qlt {

// Item work that folders trigger but that lives with the item's cloud
// sharing, installed by the code that implements it. A missing hook is
// skipped.
struct FolderItemHooks {
  // Brings the item's per-user shared-item record in line with its folder;
  // called for each item a folder's items mutators added or removed.
  std::function<void(const ManagedObjectPtr& item)> updateCloudSharedItemForFolder;

  static FolderItemHooks& installed();
};

}  // namespace qlt
