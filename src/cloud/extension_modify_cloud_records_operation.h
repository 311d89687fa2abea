#pragma once

#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "model/item.h"
#include "platform/dispatch/async_operation.h"
#include "platform/cloud/cloud_modify_records_operation.h"
#include "platform/foundation/error.h"
#include "platform/dispatch/progress.h"
#include "platform/objectstore/managed_object_context.h"

namespace qlt {

inline constexpr const char* kExtensionModifyCloudRecordsErrorDomain = "QLTExtensionModifyCloudRecordsErrorDomain";
inline constexpr long kExtensionModifyCloudRecordsNotAllSavedErrorCode = 10001;
inline constexpr const char* kMultipleUnderlyingErrorsKey = "NSMultipleUnderlyingErrorsKey";
inline constexpr size_t kExtensionModifyCloudRecordsBatchSize = 200;

// Sends the records of library objects to the cloud container
// kCloudContainerName: private-database records (the library zone) first,
// then shared ones, in batches of at most 200, each batch sent from the
// completion of the one before. Per-record failures are resolved where
// possible (conflicts merged, missing assets attached again, records
// deleted on the server sent again) and the rest reported. Finishes exactly
// once, through the completion block.
//
// All object access happens in a background context of its own.
class ExtensionModifyCloudRecordsOperation : public AsyncOperation {
 public:
  using ProgressBlock = std::function<void(const std::shared_ptr<Progress>& progress)>;
  // Null on success.
  using CompletionBlock = std::function<void(const Error* error)>;

  // Reads the objects again in a new background context of the shared
  // library manager (those gone are skipped). Null without a library.
  static std::shared_ptr<ExtensionModifyCloudRecordsOperation> make(
      const std::vector<LibraryObject::Ptr>& objectsToSave,
      const std::vector<std::shared_ptr<Item>>& itemsWithUpdatedAssets);

  // Set before the operation starts.
  void setChangedKeysByRecordID(std::map<RecordID, std::set<std::string>> changedKeys);
  void setAssetFileURLsByIdentifier(std::map<std::string, std::string> paths);
  void setCloudOperationProgressBlock(ProgressBlock block);
  void setCloudOperationCompletionBlock(CompletionBlock block);

  std::shared_ptr<Progress> progress() const { return progress_; }
  std::shared_ptr<ManagedObjectContext> managedObjectContext() const { return context_; }
  std::vector<LibraryObject::Ptr> allLibraryObjectsToSave() const;
  std::vector<CloudRecord> privateRecordsToSave() const;
  std::vector<CloudRecord> sharedRecordsToSave() const;

  void start() override;
  void cancel() override;
  // The one way out: the user-cancelled error once cancelled (wrapping any
  // other error).
  void finishWithError(const std::optional<Error>& error);

  std::string description() const override { return "<ExtensionModifyCloudRecordsOperation>"; }

 private:
  ExtensionModifyCloudRecordsOperation() = default;

  void prepareRecords();
  void saveBatchOfRecords();
  void saveRecords(std::vector<CloudRecord> records, CloudDatabaseScope scope);
  void recordProgress(const CloudRecord& record, double progress);
  void batchCompleted(const std::vector<CloudRecord>& savedRecords, const Error* error);
  [[nodiscard]] bool resolveErrors(const CloudPartialErrors& errors, Error* error);
  std::vector<CloudRecord> sorted(const std::vector<CloudRecord>& records);

  std::shared_ptr<ManagedObjectContext> context_;
  std::shared_ptr<Progress> progress_;

  mutable std::mutex mutex_;
  std::vector<LibraryObject::Ptr> allLibraryObjectsToSave_;
  std::set<ObjectID> itemsWithUpdatedAssets_;
  std::map<RecordID, std::set<std::string>> changedKeysByRecordID_;
  std::map<std::string, std::string> assetFileURLsByIdentifier_;
  ProgressBlock progressBlock_;
  CompletionBlock completionBlock_;
  std::vector<CloudRecord> privateRecordsToSave_;
  std::vector<CloudRecord> sharedRecordsToSave_;
  std::shared_ptr<ModifyRecordsOperation> currentOperation_;
  std::map<RecordID, double> progressByRecord_;
  bool finishing_ = false;
};

}  // namespace qlt
