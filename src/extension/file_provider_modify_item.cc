// FileProviderModifyOperation: the changed fields applied to an item.
#include <sys/stat.h>

#include "extension/file_provider_modify_operation.h"
#include "extension/file_provider_item_values.h"
#include "extension/get_item_file_url_operation.h"
#include "model/finder_tags.h"
#include "model/folder.h"
#include "model/item.h"
#include "model/item_error.h"
#include "model/tag.h"
#include "platform/dispatch/operation_queue.h"
#include "platform/files/file_attributes.h"
#include "platform/files/file_coordinator.h"
#include "platform/files/file_error.h"
#include "platform/files/file_metadata_backup.h"
#include "platform/foundation/log.h"
#include "platform/foundation/property_list_serialization.h"
#include "platform/foundation/uuid.h"
#include "store/library_manager.h"
#include "platform/files/file_path.h"
#include "util/file_manager.h"
#include "util/filename_rules.h"

namespace qlt {
namespace {

bool isNameClash(const Error& error) {
  return error.domain() == kItemErrorDomain &&
         (error.code() == kItemFileExistsErrorCode || error.code() == kItemFolderExistsErrorCode);
}

// A rename as the file manager asks for one: checked, then done; the
// hidden-extension setting survives it.
bool renameKeepingHiddenExtension(Item& item, const std::string& name, Error* error) {
  const bool hidden = item.extensionHidden();
  if (!item.canChangeName(name, error) || !item.changeName(name, error)) return false;
  // The service names whole filenames: an extension the new name leaves out
  // is gone, where a rename of the item's name would keep it.
  const std::string wanted = stringSanitizedForFileName(name);
  if (item.filename() != wanted && pathExtension(wanted).empty() && !pathExtension(item.filename()).empty() &&
      !item.moveToFolder(item.folder(), wanted, error))
    return false;
  item.setExtensionHidden(hidden);
  return true;
}

bool moveKeepingHiddenExtension(Item& item, const std::shared_ptr<Folder>& folder, const std::string& filename,
                                Error* error) {
  const bool hidden = item.extensionHidden();
  if (!item.moveToFolder(folder, filename, error)) return false;
  item.setExtensionHidden(hidden);
  return true;
}

// A file whose contents are not on this machine: it has a size but no
// blocks, the way placeholders of cloud files look.
bool isDataless(const std::string& path) {
  struct stat status {};
  return ::stat(path.c_str(), &status) == 0 && S_ISREG(status.st_mode) && status.st_size > 0 && status.st_blocks == 0;
}

}  // namespace

bool FileProviderModifyOperation::updateValuesOnItem(Item& item, Error* error) {
  if (has(kFileProviderItemContents) && !replaceContents(item, error)) return false;
  // The place changes last: the file's dates and attributes before it can
  // still be put back where they are when a later step fails.
  fileBefore_.reset();
  if (const std::optional<std::string> path = item.fileURL())
    if (std::optional<FileMetadataBackup> backup = FileMetadataBackup::capture(*path))
      fileBefore_ = FileBefore{*path, std::move(*backup)};
  const bool moves = has(kFileProviderItemFilename) || has(kFileProviderItemParentItemIdentifier);
  if (updateFileMetadata(item, error) && (!moves || updatePlace(item, error))) return true;
  restoreFileMetadata();
  return false;
}

void FileProviderModifyOperation::restoreFileMetadata() {
  Error failure;
  if (fileBefore_ && !fileBefore_->metadata.restore(fileBefore_->path, &failure))
    log("Cannot put back the attributes of %@: %@", fileBefore_->path, failure);
}

bool FileProviderModifyOperation::updateFileMetadata(Item& item, Error* error) {
  if (!updateDates(item, error)) return false;
  if (has(kFileProviderItemTagData) && !updateTagData(item, error)) return false;
  if (has(kFileProviderItemFileSystemFlags)) updateFileSystemFlags(item);
  if (has(kFileProviderItemExtendedAttributes) &&
      !applyExtendedAttributesToItem(item, item_->extendedAttributes(), item.fileURL(), error))
    return false;
  return !has(kFileProviderItemTypeAndCreator) || !item_->typeAndCreator() ||
         applyTypeAndCreatorToItem(item, *item_->typeAndCreator(), item.fileURL(), error);
}

bool FileProviderModifyOperation::replaceContents(Item& item, Error* error) {
  std::optional<std::string> path = item.fileURL(error);
  if (!path) return false;
  const std::optional<Date> created = item.dateCreated();
  const std::optional<Date> modified = item.dateModified();
  FileCoordinator coordinator;
  Error failure;
  bool written = false;
  bool ran = coordinator.coordinateReadingAndWriting(
      *contentsURL_, FileCoordinator::kNoOptions, *path, FileCoordinator::kForReplacing,
      [&](const std::string& source, const std::string& destination) {
        // Copied in the library's import folder: a copy cut short there is
        // no file of any folder.
        const std::string staging = appendingPathComponent(
            LibraryManager::sharedManager()->currentImportFolderPath(), newUUIDString());
        written = replaceItemWithCopy(destination, source, staging, &failure);
      },
      &failure);
  if (!ran || !written) {
    log("Couldn't update item contents: %@", failure);
    setError(error, failure);
    return false;
  }
  // New contents alone change no date of the item, nor of its file.
  if (created) {
    item.setDateCreated(*created);
    (void)setCreationTime(*path, created->toTimespec());
  }
  if (modified) {
    item.setDateModified(*modified);
    (void)setModificationTime(*path, modified->toTimespec());
  }
  if (std::optional<uint64_t> size = sizeOfFile(*path)) item.setValueForKey("size", static_cast<int64_t>(*size));
  return true;
}

bool FileProviderModifyOperation::updateDates(Item& item, Error* error) {
  const bool any = has(kFileProviderItemLastUsedDate) || has(kFileProviderItemContentModificationDate) ||
                   has(kFileProviderItemCreationDate);
  if (!any) return true;
  std::optional<std::string> path = item.fileURL(error);
  if (!path) return false;
  if (has(kFileProviderItemLastUsedDate) && item_->lastUsedDate()) {
    if (!setAccessTime(*path, item_->lastUsedDate()->toTimespec(), error)) return false;
    item.setValueForKey("dateAccessed", *item_->lastUsedDate());
  }
  if (has(kFileProviderItemContentModificationDate) && item_->contentModificationDate()) {
    if (!setModificationTime(*path, item_->contentModificationDate()->toTimespec(), error)) return false;
    item.setDateModified(*item_->contentModificationDate());
  }
  if (has(kFileProviderItemCreationDate) && item_->creationDate()) {
    if (!setCreationTime(*path, item_->creationDate()->toTimespec(), error)) return false;
    item.setDateCreated(*item_->creationDate());
  }
  return true;
}

bool FileProviderModifyOperation::updateTagData(Item& item, Error* error) {
  std::optional<Bytes> data = item_->tagData();
  std::optional<std::string> path = item.fileURL();
  if (data) {
    std::vector<std::string> names = Tag::tagNamesFromFileProviderTagData(*data).value_or(std::vector<std::string>());
    Error failure;
    if (path && !setFinderTagNames(*path, names, &failure)) {
      log("Cannot update Finder tags on local item: %@", failure);
      setError(error, failure.domain() == kPOSIXErrorDomain ? fileWriteError(static_cast<int>(failure.code()), *path)
                                                            : failure);
      return false;
    }
  }
  // After the names, so that the attribute keeps the colours of the data.
  if (path && !storeServiceAttribute(*path, kMetadataUserTagsXAttrKey, data.value_or(Bytes()), error)) return false;
  if (data) setItemTagsFromFileProviderTagData(item, *data, library(), insertedTagRecordIDs_);
  return true;
}

bool FileProviderModifyOperation::updatePlace(Item& item, Error* error) {
  if (!has(kFileProviderItemParentItemIdentifier)) return renameWithinFolder(item, error);
  return moveToNewParent(item, has(kFileProviderItemFilename), error);
}

bool FileProviderModifyOperation::renameWithinFolder(Item& item, Error* error) {
  Error failure;
  if (renameKeepingHiddenExtension(item, item_->filename(), &failure)) return true;
  std::shared_ptr<Folder> folder = item.folder();
  if (!mayAlreadyExist() || !isNameClash(failure) || !folder) {
    setError(error, failure);
    return false;
  }
  return renameKeepingHiddenExtension(item, item.uniqueFilename(item_->filename(), *folder), error);
}

bool FileProviderModifyOperation::moveToNewParent(Item& item, bool withName, Error* error) {
  std::shared_ptr<Folder> destination = newParentFolder();
  if (!destination) {
    setError(error, fileProviderErrorForNonExistentItem(item_->parentItemIdentifier()));
    return false;
  }
  Error failure;
  if (withName) {
    if (item.moveToFolder(destination, item_->filename(), &failure)) return true;
    if (!mayAlreadyExist() || !isNameClash(failure)) {
      setError(error, failure);
      return false;
    }
    return moveKeepingHiddenExtension(item, destination, item.uniqueFilename(item_->filename(), *destination), error);
  }
  if (item.moveToFolder(destination, &failure)) return true;
  if (!isNameClash(failure)) {
    setError(error, failure);
    return false;
  }
  // Moves always succeed under a numbered name. Moved and renamed in one
  // step: the numbered name may be taken where the item is now.
  return moveKeepingHiddenExtension(item, destination, item.uniqueFilename(item.filename(), *destination), error);
}

bool FileProviderModifyOperation::visibleFileIsDataless() const {
  std::optional<std::string> url;
  auto lookup = GetItemFileURLOperation::getItemFileURLOperationForFileProviderItemIdentifier(item_->itemIdentifier(),
                                                                                               domain_);
  lookup->setGetURLCompletionBlock([&url](const std::optional<std::string>& found, const Error*) { url = found; });
  OperationQueue queue;
  queue.addOperations({lookup}, true);
  return url && isDataless(*url);
}

void FileProviderModifyOperation::updateFileSystemFlags(Item& item) {
  if (item.valueForKey("fileProviderMaterialized").boolValue() && visibleFileIsDataless()) return;
  item.setExtensionHidden((item_->fileSystemFlags() & kFileProviderFileSystemHidesExtension) != 0);
}

}  // namespace qlt
