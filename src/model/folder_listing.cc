// Folder: the items a list shows, their sorting, and the answers of
// outlines.
#include "model/folder.h"
#include "platform/foundation/format.h"
#include "platform/defaults/user_defaults.h"
#include "store/main_thread_notification.h"

namespace qlt {

bool Folder::showAllItems() const {
  int64_t setting = UserDefaults::standard().integerForKey(kFolderShowAllItemsKey);
  return expanded() ? setting == 2 : setting != 0;
}

bool Folder::showContainerGroupForItems() const { return showAllItems() && !objectsForKey("children").empty(); }

PredicatePtr Folder::itemsPredicate(bool includeSubfolders) const {
  if (!includeSubfolders) return Predicate::withFormat("folder == %@", {Value(objectID())});
  ValueList folders{Value(objectID())};
  for (const Ptr& folder : allSubfolders()) folders.emplace_back(folder->objectID());
  PredicatePtr inFolders = Predicate::withFormat("folder IN %@", {Value(std::move(folders))});
  std::vector<ManagedObjectPtr> bundles = allBundles();
  if (bundles.empty()) return inFolders;
  // An item belongs to a bundle when any of its groups has the bundle's
  // identifier.
  ValueList identifiers;
  for (const ManagedObjectPtr& bundle : bundles) identifiers.emplace_back(bundle->valueForKey("identifier"));
  PredicatePtr inBundles = Predicate::withFormat("ANY groups.identifier IN %@", {Value(std::move(identifiers))});
  return Predicate::orPredicate({inFolders, inBundles});
}

std::optional<FetchRequest> Folder::itemsFetchRequest() const {
  FetchRequest request(kItemEntityName);
  request.predicate = itemsPredicate(showAllItems());
  request.sortDescriptors = itemSortDescriptors();
  return request;
}

PredicatePtr Folder::predicateForSearchGroup(const Group& searchGroup) const {
  bool includeSubfolders = searchGroup.valueForKey("saved").boolValue()
                               ? searchGroup.valueForKey("includeChildrenOfTargetFolder").boolValue()
                               : showAllItems();
  return itemsPredicate(includeSubfolders);
}

namespace {

// The folder of the trash whose sorting a folder inside it uses.
Folder::Ptr sortingParentInTrash(const Folder& folder) {
  if (!folder.isPlainFolder() || !folder.isTrashFolder()) return nullptr;
  return folder.parentFolder();
}

}  // namespace

std::vector<ItemSortOption> Folder::itemSortOptions() const {
  if (Ptr parent = sortingParentInTrash(*this)) return parent->itemSortOptions();
  return Group::itemSortOptions();
}

std::vector<SortDescriptor> Folder::itemSortDescriptors() const {
  if (Ptr parent = sortingParentInTrash(*this)) return parent->itemSortDescriptors();
  return Group::itemSortDescriptors();
}

void Folder::setItemSortDescriptors(const std::vector<SortDescriptor>& descriptors) {
  if (Ptr parent = sortingParentInTrash(*this)) return parent->setItemSortDescriptors(descriptors);
  Group::setItemSortDescriptors(descriptors);
}

int64_t Folder::itemAdditionalInfoType() const { return isTrashFolder() ? 4 : Group::itemAdditionalInfoType(); }

bool Folder::expanded() const { return valueForKey("expanded").boolValue(); }

void Folder::setExpanded(bool value) {
  if (expanded() == value) return;
  setValueForKey("expanded", value);
  postWithMainThreadObject(value ? kFolderDidExpandNotification : kFolderDidCollapseNotification, objectID());
}

bool Folder::isExpandable() const { return !objectsForKey("children").empty(); }

bool Folder::canFocus() const { return isPlainFolder() && isExpandable() && !isTrashFolder(); }

std::string Folder::snapshotIdentifier() const {
  return formatString("%@%@-%@", isExpandable() ? "> " : "", name(), identifier());
}

std::vector<std::string> Folder::snapshotIdentifiers() const {
  std::vector<std::string> result;
  for (const ManagedObjectPtr& child : orderedChildren()) {
    auto group = std::dynamic_pointer_cast<Group>(child);
    if (!group) continue;
    result.push_back(group->snapshotIdentifier());
    auto folder = std::dynamic_pointer_cast<Folder>(group);
    if (!folder || !folder->expanded()) continue;
    for (std::string& below : folder->snapshotIdentifiers()) result.push_back(std::move(below));
  }
  return result;
}

bool Folder::canExport() const {
  return !isTrashFolder() && (!subfolders().empty() || !objectsForKey("items").empty());
}

bool Folder::confirmBeforeRemoval() const {
  return isShared() || !objectsForKey("items").empty() || !objectsForKey("children").empty();
}

std::vector<std::string> Folder::propertiesToFetch() {
  std::vector<std::string> properties = LibraryObject::propertiesToFetch();
  for (const char* name : {"name", "favorite", "parent", "cloudShareData", "cloudRecordData", "fileProviderTagData"})
    properties.emplace_back(name);
  return properties;
}

}  // namespace qlt
