#include "platform/files/file_wrapper.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <filesystem>

#include "platform/files/file_attributes.h"
#include "platform/files/file_error.h"
#include "platform/files/file_path.h"
#include "platform/files/file_system.h"
#include "platform/files/file_system_calls.h"

namespace qlt {

namespace {

std::optional<std::string> readRegularFile(const std::string& path, bool followLink, Error* error) {
  int fd = ::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC | (followLink ? 0 : O_NOFOLLOW));
  if (fd < 0) {
    setError(error, fileReadError(errno, path));
    return std::nullopt;
  }
  std::string contents;
  struct stat status {};
  bool ok = ::fstat(fd, &status) == 0;
  if (ok && !S_ISREG(status.st_mode)) {
    ok = false;
    errno = EINVAL;
  }
  if (ok) {
    contents.resize(static_cast<size_t>(status.st_size));
    size_t done = 0;
    for (;;) {
      if (done == contents.size()) contents.resize(done + 65536);
      ssize_t count = ::read(fd, contents.data() + done, contents.size() - done);
      if (count < 0 && errno == EINTR) continue;
      if (count <= 0) {
        ok = count == 0;
        break;
      }
      done += static_cast<size_t>(count);
    }
    contents.resize(done);
  }
  int failure = errno;
  ::close(fd);
  if (!ok) {
    setError(error, fileReadError(failure, path));
    return std::nullopt;
  }
  return contents;
}

// Reads one item. Returns false on failure; succeeds with `result` null for
// an item that is left out.
bool readItem(const std::string& path, bool root, std::unique_ptr<FileWrapper>& result, Error* error) {
  auto attributes = attributesOfItem(path, error);
  if (!attributes) return false;
  switch (attributes->type) {
    case FileAttributes::Type::Regular: {
      auto contents = readRegularFile(path, root, error);
      if (!contents) return false;
      result = FileWrapper::regularFile(std::move(*contents));
      break;
    }
    case FileAttributes::Type::Directory: {
      auto names = contentsOfDirectory(path, error);
      if (!names) return false;
      result = FileWrapper::directory();
      for (const std::string& name : *names) {
        std::unique_ptr<FileWrapper> child;
        if (!readItem(appendingPathComponent(path, name), false, child, error)) return false;
        if (child && !result->addChild(name, std::move(child), error)) return false;
      }
      break;
    }
    case FileAttributes::Type::SymbolicLink: {
      std::error_code failure;
      std::string destination = std::filesystem::read_symlink(path, failure).native();
      if (failure) {
        setError(error, fileReadError(failure.value(), path));
        return false;
      }
      if (!isContainedLinkDestination(destination)) return true;
      result = FileWrapper::symbolicLink(std::move(destination));
      break;
    }
    case FileAttributes::Type::Other:
      return true;
  }
  FileWrapper::Attributes& kept = result->attributes();
  kept.modificationTime = attributes->modificationTime;
  if (!result->isSymbolicLink()) {
    kept.posixPermissions = attributes->posixPermissions;
    kept.creationTime = attributes->creationTime;
    kept.extensionHidden = attributes->extensionHidden;
    kept.typeCode = attributes->typeCode;
    kept.creatorCode = attributes->creatorCode;
  }
  return true;
}

}  // namespace

std::unique_ptr<FileWrapper> FileWrapper::regularFile(std::string contents) {
  return std::unique_ptr<FileWrapper>(new FileWrapper(Kind::RegularFile, std::move(contents)));
}

std::unique_ptr<FileWrapper> FileWrapper::directory() {
  return std::unique_ptr<FileWrapper>(new FileWrapper(Kind::Directory, {}));
}

std::unique_ptr<FileWrapper> FileWrapper::symbolicLink(std::string destination) {
  return std::unique_ptr<FileWrapper>(new FileWrapper(Kind::SymbolicLink, std::move(destination)));
}

std::unique_ptr<FileWrapper> FileWrapper::readFromPath(const std::string& path, Error* error) {
  std::string resolved = path;
  struct stat status {};
  if (::lstat(path.c_str(), &status) == 0 && S_ISLNK(status.st_mode)) {
    std::error_code failure;
    resolved = std::filesystem::canonical(path, failure).native();
    if (failure) {
      setError(error, fileReadError(failure.value(), path));
      return nullptr;
    }
  }
  std::unique_ptr<FileWrapper> result;
  if (!readItem(resolved, true, result, error)) return nullptr;
  if (!result) {
    setError(error, fileReadError(EINVAL, path));
    return nullptr;
  }
  result->filename_ = lastPathComponent(path);
  result->preferredFilename_ = result->filename_;
  return result;
}

FileWrapper* FileWrapper::child(const std::string& name) const {
  auto found = children_.find(name);
  return found == children_.end() ? nullptr : found->second.get();
}

