#include <algorithm>

#include "platform/cloud/cloud_error.h"
#include "platform/foundation/log.h"
#include "platform/foundation/string_comparison.h"
#include "store/cloud_record_fields.h"
#include "store/library_manager.h"
#include "store/library_object.h"
#include "store/model_annotations.h"
#include "platform/objectstore/managed_object_context.h"
#include "platform/objectstore/managed_object_model.h"

namespace qlt {
namespace {

std::shared_ptr<LibraryObject> libraryObjectOf(const ManagedObjectPtr& object) {
  return std::dynamic_pointer_cast<LibraryObject>(object);
}

CloudReference referenceTo(const LibraryObject& object) {
  return CloudReference{object.cloudRecordID(), CloudReferenceAction::None};
}

bool takesPartAsReferenceList(const RelationshipDescription& relationship) {
  return relationship.isToMany() && relationship.isManyToMany();
}

std::string libraryIdentifierOf(const CloudValue& value) {
  const CloudReference* reference = value.reference();
  return reference ? LibraryObject::identifierFromCloudRecordName(reference->recordID.recordName) : std::string();
}

bool attributeValuesEqual(const AttributeDescription& attribute, const Value& a, const Value& b) {
  if (attribute.type() == AttributeType::String && a.string() && b.string())
    return compareStrings(*a.string(), *b.string(), CompareOptions::WidthInsensitive) == 0;
  if (a.data() && b.data()) return *a.data() == *b.data();
  if (a.date() && b.date()) return a.date()->timeIntervalSinceReferenceDate() == b.date()->timeIntervalSinceReferenceDate();
  return a == b;
}

// The server's list, plus what the client added, minus what it removed.
CloudList mergedReferenceList(const CloudValue* server, const CloudValue* client) {
  CloudList serverList = server && server->list() ? *server->list() : CloudList();
  CloudList clientList = client && client->list() ? *client->list() : CloudList();
  auto contains = [](const CloudList& list, const CloudValue& value) {
    return std::find(list.begin(), list.end(), value) != list.end();
  };
  CloudList merged;
  for (const CloudValue& value : serverList)
    if (contains(clientList, value)) merged.push_back(value);
  for (const CloudValue& value : clientList)
    if (!contains(serverList, value) && !contains(merged, value)) merged.push_back(value);
  return merged;
}

}  // namespace

void LibraryObject::updateRecordWithCurrentValues(CloudRecord& record) const {
  for (const AttributeDescription* attribute : entity().allAttributes()) {
    if (isExcludedFromCloudDatabase(*attribute)) continue;
    if (auto value = cloudValueFromValue(valueForKey(attribute->name()))) {
      record.setObjectForKey(attribute->name(), std::move(*value));
    } else {
      record.removeObjectForKey(attribute->name());
    }
  }
  for (const RelationshipDescription* relationship : entity().allRelationships()) {
    if (isExcludedFromCloudDatabase(*relationship)) continue;
    if (!relationship->isToMany()) {
      if (auto related = libraryObjectOf(objectForKey(relationship->name()))) {
        record.setObjectForKey(relationship->name(), CloudValue(referenceTo(*related)));
      } else {
        record.removeObjectForKey(relationship->name());
      }
      continue;
    }
    if (!takesPartAsReferenceList(*relationship)) continue;
    std::vector<std::shared_ptr<LibraryObject>> related;
    for (const ManagedObjectPtr& object : objectsForKey(relationship->name()))
      if (auto libraryObject = libraryObjectOf(object)) related.push_back(libraryObject);
    std::vector<std::pair<std::string, CloudReference>> sorted;
    for (const auto& object : related) sorted.emplace_back(object->identifier(), referenceTo(*object));
    std::stable_sort(sorted.begin(), sorted.end(), [](const auto& a, const auto& b) { return a.first < b.first; });
    CloudList references;
    for (auto& [identifier, reference] : sorted) references.emplace_back(std::move(reference));
    record.setObjectForKey(relationship->name(), CloudValue(std::move(references)));
  }
}

std::set<std::string> LibraryObject::changedCloudRecordKeysForUpdatedProperties(
    const std::vector<const PropertyDescription*>& properties,
    const std::optional<std::map<std::string, Value>>& changedValues) const {
  std::set<std::string> keys;
  for (const PropertyDescription* property : properties) {
    if (!property || isExcludedFromCloudDatabase(*property)) continue;
    const std::string& name = property->name();
    const Value* newValue = nullptr;
    if (changedValues) {
      auto found = changedValues->find(name);
      if (found != changedValues->end()) newValue = &found->second;
    }
    if (property->isAttribute()) {
      if (changedValues) {
        Value committed = committedValueForKey(name);
        Value current = newValue ? *newValue : Value();
        if (committed.isNull() && current.isNull()) continue;
        if (!committed.isNull() && !current.isNull() &&
            attributeValuesEqual(static_cast<const AttributeDescription&>(*property), committed, current))
          continue;
      }
      keys.insert(name);
      continue;
    }
    const auto& relationship = static_cast<const RelationshipDescription&>(*property);
    if (relationship.isToMany() && !takesPartAsReferenceList(relationship)) continue;
    if (changedValues) {
      if (!newValue || newValue->isNull()) continue;
      if (*newValue == committedValueForKey(name)) continue;
    }
    keys.insert(name);
  }
  return keys;
}

std::set<std::string> LibraryObject::changedCloudRecordKeysForChangedValues(
    const std::map<std::string, Value>& changedValues) const {
  std::vector<const PropertyDescription*> properties;
  for (const auto& [name, value] : changedValues)
    if (const PropertyDescription* property = entity().property(name)) properties.push_back(property);
  return changedCloudRecordKeysForUpdatedProperties(properties, changedValues);
}

std::optional<CloudRecord> LibraryObject::mergeChangesForServerRecordChange(
    const Error& error, const std::set<std::string>& changedKeys) const {
  const CloudRecord* client = cloudClientRecord(error);
  const CloudRecord* server = cloudServerRecord(error);
  if (!server) return std::nullopt;
  CloudRecord result = *server;
  // Newer only by a comparison of two dates: without either, every locally
  // changed field keeps the client's value.
  std::optional<Date> changed = dateRecordChanged();
  bool serverIsNewer = changed && server->modificationDate() &&
                       server->modificationDate()->timeIntervalSinceReferenceDate() >=
                           changed->timeIntervalSinceReferenceDate();
  std::set<std::string> serverChangedKeys = changedKeyNames(*server);
  std::set<std::string> noted;
  for (const std::string& key : changedKeys) {
    if (serverIsNewer && serverChangedKeys.count(key)) continue;
    noted.insert(key);
    const CloudValue* clientValue = client ? client->objectForKey(key) : nullptr;
    const RelationshipDescription* relationship = entity().relationship(key);
    if (relationship && relationship->isToMany()) {
      CloudList merged = mergedReferenceList(server->objectForKey(key), clientValue);
      if (!relationship->isOrdered())
        std::stable_sort(merged.begin(), merged.end(), [](const CloudValue& a, const CloudValue& b) {
          return libraryIdentifierOf(a) < libraryIdentifierOf(b);
        });
      result.setObjectForKey(key, CloudValue(std::move(merged)));
    } else if (clientValue) {
      result.setObjectForKey(key, *clientValue);
    } else {
      result.removeObjectForKey(key);
    }
  }
  setChangedKeyNames(result, noted);
  return result;
}

std::set<RecordID> LibraryObject::childRecordIDs() const {
  std::set<RecordID> children;
  for (const RelationshipDescription* relationship : entity().allRelationships()) {
    if (relationship->deleteRule() != DeleteRule::Cascade || isExcludedFromCloudDatabase(*relationship)) continue;
    std::vector<ManagedObjectPtr> related;
    if (relationship->isToMany()) {
      related = objectsForKey(relationship->name());
    } else if (ManagedObjectPtr object = objectForKey(relationship->name())) {
      related.push_back(object);
    }
    for (const ManagedObjectPtr& object : related) {
      auto child = libraryObjectOf(object);
      if (!child) continue;
      children.insert(child->cloudRecordID());
      children.merge(child->childRecordIDs());
    }
  }
  return children;
}

int64_t LibraryObject::cloudOrderingForEntityWithName(const std::string& entityName) {
  auto model = LibraryManager::sharedManager()->libraryModel();
  const EntityDescription* entity = model ? model->entity(entityName) : nullptr;
  if (!entity) return 0;
  return cloudRecordOrdering(*entity).value_or(0);
}

std::vector<CloudRecord> LibraryObject::sortedCloudRecords(const std::vector<CloudRecord>& records,
                                                           ManagedObjectContext& context) {
  static const std::set<std::string> unordered = {"Item", "ItemAttachment", "Tag", "Label"};
  struct Entry {
    const CloudRecord* record;
    int64_t rank;
    mutable std::optional<unsigned> depth;
  };
  std::vector<Entry> entries;
  std::map<std::string, int64_t> ranks;
  for (const CloudRecord& record : records) {
    auto [rank, added] = ranks.try_emplace(record.recordType(), 0);
    if (added) rank->second = cloudOrderingForEntityWithName(record.recordType());
    entries.push_back({&record, rank->second, std::nullopt});
  }
  auto depthOf = [&context](const Entry& entry) {
    if (!entry.depth) {
      auto object = libraryObjectForCloudRecordID(context, entry.record->recordID());
      entry.depth = object ? object->depth() : 0;
    }
    return *entry.depth;
  };
  std::stable_sort(entries.begin(), entries.end(), [&](const Entry& a, const Entry& b) {
    if (a.rank != b.rank) return a.rank < b.rank;
    if (a.record->recordType() == b.record->recordType() && unordered.count(a.record->recordType())) return false;
    return depthOf(a) < depthOf(b);
  });
  std::vector<CloudRecord> sorted;
  sorted.reserve(entries.size());
  for (const Entry& entry : entries) sorted.push_back(*entry.record);
  return sorted;
}

std::vector<RecordID> LibraryObject::sortedCloudRecordIDs(const std::vector<RecordID>& recordIDs, bool ascending,
                                                          ManagedObjectContext&) {
  std::vector<std::pair<int64_t, RecordID>> entries;
  for (const RecordID& recordID : recordIDs)
    entries.emplace_back(cloudOrderingForEntityWithName(entityNameFromCloudRecordName(recordID.recordName)), recordID);
  std::stable_sort(entries.begin(), entries.end(), [](const auto& a, const auto& b) { return a.first < b.first; });
  std::vector<RecordID> sorted;
  for (auto& entry : entries) sorted.push_back(std::move(entry.second));
  if (!ascending) std::reverse(sorted.begin(), sorted.end());
  return sorted;
}

LibraryObject::Ptr LibraryObject::libraryObjectFromCloudRecord(const CloudRecord& record,
                                                               ManagedObjectContext& context) {
  std::string entityName = entityNameFromCloudRecordName(record.recordID().recordName);
  Ptr object;
  if (isSystemObjectEntityName(context, entityName)) {
    object = systemLibraryObjectForCloudRecord(record, context);
  } else if (context.coordinator()->model().entity(entityName)) {
    object = libraryObjectOf(context.insertNewObject(entityName));
  }
  if (!object) return nullptr;
  object->updateFromCloudRecord(record);
  return object;
}

LibraryObject::Ptr LibraryObject::systemLibraryObjectForCloudRecord(const CloudRecord& record,
                                                                    ManagedObjectContext& context) {
  FetchRequest request(record.recordType());
  request.includesSubentities = false;
  request.limit = 1;
  Error error;
  auto found = context.fetch(request, &error);
  if (!found) {
    log("Error fetching system library object with entity name %@: %@", record.recordType(), error);
    return nullptr;
  }
  return found->empty() ? nullptr : libraryObjectOf(found->front());
}

void LibraryObject::updateFromCloudRecord(const CloudRecord& record) {
  ManagedObjectContext* context = managedObjectContext();
  if (!context) return;
  for (const AttributeDescription* attribute : entity().allAttributes()) {
    if (isExcludedFromCloudDatabase(*attribute)) continue;
    Value value = valueFromCloudValue(record.objectForKey(attribute->name()));
    if (validateValue(value, attribute->name())) setValueForKey(attribute->name(), value);
  }
  for (const RelationshipDescription* relationship : entity().allRelationships()) {
    if (isExcludedFromCloudDatabase(*relationship)) continue;
    const std::string& key = relationship->name();
    const CloudValue* value = record.objectForKey(key);
    if (relationship->isToMany()) {
      if (!takesPartAsReferenceList(*relationship)) continue;
      std::vector<ManagedObjectPtr> related;
      ValueList identifiers;
      if (value && value->list())
        for (const CloudValue& element : *value->list())
          if (element.reference()) identifiers.emplace_back(libraryIdentifierOf(element));
      if (!identifiers.empty()) {
        FetchRequest request(relationship->destinationEntityName());
        request.predicate = Predicate::withFormat("identifier IN %@", {Value(std::move(identifiers))});
        Error error;
        if (auto found = context->fetch(request, &error)) {
          related = std::move(*found);
        } else {
          log("Error fetching related objects from reference list: %@", error);
        }
      }
      setObjectsForKey(key, related);
      continue;
    }
    if (!value || !value->reference()) {
      setObjectForKey(key, nullptr);
      continue;
    }
    Ptr target = libraryObjectForCloudRecordID(*context, value->reference()->recordID);
    if (!target) continue;
    const RelationshipDescription* inverse = relationship->inverseRelationship();
    if (inverse && !inverse->isToMany() && inverse->deleteRule() == DeleteRule::Cascade) {
      ManagedObjectPtr partner = target->objectForKey(inverse->name());
      if (partner && partner.get() != this) context->deleteObject(partner);
    }
    if (objectForKey(key) != target) setObjectForKey(key, target);
  }
  setCloudRecord(record);
}

}  // namespace qlt
