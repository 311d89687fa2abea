#include "platform/files/file_attributes.h"

#include <fcntl.h>
#include <sys/stat.h>

#include <cerrno>
#include <charconv>
#include <cstdio>

#include "platform/files/extended_attributes.h"
#include "platform/files/file_error.h"
#include "platform/foundation/uniform_type.h"

namespace qlt {

namespace {

std::string attributeName(const char* suffix) { return std::string(kProductIdentifierPrefix) + "." + suffix; }

const std::string& creationDateName() {
  static const std::string name = attributeName("creation-date");
  return name;
}
const std::string& extensionHiddenName() {
  static const std::string name = attributeName("extension-hidden");
  return name;
}
const std::string& typeCodeName() {
  static const std::string name = attributeName("type-code");
  return name;
}
const std::string& creatorCodeName() {
  static const std::string name = attributeName("creator-code");
  return name;
}

// Seconds and nanoseconds since the Unix epoch as "1700000000.000000001".
std::string encodeTime(const struct timespec& time) {
  char text[48];
  std::snprintf(text, sizeof text, "%lld.%09ld", static_cast<long long>(time.tv_sec), time.tv_nsec);
  return text;
}

std::optional<struct timespec> decodeTime(const std::string& text) {
  size_t dot = text.find('.');
  if (dot == std::string::npos || text.size() - dot - 1 != 9) return std::nullopt;
  long long seconds = 0;
  long nanoseconds = 0;
  const char* end = text.data() + text.size();
  auto secondsResult = std::from_chars(text.data(), text.data() + dot, seconds);
  auto nanosecondsResult = std::from_chars(text.data() + dot + 1, end, nanoseconds);
  if (secondsResult.ec != std::errc() || secondsResult.ptr != text.data() + dot || nanosecondsResult.ec != std::errc() ||
      nanosecondsResult.ptr != end || nanoseconds < 0)
    return std::nullopt;
  struct timespec time {};
  time.tv_sec = static_cast<time_t>(seconds);
  time.tv_nsec = nanoseconds;
  return time;
}

std::string encodeCode(uint32_t code) {
  return {static_cast<char>(code >> 24), static_cast<char>(code >> 16), static_cast<char>(code >> 8),
          static_cast<char>(code)};
}

uint32_t decodeCode(const std::optional<std::string>& bytes) {
  if (!bytes || bytes->size() != 4) return 0;
  uint32_t code = 0;
  for (char byte : *bytes) code = code << 8 | static_cast<unsigned char>(byte);
  return code;
}

struct timespec fromStatx(const struct statx_timestamp& time) {
  struct timespec result {};
  result.tv_sec = static_cast<time_t>(time.tv_sec);
  result.tv_nsec = static_cast<long>(time.tv_nsec);
  return result;
}

bool earlier(const struct timespec& a, const struct timespec& b) {
  return a.tv_sec < b.tv_sec || (a.tv_sec == b.tv_sec && a.tv_nsec < b.tv_nsec);
}

bool storeAttribute(const std::string& path, const std::string& name, const std::optional<std::string>& value,
                    Error* error) {
  Error failure;
  bool stored = value ? setExtendedAttribute(path, name, *value, &failure)
                      : removeExtendedAttribute(path, name, &failure);
  if (!stored) setError(error, fileWriteError(static_cast<int>(failure.code()), path));
  return stored;
}

bool setTimes(const std::string& path, const struct timespec& access, const struct timespec& modification,
              Error* error) {
  struct timespec times[2] = {access, modification};
  if (utimensat(AT_FDCWD, path.c_str(), times, AT_SYMLINK_NOFOLLOW) != 0) {
    setError(error, fileWriteError(errno, path));
    return false;
  }
  return true;
}

bool validTime(const std::string& path, const struct timespec& time, Error* error) {
  if (time.tv_nsec >= 0 && time.tv_nsec < 1000000000L) return true;
  setError(error, fileWriteError(EINVAL, path));
  return false;
}

}  // namespace

std::optional<FileAttributes> attributesOfItem(const std::string& path, Error* error) {
  struct statx status {};
  if (statx(AT_FDCWD, path.c_str(), AT_SYMLINK_NOFOLLOW, STATX_BASIC_STATS | STATX_BTIME, &status) != 0) {
    setError(error, fileReadError(errno, path));
    return std::nullopt;
  }
  FileAttributes attributes;
  switch (status.stx_mode & S_IFMT) {
    case S_IFREG: attributes.type = FileAttributes::Type::Regular; break;
    case S_IFDIR: attributes.type = FileAttributes::Type::Directory; break;
    case S_IFLNK: attributes.type = FileAttributes::Type::SymbolicLink; break;
    default: attributes.type = FileAttributes::Type::Other; break;
  }
  attributes.size = status.stx_size;
  attributes.posixPermissions = status.stx_mode & 07777;
  attributes.modificationTime = fromStatx(status.stx_mtime);
  attributes.accessTime = fromStatx(status.stx_atime);

  std::optional<struct timespec> created;
  if (attributes.type != FileAttributes::Type::SymbolicLink) {
    if (auto stored = extendedAttribute(path, creationDateName())) created = decodeTime(*stored);
    attributes.extensionHidden = extendedAttribute(path, extensionHiddenName()) == "1";
    attributes.typeCode = decodeCode(extendedAttribute(path, typeCodeName()));
    attributes.creatorCode = decodeCode(extendedAttribute(path, creatorCodeName()));
  }
  if (!created && (status.stx_mask & STATX_BTIME) && status.stx_btime.tv_sec != 0)
    created = fromStatx(status.stx_btime);
  if (!created) {
    struct timespec changed = fromStatx(status.stx_ctime);
    created = earlier(changed, attributes.modificationTime) ? changed : attributes.modificationTime;
  }
  attributes.creationTime = *created;
  return attributes;
}

bool setCreationTime(const std::string& path, const struct timespec& time, Error* error) {
  return validTime(path, time, error) && storeAttribute(path, creationDateName(), encodeTime(time), error);
}

bool setModificationTime(const std::string& path, const struct timespec& time, Error* error) {
  struct timespec omit {};
  omit.tv_nsec = UTIME_OMIT;
  return validTime(path, time, error) && setTimes(path, omit, time, error);
}

bool setAccessTime(const std::string& path, const struct timespec& time, Error* error) {
  struct timespec omit {};
  omit.tv_nsec = UTIME_OMIT;
  return validTime(path, time, error) && setTimes(path, time, omit, error);
}

bool setPosixPermissions(const std::string& path, mode_t permissions, Error* error) {
  struct stat status {};
  bool refused = (permissions & ~static_cast<mode_t>(07777)) != 0;
  if (refused) errno = EINVAL;
  if (!refused && lstat(path.c_str(), &status) == 0 && S_ISLNK(status.st_mode)) {
    refused = true;
    errno = EOPNOTSUPP;
  }
  if (refused || fchmodat(AT_FDCWD, path.c_str(), permissions, 0) != 0) {
    setError(error, fileWriteError(errno, path));
    return false;
  }
  return true;
}

bool setExtensionHidden(const std::string& path, bool hidden, Error* error) {
  return storeAttribute(path, extensionHiddenName(), hidden ? std::optional<std::string>("1") : std::nullopt, error);
}

bool setTypeCode(const std::string& path, uint32_t code, Error* error) {
  return storeAttribute(path, typeCodeName(), code ? std::optional(encodeCode(code)) : std::nullopt, error);
}

bool setCreatorCode(const std::string& path, uint32_t code, Error* error) {
  return storeAttribute(path, creatorCodeName(), code ? std::optional(encodeCode(code)) : std::nullopt, error);
}

}  // namespace qlt
