#include "platform/objectstore/managed_object_accessor.h"

#include "platform/objectstore/managed_object_context.h"

namespace qlt {

ManagedObjectAccessor::ManagedObjectAccessor(std::shared_ptr<const ManagedObject> object)
    : object_(std::move(object)), ownedPool_(std::make_unique<Pool>()), pool_(ownedPool_.get()) {}

ManagedObjectAccessor::ManagedObjectAccessor(std::shared_ptr<const ManagedObject> object, Pool* pool)
    : object_(std::move(object)), pool_(pool) {}

ObjectID ManagedObjectAccessor::objectID() const { return object_->objectID(); }

Value ManagedObjectAccessor::valueForKey(const std::string& key) const { return object_->valueForKey(key); }

const ObjectAccessor* ManagedObjectAccessor::objectForID(const ObjectID& id) const {
  ManagedObjectContext* context = object_->managedObjectContext();
  if (!context) return nullptr;
  ManagedObjectPtr object = context->objectWithID(id);
  if (!object) return nullptr;
  pool_->push_back(std::unique_ptr<ManagedObjectAccessor>(new ManagedObjectAccessor(object, pool_)));
  return pool_->back().get();
}

}  // namespace qlt
