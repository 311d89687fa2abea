#include "model/library_directory_watcher.h"

#include <map>
#include <set>

#include "model/folder.h"
#include "model/item.h"
#include "model/library_write_lock.h"
#include "platform/defaults/user_defaults.h"
#include "platform/files/file_path.h"
#include "platform/files/file_system.h"
#include "platform/foundation/log.h"
#include "platform/objectstore/managed_object_context.h"
#include "store/library_manager.h"
#include "store/library_model_constants.h"

namespace qlt {
namespace {

bool isBelowOrAt(const std::string& path, const std::string& directory) {
  return path == directory ||
         (path.size() > directory.size() && path.starts_with(directory) && path[directory.size()] == '/');
}

struct TopFolders {
  std::shared_ptr<Folder> root, trash, shared;

  explicit TopFolders(ManagedObjectContext& context) {
    ManagedObjectPtr library = LibraryObject::libraryObject(context, kLibraryEntityName, kLibraryEntityName);
    if (!library) return;
    root = std::dynamic_pointer_cast<Folder>(library->objectForKey("rootFolder"));
    trash = std::dynamic_pointer_cast<Folder>(library->objectForKey("trashFolder"));
    shared = std::dynamic_pointer_cast<Folder>(library->objectForKey("sharedFolder"));
  }
  std::vector<std::shared_ptr<Folder>> all() const {
    std::vector<std::shared_ptr<Folder>> folders;
    for (const auto& folder : {root, trash, shared})
      if (folder) folders.push_back(folder);
    return folders;
  }
};

// The item whose file is `path` or holds it (a file inside a package).
std::shared_ptr<Item> itemForPath(const TopFolders& tops, const std::string& path) {
  for (const std::shared_ptr<Folder>& top : tops.all()) {
    std::optional<std::string> directory = top->folderPath();
    if (!directory || !isBelowOrAt(path, *directory)) continue;
    for (std::string candidate = path; candidate.size() > directory->size();
         candidate = deletingLastPathComponent(candidate))
      if (std::shared_ptr<Item> item = top->itemWithFilePath(candidate)) return item;
  }
  return nullptr;
}

// Items of the folders that hold changed files, by exact filename, so that
// a burst in a large folder is not one walk through the folder per file.
class ItemsByDirectory {
 public:
  explicit ItemsByDirectory(const TopFolders& tops) : tops_(tops) {}

  std::shared_ptr<Item> itemForPath(const std::string& path) {
    const std::map<std::string, std::shared_ptr<Item>>& items = itemsIn(deletingLastPathComponent(path));
    auto found = items.find(lastPathComponent(path));
    return found != items.end() ? found->second : qlt::itemForPath(tops_, path);
  }

 private:
  const std::map<std::string, std::shared_ptr<Item>>& itemsIn(const std::string& directory) {
    auto [entry, inserted] = directories_.try_emplace(directory);
    if (!inserted) return entry->second;
    for (const std::shared_ptr<Folder>& top : {tops_.root, tops_.trash}) {
      Folder::Ptr folder = top ? top->nearestDescendentForPath(directory) : nullptr;
      if (!folder || folder->folderPath() != directory) continue;
      for (const ManagedObjectPtr& object : folder->objectsForKey("items"))
        if (auto item = std::dynamic_pointer_cast<Item>(object)) entry->second.emplace(item->filename(), item);
      break;
    }
    return entry->second;
  }

