#include "platform/files/file_system_calls.h"

#include <fcntl.h>
#include <stdio.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <sys/xattr.h>
#include <unistd.h>

#include <atomic>

namespace qlt {

namespace {

class SystemCalls final : public FileSystemCalls {
 public:
  int openForWriting(const char* path, int flags, mode_t mode) override { return ::open(path, flags, mode); }
  ssize_t write(int descriptor, const void* bytes, size_t size) override { return ::write(descriptor, bytes, size); }
  int fsync(int descriptor) override { return ::fsync(descriptor); }
  int rename(const char* from, const char* to, unsigned flags) override {
    return flags == 0 ? ::rename(from, to) : ::renameat2(AT_FDCWD, from, AT_FDCWD, to, flags);
  }
  int mkdir(const char* path, mode_t mode) override { return ::mkdir(path, mode); }
  char* mkdtemp(char* pattern) override { return ::mkdtemp(pattern); }
  int symlink(const char* target, const char* path) override { return ::symlink(target, path); }
  int unlink(const char* path) override { return ::unlink(path); }
  int rmdir(const char* path) override { return ::rmdir(path); }
  int setxattr(const char* path, const char* name, const void* value, size_t size) override {
    return ::lsetxattr(path, name, value, size, 0);
  }
  int removexattr(const char* path, const char* name) override { return ::lremovexattr(path, name); }
};

std::atomic<FileSystemCalls*>& inForce() {
  static std::atomic<FileSystemCalls*> calls{&FileSystemCalls::system()};
  return calls;
}

}  // namespace

FileSystemCalls& FileSystemCalls::system() {
  static SystemCalls calls;
  return calls;
}

FileSystemCalls& FileSystemCalls::current() { return *inForce().load(std::memory_order_acquire); }

ScopedFileSystemCalls::ScopedFileSystemCalls(FileSystemCalls& calls)
    : previous_(inForce().exchange(&calls, std::memory_order_acq_rel)) {}

ScopedFileSystemCalls::~ScopedFileSystemCalls() { inForce().store(previous_, std::memory_order_release); }

}  // namespace qlt
