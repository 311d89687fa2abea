#include "platform/files/file_flags.h"

#include <fcntl.h>
#include <linux/fs.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <cerrno>

#include "platform/files/file_error.h"

namespace qlt {
namespace {

bool lacksInodeFlags(int errnum) { return errnum == ENOTTY || errnum == EOPNOTSUPP || errnum == EINVAL; }

class OpenFile {
 public:
  explicit OpenFile(const std::string& path) : fd_(::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC)) {}
  ~OpenFile() {
    if (fd_ >= 0) ::close(fd_);
  }
  OpenFile(const OpenFile&) = delete;
  OpenFile& operator=(const OpenFile&) = delete;
  int fd() const { return fd_; }

 private:
  int fd_;
};

}  // namespace

std::optional<bool> isImmutable(const std::string& path, Error* error) {
  OpenFile file(path);
  if (file.fd() < 0) {
    setError(error, fileReadError(errno, path));
    return std::nullopt;
  }
  int flags = 0;
  if (::ioctl(file.fd(), FS_IOC_GETFLAGS, &flags) != 0) {
    if (lacksInodeFlags(errno)) return false;
    setError(error, fileReadError(errno, path));
    return std::nullopt;
  }
  return (flags & FS_IMMUTABLE_FL) != 0;
}

bool setImmutable(const std::string& path, bool immutable, Error* error) {
  OpenFile file(path);
  int flags = 0;
  if (file.fd() < 0 || ::ioctl(file.fd(), FS_IOC_GETFLAGS, &flags) != 0) {
    if (file.fd() >= 0 && lacksInodeFlags(errno) && !immutable) return true;
    setError(error, fileWriteError(errno, path));
    return false;
  }
  int wanted = immutable ? flags | FS_IMMUTABLE_FL : flags & ~FS_IMMUTABLE_FL;
  if (wanted == flags) return true;
  if (::ioctl(file.fd(), FS_IOC_SETFLAGS, &wanted) != 0) {
    setError(error, fileWriteError(errno, path));
    return false;
  }
  return true;
}

}  // namespace qlt
