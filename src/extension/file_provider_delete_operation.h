#pragma once

#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "changes/library_change_set.h"
#include "extension/file_provider_operation.h"
#include "platform/cloud/cloud_record_id.h"
#include "platform/objectstore/managed_object.h"

namespace qlt {

// What a request to delete the library's own containers (root, trash,
// shared folder) or an object that is neither an item nor a folder gets.
inline constexpr long kFileProviderOperationCannotDeleteErrorCode = 10002;

// Cloud deletions go in batches of this many records, one at a time.
inline constexpr size_t kDeleteOperationBatchSize = 100;
// Saves of a deletion tried before giving up: a save fails when another
// process moved something the deletion would take.
inline constexpr int kDeleteSaveAttempts = 3;

// Answers the service's request to delete an item or folder. A folder that
// is not empty goes only when the request is recursive. When the extension
// is responsible for the cloud, the records of the object and of everything
// its deletion cascades to are deleted there first (dependents first, in
// batches), with a change set recording them while that runs; the object
// then leaves the library, taking its files with it.
class FileProviderDeleteOperation final : public FileProviderOperation {
 public:
  // Null on success.
  using Completion = std::function<void(const Error* error)>;

  FileProviderDeleteOperation(std::string itemIdentifier, bool recursive,
                              std::shared_ptr<ManagedObjectContext> changesManagerContext);

  const std::string& itemIdentifier() const { return itemIdentifier_; }
  bool isRecursive() const { return recursive_; }
  void setDeleteOperationCompletionBlock(Completion completion) { completion_ = std::move(completion); }

  std::string description() const override { return "<FileProviderDeleteOperation " + itemIdentifier_ + ">"; }

 protected:
  void main() override;
  void complete(const Error* error) override;
  // Cloud errors become the service's: not authenticated, quota, server
  // unreachable, or cannot synchronize (naming the item).
  Error convertError(const Error& error) const override;

 private:
  [[nodiscard]] bool validateDeletion(Error* error) const;
  void deleteFromCloud();
  void deleteBatchOfRecordsFromCloud();
  void batchCompleted(size_t batchSize, const Error* error);
  void deleteFromLibrary();
  // After a failed save: forgets the deletion and puts back what it set aside.
  static void putBackUnsaved(ManagedObjectContext& context);
  // Sets the change set's status and saves the changes context.
  void setChangeSetStatus(LibraryChangeSetStatus status);
  void deleteChangeSet();

  const std::string itemIdentifier_;
  const bool recursive_;
  const std::shared_ptr<ManagedObjectContext> changesManagerContext_;
  Completion completion_;

  // Touched only inside the operation's context.
  ManagedObjectPtr libraryObject_;
  std::string libraryObjectFileProviderIdentifier_;
  // Touched only inside the changes context.
  LibraryChangeSet::Ptr changeSet_;
  // Only one batch is in flight; each completion schedules the next.
  std::vector<RecordID> pendingRecordIDsToDelete_;
};

}  // namespace qlt
