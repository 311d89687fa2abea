#include "platform/cloud/embedded_cloud_asset_lock.h"

#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "platform/cloud/cloud_error.h"

namespace qlt {

std::unique_ptr<EmbeddedCloudAssetLock> EmbeddedCloudAssetLock::open(const std::string& path, Error* error) {
  int fd = ::open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0644);
  if (fd < 0) {
    setError(error, cloudError(kCloudErrorServiceUnavailable,
                               "The cloud store cannot open " + path + ": " + std::strerror(errno)));
    return nullptr;
  }
  return std::unique_ptr<EmbeddedCloudAssetLock>(new EmbeddedCloudAssetLock(fd));
}

EmbeddedCloudAssetLock::~EmbeddedCloudAssetLock() { ::close(fd_); }

EmbeddedCloudAssetLock::Holder::Holder(EmbeddedCloudAssetLock& lock, Mode mode) : lock_(lock) {
  int operation = mode == Mode::Shared ? LOCK_SH : LOCK_EX;
  int result;
  while ((result = ::flock(lock_.fd_, operation)) != 0 && errno == EINTR) {
  }
  held_ = result == 0;
}

EmbeddedCloudAssetLock::Holder::~Holder() {
  if (held_) ::flock(lock_.fd_, LOCK_UN);
}

}  // namespace qlt
