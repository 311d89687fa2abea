#pragma once

#include <sys/stat.h>

#include <algorithm>
#include <cerrno>
#include <functional>
#include <map>
#include <mutex>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "platform/files/file_system_calls.h"

namespace qlt {

// File system calls that count what is done to the items under one
// directory and fail chosen calls, as a failing or full disk would. Calls
// on other paths, and writes to descriptors not opened here under the
// directory, pass through uncounted. A failed call changes nothing.
class FaultyFileSystem final : public FileSystemCalls {
 public:
  // What a call does to the disk; each kind is counted separately.
  enum class Access { Write, Sync, Rename, Create, Remove, Attribute };
  static constexpr Access kAccesses[] = {Access::Write,  Access::Sync,   Access::Rename,
                                         Access::Create, Access::Remove, Access::Attribute};

  explicit FaultyFileSystem(std::string directory) : directory_(std::move(directory)) {}

  // The `nth` access of `kind` from now on (counting from 1) fails with
  // `errnum`; the ones after it succeed.
  void failAccess(Access kind, int nth, int errnum = EIO) {
    std::lock_guard lock(mutex_);
    plannedKind_ = kind;
    plannedAt_ = counts_[kind] + nth;
    plannedErrno_ = errnum;
  }
  // The disk fills up once `bytes` more bytes are written: a write that
  // would pass the limit writes what fits, and then writes fail with ENOSPC.
  void fillDiskAfter(size_t bytes) {
    std::lock_guard lock(mutex_);
    capacity_ = bytesWritten_ + bytes;
  }
  // Between these, each write is noted by the number of bytes written
  // since the start before it, plus half its own: filling the disk after
  // that many bytes ends a repeated run in the middle of that write.
  void startRecordingWrites() {
    std::lock_guard lock(mutex_);
    recording_ = true;
    recordingFrom_ = bytesWritten_;
    midWrites_.clear();
  }
  std::vector<size_t> stopRecordingWrites() {
    std::lock_guard lock(mutex_);
    recording_ = false;
    return std::move(midWrites_);
  }
  // No more faults; the counts go on.
  void heal() {
    std::lock_guard lock(mutex_);
    plannedAt_ = 0;
    capacity_ = kUnlimited;
  }

  int count(Access kind) const {
    std::lock_guard lock(mutex_);
    auto found = counts_.find(kind);
    return found == counts_.end() ? 0 : found->second;
  }
  size_t bytesWritten() const {
    std::lock_guard lock(mutex_);
    return bytesWritten_;
  }
  // Whether a planned fault has struck since it was planned.
  bool struck() const {
    std::lock_guard lock(mutex_);
    return struck_;
  }

  int openForWriting(const char* path, int flags, mode_t mode) override {
    if (!inside(path)) return system().openForWriting(path, flags, mode);
    if (failsNow(Access::Create)) return -1;
    int descriptor = system().openForWriting(path, flags, mode);
    struct stat status {};
    if (descriptor >= 0 && ::fstat(descriptor, &status) == 0) {
      std::lock_guard lock(mutex_);
      descriptors_[descriptor] = {status.st_dev, status.st_ino};
    }
    return descriptor;
  }
  ssize_t write(int descriptor, const void* bytes, size_t size) override {
    if (!tracked(descriptor)) return system().write(descriptor, bytes, size);
    if (failsNow(Access::Write)) return -1;
    {
      std::lock_guard lock(mutex_);
      if (bytesWritten_ >= capacity_) {
        errno = ENOSPC;
        return -1;
      }
      size = std::min(size, capacity_ - bytesWritten_);
      if (recording_) midWrites_.push_back(bytesWritten_ - recordingFrom_ + size / 2);
    }
    ssize_t written = system().write(descriptor, bytes, size);
    std::lock_guard lock(mutex_);
    if (written > 0) bytesWritten_ += static_cast<size_t>(written);
    return written;
  }
  int fsync(int descriptor) override {
    if (tracked(descriptor) && failsNow(Access::Sync)) return -1;
    return system().fsync(descriptor);
  }
  int rename(const char* from, const char* to, unsigned flags) override {
    const bool ours = inside(from) || inside(to);
    if (ours && failsNow(Access::Rename)) return -1;
    int result = system().rename(from, to, flags);
    std::function<void()> then;
    if (ours && result == 0) {
      std::lock_guard lock(mutex_);
      then = std::exchange(afterRename_, nullptr);
    }
    if (then) then();
    return result;
  }
  // `then` runs once, right after the next rename under the directory.
  void afterNextRename(std::function<void()> then) {
    std::lock_guard lock(mutex_);
    afterRename_ = std::move(then);
  }
  int mkdir(const char* path, mode_t mode) override {
    if (inside(path) && failsNow(Access::Create)) return -1;
    return system().mkdir(path, mode);
  }
  char* mkdtemp(char* pattern) override {
    if (inside(pattern) && failsNow(Access::Create)) return nullptr;
    return system().mkdtemp(pattern);
  }
  int symlink(const char* target, const char* path) override {
    if (inside(path) && failsNow(Access::Create)) return -1;
    return system().symlink(target, path);
  }
  int unlink(const char* path) override {
    if (inside(path) && failsNow(Access::Remove)) return -1;
    return system().unlink(path);
  }
  int rmdir(const char* path) override {
    if (inside(path) && failsNow(Access::Remove)) return -1;
    return system().rmdir(path);
  }
  int setxattr(const char* path, const char* name, const void* value, size_t size) override {
    if (inside(path) && failsNow(Access::Attribute)) return -1;
    return system().setxattr(path, name, value, size);
  }
  int removexattr(const char* path, const char* name) override {
    if (inside(path) && failsNow(Access::Attribute)) return -1;
    return system().removexattr(path, name);
  }

 private:
  static constexpr size_t kUnlimited = static_cast<size_t>(-1);

  bool inside(std::string_view path) const {
    return path.starts_with(directory_) && (path.size() == directory_.size() || path[directory_.size()] == '/');
  }
  // Descriptors are closed behind our back and their numbers reused: one
  // is ours while it still refers to the file opened here.
  bool tracked(int descriptor) const {
    struct stat status {};
    if (::fstat(descriptor, &status) != 0) return false;
    std::lock_guard lock(mutex_);
    auto found = descriptors_.find(descriptor);
    return found != descriptors_.end() && found->second == std::pair(status.st_dev, status.st_ino);
  }
  // Counts one access of `kind`; true, with errno set, when it is to fail.
  bool failsNow(Access kind) {
    std::lock_guard lock(mutex_);
    int number = ++counts_[kind];
    if (plannedAt_ == 0 || kind != plannedKind_ || number != plannedAt_) return false;
    struck_ = true;
    plannedAt_ = 0;
    errno = plannedErrno_;
    return true;
  }

  const std::string directory_;
  mutable std::mutex mutex_;
  std::map<Access, int> counts_;
  std::map<int, std::pair<dev_t, ino_t>> descriptors_;
  Access plannedKind_ = Access::Write;
  int plannedAt_ = 0;
  int plannedErrno_ = EIO;
  bool struck_ = false;
  size_t bytesWritten_ = 0;
  size_t capacity_ = kUnlimited;
  bool recording_ = false;
  size_t recordingFrom_ = 0;
  std::vector<size_t> midWrites_;
  std::function<void()> afterRename_;
};

}  // namespace qlt
