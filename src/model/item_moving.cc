// Item: moving between folders, into and out of the trash.
#include <sys/stat.h>

#include "model/file_move_journal.h"
#include "model/cloud_share.h"
#include "model/folder.h"
#include "model/item.h"
#include "platform/files/file_coordinator.h"
#include "platform/files/file_path.h"
#include "platform/files/file_system.h"
#include "platform/foundation/localized_strings.h"
#include "store/main_thread_notification.h"
#include "store/path_component.h"
#include "util/file_manager.h"
#include "util/filename_rules.h"

namespace qlt {
namespace {

Error itemError(long code, const char* message) { return Error(kItemErrorDomain, code, localizedString(message)); }

bool isSameObject(const ManagedObject* a, const ManagedObject* b) { return a && b && a->objectID() == b->objectID(); }

// Present on disk without following a final symbolic link.
bool somethingAt(const std::string& path) {
  struct stat info;
  return ::lstat(path.c_str(), &info) == 0;
}

bool sameEntry(const std::string& a, const std::string& b) {
  struct stat first, second;
  return ::lstat(a.c_str(), &first) == 0 && ::lstat(b.c_str(), &second) == 0 && first.st_dev == second.st_dev &&
         first.st_ino == second.st_ino;
}

}  // namespace

void Item::removeFromAllGroups() { setObjectsForKey("groups", {}); }

bool Item::moveToFolder(const std::shared_ptr<Folder>& destination, const std::string& requested, Error* error) {
  if (!destination) {
    setError(error, itemError(kItemCannotMoveToInvalidFolderURLErrorCode, "Cannot move to invalid URL."));
    return false;
  }
  if (!canMoveToFolder(*destination, requested, error)) return false;
  std::shared_ptr<Folder> previous = folder();
  const std::string oldFilename = filename();
  std::string newFilename = requested.empty() ? oldFilename : requested;
  if (isSameObject(previous.get(), destination.get()) && newFilename == oldFilename) {
    if (destination->isTrashFolderItself()) removeFromAllGroups();
    return true;
  }
  if (!checkPathComponent(newFilename, error)) return false;

  if (!destination->isTrashFolderItself()) {
    if (std::shared_ptr<Item> other = destination->itemWithFilename(newFilename); other && other.get() != this) {
      Error clash = itemError(kItemFileExistsErrorCode, "An item already exists with the same name.");
      clash.setUserInfoValue(kItemExistingItemErrorUserInfoKey, ManagedObjectPtr(other));
      setError(error, clash);
      return false;
    }
    if (Folder::Ptr subfolder = destination->subfolderWithName(newFilename)) {
      Error clash = itemError(kItemFolderExistsErrorCode, "A folder already exists with the same name.");
      clash.setUserInfoValue(kItemExistingFolderErrorUserInfoKey, ManagedObjectPtr(subfolder));
      setError(error, clash);
      return false;
    }
  }

  const bool hidden = extensionHidden();
  const bool wasInTrash = previous && previous->isTrashFolder();
  const bool intoTrash = destination->isTrashFolder();
  std::optional<std::string> destinationDirectory = destination->folderPath();
  // Items moved into the trash from elsewhere (even from a folder inside
  // it) take a name that no item and no file there has yet.
  if (destination->isTrashFolderItself() && !isSameObject(previous.get(), destination.get())) {
    if (destination->itemWithFilename(newFilename)) newFilename = uniqueFilename(newFilename, *destination);
    if (destinationDirectory) newFilename = makeFilenameUniqueInDirectory(newFilename, *destinationDirectory);
  }

  std::optional<std::string> oldPath = fileURL();
  if (isLocalRecord() && oldPath && somethingAt(*oldPath)) {
    if (!destinationDirectory) {
      setError(error, itemError(kItemCannotMoveToInvalidFolderURLErrorCode, "Cannot move to invalid URL."));
      return false;
    }
    std::optional<std::string> newPath = appendingCheckedPathComponent(*destinationDirectory, newFilename, error);
    if (!newPath) return false;
    if (*newPath != *oldPath) {
      const bool sameDirectory = deletingLastPathComponent(*newPath) == deletingLastPathComponent(*oldPath);
      Error failure;
      bool moved = false;
      FileCoordinator coordinator;
      bool ran = coordinator.coordinateWriting(
          *oldPath, FileCoordinator::kForMoving, *newPath, FileCoordinator::kForReplacing,
          [&](const std::string& from, const std::string& to) {
            if (somethingAt(to) && !sameEntry(from, to) &&
                !trashFileInTheWay(to, "Trashing existing file when moving: %@", &failure))
              return;
            std::optional<std::string> entry = FileMoveJournal::begin(identifier(), from, to, &failure);
            if (!entry) return;
            moved = sameDirectory ? renameItem(from, lastPathComponent(to), &failure) : moveItem(from, to, &failure);
            if (!moved) FileMoveJournal::abandon(*entry);
          },
          &failure);
      if (!ran || !moved) {
        setError(error, failure);
        return false;
      }
    }
  }

  destination->addItemsObject(shared_from_this());
  if (destination->isShared()) storeCloudShare(*this, std::nullopt);
  if (newFilename != oldFilename) {
    setValueForKey("name", hidden ? deletingPathExtension(newFilename) : newFilename);
    setFilename(newFilename);
    setValueForKey("extensionHidden", hidden);
  }
  if (intoTrash) {
    removeFromAllGroups();
    storeCloudShare(*this, std::nullopt);
    if (!wasInTrash) setValueForKey("dateDeleted", Date::now());
  } else if (wasInTrash) {
    ManagedObjectPtr library = destination->library();
    if (ManagedObjectPtr libraryGroup = library ? library->objectForKey("libraryGroup") : nullptr)
      libraryGroup->addObjectForKey("items", shared_from_this());
    setValueForKey("dateDeleted", Value());
  }
  postWithMainThreadObject(kItemFolderDidChangeNotification, objectID());
  return true;
}

}  // namespace qlt
