#include "platform/files/group_container.h"

#include <fcntl.h>
#include <pwd.h>
#include <sys/file.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <mutex>
#include <string_view>

#include "platform/files/file_error.h"
#include "platform/files/file_path.h"
#include "platform/files/file_system.h"

namespace qlt {

namespace {

std::string homeDirectory() {
  if (const char* home = std::getenv("HOME"); home && *home) return home;
  struct passwd entry {};
  struct passwd* found = nullptr;
  char buffer[4096];
  if (getpwuid_r(getuid(), &entry, buffer, sizeof buffer, &found) == 0 && found && found->pw_dir) return found->pw_dir;
  return "/";
}

std::optional<std::string> lockPath(const std::string& containerPath, const std::string& bundleIdentifier,
                                    Error* error) {
  if (!isValidFilename(bundleIdentifier)) {
    setError(error, invalidFilenameError(bundleIdentifier, "it is not a bundle identifier"));
    return std::nullopt;
  }
  return appendingPathComponent(containerPath, bundleIdentifier + ".lock");
}

}  // namespace

std::optional<std::string> groupContainerPath(const std::string& suiteName, Error* error) {
  std::string path;
  if (const char* fixed = std::getenv("QLT_GROUP_CONTAINER"); fixed && *fixed) {
    path = fixed;
  } else {
    if (!isValidFilename(suiteName)) {
      setError(error, invalidFilenameError(suiteName, "it is not a suite name"));
      return std::nullopt;
    }
    const char* dataHome = std::getenv("XDG_DATA_HOME");
    std::string base = dataHome && *dataHome == '/' ? std::string(dataHome)
                                                    : appendingPathComponent(homeDirectory(), ".local/share");
    path = appendingPathComponent(base, suiteName);
  }
  // Made once per process: the path is asked for on every lookup of a
  // library file.
  static auto& mutex = *new std::mutex;
  static auto& made = *new std::string;
  std::lock_guard lock(mutex);
  if (path == made) return path;
  if (!createDirectory(path, true, error)) return std::nullopt;
  made = path;
  return path;
}

std::unique_ptr<ApplicationLock> ApplicationLock::acquire(const std::string& containerPath,
                                                          const std::string& bundleIdentifier, Error* error) {
  auto path = lockPath(containerPath, bundleIdentifier, error);
  if (!path) return nullptr;
  int fd = ::open(path->c_str(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW, 0644);
  if (fd < 0) {
    setError(error, fileWriteError(errno, *path));
    return nullptr;
  }
  while (::flock(fd, LOCK_EX | LOCK_NB) != 0) {
    if (errno == EINTR) continue;
    int failure = errno;
    ::close(fd);
    Error busy = fileWriteError(failure, *path);
    if (failure == EWOULDBLOCK) busy.setLocalizedDescription(bundleIdentifier + " is already running.");
    setError(error, std::move(busy));
    return nullptr;
  }
  // The process identifier, for whoever looks at the file; the lock works
  // without it.
  std::string pid = std::to_string(::getpid()) + "\n";
  if (::ftruncate(fd, 0) == 0) {
    [[maybe_unused]] ssize_t written = ::pwrite(fd, pid.data(), pid.size(), 0);
  }
  return std::unique_ptr<ApplicationLock>(new ApplicationLock(fd));
}

ApplicationLock::~ApplicationLock() { ::close(fd_); }

bool isApplicationRunning(const std::string& containerPath, const std::string& bundleIdentifier) {
  auto path = lockPath(containerPath, bundleIdentifier, nullptr);
  if (!path) return false;
  int fd = ::open(path->c_str(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW);
  if (fd < 0) return false;
  int result;
  do {
    result = ::flock(fd, LOCK_SH | LOCK_NB);
  } while (result != 0 && errno == EINTR);
  bool held = result != 0 && errno == EWOULDBLOCK;
  ::close(fd);
  return held;
}

}  // namespace qlt
