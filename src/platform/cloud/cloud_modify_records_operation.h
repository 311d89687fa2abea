#pragma once

#include <functional>
#include <vector>

#include "platform/cloud/cloud_database_operation.h"

namespace qlt {

// Saves and deletes records ("CKModifyRecordsOperation"). Set the members
// before adding the operation to a database.
//
// Per-record failures reach perRecordCompletionBlock / perRecordDeleteBlock
// and, together, the completion as a partial failure whose per-record
// errors are keyed by record identifier.
class ModifyRecordsOperation final : public CloudDatabaseOperation {
 public:
  using PerRecordProgressBlock = std::function<void(const CloudRecord& record, double progress)>;
  // The saved record (with the server's new system fields) on success, the
  // record as sent on failure.
  using PerRecordCompletionBlock = std::function<void(const CloudRecord& record, const Error* error)>;
  using PerRecordDeleteBlock = std::function<void(const RecordID& recordID, const Error* error)>;
  using CompletionBlock = std::function<void(const std::vector<CloudRecord>& savedRecords,
                                             const std::vector<RecordID>& deletedRecordIDs, const Error* error)>;

  ModifyRecordsOperation() = default;
  ModifyRecordsOperation(std::vector<CloudRecord> recordsToSave, std::vector<RecordID> recordIDsToDelete)
      : recordsToSave(std::move(recordsToSave)), recordIDsToDelete(std::move(recordIDsToDelete)) {}

  std::vector<CloudRecord> recordsToSave;
  std::vector<RecordID> recordIDsToDelete;
  CloudSavePolicy savePolicy = CloudSavePolicy::IfServerRecordUnchanged;
  // Per zone: every record is written, or none.
  bool atomic = true;

  PerRecordProgressBlock perRecordProgressBlock;
  PerRecordCompletionBlock perRecordCompletionBlock;
  PerRecordDeleteBlock perRecordDeleteBlock;
  CompletionBlock modifyRecordsCompletionBlock;

  std::string description() const override { return "<ModifyRecordsOperation>"; }

 protected:
  void perform(CloudService* service, CloudDatabaseScope scope, const CloudCancellation& cancellation) override;
};

}  // namespace qlt
