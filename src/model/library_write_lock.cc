#include "model/library_write_lock.h"

#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <condition_variable>
#include <mutex>
#include <string>
#include <thread>

#include "platform/foundation/log.h"
#include "store/library_package_path.h"

namespace qlt {
namespace {

constexpr const char* kWriterLockFileName = "Writer.lock";

std::string lockFilePath() { return sharedLibraryPackagePath(kWriterLockFileName); }

// The process's side of the turn: which thread holds it, how deeply, and
// the open lock file that holds it for the process.
class Turn {
 public:
  // Never destroyed: queue threads that outlive main() may still give the
  // turn back while static objects are being destroyed.
  static Turn& shared() {
    static auto& turn = *new Turn;
    return turn;
  }

  bool take(bool wait) {
    std::unique_lock lock(mutex_);
    if (depth_ > 0 && owner_ == std::this_thread::get_id()) {
      ++depth_;
      return true;
    }
    if (!wait && depth_ > 0) return false;
    freed_.wait(lock, [&] { return depth_ == 0; });
    owner_ = std::this_thread::get_id();
    depth_ = 1;
    // The process's other threads wait on depth_; the file lock is taken
    // outside the mutex so that they can still ask.
    int fd = openLockFile();
    lock.unlock();
    if (fd < 0 || lockFile(fd, wait)) return true;
    lock.lock();
    release(lock);
    return false;
  }

  void give() {
    std::unique_lock lock(mutex_);
    if (--depth_ > 0) return;
    if (fd_ >= 0) (void)flock(fd_, LOCK_UN);
    release(lock);
  }

 private:
  void release(std::unique_lock<std::mutex>&) {
    depth_ = 0;
    owner_ = std::thread::id();
    freed_.notify_all();
  }

  // REQUIRES: mutex_ held and this thread the owner. Reopened when the
  // shared library has moved (a new library manager); -1 when there is no
  // library or the file cannot be opened (then only threads take turns).
  int openLockFile() {
    std::string path = lockFilePath();
    if (path == path_) return fd_;
    if (fd_ >= 0) ::close(fd_);
    path_ = path;
    fd_ = path.empty() ? -1 : ::open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0600);
    if (fd_ < 0 && !path.empty()) log("Cannot open the library's writer lock %@: %@", path, std::string(strerror(errno)));
    return fd_;
  }

  static bool lockFile(int fd, bool wait) {
    while (flock(fd, LOCK_EX | (wait ? 0 : LOCK_NB)) != 0) {
      if (errno == EINTR) continue;
      if (errno != EWOULDBLOCK) log("Cannot take the library's writer lock: %@", std::string(strerror(errno)));
      // Unusable for some other reason: write on rather than stop writing.
      return errno != EWOULDBLOCK;
    }
    return true;
  }

  std::mutex mutex_;
  std::condition_variable freed_;
  std::thread::id owner_;
  int depth_ = 0;
  std::string path_;
  int fd_ = -1;
};

}  // namespace

LibraryWriteLock::LibraryWriteLock() : owns_(Turn::shared().take(true)) {}

LibraryWriteLock::LibraryWriteLock(TryOnly) : owns_(Turn::shared().take(false)) {}

LibraryWriteLock::~LibraryWriteLock() {
  if (owns_) Turn::shared().give();
}

}  // namespace qlt
