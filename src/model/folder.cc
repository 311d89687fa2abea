#include "model/file_move_journal.h"
#include "model/folder.h"
#include "model/folder_answers.h"

#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <functional>
#include <mutex>
#include <set>

#include "model/cloud_share.h"
#include "platform/files/file_attributes.h"
#include "model/item.h"
#include "model/library_write_lock.h"
#include "platform/files/file_coordinator.h"
#include "platform/files/file_path.h"
#include "platform/files/file_system.h"
#include "platform/files/file_system_calls.h"
#include "platform/foundation/localized_strings.h"
#include "platform/foundation/log.h"
#include "platform/foundation/string_comparison.h"
#include "store/library_manager.h"
#include "store/library_model_constants.h"
#include "store/main_thread_notification.h"
#include "store/path_component.h"
#include "platform/objectstore/managed_object_context.h"
#include "util/file_manager.h"
#include "util/filename_rules.h"

namespace qlt {
namespace {

Folder::Ptr asFolder(const ManagedObjectPtr& object) { return std::dynamic_pointer_cast<Folder>(object); }

bool sameID(const ManagedObjectPtr& object, const ManagedObject* other) {
  return object && other && object->objectID() == other->objectID();
}

// A folder name with nothing left once sanitized would name the parent's
// own directory.
Error blankNameError(const std::string& name) {
  return invalidFilenameError(name, localizedString("it has nothing but spaces, line breaks or “…”"));
}

// Present on disk without following a final symbolic link.
bool somethingAt(const std::string& path) {
  struct stat info;
  return ::lstat(path.c_str(), &info) == 0;
}

bool isSymbolicLink(const std::string& path) {
  struct stat info;
  return ::lstat(path.c_str(), &info) == 0 && S_ISLNK(info.st_mode);
}

bool sameFile(const std::string& a, const std::string& b) {
  struct stat first, second;
  return ::lstat(a.c_str(), &first) == 0 && ::lstat(b.c_str(), &second) == 0 && first.st_dev == second.st_dev &&
         first.st_ino == second.st_ino;
}

// Folders whose directory a context of this process has moved, renamed or
// removed without having saved yet. Until it saves, other contexts read the
// old place from the store, and a directory missing there is on its way,
// not lost.
class DirectoriesInFlux {
 public:
  static DirectoriesInFlux& shared() {
    static auto& registry = *new DirectoriesInFlux;  // outlives queue threads
    return registry;
  }
  void add(const ObjectID& id) {
    std::lock_guard lock(mutex_);
    ids_.insert(id.uriRepresentation());
  }
  void remove(const ObjectID& id) {
    std::lock_guard lock(mutex_);
    ids_.erase(id.uriRepresentation());
  }
  bool contains(const ObjectID& id) {
    std::lock_guard lock(mutex_);
    return ids_.count(id.uriRepresentation()) > 0;
  }

