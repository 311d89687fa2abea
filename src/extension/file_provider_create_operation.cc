#include "extension/file_provider_create_operation.h"

#include <cerrno>

#include "cloud/extension_modify_cloud_records_operation.h"
#include "formats/note_file.h"
#include "extension/cloud_error_conversion.h"
#include "extension/file_provider_item_values.h"
#include "extension/library_object_file_provider_item.h"
#include "model/file_move_journal.h"
#include "model/folder.h"
#include "model/item.h"
#include "model/library_write_lock.h"
#include "platform/cloud/cloud_error.h"
#include "platform/fileprovider/file_provider_domain.h"
#include "platform/files/file_attributes.h"
#include "platform/files/file_path.h"
#include "platform/files/file_system.h"
#include "platform/foundation/log.h"
#include "platform/foundation/property_list_unicode.h"
#include "platform/foundation/uniform_type.h"
#include "platform/objectstore/managed_object_context.h"
#include "store/library.h"
#include "store/library_model_constants.h"
#include "store/library_object.h"

namespace qlt {
namespace {

bool somethingAt(const std::string& path) { return attributesOfItem(path).has_value(); }

// What the service staged as contents: nothing, a file or directory, a
// symbolic link, or something else (a pipe, a device).
enum class Contents { None, FileOrDirectory, SymbolicLink, Other };

Contents kindOfContents(const std::optional<std::string>& path) {
  std::optional<FileAttributes> attributes = path ? attributesOfItem(*path) : std::nullopt;
  if (!attributes) return Contents::None;
  switch (attributes->type) {
    case FileAttributes::Type::SymbolicLink:
      return Contents::SymbolicLink;
    case FileAttributes::Type::Other:
      return Contents::Other;
    default:
      return Contents::FileOrDirectory;
  }
}

std::string describe(const FileProviderItem& item) {
  return "<template " + item.filename() + " in " + item.parentItemIdentifier() + ">";
}

}  // namespace

FileProviderCreateOperation::FileProviderCreateOperation(FileProviderItemPtr itemTemplate, uint64_t fields,
                                                         std::optional<std::string> contents, uint64_t options,
                                                         std::shared_ptr<ManagedObjectContext> changesManagerContext)
    : FileProviderOperation(1),
      template_(std::move(itemTemplate)),
      fields_(fields),
      contentsURL_(std::move(contents)),
      options_(options),
      changesManagerContext_(std::move(changesManagerContext)) {}

std::string FileProviderCreateOperation::description() const {
  return "<FileProviderCreateOperation " + template_->filename() + ">";
}

void FileProviderCreateOperation::main() {
  if (std::optional<Error> invalid = filenameRefusal(template_->filename())) {
    finishCreation(invalid);
    return;
  }
  const bool mayExist =
      (options_ & (kFileProviderCreateItemMayAlreadyExist | kFileProviderCreateItemDeletionConflicted)) != 0;
  std::shared_ptr<ManagedObjectContext> context = managedObjectContext();
  std::optional<Error> error;
  context->performAndWait([&] {
    LibraryWriteLock turn;
    std::shared_ptr<Folder> parent = resolveParent();
    if (!parent) {
      error = fileProviderErrorForNonExistentItem(template_->parentItemIdentifier());
      return;
    }
    Error failure;
    ManagedObjectPtr object = createLibraryObjectInParent(parent, mayExist, &failure);
    if (object && !earlyFinish_ && !isCancelled()) {
      createdObjectID_ = object->objectID();
      Error saveError;
      if (context->save(&saveError)) return;
      log("Cannot save created object: %@", saveError);
      error = saveError;
      createdObjectID_.reset();
    } else if (!object && !failure.domain().empty()) {
      error = failure;
    }
    context->rollback();
    removeCreatedFiles();
  });
  if (earlyFinish_) {
    finishCreation(*earlyFinish_);
    return;
  }
  if (!createdObjectID_) {
    finishCreation(error);
    return;
  }
  if (didCreateItem_ && shouldSaveChangesToCloud()) {
    recordChangeSet();
    saveToCloud();
    return;
  }
  progress()->setCompletedUnitCount(1);
  finishCreation(std::nullopt);
}

std::shared_ptr<Folder> FileProviderCreateOperation::resolveParent() const {
  std::shared_ptr<Library> library = this->library();
  const std::string identifier = template_->parentItemIdentifier();
  if (identifier == kRootContainerItemIdentifier) return std::dynamic_pointer_cast<Folder>(library->objectForKey("rootFolder"));
  if (identifier == kTrashContainerItemIdentifier)
    return std::dynamic_pointer_cast<Folder>(library->objectForKey("trashFolder"));
  if (LibraryObject::entityNameFromFileProviderIdentifier(identifier) != kFolderEntityName) return nullptr;
  std::optional<std::string> libraryIdentifier = LibraryObject::libraryObjectIdentifierFromFileProviderIdentifier(identifier);
  if (!libraryIdentifier) return nullptr;
  return std::dynamic_pointer_cast<Folder>(
      LibraryObject::libraryObject(*managedObjectContext(), kFolderEntityName, *libraryIdentifier));
}

ManagedObjectPtr FileProviderCreateOperation::createLibraryObjectInParent(const std::shared_ptr<Folder>& parent,
                                                                          bool mayExist, Error* error) {
  const std::string extension = pathExtension(template_->filename());
  // Packages that show as folders are items all the same.
  if (extension == "qltinfo" || extension == kNoteFileExtension || extension == "app")
    return createItemInParent(parent, mayExist, error);
  const UniformType* type = UniformType::withIdentifier(template_->contentType());
  if (type && type->conformsTo(UniformType::folder())) return createFolderInParent(parent, mayExist, error);
  return createItemInParent(parent, mayExist, error);
}

std::optional<std::string> FileProviderCreateOperation::restoredIdentifier() const {
  std::map<std::string, Bytes> attributes = template_->extendedAttributes();
  auto found = attributes.find(kLibraryObjectIdentifierXAttrName);
  if (found == attributes.end() || found->second.empty()) return std::nullopt;
  std::string text(found->second.begin(), found->second.end());
  if (!isValidUTF8(text)) return std::nullopt;
  return text;
}

bool FileProviderCreateOperation::isRemoteShareTemplate() const {
  return template_->extendedAttributes().contains(kLibraryObjectIsRemoteShareXAttrName);
}

std::shared_ptr<Folder> FileProviderCreateOperation::createFolderInParent(const std::shared_ptr<Folder>& parent,
                                                                          bool mayExist, Error* error) {
  const std::string name = template_->filename();
  const std::string parentIdentifier = template_->parentItemIdentifier();
  std::shared_ptr<Library> library = this->library();
  std::optional<std::string> identifier;
  if (mayExist) {
    if (std::shared_ptr<Folder> existing = parent->subfolderWithName(name)) {
      log("Returning existing folder with name “%@“ in parent %@", name, parentIdentifier);
      return existing;
    }
    if (std::shared_ptr<Item> item = parent->itemWithFilename(name)) {
      setError(error, fileProviderErrorForCollisionWithItem(fileProviderItem(item)));
      return nullptr;
    }
    if (has(kFileProviderItemExtendedAttributes)) {
      if (isRemoteShareTemplate() && !library->boolForKey("storeInCloudDatabase")) {
        log("Not recreating folder that was remotely shared when not using iCloud: %@", describe(*template_));
        return nullptr;
      }
      identifier = restoredIdentifier();
      if (identifier) {
        if (auto existing = std::dynamic_pointer_cast<Folder>(
                LibraryObject::libraryObject(*managedObjectContext(), kFolderEntityName, *identifier))) {
          log("Returning existing folder with identifier %@ in parent %@", *identifier, parentIdentifier);
          return existing;
        }
      }
    }
  }
  log("Creating folder with name “%@“ in parent %@", name, parentIdentifier);
  if (std::shared_ptr<Folder> existing = parent->subfolderWithName(name)) {
    setError(error, fileProviderErrorForCollisionWithItem(fileProviderItem(existing)));
    return nullptr;
  }
  // The item's file would stand where the folder's directory must go.
  if (std::shared_ptr<Item> item = parent->itemWithFilename(name)) {
    setError(error, fileProviderErrorForCollisionWithItem(fileProviderItem(item)));
    return nullptr;
  }
  auto folder = std::dynamic_pointer_cast<Folder>(managedObjectContext()->insertNewObject(kFolderEntityName, error));
  if (!folder) return nullptr;
  if (identifier) {
    log("Restoring identifier on created folder: %@", *identifier);
    folder->setValueForKey("identifier", *identifier);
  }
  folder->setName(name);
  parent->addChildren({folder});
  std::optional<std::string> directory = folder->folderPath();
  const bool existed = directory && somethingAt(*directory);
  if (!folder->createFolder(error)) return nullptr;
  if (directory && !existed) createdDirectoryPath_ = directory;
  createdIdentifier_ = folder->identifier();
  if (!applyTemplateToFolder(*folder, error)) return nullptr;
  didCreateItem_ = true;
  return folder;
}

std::shared_ptr<Item> FileProviderCreateOperation::createItemInParent(const std::shared_ptr<Folder>& parent,
                                                                      bool mayExist, Error* error) {
  const std::string name = template_->filename();
  const std::string parentIdentifier = template_->parentItemIdentifier();
  std::shared_ptr<Library> library = this->library();
  std::optional<std::string> identifier;
  if (mayExist) {
    if (std::shared_ptr<Item> existing = parent->itemWithFilename(name)) {
      if (!existing->folder() || !existing->folder()->isTrashFolder())
        if (ManagedObjectPtr libraryGroup = library->objectForKey("libraryGroup")) existing->addGroupsObject(libraryGroup);
      log("Returning existing item with name “%@“ in parent %@", name, parentIdentifier);
      return existing;
    }
    if (std::shared_ptr<Folder> folder = parent->subfolderWithName(name)) {
      setError(error, fileProviderErrorForCollisionWithItem(fileProviderItem(folder)));
      return nullptr;
    }
    if (has(kFileProviderItemExtendedAttributes)) {
      if (isRemoteShareTemplate() && !library->boolForKey("storeInCloudDatabase")) {
        log("Not recreating item that was remotely shared when not using iCloud: %@", describe(*template_));
        finishAtOnce(std::nullopt);
        return nullptr;
      }
      identifier = restoredIdentifier();
      if (identifier) {
        if (auto existing = std::dynamic_pointer_cast<Item>(
                LibraryObject::libraryObject(*managedObjectContext(), kItemEntityName, *identifier))) {
          log("Returning existing item with identifier %@ in parent %@", *identifier, parentIdentifier);
          return existing;
        }
      }
    }
  }
  if (!mayExist && (!contentsURL_ || !somethingAt(*contentsURL_))) {
    setError(error, Error(kCocoaErrorDomain, kCocoaFileNoSuchFileError,
                          "The contents for “" + name + "” don’t exist."));
    return nullptr;
  }
  if (std::shared_ptr<Item> existing = parent->itemWithFilename(name)) {
    finishAtOnce(fileProviderErrorForCollisionWithItem(fileProviderItem(existing)));
    return nullptr;
  }
  if (std::shared_ptr<Folder> folder = parent->subfolderWithName(name)) {
    finishAtOnce(fileProviderErrorForCollisionWithItem(fileProviderItem(folder)));
    return nullptr;
  }
  const UniformType* type = UniformType::withIdentifier(template_->contentType());
  const Contents contents = kindOfContents(contentsURL_);
  if ((type && type->conformsTo(UniformType::symbolicLink())) || contents == Contents::SymbolicLink) {
    log("Not creating item that is an alias or symbolic link: %@", describe(*template_));
    finishAtOnce(Error(kFileProviderErrorDomain, kFileProviderErrorExcludedFromSync,
                       "“" + name + "” is a symbolic link or alias, which the library does not keep."));
    return nullptr;
  }
  if (mayExist && has(kFileProviderItemExtendedAttributes) && isRemoteShareTemplate()) {
    log("Not recreating item that was remotely shared: %@", describe(*template_));
    finishAtOnce(std::nullopt);
    return nullptr;
  }
  if (contents == Contents::Other) {
    // A pipe or a device would hang the copy or copy endlessly.
    setError(error, Error(kCocoaErrorDomain, kCocoaFileReadUnknownError,
                          "The contents of “" + name + "” are neither a file nor a folder."));
    return nullptr;
  }

  log("Creating item with name “%@“ in parent %@", name, parentIdentifier);
  Error failure;
  std::optional<std::string> source = contents == Contents::None ? std::nullopt : contentsURL_;
  std::shared_ptr<Item> item = Item::newItemWithFileURLItemFilename(source, name, library, parent, &failure);
  if (!item) {
    log("Cannot create item: %@", failure);
    setError(error, failure);
    return nullptr;
  }
  if (source) createdFilePath_ = item->fileURL();
  createdIdentifier_ = item->identifier();
  if (identifier) {
    log("Restoring identifier on created item: %@", *identifier);
    item->setValueForKey("identifier", *identifier);
  }
  if (!applyTemplateToItem(*item, error)) return nullptr;
  didCreateItem_ = true;
  return item;
}

void FileProviderCreateOperation::finishAtOnce(std::optional<Error> error) { earlyFinish_ = std::move(error); }

void FileProviderCreateOperation::removeCreatedFiles() {
  if (createdFilePath_ && somethingAt(*createdFilePath_)) {
    Error failure;
    if (!removeItem(*createdFilePath_, &failure)) log("Cannot remove file of failed creation: %@", failure);
  }
  // Only while still empty: anything in it now is not ours.
  if (createdDirectoryPath_) (void)removeEmptyDirectory(*createdDirectoryPath_);
  // A file or directory still there keeps its entry, for the next load to remove.
  const bool gone = !(createdFilePath_ && somethingAt(*createdFilePath_)) &&
                    !(createdDirectoryPath_ && somethingAt(*createdDirectoryPath_));
  if (createdIdentifier_ && gone) FileMoveJournal::forgetCreation(*createdIdentifier_);
  createdFilePath_.reset();
  createdDirectoryPath_.reset();
  createdIdentifier_.reset();
}

void FileProviderCreateOperation::recordChangeSet() {
  std::optional<RecordID> recordID;
  managedObjectContext()->performAndWait([&] {
    auto object = std::dynamic_pointer_cast<LibraryObject>(managedObjectContext()->existingObjectWithID(*createdObjectID_));
    if (object) recordID = object->cloudRecordID();
  });
  if (!recordID || !changesManagerContext_) return;
  changesManagerContext_->performAndWait([&] {
    RecordIDSet inserted(insertedTagRecordIDs_.begin(), insertedTagRecordIDs_.end());
    inserted.insert(*recordID);
    changeSet_ = LibraryChangeSet::changeRecordSet(inserted, {}, {}, {}, *changesManagerContext_);
    (void)changesManagerContext_->save();  // the outbox is advisory; the creation goes on
  });
}

void FileProviderCreateOperation::saveToCloud() {
  std::vector<LibraryObject::Ptr> objects;
  std::vector<std::shared_ptr<Item>> items;
  managedObjectContext()->performAndWait([&] {
    auto object = std::dynamic_pointer_cast<LibraryObject>(managedObjectContext()->existingObjectWithID(*createdObjectID_));
    if (!object) return;
    objects.push_back(object);
    if (auto item = std::dynamic_pointer_cast<Item>(object)) {
      items.push_back(item);
      for (const ManagedObjectPtr& tag : item->objectsForKey("tags"))
        if (auto libraryObject = std::dynamic_pointer_cast<LibraryObject>(tag)) objects.push_back(libraryObject);
    }
  });
  if (changesManagerContext_) {
    changesManagerContext_->performAndWait([&] {
      if (!changeSet_) return;
      changeSet_->setStatus(LibraryChangeSetStatus::HandedToCloudUpload);
      (void)changesManagerContext_->save();
    });
  }
  auto upload = ExtensionModifyCloudRecordsOperation::make(objects, items);
  if (!upload) {
    finishCreation(noLibraryFileProviderOperationError());
    return;
  }
  runCloudUpload(upload, [](FileProviderOperation& base, const Error* error) {
    auto& operation = static_cast<FileProviderCreateOperation&>(base);
    if (error && operation.changesManagerContext_) {
      operation.changesManagerContext_->performAndWait([&] {
        if (!operation.changeSet_) return;
        operation.changeSet_->setStatus(LibraryChangeSetStatus::Pending);
        (void)operation.changesManagerContext_->save();
      });
    }
    operation.finishCreation(error ? std::optional<Error>(*error) : std::nullopt);
  });
}

void FileProviderCreateOperation::finishCreation(std::optional<Error> error) {
  std::optional<Error> reported;
  bool keepDespiteError = false;
  if (isCancelled()) {
    Error cancelled = userCancelledError();
    if (error) cancelled.setUnderlyingError(*error);
    reported = cancelled;
  } else if (error) {
    const std::string& domain = error->domain();
    if (domain == kFileProviderErrorDomain || domain == kCocoaErrorDomain || domain == kPOSIXErrorDomain) {
      reported = error;
    } else if (domain == kCloudErrorDomain) {
      reported = fileProviderErrorForCloudError(*error, template_->itemIdentifier());
      // The object stays, saved locally, for a later upload.
      keepDespiteError = error->code() != kCloudErrorQuotaExceeded;
    } else if (domain == kItemErrorDomain || domain == kFolderErrorDomain) {
      createdObjectID_.reset();
    } else {
      Error wrapped(kCocoaErrorDomain, kCocoaServiceReplyInvalidError);
      wrapped.setUnderlyingError(*error);
      reported = wrapped;
    }
  }

  std::shared_ptr<ManagedObjectContext> context = managedObjectContext();
  if (error && createdObjectID_ && !keepDespiteError && context) {
    context->performAndWait([&] {
      if (ManagedObjectPtr object = context->existingObjectWithID(*createdObjectID_)) context->deleteObject(object);
      Error saveError;
      if (!context->save(&saveError)) log("Cannot undo creation: %@", saveError);
    });
    if (changesManagerContext_) {
      changesManagerContext_->performAndWait([&] {
        if (!changeSet_) return;
        changesManagerContext_->deleteObject(changeSet_);
        changeSet_ = nullptr;
        (void)changesManagerContext_->save();
      });
    }
    createdObjectID_.reset();
  }

  if (createdObjectID_ && context) {
    context->performAndWait([&] {
      if (ManagedObjectPtr object = context->existingObjectWithID(*createdObjectID_)) resultItem_ = fileProviderItem(object);
    });
    if (resultItem_) log(didCreateItem_ ? "Created item %@" : "Returning item %@", resultItem_->itemIdentifier());
  }
  if (reported) {
    log("Error creating file provider item:%@\nError:%@", describe(*template_), *reported);
  } else if (!createdObjectID_) {
    log("Returning nil file provider item for %@", describe(*template_));
  }
  finishWithError(reported);
}

void FileProviderCreateOperation::complete(const Error* error) {
  if (completion_) completion_(error ? nullptr : resultItem_, 0, error);
}

}  // namespace qlt
