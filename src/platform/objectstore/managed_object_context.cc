#include "platform/objectstore/fault_batch.h"
#include "platform/objectstore/managed_object_context.h"

#include <algorithm>

#include "platform/foundation/bundle.h"
#include "platform/foundation/contract.h"
#include "platform/foundation/log.h"
#include "platform/dispatch/main_queue.h"
#include "platform/objectstore/managed_object_classes.h"

namespace qlt {


ManagedObjectContext::ManagedObjectContext(std::shared_ptr<StoreCoordinator> coordinator, ConcurrencyType type)
    : coordinator_(std::move(coordinator)), type_(type) {
  if (type_ == ConcurrencyType::PrivateQueue) queue_ = std::make_unique<SerialQueue>("context");
}

ManagedObjectContext::~ManagedObjectContext() {
  queue_.reset();  // runs what is still queued
  for (auto& [id, entry] : registry_)
    if (auto object = entry.weak.lock()) object->context_ = nullptr;
}

std::string ManagedObjectContext::name() const {
  std::lock_guard lock(settingsMutex_);
  return name_;
}
void ManagedObjectContext::setName(std::string name) {
  std::lock_guard lock(settingsMutex_);
  name_ = std::move(name);
}
MergePolicy ManagedObjectContext::mergePolicy() const {
  std::lock_guard lock(settingsMutex_);
  return mergePolicy_;
}
void ManagedObjectContext::setMergePolicy(MergePolicy policy) {
  std::lock_guard lock(settingsMutex_);
  mergePolicy_ = policy;
}
double ManagedObjectContext::stalenessInterval() const {
  std::lock_guard lock(settingsMutex_);
  return stalenessInterval_;
}
void ManagedObjectContext::setStalenessInterval(double seconds) {
  std::lock_guard lock(settingsMutex_);
  stalenessInterval_ = seconds;
}
std::string ManagedObjectContext::transactionAuthor() const {
  std::lock_guard lock(settingsMutex_);
  return transactionAuthor_.empty() ? mainBundleIdentifier() : transactionAuthor_;
}
void ManagedObjectContext::setTransactionAuthor(std::string author) {
  std::lock_guard lock(settingsMutex_);
  transactionAuthor_ = std::move(author);
}

void ManagedObjectContext::perform(std::function<void()> block) {
  if (queue_)
    queue_->async(std::move(block));
  else
    dispatchMainAsync(std::move(block));
}

void ManagedObjectContext::performAndWait(const std::function<void()>& block) {
  if (queue_)
    queue_->sync(block);
  else
    dispatchMainSync(block);
}

bool ManagedObjectContext::isInsideQueue() const { return queue_ ? queue_->isCurrent() : isMainThread(); }

ManagedObjectPtr ManagedObjectContext::makeObject(const EntityDescription& entity, const ObjectID& id) {
  ManagedObjectPtr object;
  if (const auto& factory = coordinator_->factoryFor(entity)) object = factory();
  if (!object) object = std::make_shared<ManagedObject>();
  object->entity_ = &entity;
  object->id_ = id;
  object->context_ = this;
  object->slots_.assign(entity.allProperties().size(), ManagedObject::Slot{});
  if (registry_.size() >= sweepThreshold_) sweepRegistry();
  registry_[id] = Entry{object, nullptr};
  return object;
}

void ManagedObjectContext::sweepRegistry() {
  for (auto it = registry_.begin(); it != registry_.end();) {
    if (!it->second.strong && it->second.weak.expired())
      it = registry_.erase(it);
    else
      ++it;
  }
  sweepThreshold_ = std::max<size_t>(1024, registry_.size() * 2);
}

ManagedObjectPtr ManagedObjectContext::registeredObject(const ObjectID& id) const {
  auto found = registry_.find(id);
  if (found == registry_.end()) return nullptr;
  return found->second.strong ? found->second.strong : found->second.weak.lock();
}

ManagedObjectPtr ManagedObjectContext::objectWithID(const ObjectID& id) {
  QLT_REQUIRE(isInsideQueue(), "inside the context's queue");
  if (auto object = registeredObject(id)) return object;
  if (id.storeIdentifier != coordinator_->store().identifier() || id.isNull()) return nullptr;
  const EntityDescription* entity = coordinator_->model().entity(id.entityName);
  if (!entity) return nullptr;
  return makeObject(*entity, id);
}

ManagedObjectPtr ManagedObjectContext::existingObjectWithID(const ObjectID& id, Error* error) {
  QLT_REQUIRE(isInsideQueue(), "inside the context's queue");
  ManagedObjectPtr object = registeredObject(id);
  if (object && (!object->isFault() || object->isInserted())) return object;
  if (id.storeIdentifier == coordinator_->store().identifier() && coordinator_->model().entity(id.entityName)) {
    std::map<ObjectID, StoredRow> rows;
    Error readError;
    bool read;
    {
      std::lock_guard lock(coordinator_->mutex());
      read = coordinator_->readRows({id}, &rows, &readError);
    }
    if (!read) {
      setError(error, readError);
      return nullptr;
    }
    auto found = rows.find(id);
    if (found != rows.end() && found->second.id.entityName == id.entityName) return registerRow(std::move(found->second));
  }
  setError(error, Error(kCocoaErrorDomain, kManagedObjectReferentialIntegrityError,
                        formatString("No object with ID %@ exists in the store.", id.uriRepresentation())));
  return nullptr;
}

std::optional<ObjectID> ManagedObjectContext::objectIDForURIRepresentation(const std::string& uri) const {
  auto id = ObjectID::fromURIRepresentation(uri);
  if (!id || id->storeIdentifier != coordinator_->store().identifier() ||
      !coordinator_->model().entity(id->entityName))
    return std::nullopt;
  return id;
}

ManagedObjectPtr ManagedObjectContext::registerRow(StoredRow row) {
  bool filled = false;
  ManagedObjectPtr object = adoptRow(row, &filled);
  if (filled) object->awakeFromFetch();
  return object;
}

ManagedObjectPtr ManagedObjectContext::adoptRow(StoredRow& row, bool* filled) {
  *filled = false;
  ManagedObjectPtr object = registeredObject(row.id);
  if (!object) {
    const EntityDescription* entity = row.entity ? row.entity : coordinator_->model().entity(row.id.entityName);
    if (!entity) return nullptr;
    object = makeObject(*entity, row.id);
  }
  if (object->fault_) {
    applyRow(*object, row, false);
    *filled = true;
  }
  return object;
}

void ManagedObjectContext::applyRow(ManagedObject& object, StoredRow& row, bool keepChanges) {
  const auto& properties = object.entity_->allProperties();
  for (size_t i = 0; i < properties.size() && i < row.values.size(); ++i) {
    ManagedObject::Slot& slot = object.slots_[i];
    bool toMany = properties[i]->isRelationship() &&
                  static_cast<const RelationshipDescription*>(properties[i])->isToMany();
    if (toMany) {
      // Loaded on their own: changed ones stay, unchanged ones are read
      // again when next used.
      if (!slot.changed) {
        auto deferred = std::move(slot.deferred);
        slot = ManagedObject::Slot{};
        slot.deferred = std::move(deferred);
      }
      continue;
    }
    if (properties[i]->isTransient()) {
      slot.loaded = true;
      continue;
    }
    if (!keepChanges || !slot.changed) {
      slot.current = std::move(row.values[i]);
      if (!slot.committed.isNull()) slot.committed = Value();
      slot.changed = false;
    } else {
      slot.committed = std::move(row.values[i]);
      slot.changed = !slot.current.isIdenticalTo(slot.committed);
    }
    slot.loaded = true;
  }
  object.version_ = row.version;
  object.fault_ = false;
}

void ManagedObjectContext::fulfillFault(const ManagedObject& object) {
  if (!object.fault_) return;
  std::vector<ObjectID> ids{object.id_};
  std::shared_ptr<FaultBatch> batch = object.batch_;
  if (batch) {
    for (const ObjectID& id : batch->ids) {
      if (id == object.id_) continue;
      auto other = registeredObject(id);
      if (other && other->fault_) ids.push_back(id);
    }
  }
  std::map<ObjectID, StoredRow> rows;
  Error error;
  bool read;
  {
    std::lock_guard lock(coordinator_->mutex());
    read = coordinator_->readRows(ids, &rows, &error);
  }
  if (!read) log("Could not read %@: %@", object.id_.uriRepresentation(), error.localizedDescription());
  for (const ObjectID& id : ids) {
    auto target = registeredObject(id);
    if (!target || !target->fault_) continue;
    target->batch_.reset();
    auto found = rows.find(id);
    if (found == rows.end()) {
      if (read && id == object.id_) log("Could not fulfill a fault for %@: the row is gone", id.uriRepresentation());
      if (id == object.id_) target->fault_ = false;
      continue;
    }
    applyRow(*target, found->second, false);
    target->awakeFromFetch();
  }
}

void ManagedObjectContext::loadToMany(const ManagedObject& object, int slotIndex) {
  ManagedObject::Slot& slot = object.slots_[slotIndex];
  if (slot.loaded) return;
  auto relationship = static_cast<const RelationshipDescription*>(object.entity_->allProperties()[slotIndex]);
  std::optional<std::vector<ObjectID>> ids;
  Error error;
  if (!object.inserted_) {
    std::lock_guard lock(coordinator_->mutex());
    ids = coordinator_->readToMany(object.id_, *relationship, &error);
  }
  if (!ids && !object.inserted_)
    log("Could not read %@ of %@: %@", relationship->name(), object.id_.uriRepresentation(),
        error.localizedDescription());
  ValueList list;
  if (ids)
    for (ObjectID& id : *ids) list.emplace_back(std::move(id));
  slot.committed = Value(list);
  for (const auto& [id, added] : slot.deferred) {
    auto found = std::find(list.begin(), list.end(), Value(id));
    if (added && found == list.end()) list.emplace_back(id);
    if (!added && found != list.end()) list.erase(found);
  }
  slot.deferred.clear();
  slot.changed = !Value(list).isIdenticalTo(slot.committed);
  slot.current = Value(std::move(list));
  slot.loaded = true;
}

void ManagedObjectContext::objectDidChange(ManagedObject& object) {
  QLT_REQUIRE(isInsideQueue(), "inside the context's queue");
  auto found = registry_.find(object.id_);
  if (found == registry_.end()) return;
  if (!found->second.strong) retain(object.shared_from_this());
}

ManagedObjectPtr ManagedObjectContext::insertNewObject(const std::string& entityName, Error* error) {
  QLT_REQUIRE(isInsideQueue(), "inside the context's queue");
  const EntityDescription* entity = coordinator_->model().entity(entityName);
  if (!entity || entity->isAbstract()) {
    setError(error, Error(kCocoaErrorDomain, kManagedObjectValidationError,
                          formatString("Cannot insert an object of entity %@.", entityName)));
    return nullptr;
  }
  std::optional<int64_t> key;
  {
    std::lock_guard lock(coordinator_->mutex());
    key = coordinator_->store().allocatePrimaryKeys(*entity, 1, error);
  }
  if (!key) return nullptr;
  ManagedObjectPtr object = makeObject(*entity, coordinator_->store().objectID(*entity, *key));
  object->fault_ = false;
  object->inserted_ = true;
  const auto& properties = entity->allProperties();
  for (size_t i = 0; i < properties.size(); ++i) {
    ManagedObject::Slot& slot = object->slots_[i];
    slot.loaded = true;
    if (properties[i]->isAttribute()) {
      slot.current = static_cast<const AttributeDescription*>(properties[i])->defaultValue();
      slot.changed = !slot.current.isNull();
    } else if (static_cast<const RelationshipDescription*>(properties[i])->isToMany()) {
      slot.current = slot.committed = Value(ValueList{});
    }
  }
  retain(object);
  object->awakeFromInsert();
  return object;
}

void ManagedObjectContext::deleteObjects(const std::vector<ManagedObjectPtr>& objects) {
  for (const auto& object : objects) deleteObject(object);
}

void ManagedObjectContext::deleteObject(const ManagedObjectPtr& object) {
  QLT_REQUIRE(isInsideQueue(), "inside the context's queue");
  if (!object || object->context_ != this || object->deleted_) return;
  deleteRecursively(object);
}

void ManagedObjectContext::deleteRecursively(const ManagedObjectPtr& object) {
  if (object->fault_) fulfillFault(*object);
  object->deleted_ = true;
  retain(object);
  object->prepareForDeletion();
  const auto& properties = object->entity_->allProperties();
  for (size_t i = 0; i < properties.size(); ++i) {
    if (!properties[i]->isRelationship()) continue;
    auto relationship = static_cast<const RelationshipDescription*>(properties[i]);
    if (relationship->deleteRule() == DeleteRule::Deny || relationship->deleteRule() == DeleteRule::NoAction)
      continue;
    Value value = object->slot(static_cast<int>(i)).current;
    std::vector<ObjectID> destinations;
    if (const ObjectID* id = value.objectID()) destinations.push_back(*id);
    if (const ValueList* list = value.collection())
      for (const Value& element : *list)
        if (element.objectID()) destinations.push_back(*element.objectID());
    const RelationshipDescription* inverse = relationship->inverseRelationship();
    for (const ObjectID& id : destinations) {
      ManagedObjectPtr destination = objectWithID(id);
      if (!destination || destination->deleted_) continue;
      if (relationship->deleteRule() == DeleteRule::Cascade) {
        deleteRecursively(destination);
      } else if (inverse) {
        int inverseIndex = destination->slotIndex(inverse->name());
        if (inverseIndex < 0) continue;
        if (inverse->isToMany())
          destination->removeFromToMany(inverseIndex, object->id_, false);
        else if (auto current = destination->slot(inverseIndex).current.objectID(); current && *current == object->id_)
          destination->changeSlot(inverseIndex, Value(), false);
      }
    }
  }
  if (object->inserted_) forget(*object);
}

void ManagedObjectContext::forget(ManagedObject& object) {
  retained_.erase(object.id_);
  registry_.erase(object.id_);
  object.context_ = nullptr;
}

void ManagedObjectContext::retain(const ManagedObjectPtr& object) {
  registry_[object->id_].strong = object;
  retained_.insert(object->id_);
}

void ManagedObjectContext::release(const ManagedObject& object) {
  auto found = registry_.find(object.id_);
  if (found == registry_.end()) return;
  found->second.strong = nullptr;
  retained_.erase(object.id_);
}

std::vector<ManagedObjectPtr> ManagedObjectContext::changedObjects() const {
  std::vector<ManagedObjectPtr> objects;
  for (const ObjectID& id : retained_) {
    const ManagedObjectPtr& object = registry_.at(id).strong;
    if (object->hasChanges()) objects.push_back(object);
  }
  std::sort(objects.begin(), objects.end(), [](const ManagedObjectPtr& a, const ManagedObjectPtr& b) {
    if (a->id_.primaryKey != b->id_.primaryKey) return a->id_.primaryKey < b->id_.primaryKey;
    return a->id_ < b->id_;
  });
  return objects;
}

bool ManagedObjectContext::hasChanges() const {
  for (const ObjectID& id : retained_)
    if (registry_.at(id).strong->hasChanges()) return true;
  return false;
}

std::vector<ManagedObjectPtr> ManagedObjectContext::changedObjectsWhere(bool (ManagedObject::*test)() const) const {
  std::vector<ManagedObjectPtr> result;
  for (auto& object : changedObjects())
    if (((*object).*test)()) result.push_back(object);
  return result;
}

std::vector<ManagedObjectPtr> ManagedObjectContext::insertedObjects() const {
  return changedObjectsWhere(&ManagedObject::isInserted);
}

std::vector<ManagedObjectPtr> ManagedObjectContext::updatedObjects() const {
  return changedObjectsWhere(&ManagedObject::isUpdated);
}

std::vector<ManagedObjectPtr> ManagedObjectContext::deletedObjects() const {
  return changedObjectsWhere(&ManagedObject::isDeleted);
}

void ManagedObjectContext::rollback() {
  std::vector<ManagedObjectPtr> objects;
  for (const ObjectID& id : retained_) objects.push_back(registry_.at(id).strong);
  for (const auto& object : objects) {
    if (object->inserted_) {
      forget(*object);
      continue;
    }
    object->deleted_ = false;
    for (auto& slot : object->slots_) {
      slot.deferred.clear();
      if (!slot.changed) continue;
      slot.current = slot.committed;
      slot.changed = false;
    }
    release(*object);
  }
}

void ManagedObjectContext::reset() {
  for (auto& [id, entry] : registry_) {
    ManagedObjectPtr object = entry.strong ? entry.strong : entry.weak.lock();
    if (object) object->context_ = nullptr;
  }
  registry_.clear();
  retained_.clear();
}

void ManagedObjectContext::refreshObject(const ManagedObjectPtr& object, bool mergeChanges) {
  if (!object || object->context_ != this || object->inserted_) return;
  if (!mergeChanges || !object->hasChanges()) {
    object->deleted_ = false;
    for (auto& slot : object->slots_) slot = ManagedObject::Slot{};
    object->fault_ = true;
    release(*object);
    return;
  }
  std::map<ObjectID, StoredRow> rows;
  Error error;
  bool read;
  {
    std::lock_guard lock(coordinator_->mutex());
    read = coordinator_->readRows({object->id_}, &rows, &error);
  }
  if (!read) {
    log("Could not refresh %@: %@", object->id_.uriRepresentation(), error.localizedDescription());
    return;
  }
  auto found = rows.find(object->id_);
  if (found == rows.end()) {
    forget(*object);
    return;
  }
  applyRow(*object, found->second, true);
  if (!object->hasChanges()) release(*object);
}

void ManagedObjectContext::refreshAllObjects() {
  std::vector<ManagedObjectPtr> objects;
  for (auto& [id, entry] : registry_)
    if (auto object = entry.strong ? entry.strong : entry.weak.lock()) objects.push_back(std::move(object));
  for (const auto& object : objects) refreshObject(object, true);
}

void ManagedObjectContext::mergeChanges(const ContextChanges& changes) {
  for (const ObjectID& id : changes.deleted) {
    ManagedObjectPtr object = registeredObject(id);
    if (object && !object->inserted_) forget(*object);
  }
  for (const ObjectID& id : changes.updated) {
    ManagedObjectPtr object = registeredObject(id);
    if (object && !object->fault_) refreshObject(object, true);
  }
  // Relationships to many may have gained or lost members through the
  // other side; unchanged ones are read again when next used.
  std::vector<ManagedObjectPtr> objects;
  for (auto& [id, entry] : registry_)
    if (auto object = entry.strong ? entry.strong : entry.weak.lock()) objects.push_back(std::move(object));
  for (const auto& object : objects) {
    const auto& properties = object->entity_->allProperties();
    for (size_t i = 0; i < properties.size(); ++i) {
      ManagedObject::Slot& slot = object->slots_[i];
      if (!properties[i]->isRelationship() || slot.changed || object->inserted_) continue;
      if (static_cast<const RelationshipDescription*>(properties[i])->isToMany()) slot = ManagedObject::Slot{};
    }
  }
}

}  // namespace qlt
