#include "platform/cloud/cloud_fetch_zone_changes_operation.h"

namespace qlt {

void FetchRecordZoneChangesOperation::perform(CloudService* service, CloudDatabaseScope scope,
                                              const CloudCancellation& cancellation) {
  CloudFetchZoneChangesResult result;
  if (!service) {
    result.error = cloudError(kCloudErrorServiceUnavailable, "The operation was not added to a database.");
  } else if (!isCancelled()) {
    result = service->fetchZoneChanges(scope, {zoneID, previousServerChangeToken, resultsLimit}, cancellation);
  }
  if (isCancelled()) result.error = cloudOperationCancelledError();
  if (!fetchRecordZoneChangesCompletionBlock) return;
  if (result.error) {
    fetchRecordZoneChangesCompletionBlock({}, {}, previousServerChangeToken.value_or(ServerChangeToken()), false,
                                          &*result.error);
    return;
  }
  fetchRecordZoneChangesCompletionBlock(result.changedRecords, result.deletedRecordIDs, result.token,
                                        result.moreComing, nullptr);
}

}  // namespace qlt
