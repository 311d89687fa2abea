#include "extension/cloud_error_conversion.h"

#include "platform/cloud/cloud_error.h"

namespace qlt {

std::optional<long> fileProviderCodeForCloudError(const Error& error) {
  if (error.domain() != kCloudErrorDomain) return std::nullopt;
  switch (error.code()) {
    case kCloudErrorNotAuthenticated:
    case kCloudErrorAccountTemporarilyUnavailable:
      return kFileProviderErrorNotAuthenticated;
    case kCloudErrorQuotaExceeded:
      return kFileProviderErrorInsufficientQuota;
    case kCloudErrorNetworkUnavailable:
    case kCloudErrorNetworkFailure:
    case kCloudErrorServiceUnavailable:
      return kFileProviderErrorServerUnreachable;
    default:
      return std::nullopt;
  }
}

Error fileProviderErrorForCloudError(const Error& error, const std::string& itemIdentifier) {
  if (error.domain() != kCloudErrorDomain) return error;
  const long code = fileProviderCodeForCloudError(error).value_or(kFileProviderErrorCannotSynchronize);
  Error converted(kFileProviderErrorDomain, code);
  converted.setUnderlyingError(error);
  if (code == kFileProviderErrorCannotSynchronize) converted.setItemIdentifier(itemIdentifier);
  return converted;
}

}  // namespace qlt