 private:
  std::mutex mutex_;
  std::set<std::string> ids_;
};

Error folderError(long code, const std::string& message) { return Error(kFolderErrorDomain, code, message); }
Error groupError(long code, const std::string& message) { return Error(kGroupErrorDomain, code, message); }

std::string numbered(const std::string& name, long counter) { return formatString("%@ %ld", name, counter); }

std::optional<std::string> systemDirectory(const ManagedObjectPtr& library, bool inPackage, const char* name,
                                           bool noIndex) {
  auto manager = LibraryManager::sharedManager();
  if (!library || !manager) return std::nullopt;
  std::string base = inPackage ? manager->libraryFilePath() : manager->libraryFolderPath();
  if (base.empty()) return std::nullopt;
  std::string path = appendingPathComponent(base, name);
  return noIndex ? appendingPathExtension(path, kFolderNoIndexExtension) : path;
}

// Moves a folder's directory inside a coordinated write. Something already
// at `to` (other than the directory itself) is refused with the error
// `clashAt` returns for it, or else handed to `setAside`, whose failure ends
// the move.
struct DirectoryMove {
  std::string identifier;  // the folder's, for the file move journal
  std::string from;
  std::string to;
  bool sameParent = true;
  std::function<std::optional<Error>(const std::string& to)> clashAt;
  std::function<bool(const std::string& path, Error* error)> setAside;
  const char* logFormat = "";
};

bool moveDirectory(const DirectoryMove& move, Error* error) {
  Error failure;
  bool done = false;
  FileCoordinator coordinator;
  bool ran = coordinator.coordinateReadingAndWriting(
      move.from, FileCoordinator::kNoOptions, move.to, FileCoordinator::kForMoving,
      [&](const std::string& from, const std::string& to) {
        if (somethingAt(to) && !sameFile(from, to)) {
          if (auto clash = move.clashAt(to)) {
            failure = *clash;
            return;
          }
          if (!move.setAside(to, &failure)) return;
        }
        std::optional<std::string> entry = FileMoveJournal::begin(move.identifier, from, to, &failure);
        if (!entry) return;
        done = move.sameParent ? renameItem(from, lastPathComponent(to), &failure) : moveItem(from, to, &failure);
        if (!done) FileMoveJournal::abandon(*entry);
      },
      &failure);
  if (ran && done) return true;
  log(move.logFormat, failure);
  setError(error, failure);
  return false;
}

}  // namespace

std::string Folder::untitledFolderName() { return localizedString("Untitled Folder"); }

std::string Folder::name() const {
  if (isTrashFolderItself()) return localizedString("Deleted Items");
  Value value = valueForKey("name");
  return value.string() ? *value.string() : std::string();
}

ManagedObjectPtr Folder::library() const {
  return rememberedFolderAnswer(*this, &FolderAnswers::Remembered::library, [this] { return findLibrary(); });
}

ManagedObjectPtr Folder::findLibrary() const {
  const Folder* top = this;
  Ptr holder;
  for (int guard = 0; guard < 10000; ++guard) {
    Ptr parent = top->parentFolder();
    if (!parent) break;
    holder = parent;
    top = holder.get();
  }
  if (top->isPlainFolder()) return nullptr;
  return top->objectForKey("library");
}

bool Folder::libraryUsesFileProvider() const {
  ManagedObjectPtr owner = library();
  return owner && owner->valueForKey("useFileProvider").boolValue();
}

std::optional<std::string> Folder::folderPath(Error* error) const {
  FolderAnswers::Remembered* remembered = FolderAnswers::of(*this);
  if (!remembered) return findFolderPath(error);
  if (!remembered->path) {
    Error failure;
    remembered->path = findFolderPath(&failure);
    if (!*remembered->path) remembered->pathError = failure;
  }
  if (!*remembered->path && remembered->pathError) setError(error, *remembered->pathError);
  return *remembered->path;
}

std::optional<std::string> Folder::findFolderPath(Error* error) const {
  if (!isPlainFolder()) return systemFolderPath();
  Ptr parent = parentFolder();
  if (!parent) return std::nullopt;
  std::string own = name();
  if (!checkPathComponent(own, error)) return std::nullopt;
  if (parent->isRootFolder() && !isLocalRecord()) {
    if (!checkPathComponent(identifier(), error)) return std::nullopt;
    ManagedObjectPtr owner = library();
    auto shared = owner ? asFolder(owner->objectForKey("sharedFolder")) : nullptr;
    auto sharedPath = shared ? shared->folderPath() : std::nullopt;
    if (!sharedPath) return std::nullopt;
    auto wrapper = appendingCheckedPathComponent(
        *sharedPath, appendingPathExtension(identifier(), kFolderSharedFolderExtension), error);
    if (!wrapper) return std::nullopt;
    return appendingPathComponent(*wrapper, own);
  }
  std::optional<std::string> parentPath = parent->folderPath(error);
  if (!parentPath) return std::nullopt;
  return appendingPathComponent(*parentPath, own);
}

std::optional<std::string> Folder::folderURL() const {
  auto path = folderPath();
  if (!path) return std::nullopt;
  return fileURLFromPath(*path, true);
}

bool Folder::folderExists() const {
  auto path = folderPath();
  return path && fileExists(*path);
}

bool Folder::moveLegacyDirectory(Error* error, bool* handled) {
  *handled = false;
  if (isPlainFolder() || !libraryUsesFileProvider()) return true;
  auto path = folderPath();
  if (!path || pathExtension(*path) != kFolderNoIndexExtension || somethingAt(*path)) return true;
  std::string legacy = deletingPathExtension(*path);
  if (!somethingAt(legacy)) return true;
  *handled = true;
  Error moveError;
  if (moveItem(legacy, *path, &moveError)) {
    (void)setExtensionHidden(*path, true);  // a display flag: the move is what counts
    return true;
  }
  log(isRootFolder() ? "Error moving legacy FP root folder: %@" : "Error moving legacy FP trash folder: %@", moveError);
  setError(error, moveError);
  return false;
}

bool Folder::createFolder(Error* error) {
  auto manager = LibraryManager::sharedManager();
  if (manager && manager->isProcessingPersistentHistory()) return true;
  if (isRootFolder() || isTrashFolderItself()) {
    bool handled = false;
    bool moved = moveLegacyDirectory(error, &handled);
    if (handled) return moved;
  }
  if (!createDirectory(error)) return false;
  // Served through the file provider, the ".noindex" of the system folders
  // stays out of sight.
  if ((isRootFolder() || isTrashFolderItself()) && libraryUsesFileProvider()) {
    if (auto path = folderPath()) (void)setExtensionHidden(*path, true);  // a display flag
  }
  return true;
}

bool Folder::createDirectory(Error* error) {
  if (isPlainFolder() && !parentFolder()) {
    setError(error, folderError(kFolderNoParentErrorCode, localizedString("No parent folder.")));
    return false;
  }
  auto path = folderPath();
  if (!path) {
    setError(error, folderError(kFolderNoURLErrorCode, localizedString("No folder URL.")));
    return false;
  }
  if (somethingAt(*path)) {
    if (!isSymbolicLink(*path)) return true;
    log("File at URL is an alias or symbolic link: %@", fileURLFromPath(*path));
    Error removeError;
    if (!removeItem(*path, &removeError)) log("Error removing folder: %@", removeError);
  }
  std::optional<std::string> entry = FileMoveJournal::beginCreation(identifier(), *path, error);
  if (!entry) return false;
  if (qlt::createDirectory(*path, true, error)) return true;
  FileMoveJournal::abandon(*entry);
  return false;
}

bool Folder::canChangeName(const std::string& newName, Error* error) const {
  std::string sanitized = stringSanitizedForFileName(newName);
  if (sanitized.empty()) {
    setError(error, blankNameError(newName));
    return false;
  }
  if (sanitized == name()) return true;
  Ptr parent = parentFolder();
  if (!parent) return true;
  if (Ptr existing = parent->subfolderWithName(sanitized); existing && existing->objectID() != objectID()) {
    Error clash =
        folderError(kFolderWithNameExistsErrorCode, localizedString("A folder with that name already exists."));
    clash.setUserInfoValue(kFolderErrorExistingFolderUserInfoKey, ManagedObjectPtr(existing));
    setError(error, clash);
    return false;
  }
  if (auto item = parent->itemWithFilename(sanitized)) {
    Error clash =
        folderError(kFolderItemWithNameExistsErrorCode, localizedString("An item with that name already exists."));
    clash.setUserInfoValue(kFolderErrorExistingItemUserInfoKey, ManagedObjectPtr(item));
    setError(error, clash);
    return false;
  }
  return true;
}

bool Folder::directoryBelongsToAnother(const std::string& path) const {
  ManagedObjectContext* context = managedObjectContext();
  if (!context) return true;
  auto folders = context->fetch(FetchRequest(kFolderEntityName));
  if (!folders) return true;
  std::string parentPath = deletingLastPathComponent(path);
  std::string last = lastPathComponent(path);
  for (const ManagedObjectPtr& object : *folders) {
    Ptr folder = asFolder(object);
    if (!folder || folder->objectID() == objectID() || folder->isDeleted()) continue;
    auto other = folder->folderPath();
    if (!other) continue;
    if (*other == path) return true;
    if (isDescendant(*other, path) && !folder->isDescendentOfFolder(*this)) return true;
    if (*other == parentPath && folder->itemWithFilename(last)) return true;
  }
  return false;
}

bool Folder::changeName(const std::string& newName, Error* error) {
  if (!canChangeName(newName, error)) return false;
  std::string sanitized = stringSanitizedForFileName(newName);
  if (sanitized == name()) return true;
  auto oldPath = folderPath();
  if (isPlainFolder() && oldPath && somethingAt(*oldPath)) {
    loadSubtree();
    auto newPath = appendingCheckedPathComponent(deletingLastPathComponent(*oldPath), sanitized, error);
    if (!newPath) return false;
    if (*newPath == *oldPath) return true;
    DirectoryMove move{identifier(), *oldPath, *newPath, true,
                       [&](const std::string& to) -> std::optional<Error> {
                         if (!directoryBelongsToAnother(to)) return std::nullopt;
                         return Error(kCocoaErrorDomain, kCocoaFileWriteFileExistsError,
                                      localizedString("An item with that name already exists."));
                       },
                       [&](const std::string& path, Error* failure) { return setAside(path, failure); },
                       "Error renaming folder: %@"};
    if (!moveDirectory(move, error)) return false;
    DirectoriesInFlux::shared().add(objectID());
  }
  if (!sanitized.empty()) setName(sanitized);
  return true;
}

std::string Folder::uniqueName(const std::string& wanted, const Folder& folder) const {
  Ptr existing = folder.subfolderWithName(wanted);
  if (!existing) return wanted;
  for (long counter = 1;; ++counter) {
    std::string candidate = numbered(wanted, counter);
    existing = folder.subfolderWithName(candidate);
    if (!existing) return candidate;
    if (existing->identifier() == identifier()) return existing->name();
  }
}

bool Folder::makeNameUniqueInFolder(const Folder& folder, Error* error) {
  if (!isLocalRecord() && cloudShare()) return true;
  std::string current = name();
  std::string candidate = current;
  for (long counter = 1;; ++counter) {
    Ptr existing = folder.subfolderWithName(candidate);
    bool taken = (existing && existing->objectID() != objectID()) || folder.itemWithFilename(candidate);
    if (!taken) break;
    candidate = numbered(current, counter);
  }
  return changeName(candidate, error);
}

std::string Folder::uniqueNameForSubfolder(const std::string& wanted) const {
  std::string candidate = wanted;
  for (long counter = 1; subfolderWithName(candidate) || itemWithFilename(candidate); ++counter)
    candidate = numbered(wanted, counter);
  return candidate;
}

Folder::Ptr Folder::createSubfolder(const std::string& wanted, Error* error) {
  ManagedObjectContext* context = managedObjectContext();
  if (!context) return nullptr;
  std::string sanitized = stringSanitizedForFileName(wanted);
  if (sanitized.empty()) {
    setError(error, blankNameError(wanted));
    return nullptr;
  }
  std::string folderName = uniqueNameForSubfolder(sanitized);
  Ptr folder = asFolder(context->insertNewObject(kFolderEntityName, error));
  if (!folder) return nullptr;
  folder->setName(folderName);
  addChildrenObject(folder);
  if (folder->folderPath() && somethingAt(*folder->folderPath()) && !isSymbolicLink(*folder->folderPath())) {
    // An untracked directory of that name is not adopted: the new folder
    // must start empty, so it takes the next free name on disk too.
    std::string base = folderName;
    for (long counter = 1; folder->folderPath() && somethingAt(*folder->folderPath()); ++counter) {
      std::string candidate = numbered(base, counter);
      if (subfolderWithName(candidate) || itemWithFilename(candidate)) continue;
      folder->setValueForKey("name", candidate);
    }
  }
  if (!folder->createFolder(error)) {
    removeChildrenObject(folder);
    folder->setObjectForKey("parent", nullptr);
    context->deleteObject(folder);
    return nullptr;
  }
  return folder;
}

// Whether sharing lets the folder go to `destination`: nullopt when the
// remaining checks decide, else the answer (a top-level shared folder may
// always go to the trash, under any name).
std::optional<bool> Folder::sharingAllowsMove(const Folder& destination, Error* error) const {
  auto refuse = [&](long code, const char* message) {
    setError(error, folderError(code, localizedString(message)));
    return std::optional<bool>(false);
  };
  if (isShared()) {
    Ptr top = const_cast<Folder*>(this)->topLevelFolder();
    if (top && top->objectID() == objectID()) {
      if (destination.isTrashFolder()) return true;
      return refuse(kFolderCannotMoveSharedFolderErrorCode, "Top-level shared folders cannot be moved.");
    }
    if (isLocalRecord()) {
      if (!destination.isLocalRecord())
        return refuse(kFolderCannotMoveIntoSharedFolderErrorCode,
                      "You cannot move a folder into a shared folder that you do not own.");
    } else if (!top || (destination.objectID() != top->objectID() && !destination.isDescendentOfFolder(*top))) {
      return refuse(kFolderCannotMoveSharedFolderErrorCode,
                    "Cannot remove or move a shared folder out of the top-level hierarchy.");
    }
  } else if (destination.isShared()) {
    if (!destination.isLocalRecord())
      return refuse(kFolderCannotMoveIntoSharedFolderErrorCode,
                    "You cannot move a folder into a shared folder that you do not own.");
    if (!allBundles().empty())
      return refuse(kFolderCannotMoveIntoSharedFolderErrorCode,
                    "You cannot move a folder with bundles into a shared folder.");
    if (!allIndividuallySharedItems().empty())
      return refuse(kFolderCannotMoveIntoSharedFolderErrorCode,
                    "You cannot move a folder with individually shared items into a shared folder.");
  }
  return std::nullopt;
}

bool Folder::canMoveToFolder(const Folder& destination, const std::string& wantedName, Error* error) const {
  if (!Group::canMoveToFolder(destination, error)) return false;
  if (stringSanitizedForFileName(wantedName).empty()) {
    setError(error, blankNameError(wantedName));
    return false;
  }
  if (destination.libraryStoresInCloud() && relativeMaxDepth() + destination.depth() > kFolderMaxCloudFolderDepth) {
    setError(error, maxDepthError());
    return false;
  }
  if (auto answer = sharingAllowsMove(destination, error)) return *answer;
  if (destination.objectID() == objectID() || destination.isDescendentOfFolder(*this)) {
    setError(error, folderError(kFolderContainsFolderURLErrorCode,
                                localizedFormat("The folder “%@” contains “%@”.", name(), destination.name())));
    return false;
  }
  std::string sanitized = stringSanitizedForFileName(wantedName);
  if (!destination.isTrashFolderItself()) {
    if (Ptr existing = destination.subfolderWithName(sanitized); existing && existing->objectID() != objectID()) {
      Error clash = folderError(
          kFolderWithNameExistsErrorCode,
          localizedFormat("The folder “%@” already contains a folder named “%@”.", destination.name(), sanitized));
      clash.setUserInfoValue(kFolderErrorExistingFolderUserInfoKey, ManagedObjectPtr(existing));
      setError(error, clash);
      return false;
    }
  }
  if (auto item = destination.itemWithFilename(sanitized)) {
    Error clash = folderError(
        kFolderItemWithNameExistsErrorCode,
        localizedFormat("The folder “%@” contains an item with the filename “%@”.", destination.name(), sanitized));
    clash.setUserInfoValue(kFolderErrorExistingItemUserInfoKey, ManagedObjectPtr(item));
    setError(error, clash);
    return false;
  }
  return true;
}

bool Folder::moveToFolder(const Folder::Ptr& destination, const std::string& wantedName, Error* error) {
  if (!destination) return false;
  Ptr previous = parentFolder();
  if (sameID(previous, destination.get()) && wantedName == name()) return true;
  if (!canMoveToFolder(*destination, wantedName, error)) return false;
  auto oldPath = folderPath();
  if (!oldPath) {
    setError(error, folderError(kFolderNoURLErrorCode, localizedFormat("Folder has no URL: %@", name())));
    return false;
  }
  auto destinationPath = destination->folderPath();
  if (!destinationPath) {
    setError(error,
             folderError(kFolderNoParentFolderURLErrorCode, localizedFormat("Parent folder has no URL: %@", name())));
    return false;
  }
  std::string sanitized = stringSanitizedForFileName(wantedName);
  if (destination->isTrashFolderItself()) {
    std::string base = sanitized;
    sanitized = uniqueName(base, *destination);
    for (long counter = 1; !sameID(destination->subfolderWithName(sanitized), this) &&
                           (destination->subfolderWithName(sanitized) || destination->itemWithFilename(sanitized) ||
                            somethingAt(appendingPathComponent(*destinationPath, sanitized)));
         ++counter)
      sanitized = numbered(base, counter);
  }
  auto newPath = appendingCheckedPathComponent(*destinationPath, sanitized, error);
  if (!newPath) return false;
  bool sameParent = sameID(previous, destination.get());

  if (somethingAt(*oldPath) && *newPath != *oldPath) {
    loadSubtree();
    DirectoryMove move{identifier(), *oldPath, *newPath, sameParent,
                       [&](const std::string& to) -> std::optional<Error> {
                         if (libraryUsesFileProvider() && !directoryBelongsToAnother(to)) return std::nullopt;
                         return Error(kCocoaErrorDomain, kCocoaFileWriteFileExistsError,
                                      localizedFormat("The folder “%@” contains an item with the filename “%@”.",
                                                      destination->name(), sanitized));
                       },
                       [&](const std::string& path, Error* failure) { return setAside(path, failure); },
                       "Error moving folder: %@"};
    if (!moveDirectory(move, error)) return false;
    DirectoriesInFlux::shared().add(objectID());
  }
  removeEmptySharedWrapper(*oldPath);
  setName(sanitized);
  std::vector<ManagedObjectPtr> items = allItems();
  bool wasInTrash = previous && previous->isTrashFolder();
  std::vector<ManagedObjectPtr> doomed;
  if (destination->isTrashFolder()) {
    doomed = moveContentsToTrash(wasInTrash, items);
  } else if (wasInTrash) {
    ManagedObjectPtr owner = destination->library();
    ManagedObjectPtr libraryGroup = owner ? owner->objectForKey("libraryGroup") : nullptr;
    for (const ManagedObjectPtr& item : items) {
      item->setValueForKey("dateDeleted", Value());
      if (libraryGroup) libraryGroup->addObjectForKey("items", item);
    }
  }
  (void)Group::moveToFolder(destination);  // fails only without a destination, checked above
  if (ManagedObjectContext* context = managedObjectContext())
    for (const ManagedObjectPtr& object : doomed) context->deleteObject(object);
  return true;
}

std::vector<ManagedObjectPtr> Folder::moveContentsToTrash(bool wasInTrash, const std::vector<ManagedObjectPtr>& items) {
  // Decided before the items lose their shares below.
  std::vector<ManagedObjectPtr> doomed;
  bool shared = isShared();
  if (shared && !isLocalRecord()) {
    doomed.push_back(shared_from_this());
    for (Ptr& folder : allSubfolders()) doomed.push_back(std::move(folder));
    doomed.insert(doomed.end(), items.begin(), items.end());
  } else if (!shared) {
    for (const ManagedObjectPtr& item : items)
      if (!isItemLocalRecord(*item)) doomed.push_back(item);
  }
  setFavorite(false);
  Date now = Date::now();
  for (const ManagedObjectPtr& item : items) {
    item->setObjectsForKey("groups", {});
    if (!wasInTrash) {
      item->setValueForKey("dateDeleted", now);
      storeCloudShare(*item, std::nullopt);
    }
  }
  if (shared && !wasInTrash) setCloudShare(std::nullopt);
  for (const Ptr& folder : allSubfolders()) folder->setFavorite(false);
  return doomed;
}

void Folder::loadSubtree() const {
  allSubfolders();
}

bool Folder::setAside(const std::string& path, Error* error) const {
  ManagedObjectPtr owner = library();
  auto trash = owner ? asFolder(owner->objectForKey("trashFolder")) : nullptr;
  auto trashPath = trash ? trash->folderPath() : std::nullopt;
  if (!trashPath) {
    setError(error, folderError(kFolderNoURLErrorCode, localizedString("No folder URL.")));
    return false;
  }
  if (!isDirectory(*trashPath) && !qlt::createDirectory(*trashPath, true, error)) return false;
  std::string destination =
      appendingPathComponent(*trashPath, makeFilenameUniqueInDirectory(lastPathComponent(path), *trashPath));
  if (!moveItem(path, destination, error)) return false;
  log("Set aside %@ as %@", path, destination);
  return true;
}

void Folder::removeEmptySharedWrapper(const std::string& oldPath) const {
  std::string wrapper = deletingLastPathComponent(oldPath);
  if (pathExtension(wrapper) != kFolderSharedFolderExtension) return;
  ManagedObjectPtr owner = library();
  auto shared = owner ? asFolder(owner->objectForKey("sharedFolder")) : nullptr;
  auto sharedPath = shared ? shared->folderPath() : std::nullopt;
  if (sharedPath && deletingLastPathComponent(wrapper) == *sharedPath) (void)FileSystemCalls::current().rmdir(wrapper.c_str());
}

bool Folder::remove(Error* error) {
  ManagedObjectContext* context = managedObjectContext();
  if (!canRemove() || !context) {
    setError(error, groupError(kGroupCannotBeRemovedErrorCode, localizedFormat("“%@” cannot be removed.", name())));
    return false;
  }
  context->deleteObject(shared_from_this());
  return true;
}

void Folder::awakeFromInsert() {
  LibraryObject::awakeFromInsert();
  switch (groupType()) {
    case kRootFolderGroupType:
      setValueForKey("name", kRootFolderName);
      break;
    case kTrashFolderGroupType:
      setValueForKey("name", kTrashFolderName);
      break;
    case kSharedFolderGroupType:
      setValueForKey("name", kSharedFolderName);
      break;
    default:
      setValueForKey("name", untitledFolderName());
      break;
  }
}

namespace {

// Contexts that read the store afresh to check a folder's place: their
// folders make no directories.
class FreshReadContexts {
 public:
  static FreshReadContexts& shared() {
    static auto& registry = *new FreshReadContexts;  // outlives queue threads
    return registry;
  }
  void add(const ManagedObjectContext* context) {
    std::lock_guard lock(mutex_);
    contexts_.insert(context);
  }
  void remove(const ManagedObjectContext* context) {
    std::lock_guard lock(mutex_);
    contexts_.erase(context);
  }
  bool contains(const ManagedObjectContext* context) {
    std::lock_guard lock(mutex_);
    return contexts_.count(context) > 0;
  }

