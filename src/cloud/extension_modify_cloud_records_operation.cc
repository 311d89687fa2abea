#include "cloud/extension_modify_cloud_records_operation.h"

#include <algorithm>

#include "cloud/item_cloud_assets.h"
#include "model/folder.h"
#include "platform/cloud/cloud_container.h"
#include "platform/cloud/cloud_error.h"
#include "platform/files/file_system.h"
#include "platform/foundation/localized_strings.h"
#include "platform/foundation/log.h"
#include "store/cloud_record_fields.h"
#include "store/library_manager.h"
#include "store/library_model_constants.h"

namespace qlt {
namespace {

std::string recordIDsDescription(const std::vector<CloudRecord>& records) {
  std::string text = "(";
  for (size_t index = 0; index < records.size(); ++index) {
    if (index) text += ", ";
    text += records[index].recordID().recordName;
  }
  return text + ")";
}

bool isInLibraryZone(const CloudRecord& record) { return record.recordID().zoneID == LibraryManager::libraryZoneID(); }

}  // namespace

std::shared_ptr<ExtensionModifyCloudRecordsOperation> ExtensionModifyCloudRecordsOperation::make(
    const std::vector<LibraryObject::Ptr>& objectsToSave,
    const std::vector<std::shared_ptr<Item>>& itemsWithUpdatedAssets) {
  std::shared_ptr<ManagedObjectContext> context = LibraryManager::sharedManager()->newBackgroundContext();
  if (!context) return nullptr;
  std::shared_ptr<ExtensionModifyCloudRecordsOperation> operation(new ExtensionModifyCloudRecordsOperation());
  operation->context_ = context;
  std::set<ObjectID> assetIDs;
  for (const auto& item : itemsWithUpdatedAssets)
    if (item) assetIDs.insert(item->objectID());
  context->performAndWait([&] {
    for (const LibraryObject::Ptr& object : objectsToSave) {
      if (!object) continue;
      auto reread = std::dynamic_pointer_cast<LibraryObject>(context->existingObjectWithID(object->objectID()));
      if (!reread) continue;
      operation->allLibraryObjectsToSave_.push_back(reread);
      if (assetIDs.count(reread->objectID())) operation->itemsWithUpdatedAssets_.insert(reread->objectID());
    }
  });
  size_t count = operation->allLibraryObjectsToSave_.size();
  operation->progress_ = Progress::make(count ? static_cast<int64_t>(count) * 100 : -1);
  operation->progress_->setLocalizedDescription(localizedString("Saving to iCloud…"));
  std::weak_ptr<ExtensionModifyCloudRecordsOperation> weak = operation;
  operation->progress_->setCancellationHandler([weak] {
    if (auto strong = weak.lock()) strong->cancel();
  });
  return operation;
}

void ExtensionModifyCloudRecordsOperation::setChangedKeysByRecordID(
    std::map<RecordID, std::set<std::string>> changedKeys) {
  std::lock_guard lock(mutex_);
  changedKeysByRecordID_ = std::move(changedKeys);
}

void ExtensionModifyCloudRecordsOperation::setAssetFileURLsByIdentifier(std::map<std::string, std::string> paths) {
  std::lock_guard lock(mutex_);
  assetFileURLsByIdentifier_ = std::move(paths);
}

void ExtensionModifyCloudRecordsOperation::setCloudOperationProgressBlock(ProgressBlock block) {
  std::lock_guard lock(mutex_);
  progressBlock_ = std::move(block);
}

void ExtensionModifyCloudRecordsOperation::setCloudOperationCompletionBlock(CompletionBlock block) {
  std::lock_guard lock(mutex_);
  completionBlock_ = std::move(block);
}

std::vector<LibraryObject::Ptr> ExtensionModifyCloudRecordsOperation::allLibraryObjectsToSave() const {
  std::lock_guard lock(mutex_);
  return allLibraryObjectsToSave_;
}

std::vector<CloudRecord> ExtensionModifyCloudRecordsOperation::privateRecordsToSave() const {
  std::lock_guard lock(mutex_);
  return privateRecordsToSave_;
}

std::vector<CloudRecord> ExtensionModifyCloudRecordsOperation::sharedRecordsToSave() const {
  std::lock_guard lock(mutex_);
  return sharedRecordsToSave_;
}

void ExtensionModifyCloudRecordsOperation::start() {
  if (!beginExecuting()) return;
  log("Starting save to iCloud.");
  prepareRecords();
}

void ExtensionModifyCloudRecordsOperation::cancel() {
  // Marked first: a batch stored after the look below sees the mark and
  // cancels itself.
  AsyncOperation::cancel();
  std::shared_ptr<ModifyRecordsOperation> current;
  {
    std::lock_guard lock(mutex_);
    current = currentOperation_;
  }
  if (current) current->cancel();
}

void ExtensionModifyCloudRecordsOperation::finishWithError(const std::optional<Error>& error) {
  CompletionBlock completion;
  {
    std::lock_guard lock(mutex_);
    if (finishing_) return;
    finishing_ = true;
    completion = std::move(completionBlock_);
    completionBlock_ = nullptr;
    progressBlock_ = nullptr;
    currentOperation_.reset();
  }
  std::optional<Error> reported = error;
  if (isCancelled() && !(error && error->is(kCocoaErrorDomain, kCocoaUserCancelledError))) {
    Error cancelled = userCancelledError();
    if (error) cancelled.setUnderlyingError(*error);
    reported = cancelled;
  }
  finish();
  if (reported) {
    log("iCloud save ended with error: %@", *reported);
  } else {
    log("Finishing iCloud save.");
  }
  if (completion) completion(reported ? &*reported : nullptr);
}

std::vector<CloudRecord> ExtensionModifyCloudRecordsOperation::sorted(const std::vector<CloudRecord>& records) {
  return LibraryObject::sortedCloudRecords(records, *context_);
}

void ExtensionModifyCloudRecordsOperation::prepareRecords() {
  bool cancelled = false;
  context_->performAndWait([&] {
    if (isCancelled()) {
      cancelled = true;
      return;
    }
    std::map<std::string, std::string> assetPaths;
    {
      std::lock_guard lock(mutex_);
      assetPaths = assetFileURLsByIdentifier_;
    }
    std::vector<CloudRecord> privateRecords, sharedRecords;
    for (const LibraryObject::Ptr& object : allLibraryObjectsToSave()) {
      if (isCancelled()) {
        cancelled = true;
        return;
      }
      if (auto item = std::dynamic_pointer_cast<Item>(object)) {
        CloudRecord record = item->cloudRecord();
        if (itemsWithUpdatedAssets_.count(item->objectID())) {
          auto replacement = assetPaths.find(item->identifier());
          std::optional<std::string> source =
              replacement != assetPaths.end() ? std::optional<std::string>(replacement->second) : item->fileURL();
          if (source && fileExists(*source)) addFileAtURL(*item, *source, record);
          record.setObjectForKey(kItemCloudUploadCompletedKey, CloudValue(true));
        }
        (item->isLocalRecord() ? privateRecords : sharedRecords).push_back(std::move(record));
      } else if (auto folder = std::dynamic_pointer_cast<Folder>(object)) {
        (folder->isLocalRecord() ? privateRecords : sharedRecords).push_back(folder->cloudRecord());
      } else {
        privateRecords.push_back(object->cloudRecord());
      }
    }
    privateRecords = sorted(privateRecords);
    sharedRecords = sorted(sharedRecords);
    std::lock_guard lock(mutex_);
    privateRecordsToSave_ = std::move(privateRecords);
    sharedRecordsToSave_ = std::move(sharedRecords);
  });
  if (cancelled || isCancelled()) {
    finishWithError(userCancelledError());
    return;
  }
  saveBatchOfRecords();
}

void ExtensionModifyCloudRecordsOperation::saveBatchOfRecords() {
  std::vector<CloudRecord> batch;
  CloudDatabaseScope scope = CloudDatabaseScope::Private;
  {
    std::lock_guard lock(mutex_);
    std::vector<CloudRecord>* pending = nullptr;
    if (!privateRecordsToSave_.empty()) {
      pending = &privateRecordsToSave_;
    } else if (!sharedRecordsToSave_.empty()) {
      pending = &sharedRecordsToSave_;
      scope = CloudDatabaseScope::Shared;
    }
    if (pending) {
      size_t count = std::min(pending->size(), kExtensionModifyCloudRecordsBatchSize);
      batch.assign(pending->begin(), pending->begin() + static_cast<std::ptrdiff_t>(count));
      pending->erase(pending->begin(), pending->begin() + static_cast<std::ptrdiff_t>(count));
    }
  }
  if (batch.empty()) {
    finishWithError(std::nullopt);
    return;
  }
  saveRecords(std::move(batch), scope);
}

void ExtensionModifyCloudRecordsOperation::saveRecords(std::vector<CloudRecord> records, CloudDatabaseScope scope) {
  log("Saving %@ to %@ database", recordIDsDescription(records), cloudDatabaseScopeName(scope));
  Error error;
  std::shared_ptr<CloudContainer> container = CloudContainer::containerWithIdentifier(kCloudContainerName, &error);
  if (!container) {
    finishWithError(error);
    return;
  }
  auto operation = std::make_shared<ModifyRecordsOperation>(std::move(records), std::vector<RecordID>());
  operation->savePolicy = CloudSavePolicy::ChangedKeys;
  operation->qualityOfService = 25;
  std::weak_ptr<ExtensionModifyCloudRecordsOperation> weak =
      std::static_pointer_cast<ExtensionModifyCloudRecordsOperation>(shared_from_this());
  operation->perRecordProgressBlock = [weak](const CloudRecord& record, double progress) {
    if (auto self = weak.lock()) self->recordProgress(record, progress);
  };
  // The upload stays alive while a batch is in flight.
  auto self = std::static_pointer_cast<ExtensionModifyCloudRecordsOperation>(shared_from_this());
  operation->modifyRecordsCompletionBlock = [self](const std::vector<CloudRecord>& saved,
                                                   const std::vector<RecordID>&, const Error* error) {
    self->batchCompleted(saved, error);
  };
  {
    std::lock_guard lock(mutex_);
    currentOperation_ = operation;
  }
  if (isCancelled()) operation->cancel();
  container->database(scope)->add(operation);
}

void ExtensionModifyCloudRecordsOperation::recordProgress(const CloudRecord& record, double progress) {
  ProgressBlock block;
  uint64_t completed = 0;
  {
    std::lock_guard lock(mutex_);
    progressByRecord_[record.recordID()] = progress * 100;
    for (const auto& [recordID, percent] : progressByRecord_) completed += static_cast<uint64_t>(percent);
    block = progressBlock_;
  }
  progress_->setCompletedUnitCount(static_cast<int64_t>(completed));
  if (block) block(progress_);
}

void ExtensionModifyCloudRecordsOperation::batchCompleted(const std::vector<CloudRecord>& savedRecords,
                                                          const Error* error) {
  if (isCancelled()) {
    finishWithError(userCancelledError());
    return;
  }
  if (error) {
    const CloudPartialErrors* partialErrors = cloudPartialErrors(*error);
    if (!error->is(kCloudErrorDomain, kCloudErrorPartialFailure) || !partialErrors) {
      finishWithError(*error);
      return;
    }
    log("Partial failure, attempting to resolve errors.");
    Error resolveError;
    if (!resolveErrors(*partialErrors, &resolveError)) {
      finishWithError(resolveError);
      return;
    }
  }
  log("Batch completed with no error: %@", recordIDsDescription(savedRecords));
  context_->performAndWait([&] {
    for (const CloudRecord& record : savedRecords) {
      if (!record.objectForKey(kItemCloudUploadCompletedKey)) continue;
      auto item = std::dynamic_pointer_cast<Item>(LibraryObject::libraryObjectForCloudRecordID(*context_, record.recordID()));
      if (!item) continue;
      item->setValueForKey("cloudUploadCompleted", true);
      item->setValueForKey("cloudFileUploadStatus", 2);
    }
    Error saveError;
    if (context_->hasChanges() && !context_->save(&saveError)) log("Cannot save cloud record data: %@", saveError);
  });
  saveBatchOfRecords();
}

bool ExtensionModifyCloudRecordsOperation::resolveErrors(const CloudPartialErrors& errors, Error* outError) {
  std::set<RecordID> dropped;
  std::map<RecordID, CloudRecord> resend;
  std::map<RecordID, Error> unresolved;
  std::map<RecordID, std::set<std::string>> changedKeysByRecordID;
  {
    std::lock_guard lock(mutex_);
    changedKeysByRecordID = changedKeysByRecordID_;
  }
  context_->performAndWait([&] {
    for (const auto& [recordID, error] : errors) {
      if (error.domain() != kCloudErrorDomain) {
        log("Unhandled error for record %@: %@", recordID.recordName, error);
        unresolved.emplace(recordID, error);
        continue;
      }
      switch (error.code()) {
        case kCloudErrorBatchRequestFailed:
          break;
        case kCloudErrorServerRecordChanged: {
          log("Resolving conflict for record %@: %@", recordID.recordName, error);
          LibraryObject::Ptr object = LibraryObject::libraryObjectForCloudRecordID(*context_, recordID);
          if (!object) {
            log("Couldn't find library object for record ID: %@", recordID.recordName);
            dropped.insert(recordID);
            break;
          }
          auto keys = changedKeysByRecordID.find(recordID);
          std::optional<CloudRecord> merged = mergeChangesForServerRecordChange(
              *object, error, keys != changedKeysByRecordID.end() ? keys->second : std::set<std::string>());
          if (merged) {
            resend.insert_or_assign(recordID, std::move(*merged));
          } else {
            log("No server record to merge for error: %@ with userInfo: %@", error, error.description());
            dropped.insert(recordID);
          }
          break;
        }
        case kCloudErrorAssetFileNotFound:
        case kCloudErrorAssetFileModified: {
          if (error.code() == kCloudErrorAssetFileNotFound) {
            log("Resolving missing asset file for record %@: %@", recordID.recordName, error);
          } else {
            log("Resolving asset file modified while being saved: %@", recordID.recordName);
          }
          auto item = std::dynamic_pointer_cast<Item>(LibraryObject::libraryObjectForCloudRecordID(*context_, recordID));
          if (!item) {
            log("Cannot resolve missing asset for record: %@", recordID.recordName);
            break;
          }
          CloudRecord record = item->cloudRecord();
          if (addFileToCloudRecord(*item, record)) {
            resend.insert_or_assign(recordID, std::move(record));
          } else {
            log("Cannot resolve missing asset for record: %@", recordID.recordName);
            record.removeObjectForKey(kItemCloudFileAssetKey);
            record.setObjectForKey(kItemCloudFileIsArchiveKey, CloudValue(false));
          }
          break;
        }
        case kCloudErrorUnknownItem: {
          LibraryObject::Ptr object = LibraryObject::libraryObjectForCloudRecordID(*context_, recordID);
          if (!object) {
            log("Removing already deleted record: %@", recordID.recordName);
            dropped.insert(recordID);
            break;
          }
          log("Re-inserting deleted record: %@", recordID.recordName);
          // The kept change tag names a server copy that is gone: the record
          // goes back as a new one, and later uploads do not meet the tag again.
          CloudRecord stale = object->cloudRecord();
          object->setCloudRecord(
              CloudRecord(RecordSystemFields{stale.recordType(), stale.recordID(), "", std::nullopt, std::nullopt}));
          auto item = std::dynamic_pointer_cast<Item>(object);
          resend.insert_or_assign(recordID, item ? cloudRecordWithFileAsset(*item) : object->cloudRecord());
          break;
        }
        default:
          log("Unhandled error for record %@: %@", recordID.recordName, error);
          unresolved.emplace(recordID, error);
      }
    }
    if (context_->hasChanges()) {
      Error saveError;
      if (!context_->save(&saveError))
        log("Error saving private managed object context during cloud fetch: %@", saveError);
    }
  });

  for (const RecordID& recordID : dropped) resend.erase(recordID);
  {
    std::lock_guard lock(mutex_);
    if (!dropped.empty()) {
      auto isDropped = [&](const CloudRecord& record) { return dropped.count(record.recordID()) > 0; };
      std::erase_if(privateRecordsToSave_, isDropped);
      std::erase_if(sharedRecordsToSave_, isDropped);
    }
    for (auto& [recordID, record] : resend)
      (isInLibraryZone(record) ? privateRecordsToSave_ : sharedRecordsToSave_).push_back(std::move(record));
  }

  if (unresolved.size() == 1) {
    setError(outError, unresolved.begin()->second);
    return false;
  }
  if (unresolved.size() > 1) {
    Error combined(kExtensionModifyCloudRecordsErrorDomain, kExtensionModifyCloudRecordsNotAllSavedErrorCode,
                   "Not all records could be saved.");
    combined.setUserInfoValue(kMultipleUnderlyingErrorsKey, unresolved);
    setError(outError, combined);
    return false;
  }
  std::vector<CloudRecord> privateRecords = privateRecordsToSave(), sharedRecords = sharedRecordsToSave();
  context_->performAndWait([&] {
    privateRecords = sorted(privateRecords);
    sharedRecords = sorted(sharedRecords);
  });
  std::lock_guard lock(mutex_);
  privateRecordsToSave_ = std::move(privateRecords);
  sharedRecordsToSave_ = std::move(sharedRecords);
  return true;
}

}  // namespace qlt
