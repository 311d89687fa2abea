// Item: the checks that decide where an item may go.
#include "model/folder.h"
#include "model/item.h"
#include "platform/foundation/localized_strings.h"
#include "store/library.h"
#include "util/filename_rules.h"

namespace qlt {
namespace {

Error itemError(long code, const char* message) {
  return Error(kItemErrorDomain, code, localizedString(message));
}

bool isSameObject(const ManagedObject* a, const ManagedObject* b) { return a && b && a->objectID() == b->objectID(); }

}  // namespace

bool Item::canMoveToFolder(const Folder& destination, const std::string& requested, Error* error) const {
  std::shared_ptr<Folder> current = folder();
  if (isSameObject(current.get(), &destination) && requested == filename()) return true;
  const std::string name = requested.empty() ? filename() : requested;
  if (name.empty()) {
    setError(error, itemError(kItemInvalidFilenameErrorCode, "No filename provided."));
    return false;
  }

  const bool folderShared = current && current->isShared();
  if (isShared() && !folderShared && destination.isShared()) {
    setError(error, itemError(kItemCannotMoveSharedItemErrorCode,
                              "Individually shared items cannot be moved to a shared folder."));
    return false;
  }
  if (!isLocalRecord()) {
    if (!folderShared) return true;
    Folder::Ptr top = current->topLevelFolder();
    if (top && (isSameObject(top.get(), &destination) || destination.isDescendentOfFolder(*top))) return true;
    setError(error, itemError(kItemCannotMoveSharedItemErrorCode,
                              "Shared items that you do not own cannot be moved outside the shared folder."));
    return false;
  }
  if (destination.isTrashFolderItself()) return true;

  if (std::shared_ptr<Item> other = destination.itemWithFilename(name, this)) {
    Error clash = itemError(kItemFileExistsErrorCode, "An item already exists with the same name.");
    clash.setUserInfoValue(kItemExistingItemErrorUserInfoKey, other->identifier());
    setError(error, clash);
    return false;
  }
  if (Folder::Ptr subfolder = destination.subfolderWithName(name)) {
    Error clash = itemError(kItemFolderExistsErrorCode, "A folder already exists with the same name.");
    clash.setUserInfoValue(kItemExistingFolderErrorUserInfoKey, ManagedObjectPtr(subfolder));
    setError(error, clash);
    return false;
  }
  return true;
}

std::shared_ptr<Folder> Item::destinationForGroup(const Group& group) const {
  std::shared_ptr<Folder> current = folder();
  if (!group.isFolder() && current && !current->isTrashFolder() && group.groupType() != kLibraryGroupType)
    return current;
  auto library = std::dynamic_pointer_cast<Library>(group.library());
  if (!library) return nullptr;
  return std::dynamic_pointer_cast<Folder>(
      library->itemsFolderForGroup(std::const_pointer_cast<ManagedObject>(group.shared_from_this())));
}

bool Item::canAddToGroup(const Group& group, Error* error) const {
  std::shared_ptr<Folder> target = destinationForGroup(group);
  if (!target) setError(error, itemError(kItemCannotMoveToInvalidFolderURLErrorCode, "Cannot move to invalid URL."));
  return target && canMoveToFolder(*target, error);
}

bool Item::addToGroup(const std::shared_ptr<Group>& group, Error* error) {
  if (!group || !canAddToGroup(*group, error)) return false;
  if (!moveToFolder(destinationForGroup(*group), filename(), error)) return false;
  // A folder holds its items through their folder.
  if (!group->isFolder()) addGroupsObject(group);
  return true;
}

}  // namespace qlt
