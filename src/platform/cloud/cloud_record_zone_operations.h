#pragma once

#include <functional>
#include <vector>

#include "platform/cloud/cloud_database_operation.h"

namespace qlt {

// Creates and deletes record zones ("CKModifyRecordZonesOperation").
// Saving a zone that exists does nothing; deleting one removes its records.
class ModifyRecordZonesOperation final : public CloudDatabaseOperation {
 public:
  using CompletionBlock = std::function<void(const std::vector<RecordZoneID>& savedZoneIDs,
                                             const std::vector<RecordZoneID>& deletedZoneIDs, const Error* error)>;

  ModifyRecordZonesOperation() = default;
  ModifyRecordZonesOperation(std::vector<RecordZoneID> zonesToSave, std::vector<RecordZoneID> zoneIDsToDelete)
      : recordZonesToSave(std::move(zonesToSave)), recordZoneIDsToDelete(std::move(zoneIDsToDelete)) {}

  std::vector<RecordZoneID> recordZonesToSave;
  std::vector<RecordZoneID> recordZoneIDsToDelete;
  CompletionBlock modifyRecordZonesCompletionBlock;

 protected:
  void perform(CloudService* service, CloudDatabaseScope scope, const CloudCancellation& cancellation) override;
};

// Lists every zone of the database ("CKFetchRecordZonesOperation").
class FetchAllRecordZonesOperation final : public CloudDatabaseOperation {
 public:
  using CompletionBlock = std::function<void(const std::vector<RecordZoneID>& zoneIDs, const Error* error)>;

  CompletionBlock fetchRecordZonesCompletionBlock;

 protected:
  void perform(CloudService* service, CloudDatabaseScope scope, const CloudCancellation& cancellation) override;
};

}  // namespace qlt
