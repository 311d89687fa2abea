#include "platform/cloud/cloud_error.h"

#include <any>

namespace qlt {
namespace {

std::string standardDescription(long code) {
  switch (code) {
    case kCloudErrorPartialFailure: return "Failed to modify some records";
    case kCloudErrorNetworkUnavailable: return "The network is unavailable";
    case kCloudErrorNetworkFailure: return "The network request failed";
    case kCloudErrorServiceUnavailable: return "The service is unavailable";
    case kCloudErrorNotAuthenticated: return "No account is signed in";
    case kCloudErrorUnknownItem: return "Record not found";
    case kCloudErrorInvalidArguments: return "The request is invalid";
    case kCloudErrorServerRecordChanged: return "The record was changed on the server";
    case kCloudErrorAssetFileNotFound: return "The asset file was not found";
    case kCloudErrorAssetFileModified: return "The asset file was modified while being saved";
    case kCloudErrorOperationCancelled: return "The operation was cancelled";
    case kCloudErrorBatchRequestFailed: return "Another item of the atomic batch failed";
    case kCloudErrorQuotaExceeded: return "The storage quota is exceeded";
    case kCloudErrorZoneNotFound: return "Zone not found";
    case kCloudErrorLimitExceeded: return "The request is too large";
    case kCloudErrorAccountTemporarilyUnavailable: return "The account is temporarily unavailable";
    default: return {};
  }
}

template <typename T>
const T* userInfoAs(const Error& error, const char* key) {
  if (error.domain() != kCloudErrorDomain) return nullptr;
  const std::any* value = error.userInfoValue(key);
  return value ? std::any_cast<T>(value) : nullptr;
}

}  // namespace

bool isCloudError(const Error& error, long code) { return error.is(kCloudErrorDomain, code); }

Error cloudError(long code, const std::string& localizedDescription) {
  return Error(kCloudErrorDomain, code, localizedDescription.empty() ? standardDescription(code) : localizedDescription);
}

Error cloudPartialFailureError(CloudPartialErrors errors) {
  Error error = cloudError(kCloudErrorPartialFailure);
  error.setUserInfoValue(kCloudPartialErrorsByItemIDKey, std::move(errors));
  return error;
}

Error cloudServerRecordChangedError(const CloudRecord& clientRecord, const CloudRecord& serverRecord) {
  Error error = cloudError(kCloudErrorServerRecordChanged);
  error.setUserInfoValue(kCloudRecordChangedErrorClientRecordKey, clientRecord);
  error.setUserInfoValue(kCloudRecordChangedErrorServerRecordKey, serverRecord);
  return error;
}

Error cloudOperationCancelledError() { return cloudError(kCloudErrorOperationCancelled); }

const CloudPartialErrors* cloudPartialErrors(const Error& error) {
  return userInfoAs<CloudPartialErrors>(error, kCloudPartialErrorsByItemIDKey);
}

const CloudRecord* cloudClientRecord(const Error& error) {
  return userInfoAs<CloudRecord>(error, kCloudRecordChangedErrorClientRecordKey);
}

const CloudRecord* cloudServerRecord(const Error& error) {
  return userInfoAs<CloudRecord>(error, kCloudRecordChangedErrorServerRecordKey);
}

}  // namespace qlt
