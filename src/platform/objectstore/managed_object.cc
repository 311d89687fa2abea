#include "platform/objectstore/managed_object.h"

#include <algorithm>

#include "platform/foundation/log.h"
#include "platform/objectstore/key_path.h"
#include "platform/objectstore/managed_object_accessor.h"
#include "platform/objectstore/managed_object_context.h"

namespace qlt {
namespace {

const RelationshipDescription* relationshipAt(const EntityDescription& entity, int index) {
  const PropertyDescription* property = entity.allProperties()[index];
  return property->isRelationship() ? static_cast<const RelationshipDescription*>(property) : nullptr;
}

ValueList listOf(const Value& value) {
  const ValueList* list = value.collection();
  return list ? *list : ValueList{};
}


}  // namespace

bool ManagedObject::isUpdated() const {
  if (inserted_ || deleted_) return false;
  return std::any_of(slots_.begin(), slots_.end(),
                     [](const Slot& slot) { return slot.changed || !slot.deferred.empty(); });
}

int ManagedObject::slotIndex(const std::string& key) const { return entity_->propertyIndex(key); }

ManagedObject::Slot& ManagedObject::slot(int index) const {
  Slot& slot = slots_[index];
  if (!context_) return slot;
  const RelationshipDescription* relationship = relationshipAt(*entity_, index);
  if (relationship && relationship->isToMany()) {
    if (!slot.loaded) context_->loadToMany(*this, index);
  } else if (fault_) {
    context_->fulfillFault(*this);
  }
  return slots_[index];
}

Value ManagedObject::valueForKey(const std::string& key) const {
  int index = slotIndex(key);
  if (index < 0) return Value();
  const RelationshipDescription* relationship = relationshipAt(*entity_, index);
  const Slot& value = slot(index);
  if (relationship && relationship->isToMany() && value.current.isNull()) return Value(ValueList{});
  return value.current;
}

Value ManagedObject::valueForKeyPath(const std::string& keyPath) const {
  if (keyPath.find('.') == std::string::npos && keyPath.find('@') == std::string::npos)
    return valueForKey(keyPath);
  return qlt::valueForKeyPath(ManagedObjectAccessor(shared_from_this()), splitKeyPath(keyPath));
}

Value ManagedObject::committedValueForKey(const std::string& key) const {
  int index = slotIndex(key);
  if (index < 0 || inserted_) return Value();
  const Slot& stored = slot(index);
  return stored.changed ? stored.committed : stored.current;
}

std::map<std::string, Value> ManagedObject::changedValues() const {
  std::map<std::string, Value> values;
  for (size_t i = 0; i < slots_.size(); ++i)
    if (slots_[i].changed) values.emplace(entity_->allProperties()[i]->name(), slots_[i].current);
  return values;
}

void ManagedObject::setValueForKey(const std::string& key, Value value) {
  int index = slotIndex(key);
  if (index < 0) {
    log("Ignoring value for unknown key %@ of %@", key, entity_->name());
    return;
  }
  const PropertyDescription* property = entity_->allProperties()[index];
  if (property->isAttribute()) {
    auto coerced = static_cast<const AttributeDescription*>(property)->coerce(value);
    if (!coerced) {
      log("Ignoring value %@ of the wrong type for %@.%@", value.description(), entity_->name(), key);
      return;
    }
    changeSlot(index, std::move(*coerced), false);
    return;
  }
  auto relationship = static_cast<const RelationshipDescription*>(property);
  if (!relationship->isToMany()) {
    if (!value.isNull() && !value.objectID()) {
      log("Ignoring a non-object value for %@.%@", entity_->name(), key);
      return;
    }
    changeSlot(index, std::move(value), true);
    return;
  }
  const ValueList* list = value.collection();
  if (!value.isNull() && !list) {
    log("Ignoring a non-collection value for %@.%@", entity_->name(), key);
    return;
  }
  ValueList wanted;
  for (const Value& element : list ? *list : ValueList{})
    if (element.objectID() && std::find(wanted.begin(), wanted.end(), element) == wanted.end())
      wanted.push_back(element);
  for (const Value& element : listOf(slot(index).current))
    if (std::find(wanted.begin(), wanted.end(), element) == wanted.end())
      removeFromToMany(index, *element.objectID(), true);
  for (size_t i = 0; i < wanted.size(); ++i)
    addToToMany(index, *wanted[i].objectID(), relationship->isOrdered() ? std::optional<size_t>(i) : std::nullopt,
                true);
}

std::shared_ptr<ManagedObject> ManagedObject::objectForKey(const std::string& key) const {
  int index = slotIndex(key);
  if (index < 0 || !context_) return nullptr;
  const RelationshipDescription* relationship = relationshipAt(*entity_, index);
  if (!relationship || relationship->isToMany()) {
    Value value = valueForKey(key);
    return value.objectID() ? context_->objectWithID(*value.objectID()) : nullptr;
  }
  Slot& target = slot(index);
  const ObjectID* id = target.current.objectID();
  if (!id) return nullptr;
  if (target.owner && target.owner->context_ == context_ && target.owner->id_ == *id) return target.owner;
  ManagedObjectPtr object = context_->objectWithID(*id);
  const RelationshipDescription* inverse = relationship->inverseRelationship();
  target.owner = inverse && inverse->isToMany() ? object : nullptr;
  return object;
}

std::vector<std::shared_ptr<ManagedObject>> ManagedObject::objectsForKey(const std::string& key) const {
  std::vector<std::shared_ptr<ManagedObject>> objects;
  if (!context_) return objects;
  for (const Value& element : listOf(valueForKey(key)))
    if (element.objectID())
      if (auto object = context_->objectWithID(*element.objectID())) objects.push_back(std::move(object));
  return objects;
}

void ManagedObject::setObjectForKey(const std::string& key, const std::shared_ptr<ManagedObject>& object) {
  setValueForKey(key, object ? Value(object->objectID()) : Value());
}

void ManagedObject::setObjectsForKey(const std::string& key,
                                     const std::vector<std::shared_ptr<ManagedObject>>& objects) {
  ValueList ids;
  for (const auto& object : objects) ids.emplace_back(object->objectID());
  setValueForKey(key, Value(std::move(ids)));
}

void ManagedObject::addObjectForKey(const std::string& key, const std::shared_ptr<ManagedObject>& object) {
  int index = slotIndex(key);
  const RelationshipDescription* relationship = index < 0 ? nullptr : relationshipAt(*entity_, index);
  if (!object || !relationship || !relationship->isToMany()) return;
  addToToMany(index, object->objectID(), std::nullopt, true);
}

void ManagedObject::insertObjectForKey(const std::string& key, const std::shared_ptr<ManagedObject>& object,
                                       size_t position) {
  int index = slotIndex(key);
  const RelationshipDescription* relationship = index < 0 ? nullptr : relationshipAt(*entity_, index);
  if (!object || !relationship || !relationship->isToMany()) return;
  addToToMany(index, object->objectID(), position, true);
}

void ManagedObject::removeObjectForKey(const std::string& key, const std::shared_ptr<ManagedObject>& object) {
  int index = slotIndex(key);
  const RelationshipDescription* relationship = index < 0 ? nullptr : relationshipAt(*entity_, index);
  if (!object || !relationship || !relationship->isToMany()) return;
  removeFromToMany(index, object->objectID(), true);
}

void ManagedObject::changeSlot(int index, Value value, bool maintainInverse) {
  Slot& target = slot(index);
  if (target.current.isIdenticalTo(value)) return;
  Value old = std::move(target.current);
  if (!target.changed) target.committed = old;
  target.current = std::move(value);
  target.changed = inserted_ || !target.current.isIdenticalTo(target.committed);
  if (context_) context_->objectDidChange(*this);

  const RelationshipDescription* relationship = relationshipAt(*entity_, index);
  if (!maintainInverse || !relationship || !context_) return;
  const RelationshipDescription* inverse = relationship->inverseRelationship();
  if (!inverse) return;
  Value current = slots_[index].current;
  if (const ObjectID* oldID = old.objectID()) {
    if (auto destination = context_->objectWithID(*oldID)) {
      int inverseIndex = destination->slotIndex(inverse->name());
      if (inverseIndex >= 0) {
        if (inverse->isToMany())
          destination->removeFromToMany(inverseIndex, id_, false);
        else if (destination->slot(inverseIndex).current.isIdenticalTo(Value(id_)))
          destination->changeSlot(inverseIndex, Value(), false);
      }
    }
  }
  if (const ObjectID* newID = current.objectID()) {
    if (auto destination = context_->objectWithID(*newID)) {
      int inverseIndex = destination->slotIndex(inverse->name());
      if (inverseIndex >= 0) {
        if (inverse->isToMany())
          destination->addToToMany(inverseIndex, id_, std::nullopt, false);
        else
          destination->changeSlot(inverseIndex, Value(id_), true);
      }
    }
  }
}

bool ManagedObject::toManyContains(Slot& slot, const ObjectID& id) {
  constexpr size_t kIndexedFrom = 32;
  ValueList& list = slot.current.mutableCollection();
  if (list.size() < kIndexedFrom) {
    for (const Value& element : list)
      if (const ObjectID* member = element.objectID(); member && *member == id) return true;
    return false;
  }
  if (!slot.members || slot.indexed != &list || slot.members->size() != list.size()) {
    slot.members = std::make_shared<std::unordered_set<ObjectID>>();
    for (const Value& element : list)
      if (element.objectID()) slot.members->insert(*element.objectID());
    slot.indexed = &list;
  }
  return slot.members->count(id) > 0;
}

bool ManagedObject::deferInverseChange(int index, const ObjectID& id, bool added) {
  Slot& raw = slots_[index];
  if (!context_ || raw.loaded || inserted_ || relationshipAt(*entity_, index)->isOrdered()) return false;
  raw.deferred.emplace_back(id, added);
  context_->objectDidChange(*this);
  return true;
}

void ManagedObject::addToToMany(int index, const ObjectID& id, std::optional<size_t> position,
                                bool maintainInverse) {
  if (!maintainInverse && !position && deferInverseChange(index, id, true)) return;
  Slot& target = slot(index);
  if (!target.changed) target.committed = target.current;
  bool present = toManyContains(target, id);
  if (present && !position) return;
  ValueList& list = target.current.mutableCollection();
  Value element(id);
  if (present) {
    auto found = std::find(list.begin(), list.end(), element);
    if (static_cast<size_t>(found - list.begin()) == std::min(*position, list.size() - 1)) return;
    list.erase(found);
    if (target.members) target.members->erase(id);
  }
  size_t at = position ? std::min(*position, list.size()) : list.size();
  list.insert(list.begin() + static_cast<std::ptrdiff_t>(at), element);
  if (target.members && target.indexed == &list) target.members->insert(id);
  target.changed = true;
  if (context_) context_->objectDidChange(*this);

  const RelationshipDescription* relationship = relationshipAt(*entity_, index);
  const RelationshipDescription* inverse = relationship->inverseRelationship();
  if (!maintainInverse || present || !inverse || !context_) return;
  if (auto destination = context_->objectWithID(id)) {
    int inverseIndex = destination->slotIndex(inverse->name());
    if (inverseIndex < 0) return;
    if (inverse->isToMany())
      destination->addToToMany(inverseIndex, id_, std::nullopt, false);
    else
      destination->changeSlot(inverseIndex, Value(id_), true);
  }
}

void ManagedObject::removeFromToMany(int index, const ObjectID& id, bool maintainInverse) {
  if (!maintainInverse && deferInverseChange(index, id, false)) return;
  Slot& target = slot(index);
  if (!target.changed) target.committed = target.current;
  if (!toManyContains(target, id)) return;
  ValueList& list = target.current.mutableCollection();
  list.erase(std::find(list.begin(), list.end(), Value(id)));
  if (target.members && target.indexed == &list) target.members->erase(id);
  target.changed = true;
  if (context_) context_->objectDidChange(*this);

  const RelationshipDescription* inverse = relationshipAt(*entity_, index)->inverseRelationship();
  if (!maintainInverse || !inverse || !context_) return;
  if (auto destination = context_->objectWithID(id)) {
    int inverseIndex = destination->slotIndex(inverse->name());
    if (inverseIndex < 0) return;
    if (inverse->isToMany())
      destination->removeFromToMany(inverseIndex, id_, false);
    else if (destination->slot(inverseIndex).current.isIdenticalTo(Value(id_)))
      destination->changeSlot(inverseIndex, Value(), false);
  }
}

}  // namespace qlt
