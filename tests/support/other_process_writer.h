#pragma once

#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <cerrno>
#include <string>

namespace qlt {

// A library's writer lock as another process sees it: flock on a file
// description of its own conflicts with this process's.
class OtherProcessWriter {
 public:
  explicit OtherProcessWriter(const std::string& libraryPath)
      : fd_(::open((libraryPath + "/Writer.lock").c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0600)) {}
  ~OtherProcessWriter() {
    if (fd_ >= 0) ::close(fd_);
  }
  OtherProcessWriter(const OtherProcessWriter&) = delete;
  OtherProcessWriter& operator=(const OtherProcessWriter&) = delete;

  bool opened() const { return fd_ >= 0; }
  [[nodiscard]] bool take() { return flock(fd_, LOCK_EX) == 0; }
  [[nodiscard]] bool release() { return flock(fd_, LOCK_UN) == 0; }

  // Whether a writer in this process holds the turn.
  bool takenElsewhere() {
    if (flock(fd_, LOCK_EX | LOCK_NB) == 0) {
      flock(fd_, LOCK_UN);
      return false;
    }
    return errno == EWOULDBLOCK;
  }

 private:
  int fd_;
};

}  // namespace qlt
