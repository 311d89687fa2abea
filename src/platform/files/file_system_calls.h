#pragma once

#include <sys/types.h>

#include <cstddef>

namespace qlt {

// The system calls through which this program changes files: every write,
// flush, rename, creation and removal of the file operations goes through
// FileSystemCalls::current(). The process starts with the operating
// system's calls; ScopedFileSystemCalls puts others in their place, so that
// tests can count the calls and make chosen ones fail. Reads do not go
// through here, nor do SQLite's own files.
//
// Each call behaves as its POSIX namesake: -1 (or null) with errno set on
// failure. Implementations must be safe to call from any thread.
class FileSystemCalls {
 public:
  virtual ~FileSystemCalls() = default;

  // open(2) with O_WRONLY or O_RDWR (and usually O_CREAT) in `flags`.
  virtual int openForWriting(const char* path, int flags, mode_t mode) = 0;
  virtual ssize_t write(int descriptor, const void* bytes, size_t size) = 0;
  virtual int fsync(int descriptor) = 0;
  // renameat2(2) relative to the working directory; flags 0 is rename(2).
  virtual int rename(const char* from, const char* to, unsigned flags) = 0;
  virtual int mkdir(const char* path, mode_t mode) = 0;
  virtual char* mkdtemp(char* pattern) = 0;
  virtual int symlink(const char* target, const char* path) = 0;
  virtual int unlink(const char* path) = 0;
  virtual int rmdir(const char* path) = 0;
  // lsetxattr(2) and lremovexattr(2): on the link itself, not its target.
  virtual int setxattr(const char* path, const char* name, const void* value, size_t size) = 0;
  virtual int removexattr(const char* path, const char* name) = 0;

  // The calls in force now.
  static FileSystemCalls& current();
  // The operating system's calls, in force unless a scope replaced them.
  static FileSystemCalls& system();
};

// Puts `calls` in force for the whole process while it lives, then the ones
// before again. Scopes nest; `calls` must outlive the scope.
class ScopedFileSystemCalls {
 public:
  explicit ScopedFileSystemCalls(FileSystemCalls& calls);
  ScopedFileSystemCalls(const ScopedFileSystemCalls&) = delete;
  ScopedFileSystemCalls& operator=(const ScopedFileSystemCalls&) = delete;
  ~ScopedFileSystemCalls();

 private:
  FileSystemCalls* previous_;
};

}  // namespace qlt
