#include <algorithm>
#include <mutex>
#include <set>
#include <unordered_set>

#include "platform/foundation/contract.h"
#include "platform/foundation/format.h"
#include "platform/dispatch/notification_center.h"
#include "platform/objectstore/context_save.h"
#include "platform/objectstore/persistent_history.h"
#include "platform/sqlite/database.h"
#include "platform/sqlite/transaction.h"

namespace qlt {
namespace {

// Rounds of willSave() hooks before a save gives up waiting for the objects
// to stop changing each other.
constexpr int kMaxWillSaveRounds = 10;

bool isToMany(const PropertyDescription* property) {
  return property->isRelationship() && static_cast<const RelationshipDescription*>(property)->isToMany();
}


Error saveError(long code, const std::string& description) { return Error(kCocoaErrorDomain, code, description); }

// A merge error naming `id` in its conflict list; `format` takes the ID.
Error mergeConflict(const ObjectID& id, const char* format) {
  Error conflict = saveError(kManagedObjectMergeError, formatString(format, id.uriRepresentation()));
  conflict.setUserInfoValue("conflictList", std::vector<ObjectID>{id});
  return conflict;
}

}  // namespace

Value ContextSave::entityCodeValue(const ObjectID* id) const {
  if (!id) return Value();
  auto code = coordinator_.store().entityCode(id->entityName);
  if (!code) return Value();
  return Value(*code);
}

ContextSave::ContextSave(ManagedObjectContext& context)
    : context_(context), coordinator_(*context.coordinator_), schema_(coordinator_.store().schema()) {}

void ContextSave::callWillSave() {
  std::unordered_set<ObjectID> called;
  for (int round = 0; round < kMaxWillSaveRounds; ++round) {
    bool any = false;
    for (const ManagedObjectPtr& object : context_.changedObjects()) {
      if (!called.insert(object->objectID()).second) continue;
      any = true;
      object->willSave();
    }
    if (!any) break;
  }
  for (const ManagedObjectPtr& object : context_.changedObjects()) {
    if (object->isDeleted())
      deleted_.push_back(object);
    else if (object->isInserted())
      inserted_.push_back(object);
    else if (object->isUpdated())
      updated_.push_back(object);
  }
}

bool ContextSave::validate(Error* error) const {
  auto check = [&](const ManagedObjectPtr& object) {
    // Only to-many relationships change without reading the row first: a
    // fault's attributes are still the stored ones.
    if (object->fault_) return true;
    const auto& properties = object->entity().allProperties();
    for (size_t i = 0; i < properties.size(); ++i) {
      const PropertyDescription* property = properties[i];
      if (property->isOptional() || property->isTransient() || isToMany(property)) continue;
      if (object->slots_[i].current.isNull()) {
        Error failure = saveError(kValidationMissingMandatoryPropertyError,
                                  formatString("%@ is a required value.", property->name()));
        failure.setUserInfoValue("NSValidationKeyErrorKey", property->name());
        failure.setUserInfoValue("NSValidationErrorObject", object->objectID().uriRepresentation());
        setError(error, failure);
        return false;
      }
    }
    return true;
  };
  for (const auto& object : inserted_)
    if (!check(object)) return false;
  for (const auto& object : updated_)
    if (!check(object)) return false;
  for (const auto& object : deleted_) {
    for (const RelationshipDescription* relationship : object->entity().allRelationships()) {
      if (relationship->deleteRule() != DeleteRule::Deny) continue;
      Value value = object->valueForKey(relationship->name());
      std::vector<ObjectID> destinations;
      if (value.objectID()) destinations.push_back(*value.objectID());
      if (const ValueList* list = value.collection())
        for (const Value& element : *list)
          if (element.objectID()) destinations.push_back(*element.objectID());
      for (const ObjectID& id : destinations) {
        ManagedObjectPtr destination = context_.registeredObject(id);
        if (destination && destination->isDeleted()) continue;
        setError(error, saveError(kValidationRelationshipDeniedDeleteError,
                                  formatString("%@ cannot be deleted while its %@ are not empty.",
                                               object->entity().name(), relationship->name())));
        return false;
      }
    }
  }
  return true;
}

bool ContextSave::writeInsert(const ManagedObject& object, Error* error) {
  const EntityDescription& entity = object.entity();
  const auto& properties = entity.allProperties();
  auto statement = inserts_.find(&entity);
  if (statement == inserts_.end()) {
    std::string columns = "\"_pk\", \"_entity\", \"_version\"", values = "?, ?, 1";
    for (const PropertyDescription* property : properties) {
      if (property->isTransient() || isToMany(property)) continue;
      if (property->isAttribute()) {
        columns += ", " + StoreSchema::quote(schema_.columnName(*static_cast<const AttributeDescription*>(property)));
        values += ", ?";
        continue;
      }
      auto relationship = static_cast<const RelationshipDescription*>(property);
      columns += ", " + StoreSchema::quote(schema_.foreignKeyColumn(*relationship));
      values += ", ?";
      if (schema_.storesForeignEntity(*relationship)) {
        columns += ", " + StoreSchema::quote(schema_.foreignEntityColumn(*relationship));
        values += ", ?";
      }
    }
    std::string sql = "INSERT INTO " + StoreSchema::quote(schema_.tableName(entity.rootEntity())) + " (" + columns +
                      ") VALUES (" + values + ")";
    auto prepared = coordinator_.store().database().cachedStatement(sql, error);
    if (!prepared) return false;
    statement = inserts_.emplace(&entity, std::move(prepared)).first;
  }
  Statement& insert = *statement->second;
  int index = 1;
  if (!insert.bindInt64(index++, object.objectID().primaryKey, error) ||
      !insert.bindInt64(index++, *coordinator_.store().entityCode(entity.name()), error))
    return false;
  for (size_t i = 0; i < properties.size(); ++i) {
    const PropertyDescription* property = properties[i];
    if (property->isTransient() || isToMany(property)) continue;
    const Value& value = object.slots_[i].current;
    if (!StoreCoordinator::bindValue(insert, index++, value, error)) return false;
    if (property->isRelationship() &&
        schema_.storesForeignEntity(*static_cast<const RelationshipDescription*>(property))) {
      const ObjectID* id = value.objectID();
      if (!StoreCoordinator::bindValue(insert, index++, entityCodeValue(id), error)) return false;
    }
  }
  if (!insert.execute(error)) return false;
  newVersions_[object.objectID()] = 1;
  return true;
}

bool ContextSave::updateRow(const ManagedObject& object, const std::vector<int>& slots,
                            const std::vector<Value>& values, int64_t expectedVersion, bool* matched, Error* error) {
  const auto& properties = object.entity().allProperties();
  std::string assignments;
  std::vector<Value> parameters;
  for (size_t k = 0; k < slots.size(); ++k) {
    const PropertyDescription* property = properties[slots[k]];
    const Value& value = values[k];
    if (property->isAttribute()) {
      assignments += StoreSchema::quote(schema_.columnName(*static_cast<const AttributeDescription*>(property))) + " = ?, ";
      parameters.push_back(value);
      continue;
    }
    auto relationship = static_cast<const RelationshipDescription*>(property);
    assignments += StoreSchema::quote(schema_.foreignKeyColumn(*relationship)) + " = ?, ";
    parameters.push_back(value);
    if (schema_.storesForeignEntity(*relationship)) {
      assignments += StoreSchema::quote(schema_.foreignEntityColumn(*relationship)) + " = ?, ";
      const ObjectID* id = value.objectID();
      parameters.push_back(entityCodeValue(id));
    }
  }
  std::string sql = "UPDATE " + StoreSchema::quote(schema_.tableName(object.entity().rootEntity())) + " SET " +
                    assignments + "\"_version\" = ? WHERE \"_pk\" = ?" +
                    (scratch_ ? " AND ? IS NOT NULL" : " AND \"_version\" = ?");
  parameters.push_back(Value(expectedVersion + 1));
  parameters.push_back(Value(object.objectID().primaryKey));
  parameters.push_back(Value(expectedVersion));
  Database& database = coordinator_.store().database();
  auto statement = database.cachedStatement(sql, error);
  if (!statement) return false;
  for (size_t i = 0; i < parameters.size(); ++i)
    if (!StoreCoordinator::bindValue(*statement, static_cast<int>(i + 1), parameters[i], error)) return false;
  if (!statement->execute(error)) return false;
  *matched = database.changes() > 0;
  return true;
}

bool ContextSave::resolveConflict(ManagedObject& object, std::vector<Value>* merged, int64_t* version,
                                  Error* error) {
  MergePolicy policy = context_.mergePolicy();
  std::map<ObjectID, StoredRow> rows;
  if (!coordinator_.readRows({object.objectID()}, &rows, error)) return false;
  auto found = rows.find(object.objectID());
  if (policy == MergePolicy::Error || found == rows.end()) {
    if (policy != MergePolicy::Error) {
      // Deleted elsewhere: the deletion stands under both policies.
      goneFromStore_.insert(object.objectID());
      return true;
    }
    setError(error, mergeConflict(object.objectID(), "Could not merge changes to %@: it was changed or deleted elsewhere."));
    return false;
  }
  const StoredRow& row = found->second;
  const auto& properties = object.entity().allProperties();
  merged->assign(properties.size(), Value());
  for (size_t i = 0; i < properties.size(); ++i) {
    const Slot& slot = object.slots_[i];
    if (properties[i]->isTransient() || isToMany(properties[i])) {
      (*merged)[i] = slot.current;
      continue;
    }
    const Value& stored = i < row.values.size() ? row.values[i] : Value();
    bool storeChanged = !stored.isIdenticalTo(slot.changed ? slot.committed : slot.current);
    if (slot.changed && (!storeChanged || policy == MergePolicy::ObjectTrumpsByProperty))
      (*merged)[i] = slot.current;
    else
      (*merged)[i] = stored;
  }
  *version = row.version;
  return true;
}

bool ContextSave::writeUpdate(ManagedObject& object, Error* error) {
  const auto& properties = object.entity().allProperties();
  std::vector<int> slots;
  std::vector<Value> values;
  for (size_t i = 0; i < properties.size(); ++i) {
    if (properties[i]->isTransient() || isToMany(properties[i]) || !object.slots_[i].changed) continue;
    slots.push_back(static_cast<int>(i));
    values.push_back(object.slots_[i].current);
  }
  if (slots.empty()) return writeToManys(object, error);
  bool matched = false;
  if (!updateRow(object, slots, values, object.version_, &matched, error)) return false;
  if (matched || scratch_) {
    newVersions_[object.objectID()] = object.version_ + 1;
    return writeToManys(object, error);
  }
  std::vector<Value> merged;
  int64_t version = 0;
  if (!resolveConflict(object, &merged, &version, error)) return false;
  if (goneFromStore_.count(object.objectID())) return true;
  std::vector<int> all;
  std::vector<Value> allValues;
  for (size_t i = 0; i < properties.size(); ++i) {
    if (properties[i]->isTransient() || isToMany(properties[i])) continue;
    all.push_back(static_cast<int>(i));
    allValues.push_back(merged[i]);
  }
  if (!updateRow(object, all, allValues, version, &matched, error)) return false;
  if (!matched) {
    setError(error, saveError(kManagedObjectMergeError, formatString("%@ kept changing while it was being saved.",
                                                                     object.objectID().uriRepresentation())));
    return false;
  }
  newVersions_[object.objectID()] = version + 1;
  mergedValues_[object.objectID()] = std::move(merged);
  return writeToManys(object, error);
}

bool ContextSave::writeToManys(const ManagedObject& object, Error* error) {
  Database& database = coordinator_.store().database();
  const auto& properties = object.entity().allProperties();
  for (size_t i = 0; i < properties.size(); ++i) {
    if (!isToMany(properties[i]) || properties[i]->isTransient()) continue;
    const Slot& slot = object.slots_[i];
    auto relationship = static_cast<const RelationshipDescription*>(properties[i]);
    if (!slot.loaded && !slot.deferred.empty() && relationship->isManyToMany() && schema_.isJoinSource(*relationship)) {
      if (!writeDeferredJoins(object, *relationship, slot.deferred, error)) return false;
      continue;
    }
    if (!slot.changed || !slot.loaded) continue;
    const ValueList* list = slot.current.collection();
    if (!relationship->isManyToMany()) {
      if (!relationship->isOrdered() || !list) continue;
      std::string sql = "UPDATE " + StoreSchema::quote(schema_.tableName(relationship->destinationEntity().rootEntity())) +
                        " SET " + StoreSchema::quote(schema_.orderColumn(*relationship)) + " = ? WHERE \"_pk\" = ?";
      auto statement = database.cachedStatement(sql, error);
      if (!statement) return false;
      for (size_t k = 0; k < list->size(); ++k) {
        if (!(*list)[k].objectID()) continue;
        if (!statement->bindInt64(1, static_cast<int64_t>(k), error) ||
            !statement->bindInt64(2, (*list)[k].objectID()->primaryKey, error) || !statement->execute(error))
          return false;
      }
      continue;
    }
    if (!schema_.isJoinSource(*relationship)) continue;
    // An unordered list that was read before it changed: only the rows of
    // the members that came or went.
    const ValueList* before = slot.committed.collection();
    if (!relationship->isOrdered() && before && list) {
      std::vector<std::pair<ObjectID, bool>> changes;
      std::unordered_set<ObjectID> old, now;
      for (const Value& value : *before)
        if (const ObjectID* id = value.objectID()) old.insert(*id);
      for (const Value& value : *list)
        if (const ObjectID* id = value.objectID()) {
          now.insert(*id);
          if (!old.count(*id)) changes.emplace_back(*id, true);
        }
      for (const ObjectID& id : old)
        if (!now.count(id)) changes.emplace_back(id, false);
      if (!writeDeferredJoins(object, *relationship, changes, error)) return false;
      continue;
    }
    auto join = schema_.joinTable(*relationship);
    auto clear = database.cachedStatement("DELETE FROM " + StoreSchema::quote(join.name) + " WHERE \"src\" = ?", error);
    if (!clear || !clear->bindInt64(1, object.objectID().primaryKey, error) || !clear->execute(error)) return false;
    if (!list) continue;
    auto insert = database.cachedStatement("INSERT OR REPLACE INTO " + StoreSchema::quote(join.name) +
                                               " (\"src\", \"dst\", \"src_entity\", \"dst_entity\", \"ord\") "
                                               "VALUES (?, ?, ?, ?, ?)",
                                           error);
    if (!insert) return false;
    int64_t sourceCode = *coordinator_.store().entityCode(object.entity().name());
    for (size_t k = 0; k < list->size(); ++k) {
      const ObjectID* id = (*list)[k].objectID();
      if (!id) continue;
      ManagedObjectPtr destination = context_.registeredObject(*id);
      if (destination && destination->isDeleted()) continue;
      auto code = coordinator_.store().entityCode(id->entityName);
      if (!insert->bindInt64(1, object.objectID().primaryKey, error) || !insert->bindInt64(2, id->primaryKey, error) ||
          !insert->bindInt64(3, sourceCode, error) || !insert->bindInt64(4, code.value_or(0), error) ||
          !insert->bindInt64(5, static_cast<int64_t>(k), error) || !insert->execute(error))
        return false;
    }
  }
  return true;
}

bool ContextSave::writeDeferredJoins(const ManagedObject& object, const RelationshipDescription& relationship,
                                     const std::vector<std::pair<ObjectID, bool>>& changes, Error* error) {
  Database& database = coordinator_.store().database();
  auto join = schema_.joinTable(relationship);
  auto remove = database.cachedStatement(
      "DELETE FROM " + StoreSchema::quote(join.name) + " WHERE \"src\" = ? AND \"dst\" = ?", error);
  auto insert = database.cachedStatement("INSERT OR REPLACE INTO " + StoreSchema::quote(join.name) +
                                             " (\"src\", \"dst\", \"src_entity\", \"dst_entity\", \"ord\") "
                                             "VALUES (?, ?, ?, ?, 0)",
                                         error);
  if (!remove || !insert) return false;
  int64_t sourceCode = *coordinator_.store().entityCode(object.entity().name());
  for (const auto& [id, added] : changes) {
    ManagedObjectPtr destination = context_.registeredObject(id);
    if (!added || (destination && destination->isDeleted())) {
      if (!remove->bindInt64(1, object.objectID().primaryKey, error) || !remove->bindInt64(2, id.primaryKey, error) ||
          !remove->execute(error))
        return false;
      continue;
    }
    auto code = coordinator_.store().entityCode(id.entityName);
    if (!insert->bindInt64(1, object.objectID().primaryKey, error) || !insert->bindInt64(2, id.primaryKey, error) ||
        !insert->bindInt64(3, sourceCode, error) || !insert->bindInt64(4, code.value_or(0), error) ||
        !insert->execute(error))
      return false;
  }
  return true;
}

bool ContextSave::movedElsewhere(const ManagedObject& object, bool* moved, Error* error) {
  *moved = false;
  if (scratch_ || object.fault_ || object.version_ <= 0) return true;
  std::map<ObjectID, StoredRow> rows;
  if (!coordinator_.readRows({object.objectID()}, &rows, error)) return false;
  auto found = rows.find(object.objectID());
  if (found == rows.end() || found->second.version == object.version_) return true;
  const auto& properties = object.entity().allProperties();
  for (size_t i = 0; i < properties.size(); ++i) {
    if (!properties[i]->isRelationship() || properties[i]->isTransient() || isToMany(properties[i])) continue;
    const Slot& slot = object.slots_[i];
    const Value& stored = i < found->second.values.size() ? found->second.values[i] : Value();
    if (!stored.isIdenticalTo(slot.changed ? slot.committed : slot.current)) {
      *moved = true;
      return true;
    }
  }
  return true;
}

bool ContextSave::writeDelete(const ManagedObject& object, Error* error) {
  Database& database = coordinator_.store().database();
  const EntityDescription& entity = object.entity();
  // A row that another context moved since it was read here: the deletion
  // followed where it used to be (a folder's contents as they were), and
  // must not take it from where it is now.
  bool moved = false;
  if (!movedElsewhere(object, &moved, error)) return false;
  if (moved) {
    setError(error, mergeConflict(object.objectID(), "Could not delete %@: it was moved elsewhere since it was read."));
    return false;
  }
  auto statement = database.cachedStatement(
      "DELETE FROM " + StoreSchema::quote(schema_.tableName(entity.rootEntity())) + " WHERE \"_pk\" = ?", error);
  if (!statement || !statement->bindInt64(1, object.objectID().primaryKey, error) || !statement->execute(error))
    return false;
  for (const RelationshipDescription* relationship : entity.allRelationships()) {
    if (!relationship->isManyToMany() || relationship->isTransient()) continue;
    auto join = schema_.joinTable(*relationship);
    std::string column = schema_.isJoinSource(*relationship) ? "\"src\"" : "\"dst\"";
    auto clear = database.cachedStatement("DELETE FROM " + StoreSchema::quote(join.name) + " WHERE " + column + " = ?",
                                          error);
    if (!clear || !clear->bindInt64(1, object.objectID().primaryKey, error) || !clear->execute(error)) return false;
  }
  return true;
}

bool ContextSave::writeRows(Error* error) {
  for (const auto& object : deleted_)
    if (!writeDelete(*object, error)) return false;
  for (const auto& object : inserted_)
    if (!writeInsert(*object, error)) return false;
  for (const auto& object : inserted_)
    if (!writeToManys(*object, error)) return false;
  for (const auto& object : updated_)
    if (!writeUpdate(*object, error)) return false;
  return true;
}

bool ContextSave::writeScratch(Error* error) {
  scratch_ = true;
  for (const ManagedObjectPtr& object : context_.changedObjects()) {
    if (object->isDeleted())
      deleted_.push_back(object);
    else if (object->isInserted())
      inserted_.push_back(object);
    else
      updated_.push_back(object);
  }
  bool written = writeRows(error);
  inserts_.clear();
  return written;
}

bool ContextSave::write(Error* error) {
  std::lock_guard lock(coordinator_.mutex());
  bool written = writeTransaction(error);
  inserts_.clear();  // statements go back to the cache while the lock is held
  return written;
}

bool ContextSave::writeTransaction(Error* error) {
  Database& database = coordinator_.store().database();
  auto transaction = Transaction::begin(database, Transaction::Mode::Immediate, error);
  if (!transaction) return false;
  if (!writeRows(error)) return false;
  if (coordinator_.store().options().historyTracking) {
    HistoryTransaction history;
    history.timestamp = Date::now();
    history.author = context_.transactionAuthor();
    history.contextName = context_.name();
    for (const auto& object : inserted_) history.changes.push_back({object->objectID(), HistoryChangeType::Insert, {}});
    for (const auto& object : updated_) {
      if (goneFromStore_.count(object->objectID())) continue;
      HistoryChange change{object->objectID(), HistoryChangeType::Update, {}};
      for (const auto& [key, value] : object->changedValues()) change.updatedProperties.push_back(key);
      history.changes.push_back(std::move(change));
    }
    for (const auto& object : deleted_) history.changes.push_back({object->objectID(), HistoryChangeType::Delete, {}});
    if (!writeHistoryTransaction(database, history, error)) return false;
  }
  return transaction->commit(error);
}

void ContextSave::finish() {
  auto settle = [&](ManagedObject& object) {
    object.inserted_ = false;
    auto merged = mergedValues_.find(object.objectID());
    for (size_t i = 0; i < object.slots_.size(); ++i) {
      Slot& slot = object.slots_[i];
      if (merged != mergedValues_.end()) slot.current = merged->second[i];
      bool toMany = isToMany(object.entity().allProperties()[i]);
      slot.committed = toMany && slot.loaded ? slot.current : Value();
      slot.changed = false;
      slot.deferred.clear();
    }
    auto version = newVersions_.find(object.objectID());
    if (version != newVersions_.end()) object.version_ = version->second;
    context_.release(object);
  };
  for (const auto& object : inserted_) settle(*object);
  for (const auto& object : updated_) {
    if (goneFromStore_.count(object->objectID()))
      context_.forget(*object);
    else
      settle(*object);
  }
  for (const auto& object : deleted_) context_.forget(*object);
  for (const auto& object : inserted_) object->didSave();
  for (const auto& object : updated_) object->didSave();
  for (const auto& object : deleted_) object->didSave();
}

bool ContextSave::run(Error* error) {
  if (!context_.hasChanges()) return true;
  {
    ContextChanges pending;
    for (const ManagedObjectPtr& object : context_.changedObjects()) {
      auto& ids = object->isDeleted() ? pending.deleted : object->isInserted() ? pending.inserted : pending.updated;
      auto& objects = object->isDeleted()    ? pending.deletedObjects
                      : object->isInserted() ? pending.insertedObjects
                                             : pending.updatedObjects;
      ids.push_back(object->objectID());
      objects.push_back(object);
    }
    NotificationCenter::defaultCenter().post(kContextWillSaveNotification, &context_, {{kContextChangesKey, pending}});
  }
  callWillSave();
  if (inserted_.empty() && updated_.empty() && deleted_.empty()) return true;
  if (!validate(error)) return false;
  Error failure;
  if (!write(&failure)) {
    if (failure.domain() != kCocoaErrorDomain) {
      Error wrapped(kCocoaErrorDomain, kPersistentStoreSaveError, failure.localizedDescription());
      wrapped.setUnderlyingError(failure);
      failure = wrapped;
    }
    setError(error, failure);
    return false;
  }
  ContextChanges saved;
  for (const auto& object : inserted_) {
    saved.inserted.push_back(object->objectID());
    saved.insertedObjects.push_back(object);
  }
  for (const auto& object : updated_) {
    if (goneFromStore_.count(object->objectID())) continue;
    saved.updated.push_back(object->objectID());
    saved.updatedObjects.push_back(object);
  }
  for (const auto& object : deleted_) {
    saved.deleted.push_back(object->objectID());
    saved.deletedObjects.push_back(object);
  }
  finish();
  NotificationCenter::defaultCenter().post(kContextDidSaveNotification, &context_, {{kContextChangesKey, saved}});
  return true;
}

bool ManagedObjectContext::save(Error* error) {
  QLT_REQUIRE(isInsideQueue(), "inside the context's queue");
  return ContextSave(*this).run(error);
}

}  // namespace qlt
