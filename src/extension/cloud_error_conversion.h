#pragma once

#include <optional>
#include <string>

#include "platform/foundation/error.h"

namespace qlt {

// The file-provider code for the cloud errors the service understands:
// account problems, quota, unreachable servers; nullopt for others.
[[nodiscard]] std::optional<long> fileProviderCodeForCloudError(const Error& error);

// The file-provider error the service understands for an error of the cloud
// database (others are returned as they are): account problems, quota,
// unreachable servers, and for anything else "cannot synchronize" naming
// `itemIdentifier`. The cloud error stays as the underlying error.
Error fileProviderErrorForCloudError(const Error& error, const std::string& itemIdentifier);

}  // namespace qlt
