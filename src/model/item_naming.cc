// Item: its name, its filename and the hidden extension that ties them.
#include "formats/note_file.h"
#include "model/file_move_journal.h"
#include "model/folder.h"
#include "model/item.h"
#include "platform/dispatch/notification_center.h"
#include "platform/files/file_attributes.h"
#include "platform/files/file_coordinator.h"
#include "platform/files/file_path.h"
#include "platform/files/file_system.h"
#include "platform/foundation/localized_strings.h"
#include "platform/foundation/log.h"
#include "platform/foundation/uniform_type.h"
#include "platform/objectstore/managed_object_context.h"
#include "store/path_component.h"
#include "util/file_manager.h"
#include "util/filename_rules.h"

namespace qlt {
namespace {

Error itemError(long code, const char* message) { return Error(kItemErrorDomain, code, localizedString(message)); }

// `name` with the extension appended, or `name` itself without one.
std::string withExtension(const std::string& name, const std::string& extension) {
  return extension.empty() ? name : appendingPathExtension(name, extension);
}

}  // namespace

void Item::postIfInMainQueueContext(const char* notification) {
  ManagedObjectContext* context = managedObjectContext();
  if (context && context->concurrencyType() == ManagedObjectContext::ConcurrencyType::MainQueue)
    NotificationCenter::defaultCenter().post(notification, this);
}

bool Item::trashFileInTheWay(const std::string& path, const char* logFormat, Error* error) {
  log(logFormat, path);
  Error failure;
  if (std::optional<std::string> trashed = trashItem(path, &failure)) {
    log("Trashed file: %@", *trashed);
    return true;
  }
  log("Couldn't trash file: %@", failure);
  setError(error, failure);
  return false;
}

bool Item::canChangeName(const std::string& newName, Error* error) const {
  const std::string current = filename();
  if (newName == name() || newName == current) return true;
  const std::string extension = pathExtension(current);
  const std::string newExtension = pathExtension(newName);
  std::string candidate;
  if (newExtension.empty()) {
    candidate = withExtension(newName, extension);
  } else if (extensionHidden()) {
    candidate = newExtension == extension ? newName : withExtension(newName, extension);
  } else if (extension == kNoteFileExtension) {
    candidate = newExtension == kNoteFileExtension ? newName : withExtension(newName, kNoteFileExtension);
  } else {
    candidate = newName;
  }
  candidate = stringSanitizedForFileName(candidate);
  if (candidate.empty()) {
    setError(error, itemError(kItemInvalidFilenameErrorCode, "No filename provided."));
    return false;
  }
  if (candidate == current || !isLocalRecord()) return true;
  std::shared_ptr<Folder> owner = folder();
  if (!owner) return true;
  if (std::shared_ptr<Item> other = owner->itemWithFilename(candidate); other && other.get() != this) {
    Error clash = itemError(kItemFileExistsErrorCode, "An item already exists with that name.");
    clash.setUserInfoValue(kItemExistingItemErrorUserInfoKey, ManagedObjectPtr(other));
    setError(error, clash);
    return false;
  }
  if (Folder::Ptr subfolder = owner->subfolderWithName(candidate)) {
    Error clash = itemError(kItemFolderExistsErrorCode, "A folder already exists with that name.");
    clash.setUserInfoValue(kItemExistingFolderErrorUserInfoKey, ManagedObjectPtr(subfolder));
    setError(error, clash);
    return false;
  }
  return true;
}

bool Item::changeName(const std::string& newName, Error* error) {
  if (newName == name() || newName.empty()) return true;
  const std::string current = filename();
  const std::string extension = pathExtension(current);
  const std::string newExtension = pathExtension(newName);
  std::string candidate;
  bool hidden = true;
  if (!extensionHidden()) {
    if (!newExtension.empty() && newName != deletingPathExtension(current)) {
      candidate = newName;
      hidden = false;
    } else {
      candidate = withExtension(newName, extension);
    }
  } else if (newExtension.empty() && !extension.empty()) {
    candidate = withExtension(newName, extension);
  } else if (newExtension == extension) {
    candidate = newName;
    hidden = false;
  } else {
    candidate = withExtension(newName, extension);
  }
  candidate = stringSanitizedForFileName(candidate);
  if (candidate.empty()) {
    setError(error, itemError(kItemInvalidFilenameErrorCode, "No filename provided."));
    return false;
  }

  std::optional<std::string> path = candidate != current ? fileURL() : std::nullopt;
  if (path && qlt::fileExists(*path)) {
    std::optional<std::string> destination =
        appendingCheckedPathComponent(deletingLastPathComponent(*path), candidate, error);
    if (!destination) return false;
    Error failure;
    bool renamed = false;
    FileCoordinator coordinator;
    bool ran = coordinator.coordinateWriting(
        *path, FileCoordinator::kForMoving, *destination, FileCoordinator::kForReplacing,
        [&](const std::string& from, const std::string& to) {
          // A change of case (or of accents or width) alone names the same
          // entry on some file systems: nothing stands in the way then.
          if (!isEqualToFilename(current, candidate) && qlt::fileExists(to) &&
              !trashFileInTheWay(to, "Trashing existing file when renaming: %@", &failure))
            return;
          std::optional<std::string> entry = FileMoveJournal::begin(identifier(), from, to, &failure);
          if (!entry) return;
          renamed = renameItem(from, candidate, &failure);
          if (!renamed) FileMoveJournal::abandon(*entry);
        },
        &failure);
    if (!ran || !renamed) {
      log("Cannot rename item: %@", failure);
      setError(error, failure);
      return false;
    }
  }

  const std::string oldName = name();
  const std::string displayName = hidden ? deletingPathExtension(candidate) : candidate;
  setValueForKey("name", displayName);
  setFilename(candidate);
  setValueForKey("extensionHidden", hidden);
  if (displayName != oldName) postIfInMainQueueContext(kItemNameDidChangeNotification);
  return true;
}

bool Item::makeFilenameUniqueInFolder(const Folder& folder, Error* error) {
  std::string unique = uniqueFilename(filename(), folder);
  if (unique.empty() || unique == filename()) return true;
  return changeName(extensionHidden() ? deletingPathExtension(unique) : unique, error);
}

void Item::setFilename(const std::string& newFilename) {
  if (newFilename == filename()) return;
  setValueForKey("filename", newFilename);
  if (fileExists()) {
    const UniformType* type = UniformType::withFilenameExtension(pathExtension(newFilename));
    setFileType((type ? *type : UniformType::data()).identifier());
  }
  postIfInMainQueueContext(kItemFilenameDidChangeNotification);
}

void Item::setExtensionHidden(bool hidden) {
  if (hidden == extensionHidden()) return;
  setValueForKey("extensionHidden", hidden);
  if (std::optional<std::string> path = fileURL(); path && qlt::fileExists(*path))
    (void)qlt::setExtensionHidden(*path, hidden);  // a display flag: the stored one is what the name follows
  const std::string current = filename();
  setValueForKey("name", hidden ? deletingPathExtension(current) : current);
}

}  // namespace qlt
