#pragma once

#include <functional>
#include <memory>
#include <string>

#include "extension/file_provider_extension.h"
#include "platform/foundation/error.h"

namespace qlt::fuse {

// In the group container: the contents of files being written through the
// mount, until the library has them.
inline constexpr const char* kMountStagingDirectoryName = "Mount Staging";

struct MountOptions {
  std::string mountPoint;
  bool foreground = true;
  bool debug = false;
  // Runs once the mount is in place, before requests are served.
  std::function<void()> mounted;
};

// Whether this process can mount at all (/dev/fuse opens, fusermount3 is
// there); the reason when it cannot.
[[nodiscard]] bool canMount(Error* error = nullptr);

// Mounts the extension's domain at the mount point and serves it until
// unmounted (fusermount3 -u) or told to stop (SIGINT, SIGTERM, SIGHUP).
// `startExtension` runs once the process is where it will serve from
// (after going to the background), so that its threads live in it.
// Returns false with the error when nothing could be mounted.
[[nodiscard]] bool serveMount(const MountOptions& options,
                              const std::function<std::shared_ptr<FileProviderExtension>(Error*)>& startExtension,
                              Error* error = nullptr);

}  // namespace qlt::fuse
