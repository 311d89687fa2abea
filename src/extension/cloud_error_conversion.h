#pragma once

#include <string>

#include "platform/foundation/error.h"

namespace qlt {

// The file-provider error the service understands for an error of the cloud
// database (others are returned as they are): account problems, quota,
// unreachable servers, and for anything else "cannot synchronize" naming
// `itemIdentifier`. The cloud error stays as the underlying error.
Error fileProviderErrorForCloudError(const Error& error, const std::string& itemIdentifier);

}  // namespace qlt
