// Item: what goes with it when it is deleted.
#include <sys/stat.h>

#include "model/file_move_journal.h"
#include "model/folder.h"
#include "model/item.h"
#include "platform/files/file_coordinator.h"
#include "platform/files/file_system.h"
#include "platform/foundation/log.h"

namespace qlt {
namespace {

bool somethingAt(const std::string& path) {
  struct stat info;
  return ::lstat(path.c_str(), &info) == 0;
}

}  // namespace

void Item::prepareForDeletion() {
  LibraryObject::prepareForDeletion();
  setFileDeletionError(std::nullopt);
  postIfInMainQueueContext(kItemWillBeDeletedNotification);
  std::optional<std::string> path = fileURL();
  if (!path || !somethingAt(*path)) return;
  // Another item of the folder under the same filename owns the file too.
  if (std::shared_ptr<Folder> owner = folder()) {
    for (const ManagedObjectPtr& object : owner->objectsForKey("items")) {
      auto other = std::dynamic_pointer_cast<Item>(object);
      if (other && other.get() != this && !other->isDeleted() && other->filename() == filename()) return;
    }
  }
  Error failure;
  bool removed = false;
  FileCoordinator coordinator;
  // Set aside until the deletion is saved: a process that dies before
  // leaves the file for its row.
  bool ran = coordinator.coordinateWriting(
      *path, FileCoordinator::kForDeleting,
      [&](const std::string& target) { removed = FileMoveJournal::setAside(identifier(), target, &failure); },
      &failure);
  if (ran && removed) return;
  log("Error removing item file: %@", failure);
  setFileDeletionError(failure);
}

void Item::deletionWasNotSaved() { (void)FileMoveJournal::putBack(identifier(), fileURL()); }

}  // namespace qlt
