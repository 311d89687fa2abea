#pragma once

#include <memory>
#include <vector>

#include "platform/objectstore/managed_object.h"
#include "platform/objectstore/predicate_evaluation.h"

namespace qlt {

// Presents a managed object (and, through its context, the objects its
// relationships lead to) to in-memory predicate evaluation. Objects reached
// along key paths stay alive as long as the root accessor.
// REQUIRES: used inside the object's context's queue.
class ManagedObjectAccessor final : public ObjectAccessor {
 public:
  explicit ManagedObjectAccessor(std::shared_ptr<const ManagedObject> object);

  ObjectID objectID() const override;
  Value valueForKey(const std::string& key) const override;
  const ObjectAccessor* objectForID(const ObjectID& id) const override;

 private:
  using Pool = std::vector<std::unique_ptr<ManagedObjectAccessor>>;
  ManagedObjectAccessor(std::shared_ptr<const ManagedObject> object, Pool* pool);

  std::shared_ptr<const ManagedObject> object_;
  std::unique_ptr<Pool> ownedPool_;  // the root's; reached objects live here
  Pool* pool_;
};

}  // namespace qlt
