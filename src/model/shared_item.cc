#include "model/shared_item.h"

#include <algorithm>

#include "model/folder.h"
#include "model/item.h"
#include "platform/objectstore/managed_object_context.h"
#include "store/library_manager.h"
#include "store/library_model_constants.h"

namespace qlt {
namespace {

constexpr const char* kSharedItemRecordPrefix = "SharedItem|";
constexpr const char* kSharedFolderAttributesRecordPrefix = "SharedFolderAttributes|";

std::string stringOf(const ManagedObject& object, const char* key) {
  Value value = object.valueForKey(key);
  return value.string() ? *value.string() : std::string();
}

std::string identifierOf(const ManagedObjectPtr& object) {
  return object ? stringOf(*object, "identifier") : std::string();
}

std::vector<std::string> identifiersOf(const std::vector<ManagedObjectPtr>& objects) {
  std::vector<std::string> identifiers;
  for (const ManagedObjectPtr& object : objects) identifiers.push_back(identifierOf(object));
  return identifiers;
}

template <typename T>
std::shared_ptr<T> firstNamed(ManagedObjectContext& context, const char* entity, const char* otherKey,
                              const std::string& identifier) {
  FetchRequest request(entity);
  request.predicate =
      Predicate::withFormat(std::string("identifier == %@ OR ") + otherKey + " == %@", {identifier, identifier});
  request.limit = 1;
  auto found = context.fetch(request);
  return found && !found->empty() ? std::dynamic_pointer_cast<T>(found->front()) : nullptr;
}

std::optional<CloudReference> referenceTo(const ManagedObjectPtr& object) {
  auto library = std::dynamic_pointer_cast<LibraryObject>(object);
  if (!library) return std::nullopt;
  return CloudReference{library->cloudRecordID(), CloudReferenceAction::None};
}

CloudValue referencesTo(const std::vector<ManagedObjectPtr>& objects) {
  CloudList list;
  for (const ManagedObjectPtr& object : objects)
    if (auto reference = referenceTo(object)) list.emplace_back(*reference);
  return CloudValue(std::move(list));
}

}  // namespace

std::string identifierList(std::vector<std::string> identifiers) {
  std::sort(identifiers.begin(), identifiers.end());
  std::string list;
  for (const std::string& identifier : identifiers) list += (list.empty() ? "" : ",") + identifier;
  return list;
}

std::vector<std::string> identifiersInList(const std::string& list) {
  std::vector<std::string> identifiers;
  size_t start = 0;
  while (start < list.size()) {
    size_t comma = list.find(',', start);
    if (comma == std::string::npos) comma = list.size();
    if (comma > start) identifiers.push_back(list.substr(start, comma - start));
    start = comma + 1;
  }
  return identifiers;
}

RecordID SharedItem::cloudRecordIDForSharedItemIdentifier(const std::string& identifier) {
  return RecordID(kSharedItemRecordPrefix + identifier, LibraryManager::libraryZoneID());
}

RecordID SharedItem::cloudRecordID() const {
  ManagedObjectPtr owner = objectForKey("item");
  if (!owner) return cloudRecordIDForSharedItemIdentifier(identifier());
  std::string named = stringOf(*owner, "sharedItemIdentifier");
  return cloudRecordIDForSharedItemIdentifier(named.empty() ? identifierOf(owner) : named);
}

std::shared_ptr<Item> SharedItem::itemForSharedItemWithIdentifier(const std::string& identifier,
                                                                  ManagedObjectContext& context) {
  return firstNamed<Item>(context, kItemEntityName, "sharedItemIdentifier", identifier);
}

void SharedItem::setIfChanged(const char* key, Value value) {
  if (!valueForKey(key).isIdenticalTo(value)) setValueForKey(key, std::move(value));
}

ManagedObjectPtr SharedItem::objectNamedBy(const char* key, const char* entity) const {
  std::string identifier = stringOf(*this, key);
  ManagedObjectContext* context = managedObjectContext();
  if (identifier.empty() || !context) return nullptr;
  return LibraryObject::libraryObject(*context, entity, identifier);
}

std::vector<ManagedObjectPtr> SharedItem::objectsNamedBy(const char* key, const char* entity) const {
  Value list = valueForKey(key);
  ManagedObjectContext* context = managedObjectContext();
  if (!list.string() || !context) return {};
  ValueList identifiers;
  for (const std::string& identifier : identifiersInList(*list.string())) identifiers.emplace_back(identifier);
  if (identifiers.empty()) return {};
  FetchRequest request(entity);
  request.predicate = Predicate::withFormat("identifier IN %@", {Value(std::move(identifiers))});
  return context->fetch(request).value_or(std::vector<ManagedObjectPtr>{});
}

ManagedObjectPtr SharedItem::folder() const { return objectNamedBy("folderIdentifier", kFolderEntityName); }
ManagedObjectPtr SharedItem::label() const { return objectNamedBy("labelIdentifier", kLabelEntityName); }
std::vector<ManagedObjectPtr> SharedItem::tags() const { return objectsNamedBy("tagIdentifiers", kTagEntityName); }
std::vector<ManagedObjectPtr> SharedItem::groups() const {
  return objectsNamedBy("groupIdentifiers", kGroupEntityName);
}

void SharedItem::setFolder(const ManagedObjectPtr& folder) {
  setIfChanged("folderIdentifier", folder ? Value(identifierOf(folder)) : Value());
}
void SharedItem::setLabel(const ManagedObjectPtr& label) {
  setIfChanged("labelIdentifier", label ? Value(identifierOf(label)) : Value());
}
void SharedItem::setTags(const std::vector<ManagedObjectPtr>& tags) {
  setIfChanged("tagIdentifiers", identifierList(identifiersOf(tags)));
}
void SharedItem::setGroups(const std::vector<ManagedObjectPtr>& groups) {
  setIfChanged("groupIdentifiers", identifierList(identifiersOf(groups)));
}
void SharedItem::setFavorite(bool favorite) { setIfChanged("favorite", favorite); }

void SharedItem::setItem(const std::shared_ptr<Item>& item) {
  setObjectForKey("item", item);
  if (!item) return;
  setFolder(item->objectForKey("folder"));
  setGroups(item->objectsForKey("groups"));
  setLabel(item->objectForKey("label"));
  setTags(item->objectsForKey("tags"));
  setFavorite(item->isFavorite());
}

void SharedItem::updateRecordWithCurrentValues(CloudRecord& record) const {
  record.setObjectForKey("favorite", favorite());
  for (auto [key, object] : {std::pair{"folder", folder()}, std::pair{"label", label()}}) {
    if (auto reference = referenceTo(object)) {
      record.setObjectForKey(key, CloudValue(*reference));
    } else {
      record.removeObjectForKey(key);
    }
  }
  record.setObjectForKey("tags", referencesTo(tags()));
  record.setObjectForKey("groups", referencesTo(groups()));
}

void SharedItem::updateFromCloudRecord(const CloudRecord& record) {
  auto identifierIn = [](const CloudValue* value) -> Value {
    if (!value || !value->reference()) return Value();
    return Value(identifierFromCloudRecordName(value->reference()->recordID.recordName));
  };
  auto listIn = [](const CloudValue* value) -> Value {
    if (!value || !value->list()) return Value();
    std::vector<std::string> identifiers;
    for (const CloudValue& element : *value->list())
      if (element.reference()) identifiers.push_back(identifierFromCloudRecordName(element.reference()->recordID.recordName));
    return Value(identifierList(std::move(identifiers)));
  };
  setIfChanged("folderIdentifier", identifierIn(record.objectForKey("folder")));
  setIfChanged("labelIdentifier", identifierIn(record.objectForKey("label")));
  setIfChanged("tagIdentifiers", listIn(record.objectForKey("tags")));
  setIfChanged("groupIdentifiers", listIn(record.objectForKey("groups")));
}

RecordID SharedFolderAttributes::cloudRecordIDForSharedFolderAttributesIdentifier(const std::string& identifier) {
  return RecordID(kSharedFolderAttributesRecordPrefix + identifier, LibraryManager::libraryZoneID());
}

RecordID SharedFolderAttributes::cloudRecordID() const {
  ManagedObjectPtr owner = objectForKey("folder");
  if (!owner) return cloudRecordIDForSharedFolderAttributesIdentifier(identifier());
  std::string named = stringOf(*owner, "sharedFolderAttributesIdentifier");
  return cloudRecordIDForSharedFolderAttributesIdentifier(named.empty() ? identifierOf(owner) : named);
}

std::shared_ptr<Folder> SharedFolderAttributes::folderForSharedAttributesIdentifier(const std::string& identifier,
                                                                                   ManagedObjectContext& context) {
  return firstNamed<Folder>(context, kFolderEntityName, "sharedFolderAttributesIdentifier", identifier);
}

}  // namespace qlt
