#include "extension/file_provider_delete_operation.h"

#include <algorithm>
#include <map>

#include "extension/cloud_error_conversion.h"
#include "model/file_move_journal.h"
#include "model/folder.h"
#include "model/item.h"
#include "model/library_write_lock.h"
#include "platform/cloud/cloud_container.h"
#include "platform/cloud/cloud_error.h"
#include "platform/cloud/cloud_modify_records_operation.h"
#include "platform/files/file_system.h"
#include "platform/foundation/localized_strings.h"
#include "platform/foundation/log.h"
#include "platform/objectstore/managed_object_context.h"
#include "store/library_model_constants.h"
#include "store/library_object.h"

namespace qlt {
namespace {

// A partial failure in which every record was already gone: nothing is
// left to delete.
bool onlyAlreadyDeleted(const Error& error) {
  const CloudPartialErrors* errors = cloudPartialErrors(error);
  return errors && !errors->empty() && std::all_of(errors->begin(), errors->end(), [](const auto& entry) {
    return isCloudError(entry.second, kCloudErrorUnknownItem);
  });
}

// Whether a file or directory of the objects deleted in `context` stayed
// in place; the first such failure goes to `error`.
bool fileDeletionFailed(ManagedObjectContext& context, Error* error) {
  for (const ManagedObjectPtr& object : context.deletedObjects()) {
    auto deleted = std::dynamic_pointer_cast<LibraryObject>(object);
    if (deleted && deleted->fileDeletionError()) {
      setError(error, *deleted->fileDeletionError());
      return true;
    }
  }
  return false;
}

bool isLocalRecordObject(const ManagedObjectPtr& object) {
  if (auto item = std::dynamic_pointer_cast<Item>(object)) return item->isLocalRecord();
  if (auto folder = std::dynamic_pointer_cast<Folder>(object)) return folder->isLocalRecord();
  return true;
}

}  // namespace

FileProviderDeleteOperation::FileProviderDeleteOperation(std::string itemIdentifier, bool recursive,
                                                         std::shared_ptr<ManagedObjectContext> changesManagerContext)
    : FileProviderOperation(-1),
      itemIdentifier_(std::move(itemIdentifier)),
      recursive_(recursive),
      changesManagerContext_(std::move(changesManagerContext)) {}

void FileProviderDeleteOperation::main() {
  std::shared_ptr<ManagedObjectContext> context = managedObjectContext();
  context->performAndWait([&] {
    libraryObject_ = LibraryObject::libraryObjectFromFileProviderIdentifier(itemIdentifier_, *context);
    if (auto object = std::dynamic_pointer_cast<LibraryObject>(libraryObject_))
      libraryObjectFileProviderIdentifier_ = object->fileProviderItemIdentifier();
  });
  if (!libraryObject_) {
    finishWithError();
    return;
  }
  Error error;
  if (!validateDeletion(&error)) {
    finishWithError(error);
    return;
  }
  if (shouldSaveChangesToCloud()) {
    deleteFromCloud();
  } else {
    progress()->setTotalUnitCount(1);
    deleteFromLibrary();
  }
}

bool FileProviderDeleteOperation::validateDeletion(Error* error) const {
  bool valid = true;
  managedObjectContext()->performAndWait([&] {
    auto folder = std::dynamic_pointer_cast<Folder>(libraryObject_);
    bool deletable = std::dynamic_pointer_cast<Item>(libraryObject_) || (folder && folder->isPlainFolder());
    if (!deletable) {
      setError(error, Error(kFileProviderOperationErrorDomain, kFileProviderOperationCannotDeleteErrorCode,
                            localizedFormat("“%@” cannot be deleted.", itemIdentifier_)));
      valid = false;
    } else if (folder && !recursive_ &&
               (!folder->objectsForKey("children").empty() || !folder->objectsForKey("items").empty())) {
      setError(error, Error(kFileProviderErrorDomain, kFileProviderErrorDirectoryNotEmpty));
      valid = false;
    }
  });
  return valid;
}

void FileProviderDeleteOperation::deleteFromCloud() {
  if (isCancelled()) {
    finishWithError();
    return;
  }
  std::shared_ptr<ManagedObjectContext> context = managedObjectContext();
  std::set<RecordID> recordIDs;
  context->performAndWait([&] {
    auto object = std::static_pointer_cast<LibraryObject>(libraryObject_);
    recordIDs.insert(object->cloudRecordID());
    if (std::dynamic_pointer_cast<Item>(libraryObject_) || recursive_) {
      std::set<RecordID> children = object->childRecordIDs();
      recordIDs.insert(children.begin(), children.end());
    }
  });
  if (changesManagerContext_) {
    changesManagerContext_->performAndWait([&] {
      changeSet_ = LibraryChangeSet::changeRecordSet({}, {}, {}, recordIDs, *changesManagerContext_);
      if (!changeSet_) return;
      changeSet_->setStatus(LibraryChangeSetStatus::HandedToCloudUpload);
      (void)changesManagerContext_->save();  // the outbox is advisory; the deletion goes on
    });
  }
  std::vector<RecordID> ordered;
  context->performAndWait([&] {
    ordered = LibraryObject::sortedCloudRecordIDs(std::vector<RecordID>(recordIDs.begin(), recordIDs.end()), false,
                                                  *context);
  });
  pendingRecordIDsToDelete_ = std::move(ordered);
  progress()->setTotalUnitCount(static_cast<int64_t>(pendingRecordIDsToDelete_.size()) + 1);
  deleteBatchOfRecordsFromCloud();
}

void FileProviderDeleteOperation::deleteBatchOfRecordsFromCloud() {
  if (pendingRecordIDsToDelete_.empty()) {
    deleteFromLibrary();
    return;
  }
  bool local = true;
  managedObjectContext()->performAndWait([&] { local = isLocalRecordObject(libraryObject_); });
  if (isCancelled()) {
    finishWithError();
    return;
  }
  size_t count = std::min(pendingRecordIDsToDelete_.size(), kDeleteOperationBatchSize);
  std::vector<RecordID> batch(pendingRecordIDsToDelete_.begin(),
                              pendingRecordIDsToDelete_.begin() + static_cast<std::ptrdiff_t>(count));
  log("Deleting %@ records from the %@ database", static_cast<long>(count), local ? "private" : "shared");
  Error error;
  std::shared_ptr<CloudContainer> container = CloudContainer::containerWithIdentifier(kCloudContainerName, &error);
  if (!container) {
    setChangeSetStatus(LibraryChangeSetStatus::Pending);
    finishWithError(error);
    return;
  }
  auto request = std::make_shared<ModifyRecordsOperation>(std::vector<CloudRecord>{}, std::move(batch));
  // Records already gone must not hold back the others.
  request->atomic = false;
  std::weak_ptr<Operation> weakSelf = weak_from_this();
  auto self = [weakSelf] { return std::static_pointer_cast<FileProviderDeleteOperation>(weakSelf.lock()); };
  request->perRecordDeleteBlock = [self](const RecordID&, const Error*) {
    if (auto operation = self()) operation->startResponseTimeoutTimer();
  };
  request->modifyRecordsCompletionBlock = [self, count](const std::vector<CloudRecord>&,
                                                        const std::vector<RecordID>&, const Error* error) {
    if (auto operation = self()) operation->batchCompleted(count, error);
  };
  setCurrentOperation(request);
  startResponseTimeoutTimer();
  container->database(local ? CloudDatabaseScope::Private : CloudDatabaseScope::Shared)->add(request);
}

void FileProviderDeleteOperation::batchCompleted(size_t batchSize, const Error* error) {
  cancelResponseTimeoutTimer();
  setCurrentOperation(nullptr);
  if (isCancelled()) {
    finishWithError();
    return;
  }
  if (error && !onlyAlreadyDeleted(*error)) {
    setChangeSetStatus(LibraryChangeSetStatus::Pending);
    finishWithError(*error);
    return;
  }
  progress()->setCompletedUnitCount(progress()->completedUnitCount() + static_cast<int64_t>(batchSize));
  pendingRecordIDsToDelete_.erase(pendingRecordIDsToDelete_.begin(),
                                  pendingRecordIDsToDelete_.begin() + static_cast<std::ptrdiff_t>(batchSize));
  deleteBatchOfRecordsFromCloud();
}

void FileProviderDeleteOperation::deleteFromLibrary() {
  if (isCancelled()) {
    finishWithError();
    return;
  }
  deleteChangeSet();
  std::shared_ptr<ManagedObjectContext> context = managedObjectContext();
  std::weak_ptr<Operation> weakSelf = weak_from_this();
  context->perform([weakSelf, context] {
    auto self = std::static_pointer_cast<FileProviderDeleteOperation>(weakSelf.lock());
    if (!self) return;
    Error error;
    bool saved = false;
    LibraryWriteLock turn;
    for (int attempt = 0; attempt < kDeleteSaveAttempts && !saved; ++attempt) {
      // Read again: what the deletion takes with it is what is there now.
      context->refreshAllObjects();
      self->libraryObject_ = LibraryObject::libraryObjectFromFileProviderIdentifier(self->itemIdentifier_, *context);
      if (!self->libraryObject_) {
        saved = true;  // gone meanwhile
        break;
      }
      auto folder = std::dynamic_pointer_cast<Folder>(self->libraryObject_);
      if (folder && !self->recursive_ &&
          (!folder->objectsForKey("children").empty() || !folder->objectsForKey("items").empty())) {
        error = Error(kFileProviderErrorDomain, kFileProviderErrorDirectoryNotEmpty);
        break;
      }
      context->deleteObject(self->libraryObject_);
      if (fileDeletionFailed(*context, &error)) {
        // The file system refused; reading again would not change that.
        putBackUnsaved(*context);
        break;
      }
      saved = context->save(&error);
      if (!saved) putBackUnsaved(*context);
    }
    self->progress()->setCompletedUnitCount(self->progress()->completedUnitCount() + 1);
    if (saved) {
      self->finishWithError();
    } else {
      self->finishWithError(error);
    }
  });
}

void FileProviderDeleteOperation::putBackUnsaved(ManagedObjectContext& context) {
  std::vector<ManagedObjectPtr> deleted = context.deletedObjects();
  // Where the deletion found the items' files.
  std::map<ObjectID, std::optional<std::string>> wereAt;
  for (const ManagedObjectPtr& object : deleted)
    if (auto item = std::dynamic_pointer_cast<Item>(object)) wereAt[object->objectID()] = item->fileURL();
  context.rollback();
  std::vector<std::pair<std::shared_ptr<Folder>, size_t>> folders;
  std::vector<std::shared_ptr<Item>> items;
  for (const ManagedObjectPtr& object : deleted) {
    // As saved now: another process may have moved it meanwhile.
    context.refreshObject(object, false);
    ManagedObjectPtr current = context.existingObjectWithID(object->objectID());
    if (auto folder = std::dynamic_pointer_cast<Folder>(current)) {
      folders.emplace_back(folder, folder->folderPath().value_or(std::string()).size());
    } else if (auto item = std::dynamic_pointer_cast<Item>(current)) {
      items.push_back(item);
    } else if (auto gone = std::dynamic_pointer_cast<LibraryObject>(object)) {
      // Deleted elsewhere meanwhile: what was set aside goes back where it was.
      (void)FileMoveJournal::putBack(gone->identifier());
    }
  }
  // Outer directories first: what was set aside with them comes back with them.
  std::sort(folders.begin(), folders.end(), [](const auto& a, const auto& b) { return a.second < b.second; });
  for (const auto& [folder, depth] : folders) folder->deletionWasNotSaved();
  for (const auto& item : items) {
    item->deletionWasNotSaved();
    // Moved elsewhere meanwhile while its file was set aside with its
    // folder's directory: the file, put back there, follows the row.
    std::optional<std::string> now = item->fileURL();
    const std::optional<std::string>& was = wereAt[item->objectID()];
    if (!now || !was || *now == *was || fileExists(*now) || !fileExists(*was)) continue;
    Error failure;
    if (!moveItem(*was, *now, &failure)) log("Cannot move %@ where its row now says it is: %@", *was, failure);
  }
}

void FileProviderDeleteOperation::setChangeSetStatus(LibraryChangeSetStatus status) {
  if (!changesManagerContext_) return;
  changesManagerContext_->performAndWait([&] {
    if (!changeSet_) return;
    changeSet_->setStatus(status);
    (void)changesManagerContext_->save();  // the outbox is advisory
  });
}

void FileProviderDeleteOperation::deleteChangeSet() {
  if (!changesManagerContext_) return;
  changesManagerContext_->performAndWait([&] {
    if (!changeSet_) return;
    changesManagerContext_->deleteObject(changeSet_);
    changeSet_ = nullptr;
    (void)changesManagerContext_->save();  // the outbox is advisory
  });
}

Error FileProviderDeleteOperation::convertError(const Error& error) const {
  log("Error deleting item %@: %@", itemIdentifier_, error);
  return fileProviderErrorForCloudError(error, libraryObjectFileProviderIdentifier_);
}

void FileProviderDeleteOperation::complete(const Error* error) {
  if (!error) deleteChangeSet();
  if (completion_) completion_(error);
}

}  // namespace qlt
