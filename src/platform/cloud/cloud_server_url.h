#pragma once

#include <optional>
#include <string>

#include "platform/foundation/error.h"

namespace qlt {

inline constexpr const char* kCloudURLEnvironmentVariable = "QLT_CLOUD_URL";
// Names a file, readable by its owner only (mode 0600), whose first line is
// the cloud server's connection URI; read from the cloud store's defaults
// suite (cloudStoreDefaultsSuite()).
inline constexpr const char* kCloudURLFileKey = "QLTCloudURLFile";

// Where the cloud server's URI comes from, and the URI. The URI stays out
// of logs and errors; `source` may be shown.
struct CloudServerURL {
  std::string url;
  std::string source;
};

// Sets `url` from QLT_CLOUD_URL when set and not empty, else from the file
// the setting names; leaves it empty without either (the embedded store
// serves then). A named file that cannot be read, holds no URI or may be
// read by others is an error.
[[nodiscard]] bool configuredCloudServerURL(std::optional<CloudServerURL>& url, Error* error = nullptr);

}  // namespace qlt
