#pragma once

#include <memory>
#include <vector>

#include "model/model_classes.h"
#include "store/library_fixture.h"
#include "platform/objectstore/managed_object_context.h"

namespace qlt {

// Registers the model's classes before the library below it opens.
struct ModelClassesRegistered {
  ModelClassesRegistered() { registerLibraryModelClasses(); }
};

// A library manager, with the model's classes registered, loaded on a fresh
// group container, and a background context.
class ModelFixture : private ModelClassesRegistered, public LibraryFixture {
 public:
  ModelFixture() : LibraryFixture(libraryModelDelegate()), context(manager->newBackgroundContext()) {}

  // `object` as read by a new background context.
  template <typename T>
  std::shared_ptr<T> reread(const ManagedObjectPtr& object) {
    contexts_.push_back(manager->newBackgroundContext());
    return std::dynamic_pointer_cast<T>(contexts_.back()->existingObjectWithID(object->objectID()));
  }

  std::shared_ptr<ManagedObjectContext> context;

 private:
  std::vector<std::shared_ptr<ManagedObjectContext>> contexts_;
};

}  // namespace qlt
