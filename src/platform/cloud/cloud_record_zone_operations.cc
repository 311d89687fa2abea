#include "platform/cloud/cloud_record_zone_operations.h"

namespace qlt {
namespace {

Error notInDatabaseError() {
  return cloudError(kCloudErrorServiceUnavailable, "The operation was not added to a database.");
}

}  // namespace

void ModifyRecordZonesOperation::perform(CloudService* service, CloudDatabaseScope scope,
                                         const CloudCancellation& cancellation) {
  CloudModifyRecordZonesResult result;
  if (!service) {
    result.error = notInDatabaseError();
  } else if (!isCancelled()) {
    result = service->modifyRecordZones(scope, recordZonesToSave, recordZoneIDsToDelete, cancellation);
  }
  if (isCancelled()) result = {cloudOperationCancelledError(), {}, {}};
  if (!modifyRecordZonesCompletionBlock) return;
  modifyRecordZonesCompletionBlock(result.savedZoneIDs, result.deletedZoneIDs,
                                   result.error ? &*result.error : nullptr);
}

void FetchAllRecordZonesOperation::perform(CloudService* service, CloudDatabaseScope scope,
                                           const CloudCancellation& cancellation) {
  CloudFetchRecordZonesResult result;
  if (!service) {
    result.error = notInDatabaseError();
  } else if (!isCancelled()) {
    result = service->fetchAllRecordZones(scope, cancellation);
  }
  if (isCancelled()) result = {cloudOperationCancelledError(), {}};
  if (!fetchRecordZonesCompletionBlock) return;
  fetchRecordZonesCompletionBlock(result.zoneIDs, result.error ? &*result.error : nullptr);
}

}  // namespace qlt
