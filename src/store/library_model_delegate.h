#pragma once

#include "platform/foundation/error.h"
#include "platform/objectstore/managed_object.h"

namespace qlt {

class ManagedObjectContext;

// What the library manager asks of the folder and tag model, which sits above
// it. Whoever builds a manager hands one in; a manager without one leaves
// folder directories and tag names alone.
class LibraryModelDelegate {
 public:
  virtual ~LibraryModelDelegate() = default;

  // Whether a folder's directory exists on disk, and creating it.
  virtual bool folderExists(const ManagedObjectPtr& folder) = 0;
  [[nodiscard]] virtual bool createFolder(const ManagedObjectPtr& folder, Error* error) = 0;
  // Brings a folder's cached order of children up to date after a merge.
  virtual void updateOrderedChildren(const ManagedObjectPtr& folder) = 0;
  // Merges tags whose names are equal.
  virtual void consolidateDuplicateTagNames(ManagedObjectContext& context) = 0;
};

}  // namespace qlt
