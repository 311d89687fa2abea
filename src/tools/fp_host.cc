// host: changes made the way the host application makes them, in the
// library manager's view context, so that saves stamp record-change dates,
// write persistent history and reach other processes; deletions leave the
// rows the file-provider service's change enumeration reports. Each change
// leaves a pending change set naming its records, which `sync` sends.
#include <filesystem>

#include "changes/library_change_deleted_file_provider_item.h"
#include "changes/library_change_set.h"
#include "formats/url_components.h"
#include "formats/web_link_file.h"
#include "store/library.h"
#include "model/folder.h"
#include "model/item.h"
#include "model/library_write_lock.h"
#include "platform/files/file_attributes.h"
#include "platform/files/file_system.h"
#include "platform/objectstore/managed_object_context.h"
#include "store/library_changes_container.h"
#include "store/library_manager.h"
#include "tools/fp_commands.h"
#include "tools/fp_output.h"

namespace qlt::tool {

namespace {

int fail(const Error& error) {
  printError(error);
  return 1;
}

nlohmann::json describe(const LibraryObject& object) {
  nlohmann::json json{{"itemIdentifier", object.fileProviderItemIdentifier()}};
  if (auto item = dynamic_cast<const Item*>(&object)) {
    json["name"] = item->name();
    json["filename"] = item->filename();
    json["parentItemIdentifier"] = item->parentItemIdentifier();
  } else if (auto folder = dynamic_cast<const Folder*>(&object)) {
    json["name"] = folder->name();
    json["parentItemIdentifier"] = folder->parentItemIdentifier();
  }
  return json;
}

// Items and plain folders; the library's own containers and other objects
// are not the host command's to change.
LibraryObject::Ptr changeableObject(const std::string& identifier, ManagedObjectContext& context, Error* error) {
  LibraryObject::Ptr object = LibraryObject::libraryObjectFromFileProviderIdentifier(identifier, context);
  if (!object) {
    setError(error, fileProviderErrorForNonExistentItem(identifier));
    return nullptr;
  }
  auto folder = std::dynamic_pointer_cast<Folder>(object);
  if (!std::dynamic_pointer_cast<Item>(object) && !(folder && folder->isPlainFolder())) {
    setError(error, badArgument("“" + identifier + "” is neither an item nor a folder of the user's."));
    return nullptr;
  }
  return object;
}

// Every folder and item at or below `object`, the object first.
std::vector<LibraryObject::Ptr> subtree(const LibraryObject::Ptr& object) {
  std::vector<LibraryObject::Ptr> all = {object};
  if (auto folder = std::dynamic_pointer_cast<Folder>(object)) {
    for (const Folder::Ptr& subfolder : folder->allSubfolders()) all.push_back(subfolder);
    for (const ManagedObjectPtr& item : folder->allItems())
      if (auto libraryObject = std::dynamic_pointer_cast<LibraryObject>(item)) all.push_back(libraryObject);
  }
  return all;
}

// The records a change of the view context inserts and updates, with the
// field names it changes.
struct ChangedRecords {
  RecordIDSet inserted;
  RecordIDSet updated;
  ChangedKeysByRecordID changedKeys;
};

ChangedRecords changedRecords(ManagedObjectContext& view) {
  ChangedRecords records;
  for (const ManagedObjectPtr& object : view.insertedObjects())
    if (auto libraryObject = std::dynamic_pointer_cast<LibraryObject>(object))
      records.inserted.insert(libraryObject->cloudRecordID());
  for (const ManagedObjectPtr& object : view.updatedObjects()) {
    auto libraryObject = std::dynamic_pointer_cast<LibraryObject>(object);
    if (!libraryObject) continue;
    std::set<std::string> keys = libraryObject->changedCloudRecordKeysForChangedValues(object->changedValues());
    if (keys.empty()) continue;
    records.updated.insert(libraryObject->cloudRecordID());
    records.changedKeys.emplace(libraryObject->cloudRecordID(), std::move(keys));
  }
  return records;
}

// Runs `change` in the view context and saves it there, then leaves a
// pending change set of its records; a refused change or a failed save
// leaves the context as it was, and `undoFiles` (when given) takes back what
// the change put on disk.
int changeInViewContext(const CommonOptions& common,
                        const std::function<bool(FileProviderExtension&, ManagedObjectContext&, nlohmann::json&,
                                                 Error*)>& change,
                        const std::function<void()>& undoFiles = nullptr) {
  Error error;
  auto session = ExtensionSession::start(common, &error);
  if (!session) return fail(error);
  auto manager = LibraryManager::sharedManager();
  ManagedObjectContext& view = manager->container()->viewContext();
  nlohmann::json output;
  bool changed = false;
  ChangedRecords records;
  view.performAndWait([&] {
    // The rows the change starts from are read in the writer's turn.
    LibraryWriteLock turn;
    view.refreshAllObjects();
    bool made = change(session->extension(), view, output, &error);
    if (made) records = changedRecords(view);
    changed = made && manager->saveLibrary(&error);
    if (!changed) view.rollback();
    if (made && !changed && undoFiles) undoFiles();
  });
  if (!changed) return fail(error);
  std::shared_ptr<ManagedObjectContext> changes = session->extension().changesManagerContext();
  if (changes && (!records.inserted.empty() || !records.updated.empty())) {
    changes->performAndWait([&] {
      LibraryChangeSet::changeRecordSet(records.inserted, records.updated, records.changedKeys, {}, *changes);
      if (!changes->save(&error)) {
        changes->rollback();
        printError(error);
      }
    });
  }
  printLine(output);
  return 0;
}

// Makes a new item with `make` in the folder named by `folder` (the root
// when empty); a save that fails takes the item's file away again.
int createInViewContext(const CommonOptions& common, const std::string& folder,
                        const std::function<Item::Ptr(const std::shared_ptr<Library>&, const ManagedObjectPtr&,
                                                      Error*)>& make) {
  std::optional<std::string> newFile;
  return changeInViewContext(
      common,
      [&](FileProviderExtension& extension, ManagedObjectContext& view, nlohmann::json& output, Error* error) {
        ManagedObjectPtr group = extension.folderForContainerItemIdentifier(
            containerIdentifier(folder.empty() ? "root" : folder), view, error);
        auto library = group ? std::dynamic_pointer_cast<Library>(std::static_pointer_cast<Folder>(group)->library())
                             : nullptr;
        if (!library) return false;
        Item::Ptr item = make(library, group, error);
        if (!item) return false;
        newFile = item->fileURL();
        output = {{"created", describe(*item)}};
        return true;
      },
      [&] {
        if (newFile) (void)removeItem(*newFile);
      });
}

bool moveObject(const LibraryObject::Ptr& object, const Folder::Ptr& destination, Error* error) {
  if (auto item = std::dynamic_pointer_cast<Item>(object)) return item->moveToFolder(destination, error);
  return std::static_pointer_cast<Folder>(object)->moveToFolder(destination, error);
}

}  // namespace

int hostRenameCommand(const CommonOptions& common, const std::string& identifier, const std::string& name) {
  return changeInViewContext(common, [&](FileProviderExtension&, ManagedObjectContext& view, nlohmann::json& output,
                                         Error* error) {
    LibraryObject::Ptr object = changeableObject(identifier, view, error);
    if (!object) return false;
    bool renamed = false;
    if (auto item = std::dynamic_pointer_cast<Item>(object))
      renamed = item->canChangeName(name, error) && item->changeName(name, error);
    else
      renamed = std::static_pointer_cast<Folder>(object)->changeName(name, error);
    if (renamed) output = {{"renamed", describe(*object)}};
    return renamed;
  });
}

int hostMoveCommand(const CommonOptions& common, const std::string& identifier, const std::string& folderName) {
  return changeInViewContext(common, [&](FileProviderExtension& extension, ManagedObjectContext& view,
                                         nlohmann::json& output, Error* error) {
    LibraryObject::Ptr object = changeableObject(identifier, view, error);
    if (!object) return false;
    auto destination = std::dynamic_pointer_cast<Folder>(
        extension.folderForContainerItemIdentifier(containerIdentifier(folderName), view, error));
    if (!destination || !moveObject(object, destination, error)) return false;
    output = {{"moved", describe(*object)}};
    return true;
  });
}

int hostTrashCommand(const CommonOptions& common, const std::string& identifier, bool intoTrash) {
  return changeInViewContext(common, [&](FileProviderExtension& extension, ManagedObjectContext& view,
                                         nlohmann::json& output, Error* error) {
    LibraryObject::Ptr object = changeableObject(identifier, view, error);
    if (!object) return false;
    std::shared_ptr<Folder> current;
    if (auto item = std::dynamic_pointer_cast<Item>(object))
      current = item->folder();
    else
      current = std::static_pointer_cast<Folder>(object)->parentFolder();
    if (intoTrash == (current && current->isTrashFolder())) {
      setError(error, badArgument(intoTrash ? "“" + identifier + "” is in the trash already."
                                            : "“" + identifier + "” is not in the trash."));
      return false;
    }
    auto destination = std::dynamic_pointer_cast<Folder>(extension.folderForContainerItemIdentifier(
        containerIdentifier(intoTrash ? "trash" : "root"), view, error));
    if (!destination || !moveObject(object, destination, error)) return false;
    output = {{intoTrash ? "trashed" : "untrashed", describe(*object)}};
    return true;
  });
}

int hostDeleteCommand(const CommonOptions& common, const std::string& identifier) {
  return changeInViewContext(common, [&](FileProviderExtension& extension, ManagedObjectContext& view,
                                         nlohmann::json& output, Error* error) {
    LibraryObject::Ptr object = changeableObject(identifier, view, error);
    if (!object) return false;
    std::shared_ptr<ManagedObjectContext> changes = extension.changesManagerContext();
    if (!changes) {
      setError(error, badArgument("The changes database is not open."));
      return false;
    }
    std::vector<std::string> deleted;
    for (const LibraryObject::Ptr& gone : subtree(object)) deleted.push_back(gone->fileProviderItemIdentifier());
    RecordIDSet deletedRecords = object->childRecordIDs();
    deletedRecords.insert(object->cloudRecordID());
    // The rows are written first: a deletion the service never hears of
    // would leave it showing a file that is gone.
    bool recorded = false;
    changes->performAndWait([&] {
      for (const std::string& gone : deleted)
        LibraryChangeDeletedFileProviderItem::deletedFileProviderItem(gone, *changes);
      LibraryChangeSet::changeRecordSet({}, {}, {}, deletedRecords, *changes);
      recorded = changes->save(error);
      if (!recorded) changes->rollback();
    });
    if (!recorded) return false;
    view.deleteObject(object);
    output = {{"deleted", deleted}};
    return true;
  });
}

int hostImportCommand(const CommonOptions& common, const std::string& path, const std::string& folder) {
  std::string absolute = std::filesystem::absolute(path).lexically_normal().string();
  return createInViewContext(common, folder, [&](const std::shared_ptr<Library>& library, const ManagedObjectPtr& group,
                                                 Error* error) {
    return Item::newItemWithFileURLConvertToNoteIfNecessary(absolute, false, library, group, error);
  });
}

int hostNoteCommand(const CommonOptions& common, const std::string& text, const std::string& folder) {
  return createInViewContext(common, folder, [&](const std::shared_ptr<Library>& library, const ManagedObjectPtr& group,
                                                 Error* error) {
    return Item::newNoteItemFromString(text, library, group, error);
  });
}

int hostWebLinkCommand(const CommonOptions& common, const std::string& url, const std::string& folder) {
  std::optional<URLComponents> parsed = URLComponents::fromString(url);
  if (!parsed || !WebLinkFile::canInitWithURL(*parsed)) {
    printError(badArgument("“" + url + "” is not a web address."));
    return 1;
  }
  return createInViewContext(common, folder, [&](const std::shared_ptr<Library>& library, const ManagedObjectPtr& group,
                                                 Error* error) {
    return Item::newWebLinkItemWithURL(*parsed, "", library, group, error);
  });
}

// Swaps `contents` in for the item's file and returns its path. The file
// must still be where the row says: another process may have moved or
// deleted it since the row was read, and a file written at an old place
// would have no row.
std::optional<std::string> replaceItemFile(Item& item, const std::string& contents, Error* error) {
  std::optional<std::string> path = item.fileURL(error);
  if (!path) return std::nullopt;
  std::string staging = temporarySiblingPath(*path);
  if (!writeFileAtomically(staging, contents, error)) return std::nullopt;
  if (replaceExistingItem(*path, staging, error)) return path;
  (void)removeItem(staging);
  return std::nullopt;
}

int hostReplaceCommand(const CommonOptions& common, const std::string& identifier, const std::string& source) {
  constexpr int kAttempts = 3;
  return changeInViewContext(common, [&](FileProviderExtension&, ManagedObjectContext& view, nlohmann::json& output,
                                         Error* error) {
    std::optional<std::string> contents = readFile(source, error);
    if (!contents) return false;
    for (int attempt = 0; attempt < kAttempts; ++attempt) {
      if (attempt > 0) view.refreshAllObjects();  // the file moved or went: read its row again
      LibraryObject::Ptr object = changeableObject(identifier, view, error);
      if (!object) return false;
      auto item = std::dynamic_pointer_cast<Item>(object);
      if (!item) {
        setError(error, badArgument("“" + identifier + "” is not an item."));
        return false;
      }
      if (std::optional<std::string> current = item->fileURL(); current && isDirectory(*current)) {
        // One file cannot stand for a package's folder of files: the item
        // would claim a package its file is not.
        setError(error, badArgument("“" + item->filename() + "” is a package: its contents are not one file."));
        return false;
      }
      Error failure;
      std::optional<std::string> path = replaceItemFile(*item, *contents, &failure);
      if (!path) {
        setError(error, failure);
        if (failure.is(kCocoaErrorDomain, kCocoaFileNoSuchFileError)) continue;
        return false;
      }
      Date now = Date::now();
      if (!setModificationTime(*path, now.toTimespec(), error)) return false;
      item->setDateModified(now);
      item->setValueForKey("size", static_cast<int64_t>(contents->size()));
      output = {{"replaced", describe(*item)}};
      return true;
    }
    return false;
  });
}

}  // namespace qlt::tool
