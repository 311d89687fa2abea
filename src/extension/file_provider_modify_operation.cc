#include "extension/file_provider_modify_operation.h"

#include <cerrno>

#include "cloud/extension_modify_cloud_records_operation.h"
#include "extension/cloud_error_conversion.h"
#include "extension/file_provider_item_values.h"
#include "extension/library_object_file_provider_item.h"
#include "model/finder_tags.h"
#include "model/file_move_journal.h"
#include "model/folder.h"
#include "model/item.h"
#include "model/library_write_lock.h"
#include "model/tag.h"
#include "platform/cloud/cloud_error.h"
#include "platform/files/file_attributes.h"
#include "platform/files/file_path.h"
#include "platform/foundation/log.h"
#include "platform/foundation/uniform_type.h"
#include "platform/objectstore/managed_object_context.h"
#include "store/library.h"
#include "store/library_model_constants.h"
#include "store/library_object.h"
#include "util/file_manager.h"

namespace qlt {
namespace {

Error aliasOrSymbolicLinkError() {
  Error error(kCocoaErrorDomain, kCocoaServiceReplyInvalidError);
  error.setUnderlyingError(Error(kFileProviderModifyOperationErrorDomain, kModifyAliasOrSymbolicLinkErrorCode,
                                 "Alias files and symbolic links are not supported."));
  return error;
}

bool isLinkType(const std::string& identifier) {
  const UniformType* type = UniformType::withIdentifier(identifier);
  return type && (type->conformsTo(UniformType::symbolicLink()) || type->conformsTo(UniformType::aliasFile()));
}

}  // namespace

FileProviderModifyOperation::FileProviderModifyOperation(FileProviderItemPtr item, FileProviderDomain domain,
                                                         std::optional<FileProviderItemVersion> baseVersion,
                                                         uint64_t changedFields, std::optional<std::string> contents,
                                                         uint64_t options,
                                                         std::shared_ptr<ManagedObjectContext> changesManagerContext)
    : FileProviderOperation(1),
      item_(std::move(item)),
      domain_(std::move(domain)),
      version_(std::move(baseVersion)),
      changedFields_(changedFields),
      contentsURL_(std::move(contents)),
      options_(options),
      changesManagerContext_(std::move(changesManagerContext)) {}

std::string FileProviderModifyOperation::description() const {
  return "<FileProviderModifyOperation " + item_->itemIdentifier() + ">";
}

std::optional<Error> FileProviderModifyOperation::refusal() const {
  if (has(kFileProviderItemFilename))
    if (std::optional<Error> refused = filenameRefusal(item_->filename())) return refused;
  if (has(kFileProviderItemContents)) {
    std::optional<FileAttributes> contents = contentsURL_ ? attributesOfItem(*contentsURL_) : std::nullopt;
    if (!contents)
      return Error(kCocoaErrorDomain, kCocoaFileNoSuchFileError,
                   "The new contents for “" + item_->filename() + "” don’t exist.");
    if (contents->type == FileAttributes::Type::SymbolicLink) return aliasOrSymbolicLinkError();
    if (contents->type == FileAttributes::Type::Other)
      return Error(kCocoaErrorDomain, kCocoaFileReadUnknownError,
                   "The new contents of “" + item_->filename() + "” are neither a file nor a folder.");
  }
  if (has(kFileProviderItemTagData)) {
    std::optional<Bytes> data = item_->tagData();
    if (data && !data->empty() && !Tag::tagNamesFromFileProviderTagData(*data))
      return Error(kCocoaErrorDomain, kCocoaFileReadCorruptFileError,
                   "The tags given for “" + item_->filename() + "” cannot be read.");
  }
  return std::nullopt;
}

std::shared_ptr<Folder> FileProviderModifyOperation::newParentFolder() const {
  const std::string identifier = item_->parentItemIdentifier();
  std::shared_ptr<Library> library = this->library();
  if (identifier == kRootContainerItemIdentifier)
    return std::dynamic_pointer_cast<Folder>(library->objectForKey("rootFolder"));
  if (identifier == kTrashContainerItemIdentifier)
    return std::dynamic_pointer_cast<Folder>(library->objectForKey("trashFolder"));
  std::optional<std::string> libraryIdentifier = LibraryObject::libraryObjectIdentifierFromFileProviderIdentifier(identifier);
  if (!libraryIdentifier || LibraryObject::entityNameFromFileProviderIdentifier(identifier) != kFolderEntityName)
    return nullptr;
  return std::dynamic_pointer_cast<Folder>(
      LibraryObject::libraryObject(*managedObjectContext(), kFolderEntityName, *libraryIdentifier));
}

void FileProviderModifyOperation::main() {
  std::shared_ptr<ManagedObjectContext> context = managedObjectContext();
  std::optional<Error> failure;
  std::optional<RecordID> recordID;
  std::set<std::string> changedKeys;
  context->performAndWait([&] {
    LibraryWriteLock turn;
    ManagedObjectPtr object = LibraryObject::libraryObjectFromFileProviderIdentifier(item_->itemIdentifier(), *context);
    auto item = std::dynamic_pointer_cast<Item>(object);
    auto folder = std::dynamic_pointer_cast<Folder>(object);
    Error error;
    bool updated = false;
    if (isLinkType(item_->contentType())) {
      error = aliasOrSymbolicLinkError();
    } else if (!item && !folder) {
      error = fileProviderErrorForNonExistentItem(item_->itemIdentifier());
    } else if (std::optional<Error> refused = refusal()) {
      error = *refused;
    } else {
      updated = item ? updateValuesOnItem(*item, &error) : updateValuesOnFolder(*folder, &error);
    }
    if (updated) {
      auto libraryObject = std::dynamic_pointer_cast<LibraryObject>(object);
      changedKeys = libraryObject->changedCloudRecordKeysForChangedValues(libraryObject->changedValues());
      // New contents alone change no key of the record but its file.
      if (item && has(kFileProviderItemContents)) changedKeys.insert(kItemCloudFileAssetKey);
      Error saveError;
      if (context->save(&saveError)) {
        objectID_ = object->objectID();
        recordID = libraryObject->cloudRecordID();
        return;
      }
      log("Cannot save modified object: %@", saveError);
      error = saveError;
    }
    failure = error;
    auto libraryObject = std::dynamic_pointer_cast<LibraryObject>(object);
    const std::string identifier = libraryObject ? libraryObject->identifier() : std::string();
    context->rollback();
    // The rows are as they were saved: so must the file be.
    if (!identifier.empty() && !FileMoveJournal::undoUnsaved(identifier))
      log("Cannot put back the file of %@ after a failed modification", identifier);
    if (updated && item) restoreFileMetadata();
  });
  if (isCancelled()) {
    finishWithError();
    return;
  }
  if (failure) {
    finishWithError(failure);
    return;
  }
  if (recordID && shouldSaveChangesToCloud()) {
    recordChangeSet(*recordID, changedKeys);
    saveChangesToCloudWithChangedKeys({{*recordID, changedKeys}});
    return;
  }
  progress()->setCompletedUnitCount(1);
  finishWithError();
}

bool FileProviderModifyOperation::updateValuesOnFolder(Folder& folder, Error* error) {
  if (has(kFileProviderItemFilename) || has(kFileProviderItemParentItemIdentifier)) {
    std::shared_ptr<Folder> destination = has(kFileProviderItemParentItemIdentifier) ? newParentFolder() : folder.parentFolder();
    if (!destination) {
      setError(error, fileProviderErrorForNonExistentItem(item_->parentItemIdentifier()));
      return false;
    }
    const std::string name = has(kFileProviderItemFilename) ? item_->filename() : folder.name();
    if (!folder.moveToFolder(destination, name, error)) return false;
  }
  if (std::optional<std::string> directory = folder.folderPath()) {
    if (has(kFileProviderItemCreationDate) && item_->creationDate())
      (void)setCreationTime(*directory, item_->creationDate()->toTimespec());
    if (has(kFileProviderItemContentModificationDate) && item_->contentModificationDate())
      (void)setModificationTime(*directory, item_->contentModificationDate()->toTimespec());
    if (has(kFileProviderItemLastUsedDate) && item_->lastUsedDate())
      (void)setAccessTime(*directory, item_->lastUsedDate()->toTimespec());
    if (has(kFileProviderItemTagData)) {
      std::optional<Bytes> data = item_->tagData();
      folder.setValueForKey("fileProviderTagData", data ? Value(*data) : Value());
      std::optional<std::vector<std::string>> names =
          data && !data->empty() ? Tag::tagNamesFromFileProviderTagData(*data) : std::nullopt;
      Error failure;
      if (names && !names->empty() && !setFinderTagNames(*directory, *names, &failure))
        log("Cannot update Finder tags on local folder: %@", failure);
    }
    if (has(kFileProviderItemExtendedAttributes))
      for (const auto& [key, value] : item_->extendedAttributes()) (void)setXAttrDataValue(value, key, *directory);
  }
  return true;
}

void FileProviderModifyOperation::recordChangeSet(const RecordID& recordID, const std::set<std::string>& changedKeys) {
  if (!changesManagerContext_) return;
  changesManagerContext_->performAndWait([&] {
    RecordIDSet inserted(insertedTagRecordIDs_.begin(), insertedTagRecordIDs_.end());
    changeSet_ = LibraryChangeSet::changeRecordSet(inserted, {recordID}, {{recordID, changedKeys}}, {},
                                                   *changesManagerContext_);
    if (changeSet_) changeSet_->setStatus(LibraryChangeSetStatus::HandedToCloudUpload);
    (void)changesManagerContext_->save();  // the outbox is advisory; the upload goes on
  });
}

void FileProviderModifyOperation::setChangeSetStatus(LibraryChangeSetStatus status) {
  if (!changesManagerContext_) return;
  changesManagerContext_->performAndWait([&] {
    if (!changeSet_) return;
    changeSet_->setStatus(status);
    (void)changesManagerContext_->save();
  });
}

void FileProviderModifyOperation::saveChangesToCloudWithChangedKeys(const ChangedKeysByRecordID& changedKeys) {
  std::vector<LibraryObject::Ptr> objects;
  std::vector<std::shared_ptr<Item>> items;
  managedObjectContext()->performAndWait([&] {
    auto object = std::dynamic_pointer_cast<LibraryObject>(managedObjectContext()->existingObjectWithID(*objectID_));
    if (!object) return;
    objects.push_back(object);
    auto item = std::dynamic_pointer_cast<Item>(object);
    if (item && has(kFileProviderItemContents)) items.push_back(item);
    if (!item) return;
    for (const ManagedObjectPtr& tag : item->objectsForKey("tags")) {
      auto libraryObject = std::dynamic_pointer_cast<LibraryObject>(tag);
      if (libraryObject && insertedTagRecordIDs_.count(libraryObject->cloudRecordID())) objects.push_back(libraryObject);
    }
  });
  auto upload = ExtensionModifyCloudRecordsOperation::make(objects, items);
  if (!upload) {
    finishWithError(noLibraryFileProviderOperationError());
    return;
  }
  upload->setChangedKeysByRecordID(changedKeys);
  runCloudUpload(upload, [](FileProviderOperation& operation, const Error* error) {
    operation.finishWithError(error ? std::optional<Error>(*error) : std::nullopt);
  });
}

Error FileProviderModifyOperation::convertError(const Error& error) const {
  Error converted = error;
  if (std::optional<long> code = fileProviderCodeForCloudError(error)) {
    converted = Error(kFileProviderErrorDomain, *code);
    converted.setUnderlyingError(error);
  }
  if (converted.domain() != kCocoaErrorDomain && converted.domain() != kFileProviderErrorDomain) {
    Error wrapped(kCocoaErrorDomain, kCocoaServiceReplyInvalidError, converted.localizedDescription());
    wrapped.setUnderlyingError(converted);
    converted = wrapped;
  }
  return converted;
}

void FileProviderModifyOperation::complete(const Error* error) {
  if (error) {
    setChangeSetStatus(LibraryChangeSetStatus::Pending);
    log("Error modifying item %@: %@", item_->itemIdentifier(), *error);
    if (completion_) completion_(nullptr, changedFields_, error);
    return;
  }
  if (changesManagerContext_) {
    changesManagerContext_->performAndWait([&] {
      if (!changeSet_) return;
      changesManagerContext_->deleteObject(changeSet_);
      changeSet_ = nullptr;
      (void)changesManagerContext_->save();
    });
  }
  if (std::shared_ptr<ManagedObjectContext> context = managedObjectContext(); context && objectID_) {
    context->performAndWait([&] {
      if (ManagedObjectPtr object = context->existingObjectWithID(*objectID_)) resultItem_ = fileProviderItem(object);
    });
  }
  if (completion_) completion_(resultItem_, 0, nullptr);
}

}  // namespace qlt
