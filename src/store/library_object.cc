#include "store/library_object.h"

#include <algorithm>

#include "platform/foundation/base64.h"
#include "platform/foundation/localized_strings.h"
#include "platform/foundation/log.h"
#include "platform/foundation/uuid.h"
#include "store/library_manager.h"
#include "store/library_model.h"
#include "store/library_model_constants.h"
#include "store/model_annotations.h"
#include "store/system_objects.h"
#include "store/library.h"
#include "platform/objectstore/managed_object_classes.h"
#include "platform/objectstore/managed_object_context.h"

namespace qlt {
namespace {

std::optional<PropertyList> propertyListValue(const Value& value) {
  switch (value.type()) {
    case Value::Type::String:
      return PropertyList(*value.string());
    case Value::Type::Integer:
      return PropertyList(static_cast<long long>(*value.integer()));
    case Value::Type::Double:
      return PropertyList(*value.real());
    case Value::Type::Boolean:
      return PropertyList(*value.boolean());
    case Value::Type::Date:
      return PropertyList(*value.date());
    case Value::Type::Data:
      return PropertyList(*value.data());
    default:
      return std::nullopt;
  }
}

Value valueOf(const PropertyList& value) {
  switch (value.type()) {
    case PropertyList::Type::String:
      return Value(*value.string());
    case PropertyList::Type::Integer:
      return Value(*value.integer());
    case PropertyList::Type::Real:
      return Value(*value.real());
    case PropertyList::Type::Boolean:
      return Value(*value.boolean());
    case PropertyList::Type::Date:
      return Value(*value.date());
    case PropertyList::Type::Data:
      return Value(*value.data());
    default:
      return Value();
  }
}

std::vector<ObjectID> idsOf(const Value& value) {
  std::vector<ObjectID> ids;
  if (const ObjectID* id = value.objectID()) ids.push_back(*id);
  if (const ValueList* list = value.collection())
    for (const Value& element : *list)
      if (element.objectID()) ids.push_back(*element.objectID());
  return ids;
}

}  // namespace

std::string LibraryObject::newIdentifier() { return newUUIDString(); }

std::string LibraryObject::defaultIdentifier() const {
  if (!isSystemObjectEntity(entity())) return newIdentifier();
  return systemObjectIdentifier(entity().name());
}

void LibraryObject::awakeFromInsert() {
  setValueForKey("identifier", defaultIdentifier());
  if (auto groupType = groupTypeForEntity(entity().name())) setValueForKey("groupType", *groupType);
}

std::string LibraryObject::identifier() const {
  Value value = valueForKey("identifier");
  return value.string() ? *value.string() : std::string();
}

std::optional<Date> LibraryObject::dateRecordChanged() const {
  Value value = valueForKey("dateRecordChanged");
  return value.date() ? std::optional<Date>(*value.date()) : std::nullopt;
}

void LibraryObject::setDateRecordChanged(Date date) { setValueForKey("dateRecordChanged", date); }

std::string LibraryObject::cloudRecordName() const { return entity().name() + "|" + identifier(); }

std::string LibraryObject::entityNameFromCloudRecordName(const std::string& recordName) {
  return recordName.substr(0, recordName.find('|'));
}

std::string LibraryObject::identifierFromCloudRecordName(const std::string& recordName) {
  size_t bar = recordName.rfind('|');
  return bar == std::string::npos ? recordName : recordName.substr(bar + 1);
}

RecordZoneID LibraryObject::recordZoneID() const {
  Value data = valueForKey("cloudRecordData");
  if (data.data()) {
    if (auto fields = RecordSystemFields::fromArchivedData(*data.data())) return fields->recordID.zoneID;
  }
  return LibraryManager::libraryZoneID();
}

RecordID LibraryObject::cloudRecordID() const { return RecordID(cloudRecordName(), recordZoneID()); }

CloudRecord LibraryObject::cloudRecord() const {
  if (!cachedRecord_) {
    Value data = valueForKey("cloudRecordData");
    std::optional<RecordSystemFields> fields;
    if (data.data()) fields = RecordSystemFields::fromArchivedData(*data.data());
    if (fields) {
      cachedRecord_.emplace(*fields);
    } else {
      cachedRecord_.emplace(entity().name(), cloudRecordID());
    }
  }
  updateRecordWithCurrentValues(*cachedRecord_);
  return *cachedRecord_;
}

void LibraryObject::setCloudRecord(const std::optional<CloudRecord>& record) {
  cachedRecord_ = record;
  if (record) {
    setValueForKey("cloudRecordData", record->encodeSystemFields());
  } else {
    setValueForKey("cloudRecordData", Value());
  }
}

PropertyListDictionary LibraryObject::propertyListRepresentation() const {
  PropertyListDictionary result;
  result[kPropertyListEntityNameKey] = entity().name();
  for (const AttributeDescription* attribute : entity().allAttributes()) {
    if (isExcludedFromPropertyList(*attribute)) continue;
    if (auto value = propertyListValue(valueForKey(attribute->name()))) result[attribute->name()] = *value;
  }
  ManagedObjectContext* context = managedObjectContext();
  auto reference = [&](const ObjectID& id) -> std::optional<std::string> {
    auto object = context ? std::dynamic_pointer_cast<LibraryObject>(context->objectWithID(id)) : nullptr;
    if (!object) return std::nullopt;
    if (isSystemObjectEntity(object->entity())) return object->entity().name();
    return object->identifier();
  };
  for (const RelationshipDescription* relationship : entity().allRelationships()) {
    if (isExcludedFromPropertyList(*relationship)) continue;
    Value value = valueForKey(relationship->name());
    if (relationship->isToMany()) {
      PropertyListArray entries;
      for (const ObjectID& id : idsOf(value))
        if (auto name = reference(id)) entries.emplace_back(*name);
      result[relationship->name()] = std::move(entries);
    } else if (const ObjectID* id = value.objectID()) {
      if (auto name = reference(*id)) result[relationship->name()] = *name;
    }
  }
  return result;
}

std::string LibraryObject::remappedRelationshipIdentifier(const std::string& identifier) const {
  static const std::set<std::string> remapped = {"Library", "LibraryGroup", "RootFolder", "TrashFolder"};
  ManagedObjectContext* context = managedObjectContext();
  if (!context || !remapped.count(identifier)) return identifier;
  FetchRequest request(identifier);
  request.limit = 1;
  auto found = context->fetch(request);
  if (!found || found->empty()) return identifier;
  auto object = std::dynamic_pointer_cast<LibraryObject>(found->front());
  return object ? object->identifier() : identifier;
}

bool LibraryObject::validateValue(Value&, const std::string&, Error*) const { return true; }

void LibraryObject::setValuesFromPropertyListRepresentation(const PropertyListDictionary& propertyList) {
  ManagedObjectContext* context = managedObjectContext();
  if (!context) return;
  auto identifierEntry = propertyList.find("identifier");
  std::string storedIdentifier =
      identifierEntry != propertyList.end() && identifierEntry->second.string() ? *identifierEntry->second.string() : "";
  for (const AttributeDescription* attribute : entity().allAttributes()) {
    if (isExcludedFromPropertyList(*attribute)) continue;
    auto found = propertyList.find(attribute->name());
    if (found != propertyList.end()) {
      Value value = valueOf(found->second);
      if (validateValue(value, attribute->name())) setValueForKey(attribute->name(), value);
    } else if (!attribute->isOptional()) {
      log("Missing attribute of name %@ for library object with identifier %@", attribute->name(), storedIdentifier);
    }
  }
  auto lookup = [&](const RelationshipDescription& relationship, const PropertyList& entry) -> Ptr {
    if (!entry.string() || entry.string()->empty()) return nullptr;
    return libraryObject(*context, relationship.destinationEntityName(), remappedRelationshipIdentifier(*entry.string()));
  };
  for (const RelationshipDescription* relationship : entity().allRelationships()) {
    if (isExcludedFromPropertyList(*relationship)) continue;
    auto found = propertyList.find(relationship->name());
    if (!relationship->isToMany()) {
      if (found == propertyList.end() || !found->second.string() || found->second.string()->empty()) continue;
      setObjectForKey(relationship->name(), lookup(*relationship, found->second));
      continue;
    }
    if (found == propertyList.end() || !found->second.array()) continue;
    std::vector<ManagedObjectPtr> objects;
    for (const PropertyList& entry : *found->second.array()) {
      Ptr object = lookup(*relationship, entry);
      if (object && std::find(objects.begin(), objects.end(), object) == objects.end()) objects.push_back(object);
    }
    if (!relationship->isOrdered()) {
      setObjectsForKey(relationship->name(), objects);
      continue;
    }
    std::vector<ManagedObjectPtr> before = objectsForKey(relationship->name());
    if (before == objects) continue;
    setObjectsForKey(relationship->name(), objects);
    for (const ManagedObjectPtr& old : before)
      if (std::find(objects.begin(), objects.end(), old) == objects.end()) context->deleteObject(old);
  }
}

PropertyListDictionary LibraryObject::metadataInFormat(int format) const {
  PropertyListDictionary metadata = propertyListRepresentation();
  metadata.erase(kPropertyListEntityNameKey);
  for (const PropertyDescription* property : entity().allProperties())
    if (isExcludedFromMetadata(*property)) metadata.erase(property->name());
  if (format != 0 && format != 2) return metadata;
  for (auto& [key, value] : metadata) {
    if (const Date* date = value.date()) {
      value = format == 0 ? date->iso8601() : date->formattedLocal(Date::Style::Medium, Date::Style::Medium);
    } else if (const Bytes* data = value.data()) {
      value = base64Encode(*data);
    } else if (const bool* flag = value.boolean(); flag && format == 2) {
      value = localizedString(*flag ? "Yes" : "No");
    }
  }
  return metadata;
}

const std::set<std::string>& LibraryObject::propertyNamesToExcludeFromCopy() {
  static const std::set<std::string> names = {"identifier",        "cloudRecord", "cloudRecordData",
                                              "dateRecordChanged", "cloudShare",  "cloudShareData"};
  return names;
}

LibraryObject::Ptr LibraryObject::copy() {
  ManagedObjectContext* context = managedObjectContext();
  if (!context) return nullptr;
  auto duplicate = std::dynamic_pointer_cast<LibraryObject>(context->insertNewObject(entity().name()));
  if (!duplicate) return nullptr;
  const auto& excluded = propertyNamesToExcludeFromCopy();
  for (const AttributeDescription* attribute : entity().allAttributes()) {
    if (excluded.count(attribute->name()) || attribute->isTransient()) continue;
    Value value = valueForKey(attribute->name());
    if (duplicate->validateValue(value, attribute->name())) duplicate->setValueForKey(attribute->name(), value);
  }
  for (const RelationshipDescription* relationship : entity().allRelationships()) {
    if (excluded.count(relationship->name()) || relationship->deleteRule() != DeleteRule::Cascade) continue;
    if (!relationship->isToMany()) {
      if (auto owned = std::dynamic_pointer_cast<LibraryObject>(objectForKey(relationship->name())))
        duplicate->setObjectForKey(relationship->name(), owned->copy());
      continue;
    }
    std::vector<ManagedObjectPtr> copies;
    for (const ManagedObjectPtr& owned : objectsForKey(relationship->name()))
      if (auto child = std::dynamic_pointer_cast<LibraryObject>(owned))
        if (auto childCopy = child->copy()) copies.push_back(childCopy);
    duplicate->setObjectsForKey(relationship->name(), copies);
  }
  return duplicate;
}

LibraryObject::Ptr LibraryObject::libraryObject(ManagedObjectContext& context, const std::string& entityName,
                                                const std::string& identifier) {
  if (!context.coordinator()->model().entity(entityName)) return nullptr;
  FetchRequest request(entityName);
  request.predicate = Predicate::withFormat("identifier == %@", {Value(identifier)});
  request.limit = 1;
  auto found = context.fetch(request);
  if (!found || found->empty()) return nullptr;
  return std::dynamic_pointer_cast<LibraryObject>(found->front());
}

bool LibraryObject::isSystemObjectEntityName(ManagedObjectContext& context, const std::string& entityName) {
  const EntityDescription* entity = context.coordinator()->model().entity(entityName);
  return entity && isSystemObjectEntity(*entity);
}

LibraryObject::Ptr LibraryObject::fromPropertyListRepresentation(ManagedObjectContext& context,
                                                                 const PropertyListDictionary& propertyList) {
  auto entityEntry = propertyList.find(kPropertyListEntityNameKey);
  if (entityEntry == propertyList.end() || !entityEntry->second.string()) return nullptr;
  const std::string& entityName = *entityEntry->second.string();
  auto identifierEntry = propertyList.find("identifier");
  Ptr object;
  if (identifierEntry != propertyList.end() && identifierEntry->second.string())
    object = libraryObject(context, entityName, *identifierEntry->second.string());
  if (!object) object = std::dynamic_pointer_cast<LibraryObject>(context.insertNewObject(entityName));
  if (!object) return nullptr;
  object->setValuesFromPropertyListRepresentation(propertyList);
  return object;
}

bool LibraryObject::cloudRecordHasCorrespondingEntity(ManagedObjectContext& context, const RecordID& recordID) {
  return context.coordinator()->model().entity(entityNameFromCloudRecordName(recordID.recordName)) != nullptr;
}

LibraryObject::Ptr LibraryObject::libraryObjectForCloudRecordID(ManagedObjectContext& context,
                                                                const RecordID& recordID) {
  return libraryObject(context, entityNameFromCloudRecordName(recordID.recordName),
                       identifierFromCloudRecordName(recordID.recordName));
}

void registerLibraryObjectClasses() {
  ManagedObjectClasses::add<Library>(libraryModel()->name(), "Library");
  for (const EntityDescription* entity : libraryModel()->entities())
    if (!entity->superentity() && !ManagedObjectClasses::factory(libraryModel()->name(), entity->name()))
      ManagedObjectClasses::add<LibraryObject>(libraryModel()->name(), entity->name());
}

}  // namespace qlt