  const TopFolders& tops_;
  std::map<std::string, std::map<std::string, std::shared_ptr<Item>>> directories_;
};

bool isWatchedFile(const std::string& path) {
  if (lastPathComponent(path).starts_with(".")) return false;
  bool directory = false;
  return fileExists(path, &directory) && (!directory || isPackage(path));
}

}  // namespace

std::unique_ptr<LibraryDirectoryWatcher> LibraryDirectoryWatcher::start(const std::shared_ptr<LibraryManager>& manager,
                                                                        Error* error,
                                                                        std::unique_ptr<WatchSource> source,
                                                                        DirectoryWatchTiming timing) {
  std::shared_ptr<ManagedObjectContext> context = manager ? manager->newBackgroundContext() : nullptr;
  if (!context) {
    setError(error, Error(kLibraryManagerErrorDomain, kLibraryManagerExceptionErrorCode, "The library is not loaded."));
    return nullptr;
  }
  std::vector<std::string> directories;
  context->performAndWait([&] {
    for (const std::shared_ptr<Folder>& top : TopFolders(*context).all()) {
      Error ignored;
      if (!top->folderExists()) (void)top->createFolder(&ignored);
      if (std::optional<std::string> path = top->folderPath()) directories.push_back(*path);
    }
  });
  std::unique_ptr<LibraryDirectoryWatcher> watcher(new LibraryDirectoryWatcher(manager, directories));
  watcher->watcher_ = std::make_unique<DirectoryWatcher>(
      directories, [raw = watcher.get()](const DirectoryChanges& changes) { raw->refresh(changes); }, std::move(source),
      timing);
  if (!watcher->watcher_->start(error)) return nullptr;
  return watcher;
}

LibraryDirectoryWatcher::LibraryDirectoryWatcher(std::shared_ptr<LibraryManager> manager,
                                                 std::vector<std::string> directories)
    : manager_(std::move(manager)), directories_(std::move(directories)) {}

LibraryDirectoryWatcher::~LibraryDirectoryWatcher() {
  if (watcher_) watcher_->stop();
}

void LibraryDirectoryWatcher::refresh(const DirectoryChanges& changes) {
  std::shared_ptr<ManagedObjectContext> context = manager_->newBackgroundContext();
  if (!context) return;
  context->performAndWait([&] {
    // A writer too: its save must not meet a writer's save half way, nor
    // read a file that a writer is moving.
    LibraryWriteLock turn;
    refresh(*context, changes);
  });
  ++passes_;
}

void LibraryDirectoryWatcher::refresh(ManagedObjectContext& context, const DirectoryChanges& changes) {
  TopFolders tops(context);
  std::vector<std::shared_ptr<Item>> items;
  std::set<ObjectID> seen;
  auto add = [&](const std::shared_ptr<Item>& item) {
    if (item && seen.insert(item->objectID()).second) items.push_back(item);
  };
  if (changes.rescan) {
    Error error;
    std::optional<std::vector<ManagedObjectPtr>> all = context.fetch(FetchRequest(kItemEntityName), &error);
    if (!all) log("Cannot rescan the library's files: %@", error);
    for (const ManagedObjectPtr& object : all.value_or(std::vector<ManagedObjectPtr>{})) {
      auto item = std::dynamic_pointer_cast<Item>(object);
      std::optional<std::string> path = item ? item->fileURL() : std::nullopt;
      if (path && fileExists(*path)) add(item);
    }
  } else {
    ItemsByDirectory index(tops);
    for (const std::string& path : changes.paths)
      if (isWatchedFile(path)) add(index.itemForPath(path));
  }

  bool logging = UserDefaults::standard().boolForKey(kImportLoggingKey);
  for (const std::shared_ptr<Item>& item : items) {
    if (logging) log("Updating file attributes for %@", item->identifier());
    Error error;
    if (!item->updateMetadataFromFile(&error))
      log("Error updating file attributes for item %@: %@", item->identifier(), error);
  }
  if (!context.hasChanges()) return;
  // Change enumeration (and so the mount) reports what this pass changed.
  Date now = Date::now();
  for (const ManagedObjectPtr& object : context.updatedObjects())
    if (auto changed = std::dynamic_pointer_cast<LibraryObject>(object)) changed->setDateRecordChanged(now);
  Error error;
  if (context.save(&error))
    ++saves_;
  else
    log("Error saving file attributes of changed items: %@", error);
}

}  // namespace qlt
