// Folder: sharing state, capabilities, lookups, collections and the order
// of children.
#include <algorithm>
#include <set>

#include "model/cloud_share.h"
#include "model/folder.h"
#include "model/folder_answers.h"
#include "model/item.h"
#include "platform/files/file_path.h"
#include "platform/files/file_system.h"
#include "platform/dispatch/notification_center.h"
#include "platform/objectstore/managed_object_context.h"
#include "store/library_model_constants.h"
#include "store/main_thread_notification.h"
#include "platform/objectstore/managed_object_context.h"
#include "util/filename_rules.h"

namespace qlt {
namespace {

Folder::Ptr asFolder(const ManagedObjectPtr& object) { return std::dynamic_pointer_cast<Folder>(object); }

bool isKindOfEntity(const ManagedObject& object, const char* entityName) {
  const EntityDescription* wanted = object.entity().model().entity(entityName);
  return wanted && object.entity().isKindOfEntity(*wanted);
}

bool contains(const std::vector<ManagedObjectPtr>& objects, const ManagedObject* object) {
  return object && std::any_of(objects.begin(), objects.end(), [&](const ManagedObjectPtr& present) {
           return present->objectID() == object->objectID();
         });
}

std::vector<std::string> componentsBelow(const std::string& directory, const std::string& path) {
  std::vector<std::string> components;
  std::string rest = path.substr(directory.size());
  size_t start = 0;
  while (start < rest.size()) {
    size_t end = rest.find('/', start);
    if (end == std::string::npos) end = rest.size();
    if (end > start) components.push_back(rest.substr(start, end - start));
    start = end + 1;
  }
  return components;
}

// `path` standardized when it lies strictly inside `directory`.
std::optional<std::string> standardizedInside(const std::string& directory, const std::string& path) {
  std::string standardized = standardizingPath(path);
  if (!isDescendant(standardized, directory)) return std::nullopt;
  return standardized;
}

void updateSharedItemsForFolder(const std::vector<ManagedObjectPtr>& items) {
  for (const ManagedObjectPtr& object : items)
    if (auto item = std::dynamic_pointer_cast<Item>(object)) item->updateCloudSharedItemForFolder();
}

}  // namespace

// Sharing.

std::optional<RecordSystemFields> Folder::cloudShare() const {
  Value data = valueForKey("cloudShareData");
  if (!data.data()) {
    cachedShare_.reset();
    return std::nullopt;
  }
  if (!cachedShare_ || cachedShare_->first != *data.data()) cachedShare_.emplace(*data.data(), decodedCloudShare(*this));
  return cachedShare_->second;
}

void Folder::setCloudShare(const std::optional<RecordSystemFields>& share) {
  storeCloudShare(*this, share);
  cachedShare_.reset();
  postWithMainThreadObject(kFolderCloudShareDidChangeNotification, objectID());
}

bool Folder::isShared() const {
  return rememberedFolderAnswer(*this, &FolderAnswers::Remembered::isShared, [this] {
    if (cloudShare()) return true;
    Ptr parent = parentFolder();
    return parent && parent->isShared();
  });
}

bool Folder::isLocalRecord() const {
  return rememberedFolderAnswer(*this, &FolderAnswers::Remembered::isLocalRecord, [this] {
    if (auto share = cloudShare()) return isShareOwnedByCurrentUser(*share);
    Ptr parent = parentFolder();
    return !parent || parent->isLocalRecord();
  });
}

bool Folder::canShareWithCloud() const {
  ManagedObjectPtr owner = library();
  return owner && owner->valueForKey("storeInCloudDatabase").boolValue() &&
         owner->valueForKey("firstCloudStoreCompleted").boolValue();
}

Folder::Ptr Folder::topLevelFolder() {
  Ptr parent = parentFolder();
  if (!parent) return nullptr;
  if (!parent->isPlainFolder()) return as<Folder>();
  return parent->topLevelFolder();
}

// Tree.

bool Folder::isTrashFolder() const {
  if (isTrashFolderItself()) return true;
  if (!isPlainFolder()) return false;
  Ptr parent = parentFolder();
  return parent && parent->isTrashFolder();
}

unsigned Folder::depth() const {
  if (!isPlainFolder()) return 0;
  Ptr parent = parentFolder();
  return parent ? parent->depth() + 1 : 1;
}

unsigned Folder::relativeMaxDepth() const {
  unsigned below = 0;
  for (const Ptr& child : subfolders()) below = std::max(below, child->relativeMaxDepth());
  return below + 1;
}

// Capabilities.

bool Folder::canEditName() const {
  if (!isPlainFolder()) return false;
  if (isLocalRecord() || !isShared()) return true;
  Ptr parent = parentFolder();
  return !parent || !parent->isRootFolder();
}

bool Folder::canMove() const {
  if (!isPlainFolder()) return false;
  if (!isShared()) return true;
  Ptr parent = parentFolder();
  return !parent || !parent->isRootFolder();
}

bool Folder::canRemove() const { return isPlainFolder(); }

bool Folder::canAcceptNewItems() const {
  if (isRootFolder()) return true;
  if (isTrashFolderItself()) return false;
  Ptr parent = parentFolder();
  return !parent || parent->canAcceptNewItems();
}

bool Folder::canFavorite() const { return !isRootFolder() && !isTrashFolder(); }
bool Folder::canShowFavoritesAtTop() const { return !isTrashFolder(); }
bool Folder::canChangeColor() const { return !isTrashFolder(); }

bool Folder::canReorder() const {
  if (isDefaultImportGroup()) return false;
  Ptr parent = parentFolder();
  return parent && parent->canReorderChildren();
}

bool Folder::canReorderChildren() const {
  if (isTrashFolderItself()) return false;
  Ptr parent = parentFolder();
  return parent && parent->canReorderChildren();
}

bool RootFolder::canReorderChildren() const { return valueForKey("allowManualOrdering").boolValue(); }

void Folder::setFavorite(bool value) {
  setValueForKey("favorite", value);
  if (ManagedObjectPtr attributes = objectForKey("sharedFolderAttributes"))
    attributes->setValueForKey("favorite", value);
}

// Lookups.

Folder::Ptr Folder::subfolderWithName(const std::string& wanted) const {
  for (const ManagedObjectPtr& child : objectsForKey("children")) {
    Ptr folder = asFolder(child);
    if (folder && folder->isPlainFolder() && isEqualToFilename(folder->name(), wanted)) return folder;
  }
  return nullptr;
}

std::vector<ManagedObjectPtr> Folder::childrenWithName(const std::string& wanted) const {
  std::vector<ManagedObjectPtr> result;
  std::vector<ManagedObjectPtr> children = objectsForKey("children");
  for (const ManagedObjectPtr& child : children) {
    auto group = std::dynamic_pointer_cast<Group>(child);
    Value stored = child->valueForKey("name");
    std::string childName = group ? group->name() : (stored.string() ? *stored.string() : std::string());
    if (isEqualToFilename(childName, wanted)) result.push_back(child);
  }
  for (const ManagedObjectPtr& child : children)
    if (Ptr folder = asFolder(child))
      for (ManagedObjectPtr& below : folder->childrenWithName(wanted)) result.push_back(std::move(below));
  return result;
}

std::shared_ptr<Item> Folder::itemWithFilename(const std::string& filename, const Item* excluding) const {
  ManagedObjectContext* context = managedObjectContext();
  if (!context) {
    for (const ManagedObjectPtr& object : objectsForKey("items")) {
      auto item = std::dynamic_pointer_cast<Item>(object);
      if (item && item.get() != excluding && isEqualToFilename(item->filename(), filename)) return item;
    }
    return nullptr;
  }
  // Looked up by the store's index of names per folder: a folder of many
  // items is not read whole for one name.
  FetchRequest request(kItemEntityName);
  request.predicate = Predicate::withFormat("folder == %@ AND filename ==[cd] %@", {Value(objectID()), Value(filename)});
  request.limit = 2;
  for (const ManagedObjectPtr& object : context->fetch(request).value_or(std::vector<ManagedObjectPtr>()))
    if (auto item = std::dynamic_pointer_cast<Item>(object); item && item.get() != excluding) return item;
  return nullptr;
}

std::shared_ptr<Item> Folder::walkToItem(const std::string& path) const {
  auto directory = folderPath();
  if (!directory) return nullptr;
  std::string base = standardizingPath(*directory);
  auto inside = standardizedInside(base, path);
  if (!inside) return nullptr;
  const Folder* current = this;
  Ptr holder;
  for (const std::string& component : componentsBelow(base, *inside)) {
    Ptr sub = current->subfolderWithName(component);
    if (!sub) return current->itemWithFilename(component);
    holder = sub;
    current = holder.get();
  }
  return nullptr;
}

std::shared_ptr<Item> Folder::itemWithFilePath(const std::string& path) const { return walkToItem(path); }

std::shared_ptr<Item> Folder::itemWithFileURL(const std::string& url) const {
  auto path = pathFromFileURL(url);
  return path ? itemWithFilePath(*path) : nullptr;
}

std::shared_ptr<Item> RootFolder::itemWithFilePath(const std::string& path) const {
  ManagedObjectPtr owner = library();
  auto shared = owner ? std::dynamic_pointer_cast<SharedFolder>(owner->objectForKey("sharedFolder")) : nullptr;
  if (shared && shared->containsFileAtPath(path)) return shared->itemWithFilePath(path);
  return walkToItem(path);
}

bool SharedFolder::containsFileAtPath(const std::string& path) const {
  auto directory = folderPath();
  return directory && isDescendant(path, *directory);
}

std::shared_ptr<Item> SharedFolder::itemWithFilePath(const std::string& path) const {
  auto directory = folderPath();
  ManagedObjectContext* context = managedObjectContext();
  if (!directory || !context) return nullptr;
  std::string base = standardizingPath(*directory);
  auto inside = standardizedInside(base, path);
  if (!inside) return nullptr;
  std::vector<std::string> components = componentsBelow(base, *inside);
  if (components.size() < 2) return nullptr;
  for (size_t index = components.size() - 1; index-- > 0;) {
    if (pathExtension(components[index]) != kFolderSharedFolderExtension) continue;
    auto folder = std::dynamic_pointer_cast<Folder>(
        LibraryObject::libraryObject(*context, kFolderEntityName, deletingPathExtension(components[index])));
    // Only a plain folder: a system folder's walk would lead back here.
    if (!folder || !folder->isPlainFolder()) return nullptr;
    return folder->walkToItem(*inside);
  }
  return std::dynamic_pointer_cast<Item>(
      LibraryObject::libraryObject(*context, kItemEntityName, components[components.size() - 2]));
}

Folder::Ptr Folder::nearestDescendentForPath(const std::string& path) const {
  auto directory = folderPath();
  if (!directory) return nullptr;
  std::string base = standardizingPath(*directory);
  std::string standardized = standardizingPath(path);
  auto self = std::const_pointer_cast<Folder>(std::static_pointer_cast<const Folder>(shared_from_this()));
  if (standardized == base) return self;
  if (!isDescendant(standardized, base)) return nullptr;
  Ptr sub = subfolderWithName(componentsBelow(base, standardized).front());
  if (!sub) return self;
  Ptr deeper = sub->nearestDescendentForPath(standardized);
  return deeper ? deeper : self;
}

Folder::Ptr Folder::nearestDescendentForURL(const std::string& url) const {
  auto path = pathFromFileURL(url);
  return path ? nearestDescendentForPath(*path) : nullptr;
}

std::optional<std::string> Folder::subitemPathFromPath(const std::string& path) const {
  auto directory = folderPath();
  if (!directory) return std::nullopt;
  std::string base = standardizingPath(*directory);
  auto inside = standardizedInside(base, path);
  if (!inside) return std::nullopt;
  std::vector<std::string> components = componentsBelow(base, *inside);
  std::string candidate = *inside;
  if (components.size() > 1) {
    candidate = appendingPathComponent(base, components.front());
    if (!isPackage(candidate)) return std::nullopt;
  }
  if (lastPathComponent(candidate).starts_with(".")) return std::nullopt;
  return candidate;
}

std::optional<std::string> Folder::subitemFileURLFromURL(const std::string& url) const {
  auto path = pathFromFileURL(url);
  if (!path) return std::nullopt;
  auto subitem = subitemPathFromPath(*path);
  if (!subitem) return std::nullopt;
  return fileURLFromPath(*subitem, isDirectory(*subitem));
}

// Collections.

std::vector<Folder::Ptr> Folder::subfolders() const {
  std::vector<Ptr> result;
  for (const ManagedObjectPtr& child : objectsForKey("children"))
    if (Ptr folder = asFolder(child); folder && folder->isPlainFolder()) result.push_back(folder);
  return result;
}

std::vector<Folder::Ptr> Folder::allSubfolders() const {
  std::vector<Ptr> result;
  for (const Ptr& child : subfolders()) {
    result.push_back(child);
    for (Ptr& below : child->allSubfolders()) result.push_back(std::move(below));
  }
  return result;
}

std::vector<ManagedObjectPtr> Folder::allChildren() const {
  std::vector<ManagedObjectPtr> result;
  for (const ManagedObjectPtr& child : objectsForKey("children")) {
    result.push_back(child);
    if (Ptr folder = asFolder(child))
      for (ManagedObjectPtr& below : folder->allChildren()) result.push_back(std::move(below));
  }
  return result;
}

namespace {

std::vector<ManagedObjectPtr> childrenOfKind(const Folder& top, const char* entityName) {
  std::vector<ManagedObjectPtr> result;
  auto collect = [&](const Folder& folder) {
    for (const ManagedObjectPtr& child : folder.objectsForKey("children"))
      if (isKindOfEntity(*child, entityName)) result.push_back(child);
  };
  collect(top);
  for (const Folder::Ptr& folder : top.allSubfolders()) collect(*folder);
  return result;
}

}  // namespace

std::vector<ManagedObjectPtr> Folder::allBundles() const { return childrenOfKind(*this, kBundleEntityName); }
std::vector<ManagedObjectPtr> Folder::allSearchGroups() const { return childrenOfKind(*this, kSearchGroupEntityName); }

std::vector<ManagedObjectPtr> Folder::childSearchGroups() const {
  std::vector<ManagedObjectPtr> result;
  for (const ManagedObjectPtr& child : objectsForKey("children")) {
    Value type = child->valueForKey("groupType");
    if (type.integer() && *type.integer() == kSearchGroupType) result.push_back(child);
  }
  return result;
}

std::vector<ManagedObjectPtr> Folder::allItems() const {
  std::vector<ManagedObjectPtr> result;
  std::set<ObjectID> seen;
  auto add = [&](std::vector<ManagedObjectPtr> items) {
    for (ManagedObjectPtr& item : items)
      if (seen.insert(item->objectID()).second) result.push_back(std::move(item));
  };
  add(objectsForKey("items"));
  for (const Ptr& folder : allSubfolders()) add(folder->objectsForKey("items"));
  for (const ManagedObjectPtr& bundle : allBundles()) add(bundle->objectsForKey("items"));
  return result;
}

std::vector<ManagedObjectPtr> Folder::allIndividuallySharedItems() const {
  std::vector<ManagedObjectPtr> result;
  for (const ManagedObjectPtr& item : objectsForKey("items"))
    if (!item->valueForKey("cloudShareData").isNull()) result.push_back(item);
  for (const Ptr& folder : subfolders())
    for (ManagedObjectPtr& item : folder->allIndividuallySharedItems()) result.push_back(std::move(item));
  return result;
}

// Ordering.

std::vector<SortDescriptor> Folder::nameSortDescriptors() { return {SortDescriptor::localizedStandard("name")}; }
std::vector<SortDescriptor> Folder::parentOrderSortDescriptors() { return {SortDescriptor{"parentOrder"}}; }

std::vector<SortDescriptor> Folder::childrenSortDescriptors() const {
  return canReorderChildren() ? parentOrderSortDescriptors() : nameSortDescriptors();
}

namespace {

void sortObjects(std::vector<ManagedObjectPtr>& objects, const std::vector<SortDescriptor>& descriptors) {
  std::stable_sort(objects.begin(), objects.end(), [&](const ManagedObjectPtr& a, const ManagedObjectPtr& b) {
    for (const SortDescriptor& descriptor : descriptors) {
      int order = compareForSort(a->valueForKey(descriptor.key), b->valueForKey(descriptor.key), descriptor.comparison);
      if (order != 0) return descriptor.ascending ? order < 0 : order > 0;
    }
    return false;
  });
}

bool sameOrder(const std::vector<ManagedObjectPtr>& a, const std::vector<ManagedObjectPtr>& b) {
  return std::equal(a.begin(), a.end(), b.begin(), b.end(),
                    [](const ManagedObjectPtr& x, const ManagedObjectPtr& y) { return x->objectID() == y->objectID(); });
}

}  // namespace

std::vector<ManagedObjectPtr> Folder::orderedChildren() const {
  std::vector<ManagedObjectPtr> children = objectsForKey("children");
  sortObjects(children, childrenSortDescriptors());
  return children;
}

std::vector<Folder::Ptr> Folder::orderedSubfolders() const {
  std::vector<Ptr> result;
  for (const ManagedObjectPtr& child : orderedChildren())
    if (Ptr folder = asFolder(child); folder && folder->isPlainFolder()) result.push_back(folder);
  return result;
}

void Folder::updateChildrenParentOrder() {
  int64_t index = 0;
  for (const ManagedObjectPtr& child : objectsForKey("children")) {
    Value current = child->valueForKey("parentOrder");
    if (!current.integer() || *current.integer() != index) child->setValueForKey("parentOrder", index);
    ++index;
  }
}

void Folder::updateOrderedChildren() {
  std::vector<ManagedObjectPtr> current = objectsForKey("children");
  std::vector<ManagedObjectPtr> sorted = orderedChildren();
  if (!sameOrder(current, sorted)) setObjectsForKey("children", sorted);
}

void Folder::reorderChildrenByName() {
  std::vector<ManagedObjectPtr> children = objectsForKey("children");
  std::vector<ManagedObjectPtr> sorted = children;
  sortObjects(sorted, nameSortDescriptors());
  if (!sameOrder(children, sorted)) setObjectsForKey("children", sorted);
  for (const Ptr& folder : subfolders()) folder->reorderChildrenByName();
  updateChildrenParentOrder();
}

// Relationship changes.

void Folder::addChildrenObject(const ManagedObjectPtr& child) { addChildren({child}); }
void Folder::removeChildrenObject(const ManagedObjectPtr& child) { removeChildren({child}); }

void Folder::addChildren(const std::vector<ManagedObjectPtr>& children) {
  bool changed = false;
  for (const ManagedObjectPtr& child : children) {
    if (!child || contains(objectsForKey("children"), child.get())) continue;
    addObjectForKey("children", child);
    changed = true;
  }
  if (changed) updateChildrenParentOrder();
}

void Folder::removeChildren(const std::vector<ManagedObjectPtr>& children) {
  bool changed = false;
  for (const ManagedObjectPtr& child : children) {
    if (!child || !contains(objectsForKey("children"), child.get())) continue;
    removeObjectForKey("children", child);
    changed = true;
  }
  if (changed) updateChildrenParentOrder();
}

void Folder::addItemsObject(const ManagedObjectPtr& item) { addItems({item}); }
void Folder::removeItemsObject(const ManagedObjectPtr& item) { removeItems({item}); }

void Folder::addItems(const std::vector<ManagedObjectPtr>& items) {
  for (const ManagedObjectPtr& item : items)
    if (item) addObjectForKey("items", item);
  updateSharedItemsForFolder(items);
}

void Folder::removeItems(const std::vector<ManagedObjectPtr>& items) {
  for (const ManagedObjectPtr& item : items)
    if (item) removeObjectForKey("items", item);
  updateSharedItemsForFolder(items);
}

void Folder::setParent(const Ptr& parent) { setObjectForKey("parent", parent); }

}  // namespace qlt
