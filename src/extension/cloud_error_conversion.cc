#include "extension/cloud_error_conversion.h"

#include "platform/cloud/cloud_error.h"

namespace qlt {

Error fileProviderErrorForCloudError(const Error& error, const std::string& itemIdentifier) {
  if (error.domain() != kCloudErrorDomain) return error;
  long code;
  switch (error.code()) {
    case kCloudErrorNotAuthenticated:
    case kCloudErrorAccountTemporarilyUnavailable:
      code = kFileProviderErrorNotAuthenticated;
      break;
    case kCloudErrorQuotaExceeded:
      code = kFileProviderErrorInsufficientQuota;
      break;
    case kCloudErrorNetworkUnavailable:
    case kCloudErrorNetworkFailure:
    case kCloudErrorServiceUnavailable:
      code = kFileProviderErrorServerUnreachable;
      break;
    default:
      code = kFileProviderErrorCannotSynchronize;
  }
  Error converted(kFileProviderErrorDomain, code);
  converted.setUnderlyingError(error);
  if (code == kFileProviderErrorCannotSynchronize) converted.setItemIdentifier(itemIdentifier);
  return converted;
}

}  // namespace qlt
