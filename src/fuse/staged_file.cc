#include "fuse/staged_file.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>

#include "platform/files/file_path.h"
#include "platform/foundation/uuid.h"

namespace qlt::fuse {

std::shared_ptr<StagedFile> StagedFile::make(const std::string& directory, const std::optional<std::string>& source,
                                             Error* error) {
  std::string path = appendingPathComponent(directory, newUUIDString());
  int descriptor = ::open(path.c_str(), O_RDWR | O_CREAT | O_EXCL | O_CLOEXEC, 0644);
  if (descriptor < 0) {
    setError(error, posixError(errno, path));
    return nullptr;
  }
  auto staged = std::shared_ptr<StagedFile>(new StagedFile(path, descriptor));
  if (!source) return staged;
  int from = ::open(source->c_str(), O_RDONLY | O_CLOEXEC);
  if (from < 0) {
    setError(error, posixError(errno, *source));
    return nullptr;
  }
  char buffer[1 << 16];
  off_t offset = 0;
  for (;;) {
    ssize_t got = ::read(from, buffer, sizeof buffer);
    if (got < 0 && errno == EINTR) continue;
    if (got <= 0) {
      int failure = got < 0 ? errno : 0;
      ::close(from);
      if (failure == 0) return staged;
      setError(error, posixError(failure, *source));
      return nullptr;
    }
    for (ssize_t done = 0; done < got;) {
      ssize_t put = ::pwrite(descriptor, buffer + done, static_cast<size_t>(got - done), offset);
      if (put < 0 && errno == EINTR) continue;
      if (put < 0) {
        int failure = errno;
        ::close(from);
        setError(error, posixError(failure, path));
        return nullptr;
      }
      done += put;
      offset += put;
    }
  }
}

StagedFile::~StagedFile() {
  ::close(descriptor_);
  ::unlink(path_.c_str());
}

}  // namespace qlt::fuse
