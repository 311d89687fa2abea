#include "platform/cloud/cloud_modify_records_operation.h"

namespace qlt {

void ModifyRecordsOperation::perform(CloudService* service, CloudDatabaseScope scope,
                                     const CloudCancellation& cancellation) {
  auto complete = [this](const std::vector<CloudRecord>& saved, const std::vector<RecordID>& deleted,
                         const Error* error) {
    if (modifyRecordsCompletionBlock) modifyRecordsCompletionBlock(saved, deleted, error);
  };
  if (!service) {
    Error error = cloudError(kCloudErrorServiceUnavailable, "The operation was not added to a database.");
    complete({}, {}, &error);
    return;
  }
  CloudModifyRecordsResult result;
  if (!isCancelled()) {
    CloudModifyRecordsRequest request{recordsToSave, recordIDsToDelete, savePolicy, atomic};
    result = service->modifyRecords(scope, request, cancellation);
  }
  if (isCancelled()) {
    Error error = cloudOperationCancelledError();
    complete({}, {}, &error);
    return;
  }
  if (result.error) {
    complete({}, {}, &*result.error);
    return;
  }
  for (const CloudRecord& record : recordsToSave) {
    auto failed = result.recordErrors.find(record.recordID());
    if (failed != result.recordErrors.end()) {
      if (perRecordCompletionBlock) perRecordCompletionBlock(record, &failed->second);
      continue;
    }
    for (const CloudRecord& saved : result.savedRecords) {
      if (saved.recordID() != record.recordID()) continue;
      if (perRecordProgressBlock) perRecordProgressBlock(record, 1.0);
      if (perRecordCompletionBlock) perRecordCompletionBlock(saved, nullptr);
      break;
    }
  }
  for (const RecordID& recordID : recordIDsToDelete) {
    if (!perRecordDeleteBlock) break;
    auto failed = result.recordErrors.find(recordID);
    perRecordDeleteBlock(recordID, failed == result.recordErrors.end() ? nullptr : &failed->second);
  }
  if (result.recordErrors.empty()) {
    complete(result.savedRecords, result.deletedRecordIDs, nullptr);
  } else {
    Error error = cloudPartialFailureError(result.recordErrors);
    complete(result.savedRecords, result.deletedRecordIDs, &error);
  }
}

}  // namespace qlt
