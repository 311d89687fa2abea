#include "platform/cloud/cloud_fetch_records_operation.h"

namespace qlt {

void FetchRecordsOperation::perform(CloudService* service, CloudDatabaseScope scope,
                                    const CloudCancellation& cancellation) {
  auto complete = [this](const std::map<RecordID, CloudRecord>& records, const Error* error) {
    if (fetchRecordsCompletionBlock) fetchRecordsCompletionBlock(records, error);
  };
  if (!service) {
    Error error = cloudError(kCloudErrorServiceUnavailable, "The operation was not added to a database.");
    complete({}, &error);
    return;
  }
  CloudFetchRecordsResult result;
  if (!isCancelled()) {
    CloudFetchRecordsRequest request{recordIDs, desiredKeys, perRecordProgressBlock};
    result = service->fetchRecords(scope, request, cancellation);
  }
  if (isCancelled()) {
    Error error = cloudOperationCancelledError();
    complete({}, &error);
    return;
  }
  if (result.error) {
    complete({}, &*result.error);
    return;
  }
  for (const RecordID& recordID : recordIDs) {
    auto failed = result.recordErrors.find(recordID);
    if (failed != result.recordErrors.end()) {
      if (perRecordCompletionBlock) perRecordCompletionBlock(nullptr, recordID, &failed->second);
      continue;
    }
    auto found = result.records.find(recordID);
    if (found == result.records.end()) continue;
    if (perRecordProgressBlock) perRecordProgressBlock(recordID, 1.0);
    if (perRecordCompletionBlock) perRecordCompletionBlock(&found->second, recordID, nullptr);
  }
  if (result.recordErrors.empty()) {
    complete(result.records, nullptr);
  } else {
    Error error = cloudPartialFailureError(result.recordErrors);
    complete(result.records, &error);
  }
}

}  // namespace qlt
