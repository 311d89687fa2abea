#pragma once

#include <memory>
#include <optional>
#include <string>

#include "platform/foundation/error.h"

namespace qlt {

// The folder the application and its extension share:
// $QLT_GROUP_CONTAINER when set, else $XDG_DATA_HOME/<suiteName> (with
// ~/.local/share for an unset or relative XDG_DATA_HOME). It is created
// when missing.
[[nodiscard]] std::optional<std::string> groupContainerPath(const std::string& suiteName, Error* error = nullptr);

// Held by the host application while it runs: an exclusive lock on
// "<bundle identifier>.lock" in the group container. The system drops the
// lock when the process ends, however it ends.
class ApplicationLock {
 public:
  // Fails when another process (or another lock in this one) holds it.
  static std::unique_ptr<ApplicationLock> acquire(const std::string& containerPath,
                                                  const std::string& bundleIdentifier, Error* error = nullptr);
  ~ApplicationLock();
  ApplicationLock(const ApplicationLock&) = delete;
  ApplicationLock& operator=(const ApplicationLock&) = delete;

 private:
  explicit ApplicationLock(int fd) : fd_(fd) {}
  int fd_;
};

// Whether someone holds the application's lock. A lock file nobody holds is
// left over from an earlier run and means not running.
bool isApplicationRunning(const std::string& containerPath, const std::string& bundleIdentifier);

}  // namespace qlt
