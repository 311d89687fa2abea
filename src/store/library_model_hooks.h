#pragma once

#include <functional>

#include "platform/foundation/error.h"
#include "platform/objectstore/managed_object.h"

namespace qlt {

class ManagedObjectContext;

// What the library manager needs from the folder and tag model, which sits
// above it; installed once by that model. Missing hooks are skipped.
struct LibraryModelHooks {
  // Whether a folder's directory exists on disk, and creating it.
  std::function<bool(const ManagedObjectPtr& folder)> folderExists;
  std::function<bool(const ManagedObjectPtr& folder, Error* error)> createFolder;
  // Brings a folder's cached order of children up to date after a merge.
  std::function<void(const ManagedObjectPtr& folder)> updateOrderedChildren;
  // Merges tags whose names are equal.
  std::function<void(ManagedObjectContext& context)> consolidateDuplicateTagNames;

  static LibraryModelHooks& installed();
};

}  // namespace qlt
