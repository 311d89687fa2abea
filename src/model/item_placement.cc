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

  for (const ManagedObjectPtr& object : destination.objectsForKey("items")) {
    auto other = std::dynamic_pointer_cast<Item>(object);
    if (!other || other.get() == this || !isEqualToFilename(other->filename(), name)) continue;
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

bool Item::canAddToGroup(const Group& group, Error* error) const {
  std::shared_ptr<Folder> current = folder();
  ManagedObjectPtr destination;
  if (!group.isFolder() && current && !current->isTrashFolder() && group.groupType() != kLibraryGroupType) {
    destination = current;
  } else if (auto library = std::dynamic_pointer_cast<Library>(group.library())) {
    destination = library->itemsFolderForGroup(std::const_pointer_cast<ManagedObject>(group.shared_from_this()));
  }
  auto target = std::dynamic_pointer_cast<Folder>(destination);
  return target && canMoveToFolder(*target, error);
}

}  // namespace qlt
