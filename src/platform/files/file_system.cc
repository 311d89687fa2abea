#include "platform/files/file_system.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <random>

#include "platform/files/extended_attributes.h"
#include "platform/files/file_attributes.h"
#include "platform/files/file_error.h"
#include "platform/files/file_path.h"
#include "platform/files/file_system_calls.h"
#include "platform/foundation/uniform_type.h"

namespace qlt {

namespace fs = std::filesystem;

namespace {

class FileDescriptor {
 public:
  explicit FileDescriptor(int fd) : fd_(fd) {}
  FileDescriptor(const FileDescriptor&) = delete;
  FileDescriptor& operator=(const FileDescriptor&) = delete;
  ~FileDescriptor() {
    if (fd_ >= 0) ::close(fd_);
  }
  int get() const { return fd_; }
  bool valid() const { return fd_ >= 0; }
  // Closes now so that a failing close can be reported.
  bool close() {
    int fd = fd_;
    fd_ = -1;
    return ::close(fd) == 0;
  }

 private:
  int fd_;
};

bool writeAll(int fd, std::string_view bytes) {
  while (!bytes.empty()) {
    ssize_t written = FileSystemCalls::current().write(fd, bytes.data(), bytes.size());
    if (written < 0) {
      if (errno == EINTR) continue;
      return false;
    }
    bytes.remove_prefix(static_cast<size_t>(written));
  }
  return true;
}

// Copies what remains of `from` into `to`; errno tells why it failed.
bool copyContents(int from, int to) {
  char buffer[1 << 16];
  for (;;) {
    ssize_t count = ::read(from, buffer, sizeof buffer);
    if (count < 0) {
      if (errno == EINTR) continue;
      return false;
    }
    if (count == 0) return true;
    if (!writeAll(to, std::string_view(buffer, static_cast<size_t>(count)))) return false;
  }
}

bool exists(const std::string& path) {
  struct stat status {};
  return ::lstat(path.c_str(), &status) == 0;
}

void syncDirectory(const std::string& path) {
  FileDescriptor directory(::open(path.empty() ? "." : path.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
  if (directory.valid()) (void)FileSystemCalls::current().fsync(directory.get());
}

// Makes `path` and the directories above it that are missing; errno tells
// why it failed.
bool makeDirectories(const std::string& path) {
  if (isDirectory(path)) return true;
  std::string parent = deletingLastPathComponent(path);
  if (!parent.empty() && parent != path && !makeDirectories(parent)) return false;
  if (FileSystemCalls::current().mkdir(path.c_str(), 0777) == 0) return true;
  if (errno == EEXIST && !isDirectory(path)) return false;
  return errno == EEXIST;
}

// Removes a file, link or tree, children first; errno tells why it failed.
// Items that vanish meanwhile are fine.
bool removeTree(const std::string& path) {
  FileSystemCalls& calls = FileSystemCalls::current();
  struct stat status {};
  if (::lstat(path.c_str(), &status) != 0) return errno == ENOENT;
  if (!S_ISDIR(status.st_mode)) return calls.unlink(path.c_str()) == 0 || errno == ENOENT;
  std::vector<std::string> names;
  if (DIR* directory = ::opendir(path.c_str())) {
    while (const dirent* entry = ::readdir(directory)) {
      std::string_view name = entry->d_name;
      if (name != "." && name != "..") names.emplace_back(name);
    }
    ::closedir(directory);
  } else {
    return errno == ENOENT;
  }
  for (const std::string& name : names)
    if (!removeTree(path + "/" + name)) return false;
  return calls.rmdir(path.c_str()) == 0 || errno == ENOENT;
}

bool fail(Error* error, Error failure) {
  setError(error, std::move(failure));
  return false;
}

// Copies the metadata of `source` (described by `attributes`) onto the item
// just made at `destination`. Permissions come last: a read-only item would
// refuse the extended attributes.
bool copyMetadata(const std::string& source, const FileAttributes& attributes, const std::string& destination,
                  Error* error) {
  if (attributes.type == FileAttributes::Type::SymbolicLink) {
    struct timespec times[2] = {attributes.accessTime, attributes.modificationTime};
    ::utimensat(AT_FDCWD, destination.c_str(), times, AT_SYMLINK_NOFOLLOW);
    return true;
  }
  auto names = extendedAttributeNames(source);
  for (const std::string& name : names ? *names : std::vector<std::string>()) {
    auto value = extendedAttribute(source, name);
    Error failure;
    if (value && !setExtendedAttribute(destination, name, *value, &failure))
      return fail(error, fileWriteError(static_cast<int>(failure.code()), destination));
  }
  return setCreationTime(destination, attributes.creationTime, error) &&
         setAccessTime(destination, attributes.accessTime, error) &&
         setModificationTime(destination, attributes.modificationTime, error) &&
         setPosixPermissions(destination, attributes.posixPermissions, error);
}

bool copyTree(const std::string& source, const std::string& destination, Error* error) {
  auto attributes = attributesOfItem(source, error);
  if (!attributes) return false;
  switch (attributes->type) {
    case FileAttributes::Type::Regular: {
      FileDescriptor from(::open(source.c_str(), O_RDONLY | O_NOFOLLOW | O_CLOEXEC));
      if (!from.valid()) return fail(error, fileReadError(errno, source));
      FileDescriptor to(
          FileSystemCalls::current().openForWriting(destination.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600));
      if (!to.valid()) return fail(error, fileWriteError(errno, destination));
      if (!copyContents(from.get(), to.get()) || !to.close()) return fail(error, fileWriteError(errno, destination));
      break;
    }
    case FileAttributes::Type::Directory: {
      if (FileSystemCalls::current().mkdir(destination.c_str(), 0700) != 0)
        return fail(error, fileWriteError(errno, destination));
      auto names = contentsOfDirectory(source, error);
      if (!names) return false;
      for (const std::string& name : *names)
        if (!copyTree(source + "/" + name, destination + "/" + name, error)) return false;
      break;
    }
    case FileAttributes::Type::SymbolicLink: {
      std::error_code failure;
      fs::path target = fs::read_symlink(source, failure);
      if (failure) return fail(error, fileReadError(failure.value(), source));
      if (FileSystemCalls::current().symlink(target.c_str(), destination.c_str()) != 0)
        return fail(error, fileWriteError(errno, destination));
      break;
    }
    case FileAttributes::Type::Other:
      return true;
  }
  return copyMetadata(source, *attributes, destination, error);
}

}  // namespace

bool fileExists(const std::string& path, bool* isDirectory) {
  struct stat status {};
  bool found = ::stat(path.c_str(), &status) == 0;
  if (isDirectory) *isDirectory = found && S_ISDIR(status.st_mode);
  return found;
}

bool isDirectory(const std::string& path) {
  bool directory = false;
  return fileExists(path, &directory) && directory;
}

bool isPackage(const std::string& path) {
  const UniformType* type = UniformType::withFilenameExtension(pathExtension(path));
  return type && type->conformsTo(UniformType::package()) && isDirectory(path);
}

std::optional<uint64_t> fileSize(const std::string& path, Error* error) {
  struct stat status {};
  if (::stat(path.c_str(), &status) != 0) {
    setError(error, fileReadError(errno, path));
    return std::nullopt;
  }
  return static_cast<uint64_t>(status.st_size);
}

std::optional<std::string> readFile(const std::string& path, Error* error) {
  FileDescriptor file(::open(path.c_str(), O_RDONLY | O_CLOEXEC));
  struct stat status {};
  if (file.valid() && ::fstat(file.get(), &status) == 0 && S_ISDIR(status.st_mode)) errno = EISDIR;
  if (!file.valid() || S_ISDIR(status.st_mode)) {
    setError(error, fileReadError(errno, path));
    return std::nullopt;
  }
  std::string contents;
  contents.reserve(static_cast<size_t>(status.st_size));
  char buffer[1 << 16];
  for (;;) {
    ssize_t count = ::read(file.get(), buffer, sizeof buffer);
    if (count < 0 && errno == EINTR) continue;
    if (count < 0) {
      setError(error, fileReadError(errno, path));
      return std::nullopt;
    }
    if (count == 0) return contents;
    contents.append(buffer, static_cast<size_t>(count));
  }
}

std::optional<std::vector<std::string>> contentsOfDirectory(const std::string& path, Error* error) {
  std::error_code failure;
  fs::directory_iterator entries(path, failure);
  std::vector<std::string> names;
  for (; !failure && entries != fs::directory_iterator(); entries.increment(failure))
    names.push_back(entries->path().filename().native());
  if (failure) {
    setError(error, fileReadError(failure.value(), path));
    return std::nullopt;
  }
  std::sort(names.begin(), names.end());
  return names;
}

bool writeFileAtomically(const std::string& path, std::string_view contents, Error* error) {
  if (path.empty() || path.back() == '/') return fail(error, invalidFilenameError(path, "it names no file"));
  FileSystemCalls& calls = FileSystemCalls::current();
  std::string temporary;
  int fd = -1;
  for (int attempt = 0; fd < 0 && attempt < 8; ++attempt) {
    temporary = temporarySiblingPath(path);
    fd = calls.openForWriting(temporary.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
    if (fd < 0 && errno != EEXIST) break;
  }
  FileDescriptor file(fd);
  if (!file.valid()) return fail(error, fileWriteError(errno, path));
  struct stat existing {};
  if (::stat(path.c_str(), &existing) == 0 && S_ISREG(existing.st_mode)) ::fchmod(file.get(), existing.st_mode & 07777);
  if (!writeAll(file.get(), contents) || calls.fsync(file.get()) != 0 || !file.close() ||
      calls.rename(temporary.c_str(), path.c_str(), 0) != 0) {
    int failure = errno;
    (void)calls.unlink(temporary.c_str());
    return fail(error, fileWriteError(failure, path));
  }
  syncDirectory(deletingLastPathComponent(path));
  return true;
}

bool createDirectory(const std::string& path, bool withIntermediates, Error* error) {
  if (path.empty()) return fail(error, invalidFilenameError(path, "it is empty"));
  if (!withIntermediates) {
    if (FileSystemCalls::current().mkdir(path.c_str(), 0777) != 0) return fail(error, fileWriteError(errno, path));
    return true;
  }
  std::string directory = path;
  while (directory.size() > 1 && directory.back() == '/') directory.pop_back();
  if (!makeDirectories(directory)) return fail(error, fileWriteError(errno, path));
  return true;
}

bool copyItem(const std::string& source, const std::string& destination, Error* error) {
  if (exists(destination)) return fail(error, fileWriteError(EEXIST, destination));
  if (!exists(source)) return fail(error, fileReadError(errno, source));
  if (isDescendant(destination, source)) return fail(error, fileWriteError(EINVAL, destination));
  if (copyTree(source, destination, error)) return true;
  int failure = errno;
  (void)removeTree(destination);  // best effort: the partial copy
  errno = failure;
  return false;
}

bool moveItem(const std::string& source, const std::string& destination, Error* error) {
  FileSystemCalls& calls = FileSystemCalls::current();
  if (calls.rename(source.c_str(), destination.c_str(), RENAME_NOREPLACE) == 0) return true;
  if (errno == EINVAL && exists(source) && !exists(destination) && calls.rename(source.c_str(), destination.c_str(), 0) == 0)
    return true;
  if (errno == EXDEV) return copyItem(source, destination, error) && removeItem(source, error);
  int failure = errno;
  return fail(error, exists(source) ? fileWriteError(failure, destination) : fileReadError(failure, source));
}

bool replaceItem(const std::string& destination, const std::string& replacement, Error* error) {
  FileSystemCalls& calls = FileSystemCalls::current();
  if (!exists(replacement)) return fail(error, fileReadError(errno, replacement));
  if (!exists(destination)) {
    if (calls.rename(replacement.c_str(), destination.c_str(), 0) != 0)
      return fail(error, fileWriteError(errno, destination));
    return true;
  }
  return replaceExistingItem(destination, replacement, error);
}

bool replaceExistingItem(const std::string& destination, const std::string& replacement, Error* error) {
  FileSystemCalls& calls = FileSystemCalls::current();
  if (!exists(replacement)) return fail(error, fileReadError(errno, replacement));
  if (calls.rename(replacement.c_str(), destination.c_str(), RENAME_EXCHANGE) == 0) {
    (void)removeItem(replacement);  // best effort: the old contents, already replaced
    return true;
  }
  if (errno != EINVAL) return fail(error, fileWriteError(errno, destination));
  // No exchange on this file system: set the old item aside, then move the
  // new one in, putting the old one back if that fails.
  std::string aside = temporarySiblingPath(destination);
  if (!moveItem(destination, aside, error)) return false;
  if (calls.rename(replacement.c_str(), destination.c_str(), 0) != 0) {
    int failure = errno;
    (void)calls.rename(aside.c_str(), destination.c_str(), 0);
    return fail(error, fileWriteError(failure, destination));
  }
  (void)removeItem(aside);  // best effort: the old contents, already replaced
  return true;
}

bool removeItem(const std::string& path, Error* error) {
  if (!exists(path)) return fail(error, fileWriteError(errno, path));
  if (!removeTree(path)) return fail(error, fileWriteError(errno, path));
  return true;
}

std::string temporarySiblingPath(const std::string& path) {
  static std::atomic<unsigned> counter{0};
  thread_local std::mt19937_64 random{std::random_device{}()};
  char name[64];
  std::snprintf(name, sizeof name, ".qlt-temporary-%d-%u-%08llx", static_cast<int>(::getpid()), counter++,
                static_cast<unsigned long long>(random() & 0xffffffffULL));
  std::string directory = deletingLastPathComponent(path);
  return directory.empty() ? std::string(name) : appendingPathComponent(directory, name);
}

std::optional<std::string> createTemporaryDirectory(Error* error) {
  const char* base = std::getenv("TMPDIR");
  std::string pattern = appendingPathComponent(base && *base ? base : "/tmp", "quillet-XXXXXX");
  if (!::mkdtemp(pattern.data())) {
    setError(error, fileWriteError(errno, pattern));
    return std::nullopt;
  }
  return pattern;
}

bool removeEmptyDirectory(const std::string& path, Error* error) {
  if (FileSystemCalls::current().rmdir(path.c_str()) == 0) return true;
  setError(error, fileWriteError(errno, path));
  return false;
}

}  // namespace qlt
