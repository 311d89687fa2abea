#pragma once

#include <optional>
#include <string>

#include "platform/foundation/error.h"

namespace qlt {

// The file's immutable flag (the inode flag that `chattr +i` sets), which
// stands in for the user-immutable flag of other systems. A file system
// without inode flags reports it as clear; clearing or setting it needs the
// privilege to change immutable files.
[[nodiscard]] std::optional<bool> isImmutable(const std::string& path, Error* error = nullptr);
[[nodiscard]] bool setImmutable(const std::string& path, bool immutable, Error* error = nullptr);

}  // namespace qlt
