#pragma once

#include <map>
#include <string>

#include "platform/cloud/cloud_record.h"
#include "platform/foundation/error.h"

namespace qlt {

inline constexpr const char* kCloudErrorDomain = "CKErrorDomain";

inline constexpr long kCloudErrorPartialFailure = 2;
inline constexpr long kCloudErrorNetworkUnavailable = 3;
inline constexpr long kCloudErrorNetworkFailure = 4;
inline constexpr long kCloudErrorServiceUnavailable = 6;
inline constexpr long kCloudErrorNotAuthenticated = 9;
inline constexpr long kCloudErrorUnknownItem = 11;
inline constexpr long kCloudErrorInvalidArguments = 12;
inline constexpr long kCloudErrorServerRecordChanged = 14;
inline constexpr long kCloudErrorAssetFileNotFound = 16;
inline constexpr long kCloudErrorAssetFileModified = 17;
inline constexpr long kCloudErrorOperationCancelled = 20;
inline constexpr long kCloudErrorBatchRequestFailed = 22;
inline constexpr long kCloudErrorQuotaExceeded = 25;
inline constexpr long kCloudErrorZoneNotFound = 26;
inline constexpr long kCloudErrorLimitExceeded = 27;
inline constexpr long kCloudErrorAccountTemporarilyUnavailable = 36;

// User-info keys. The partial-failure dictionary holds a
// std::map<RecordID, Error>; the record keys hold CloudRecord values.
inline constexpr const char* kCloudPartialErrorsByItemIDKey = "CKPartialErrorsByItemIDKey";
inline constexpr const char* kCloudRecordChangedErrorClientRecordKey = "CKRecordChangedErrorClientRecordKey";
inline constexpr const char* kCloudRecordChangedErrorServerRecordKey = "CKRecordChangedErrorServerRecordKey";

using CloudPartialErrors = std::map<RecordID, Error>;

bool isCloudError(const Error& error, long code);

// An error of the cloud domain with the usual description for `code`
// unless one is given.
Error cloudError(long code, const std::string& localizedDescription = {});
Error cloudPartialFailureError(CloudPartialErrors errors);
Error cloudServerRecordChangedError(const CloudRecord& clientRecord, const CloudRecord& serverRecord);
Error cloudOperationCancelledError();

// The per-record errors of a partial failure; nullptr for other errors.
const CloudPartialErrors* cloudPartialErrors(const Error& error);
// The two sides of a server-record-changed error; nullptr when absent.
const CloudRecord* cloudClientRecord(const Error& error);
const CloudRecord* cloudServerRecord(const Error& error);

}  // namespace qlt
