#include "model/group.h"

#include <algorithm>

#include "model/folder.h"
#include "platform/foundation/localized_strings.h"
#include "store/main_thread_notification.h"
#include "util/whitespace.h"

namespace qlt {

std::string cleanedGroupName(const std::string& name) {
  std::string value(trimmingWhitespaceAndNewlines(name));
  if (!containsNewlineOrTab(value)) return value;
  std::string spaced = replacingNewlinesAndTabsWithSpaces(value);
  for (size_t pair = spaced.find("  "); pair != std::string::npos; pair = spaced.find("  ", pair))
    spaced.erase(pair, 1);
  return std::string(trimmingWhitespaceAndNewlines(spaced));
}

std::string Group::name() const {
  Value value = valueForKey("name");
  return value.string() ? *value.string() : std::string();
}

void Group::setName(const std::string& newName) {
  setValueForKey("name", cleanedGroupName(newName));
  postWithMainThreadObject(kGroupNameDidChangeNotification, objectID());
}

bool Group::validateName(std::optional<std::string>& value, Error*) {
  if (value) value = cleanedGroupName(*value);
  return true;
}

bool Group::validateValue(Value& value, const std::string& key, Error* error) const {
  if (key != "name" || !value.string()) return LibraryObject::validateValue(value, key, error);
  std::optional<std::string> name = *value.string();
  if (!validateName(name, error)) return false;
  value = Value(*name);
  return true;
}

int64_t Group::groupType() const {
  Value value = valueForKey("groupType");
  return value.integer() ? *value.integer() : -1;
}

std::shared_ptr<Folder> Group::parentFolder() const {
  return std::dynamic_pointer_cast<Folder>(objectForKey("parent"));
}

ManagedObjectPtr Group::library() const {
  if (entity().relationship("library")) return objectForKey("library");
  if (entity().relationship("rootFolder")) {
    auto root = std::dynamic_pointer_cast<Group>(objectForKey("rootFolder"));
    return root ? root->library() : nullptr;
  }
  auto parent = parentFolder();
  return parent ? parent->library() : nullptr;
}

bool Group::libraryStoresInCloud() const {
  ManagedObjectPtr owner = library();
  return owner && owner->valueForKey("storeInCloudDatabase").boolValue();
}

bool Group::canChangeName(const std::string&, Error*) const { return true; }

bool Group::changeName(const std::string& newName, Error*) {
  if (std::string cleaned = cleanedGroupName(newName); !cleaned.empty()) setName(cleaned);
  return true;
}

Error Group::maxDepthError() const {
  return Error(kGroupErrorDomain, kGroupMaxDepthExceededErrorCode,
               localizedFormat("Maximum iCloud folder depth (%lu) will be exceeded.",
                               static_cast<unsigned long>(kFolderMaxCloudFolderDepth)));
}

bool Group::canMoveToFolder(const Folder& destination, Error* error) const {
  if (destination.isTrashFolder()) {
    if (!canRemove()) {
      setError(error, Error(kGroupErrorDomain, kGroupCannotBeRemovedErrorCode,
                            localizedFormat("“%@” cannot be removed.", name())));
      return false;
    }
  } else if (!canMove()) {
    setError(error, Error(kGroupErrorDomain, kGroupCannotBeMovedErrorCode,
                          localizedFormat("“%@” cannot be moved.", name())));
    return false;
  }
  if (destination.libraryStoresInCloud() && destination.depth() >= kFolderMaxCloudFolderDepth) {
    setError(error, maxDepthError());
    return false;
  }
  return true;
}

bool Group::moveToFolder(const std::shared_ptr<Folder>& destination, Error*) {
  if (!destination) return false;
  std::shared_ptr<Folder> previous = parentFolder();
  ManagedObjectPtr self = shared_from_this();
  destination->addChildrenObject(self);
  ManagedObjectPtr current = objectForKey("parent");
  if (!current || current->objectID() != destination->objectID()) setObjectForKey("parent", destination);
  if (previous && previous->objectID() != destination->objectID()) previous->updateChildrenParentOrder();
  if (!destination->isRootFolder() && !valueForKey("defaultImportLibrary").isNull())
    setObjectForKey("defaultImportLibrary", nullptr);
  return true;
}

bool Group::isDescendentOfFolder(const Folder& folder) const {
  int guard = 0;
  for (auto parent = parentFolder(); parent && guard < 100000; parent = parent->parentFolder(), ++guard)
    if (parent->objectID() == folder.objectID()) return true;
  return false;
}

void Group::moveToIndexInParentFolder(size_t index) {
  std::shared_ptr<Folder> parent = parentFolder();
  if (!parent) return;
  std::vector<ManagedObjectPtr> children = parent->objectsForKey("children");
  ManagedObjectPtr self = shared_from_this();
  auto found = std::find_if(children.begin(), children.end(),
                            [&](const ManagedObjectPtr& child) { return child->objectID() == objectID(); });
  if (found != children.end()) children.erase(found);
  children.insert(children.begin() + static_cast<long>(std::min(index, children.size())), self);
  parent->setObjectsForKey("children", children);
  parent->updateChildrenParentOrder();
}

bool Group::favorite() const { return valueForKey("favorite").boolValue(); }

void Group::setFavorite(bool value) {
  if (favorite() == value) return;
  setValueForKey("favorite", value);
  postWithMainThreadObject(kGroupFavoriteStateDidChangeNotification, objectID());
}

bool Group::isDefaultImportGroup() const { return !valueForKey("defaultImportLibrary").isNull(); }

}  // namespace qlt
