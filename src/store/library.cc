#include "store/library.h"

#include "platform/dispatch/notification_center.h"
#include "platform/defaults/user_defaults.h"
#include "store/cloud_record_fields.h"
#include "store/main_thread_notification.h"
#include "platform/objectstore/managed_object_context.h"

namespace qlt {

ManagedObjectPtr Library::insertSystemObject(const std::string& entityName, const std::string& relationship) {
  ManagedObjectContext* context = managedObjectContext();
  if (!context) return nullptr;
  ManagedObjectPtr object = context->insertNewObject(entityName);
  if (object) setObjectForKey(relationship, object);
  return object;
}

void Library::awakeFromInsert() {
  LibraryObject::awakeFromInsert();
  insertSystemObject("LibraryGroup", "libraryGroup");
  insertSystemObject("RecentsGroup", "recentsGroup");
  insertSystemObject("FavoriteItemsGroup", "favoriteItemsGroup");
  insertSystemObject("RootFolder", "rootFolder");
  insertSystemObject("TrashFolder", "trashFolder");
  insertSystemObject("SharedFolder", "sharedFolder");
  insertSystemObject("NoLabelGroup", "noLabelGroup");
  setValueForKey("downloadAllItems", true);
}

void Library::awakeFromFetch() {
  LibraryObject::awakeFromFetch();
  if (valueForKey("noLabelGroup").isNull()) insertSystemObject("NoLabelGroup", "noLabelGroup");
}

void Library::updateFromCloudRecord(const CloudRecord& record) {
  constexpr const char* kKey = "firstCloudStoreCompleted";
  if (!boolForKey(kKey) || valueFromCloudValue(record.objectForKey(kKey)).boolValue()) {
    LibraryObject::updateFromCloudRecord(record);
    return;
  }
  CloudRecord applied = record;
  applied.setObjectForKey(kKey, CloudValue(true));
  LibraryObject::updateFromCloudRecord(applied);
}

std::vector<ManagedObjectPtr> Library::fetchSorted(const std::string& entity, const std::string& format) const {
  ManagedObjectContext* context = managedObjectContext();
  if (!context) return {};
  FetchRequest request(entity);
  if (!format.empty()) request.predicate = Predicate::withFormat(format);
  request.sortDescriptors = {SortDescriptor::localizedStandard("name")};
  return context->fetch(request).value_or(std::vector<ManagedObjectPtr>{});
}

std::vector<ManagedObjectPtr> Library::orderedLabels() const {
  std::vector<ManagedObjectPtr> labels;
  if (auto noLabel = objectForKey("noLabelGroup"); noLabel && noLabel->valueForKey("visible").boolValue())
    labels.push_back(noLabel);
  for (auto& label : fetchSorted("Label", "")) labels.push_back(std::move(label));
  return labels;
}

std::vector<ManagedObjectPtr> Library::savedSearches() const {
  ManagedObjectContext* context = managedObjectContext();
  if (!context) return {};
  FetchRequest request("SearchGroup");
  request.predicate = Predicate::withFormat("saved == YES && parent == nil");
  return context->fetch(request).value_or(std::vector<ManagedObjectPtr>{});
}

std::vector<ManagedObjectPtr> Library::orderedSavedSearches() const {
  return fetchSorted("SearchGroup", "saved == YES && parent == nil");
}

std::vector<ManagedObjectPtr> Library::orderedActiveStationery() const {
  return fetchSorted("Stationery", "active == YES");
}

ManagedObjectPtr Library::itemsFolderForGroup(const ManagedObjectPtr& group) const {
  const EntityDescription* folder = entity().model().entity("Folder");
  if (group && folder && group->entity().isKindOfEntity(*folder)) return group;
  return objectForKey("rootFolder");
}

ManagedObjectPtr Library::effectiveDefaultImportGroup() const {
  if (auto group = objectForKey("defaultImportGroup")) return group;
  ManagedObjectPtr libraryGroup = objectForKey("libraryGroup");
  UserDefaults& defaults = UserDefaults::standard();
  if (!defaults.boolForKey(kLibraryUseLastImportGroupKey)) return libraryGroup;
  ManagedObjectContext* context = managedObjectContext();
  if (!context) return libraryGroup;
  for (const PropertyList& identifier :
       defaults.arrayForKey(kLibraryRecentImportGroupIdentifiersKey).value_or(PropertyListArray{})) {
    if (!identifier.string()) continue;
    FetchRequest request("Group");
    request.predicate = Predicate::withFormat("identifier == %@", {Value(*identifier.string())});
    auto found = context->fetch(request);
    if (found && !found->empty()) return found->front();
  }
  return libraryGroup;
}

void Library::postOnMainQueue(const char* name) const {
  postWithMainThreadObject(name, objectID());
}

void Library::setDownloadAllItems(bool value) {
  bool changed = boolForKey("downloadAllItems") != value;
  setValueForKey("downloadAllItems", value);
  if (changed) NotificationCenter::defaultCenter().post(kLibraryDownloadAllItemsDidChangeNotification, this);
}

void Library::setStoreInCloudDatabase(bool value) {
  bool changed = boolForKey("storeInCloudDatabase") != value;
  setValueForKey("storeInCloudDatabase", value);
  if (changed) postOnMainQueue(kLibraryStoreInCloudSettingDidChangeNotification);
}

void Library::setLastUsedLabel(const ManagedObjectPtr& label) {
  setObjectForKey("lastUsedLabel", label);
  postOnMainQueue(kLibraryLastUsedLabelDidChangeNotification);
}

void Library::setDefaultStationery(const ManagedObjectPtr& stationery) {
  setObjectForKey("defaultStationery", stationery);
  postOnMainQueue(kLibraryDefaultStationeryDidChangeNotification);
}

void Library::addLabel(const ManagedObjectPtr& label) {
  addObjectForKey("labels", label);
  postOnMainQueue(kLibraryLabelsDidChangeNotification);
}

void Library::removeLabel(const ManagedObjectPtr& label) {
  removeObjectForKey("labels", label);
  postOnMainQueue(kLibraryLabelsDidChangeNotification);
}

void Library::addSearchGroup(const ManagedObjectPtr& searchGroup) {
  addObjectForKey("searchGroups", searchGroup);
  postOnMainQueue(kLibrarySearchGroupsDidChangeNotification);
}

void Library::removeSearchGroup(const ManagedObjectPtr& searchGroup) {
  removeObjectForKey("searchGroups", searchGroup);
  postOnMainQueue(kLibrarySearchGroupsDidChangeNotification);
}

}  // namespace qlt