 private:
  std::mutex mutex_;
  std::set<const ManagedObjectContext*> contexts_;
};

}  // namespace

bool Folder::storePutsDirectoryAtSamePath() const {
  ManagedObjectContext* context = managedObjectContext();
  std::optional<std::string> path = folderPath();
  if (!context || !path) return false;
  auto fresh = std::make_shared<ManagedObjectContext>(context->coordinator(),
                                                      ManagedObjectContext::ConcurrencyType::PrivateQueue);
  FreshReadContexts::shared().add(fresh.get());
  std::optional<std::string> current;
  fresh->performAndWait([&] {
    if (Ptr folder = asFolder(fresh->existingObjectWithID(objectID()))) current = folder->folderPath();
  });
  FreshReadContexts::shared().remove(fresh.get());
  return current == path;
}

bool Folder::isAtOrBelowFolderInFlux() const {
  auto inFlux = [](const Folder& folder) {
    return folder.isDeleted() || DirectoriesInFlux::shared().contains(folder.objectID());
  };
  if (inFlux(*this)) return true;
  for (Ptr folder = parentFolder(); folder; folder = folder->parentFolder())
    if (inFlux(*folder)) return true;
  return false;
}

void Folder::awakeFromFetch() {
  LibraryObject::awakeFromFetch();
  if (FreshReadContexts::shared().contains(managedObjectContext())) return;
  // A folder at or below one deleted, moved or renamed but not yet saved
  // is looked for at a place it has left.
  if (isAtOrBelowFolderInFlux() || folderExists()) return;
  // Only in the writer's turn, and only where the store puts it now: a
  // writer may be moving it or a folder above (its rows are saved once the
  // directories are in place), or may have saved such a move after this
  // context read the folders above. A directory made at the place they
  // give would have no row.
  LibraryWriteLock turn(LibraryWriteLock::TryOnly{});
  if (!turn.owns() || folderExists() || !storePutsDirectoryAtSamePath()) return;
  log("Making the directory of folder %@ again: %@", identifier(), folderPath().value_or(""));
  Error error;
  if (!createFolder(&error)) log("Attempt to recreate folder (%@) failed: %@", identifier(), error);
}

void Folder::didSave() {
  LibraryObject::didSave();
  // Saved but not deleted, though a deletion set it aside (and was then
  // rolled back): back where the row says.
  if (!isDeleted()) (void)FileMoveJournal::putBack(identifier(), folderPath());
  FileMoveJournal::finish(identifier(), isDeleted());
  DirectoriesInFlux::shared().remove(objectID());
}

void Folder::prepareForDeletion() {
  LibraryObject::prepareForDeletion();
  setFileDeletionError(std::nullopt);
  if (!isPlainFolder()) return;
  auto path = folderPath();
  if (!path || !somethingAt(*path)) return;
  if (!isLocalRecord() && pathExtension(deletingLastPathComponent(*path)) == kFolderSharedFolderExtension)
    path = deletingLastPathComponent(*path);
  if (directoryBelongsToAnother(*path)) return;
  Error failure;
  bool removed = false;
  DirectoriesInFlux::shared().add(objectID());
  FileCoordinator coordinator;
  bool ran = coordinator.coordinateWriting(
      *path, FileCoordinator::kForDeleting,
      [&](const std::string& target) { removed = FileMoveJournal::setAside(identifier(), target, &failure); },
      &failure);
  if (ran && removed) return;
  log("Error removing folder: %@", failure);
  setFileDeletionError(failure);
}

void Folder::deletionWasNotSaved() {
  (void)FileMoveJournal::putBack(identifier(), folderPath());
  DirectoriesInFlux::shared().remove(objectID());
}

void RootFolder::awakeFromInsert() {
  Folder::awakeFromInsert();
  ensureUnfiledGroup();
}

void RootFolder::awakeFromFetch() {
  Folder::awakeFromFetch();
  ensureUnfiledGroup();
}

void RootFolder::ensureUnfiledGroup() {
  ManagedObjectContext* context = managedObjectContext();
  if (!context || objectForKey("unfiledGroup")) return;
  if (ManagedObjectPtr unfiled = context->insertNewObject(kUnfiledGroupEntityName))
    setObjectForKey("unfiledGroup", unfiled);
}

std::optional<std::string> RootFolder::systemFolderPath() const {
  if (auto custom = customFolderURL(); custom && !custom->empty()) return custom;
  bool fileProvider = libraryUsesFileProvider();
  return systemDirectory(library(), fileProvider, kRootFolderName, fileProvider);
}

std::optional<std::string> TrashFolder::systemFolderPath() const {
  bool fileProvider = libraryUsesFileProvider();
  return systemDirectory(library(), fileProvider, kTrashFolderName, fileProvider);
}

std::optional<std::string> SharedFolder::systemFolderPath() const {
  return systemDirectory(library(), true, kSharedFolderName, false);
}

bool TrashFolder::canEmpty() const { return !objectsForKey("children").empty() || !allItems().empty(); }

void TrashFolder::empty() {
  ManagedObjectContext* context = managedObjectContext();
  if (!context) return;
  for (const ManagedObjectPtr& child : objectsForKey("children")) context->deleteObject(child);
  for (const ManagedObjectPtr& item : objectsForKey("items")) context->deleteObject(item);
}

}  // namespace qlt