bool FileWrapper::addChild(const std::string& name, std::unique_ptr<FileWrapper> child, Error* error) {
  if (!isDirectory() || !child) {
    setError(error, fileWriteError(ENOTDIR, name));
    return false;
  }
  if (!isValidFilename(name)) {
    setError(error, invalidFilenameError(name, "it is not a single file name"));
    return false;
  }
  if (children_.count(name)) {
    setError(error, fileWriteError(EEXIST, name));
    return false;
  }
  child->preferredFilename_ = name;
  children_.emplace(name, std::move(child));
  return true;
}

std::unique_ptr<FileWrapper> FileWrapper::removeChild(const std::string& name) {
  auto found = children_.find(name);
  if (found == children_.end()) return nullptr;
  std::unique_ptr<FileWrapper> child = std::move(found->second);
  children_.erase(found);
  return child;
}

bool FileWrapper::check(const std::string& path, Error* error) const {
  if (isSymbolicLink() && !isContainedLinkDestination(contents_)) {
    setError(error, invalidFilenameError(path, "the link leads out of its folder"));
    return false;
  }
  if (attributes_.posixPermissions && (*attributes_.posixPermissions & ~static_cast<mode_t>(07777))) {
    setError(error, fileWriteError(EINVAL, path));
    return false;
  }
  for (const auto& [name, child] : children_) {
    if (!isValidFilename(name)) {
      setError(error, invalidFilenameError(name, "it is not a single file name"));
      return false;
    }
    if (!child->check(appendingPathComponent(path, name), error)) return false;
  }
  return true;
}

bool FileWrapper::writeItem(const std::string& path, Error* error) const {
  switch (kind_) {
    case Kind::RegularFile: {
      int fd = FileSystemCalls::current().openForWriting(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
      if (fd < 0) {
        setError(error, fileWriteError(errno, path));
        return false;
      }
      std::string_view rest = contents_;
      while (!rest.empty()) {
        ssize_t written = FileSystemCalls::current().write(fd, rest.data(), rest.size());
        if (written < 0 && errno == EINTR) continue;
        if (written < 0) break;
        rest.remove_prefix(static_cast<size_t>(written));
      }
      int failure = rest.empty() ? 0 : errno;
      if (::close(fd) != 0 && failure == 0) failure = errno;
      if (failure) {
        setError(error, fileWriteError(failure, path));
        return false;
      }
      break;
    }
    case Kind::Directory:
      if (FileSystemCalls::current().mkdir(path.c_str(), 0777) != 0) {
        setError(error, fileWriteError(errno, path));
        return false;
      }
      for (const auto& [name, child] : children_)
        if (!child->writeItem(appendingPathComponent(path, name), error)) return false;
      break;
    case Kind::SymbolicLink:
      if (FileSystemCalls::current().symlink(contents_.c_str(), path.c_str()) != 0) {
        setError(error, fileWriteError(errno, path));
        return false;
      }
      break;
  }
  return applyAttributes(path, error);
}

bool FileWrapper::applyAttributes(const std::string& path, Error* error) const {
  if (isSymbolicLink())
    return !attributes_.modificationTime || setModificationTime(path, *attributes_.modificationTime, error);
  return (!attributes_.extensionHidden || setExtensionHidden(path, true, error)) &&
         (!attributes_.typeCode || setTypeCode(path, attributes_.typeCode, error)) &&
         (!attributes_.creatorCode || setCreatorCode(path, attributes_.creatorCode, error)) &&
         (!attributes_.creationTime || setCreationTime(path, *attributes_.creationTime, error)) &&
         (!attributes_.modificationTime || setModificationTime(path, *attributes_.modificationTime, error)) &&
         (!attributes_.posixPermissions || setPosixPermissions(path, *attributes_.posixPermissions, error));
}

bool FileWrapper::writeToPath(const std::string& path, bool atomically, Error* error) const {
  if (path.empty() || lastPathComponent(path) == "/" || !isValidFilename(lastPathComponent(path))) {
    setError(error, invalidFilenameError(path, "it names no item"));
    return false;
  }
  if (!check(path, error)) return false;
  struct stat status {};
  bool existed = ::lstat(path.c_str(), &status) == 0;
  if (!atomically) {
    if (existed && !removeItem(path, error)) return false;
    if (writeItem(path, error)) return true;
    if (::lstat(path.c_str(), &status) == 0) (void)removeItem(path);  // best effort: the half-written item
    return false;
  }
  std::string temporary = temporarySiblingPath(path);
  if (writeItem(temporary, error) && replaceItem(path, temporary, error)) return true;
  if (::lstat(temporary.c_str(), &status) == 0) (void)removeItem(temporary);  // best effort: the temporary copy
  return false;
}

}  // namespace qlt
