#include "platform/property_list_serialization.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

#include "platform/binary_property_list.h"
#include "platform/file_error.h"
#include "platform/xml_property_list.h"

namespace qlt {

namespace {

Error readCorruptError(const std::string& problem) {
  std::string description = "The data couldn’t be read because it isn’t in the correct format.";
  Error error(kCocoaErrorDomain, kCocoaPropertyListReadCorruptError, description);
  if (!problem.empty()) error.setUserInfoValue("NSDebugDescription", problem);
  return error;
}

bool writeAll(int fd, const Bytes& bytes) {
  size_t written = 0;
  while (written < bytes.size()) {
    ssize_t result = ::write(fd, bytes.data() + written, bytes.size() - written);
    if (result < 0 && errno == EINTR) continue;
    if (result <= 0) return false;
    written += static_cast<size_t>(result);
  }
  return true;
}

std::string directoryOf(const std::string& path) {
  size_t slash = path.find_last_of('/');
  if (slash == std::string::npos) return ".";
  return slash == 0 ? "/" : path.substr(0, slash);
}

}  // namespace

std::optional<Bytes> serializePropertyList(const PropertyList& value, PropertyListFormat format, Error* error) {
  std::string problem;
  auto bytes = format == PropertyListFormat::Binary ? writeBinaryPropertyList(value, &problem)
                                                    : writeXMLPropertyList(value, &problem);
  if (!bytes) {
    Error failure(kCocoaErrorDomain, kCocoaPropertyListWriteInvalidError, "Property list invalid for format");
    failure.setUserInfoValue("NSDebugDescription", problem);
    setError(error, std::move(failure));
  }
  return bytes;
}

std::optional<PropertyList> parsePropertyList(const uint8_t* bytes, size_t size, Error* error,
                                              PropertyListFormat* formatOut) {
  std::string problem;
  std::optional<PropertyList> value;
  if (!bytes || size == 0) {
    problem = "The data is empty.";
  } else if (looksLikeBinaryPropertyList(bytes, size)) {
    value = readBinaryPropertyList(bytes, size, &problem);
    if (value && formatOut) *formatOut = PropertyListFormat::Binary;
  } else {
    value = readXMLPropertyList(bytes, size, &problem);
    if (value && formatOut) *formatOut = PropertyListFormat::XML;
  }
  if (!value) setError(error, readCorruptError(problem));
  return value;
}

std::optional<PropertyList> parsePropertyList(const Bytes& bytes, Error* error, PropertyListFormat* formatOut) {
  return parsePropertyList(bytes.data(), bytes.size(), error, formatOut);
}

bool writePropertyListToFile(const PropertyList& value, const std::string& path, PropertyListFormat format,
                             Error* error) {
  auto bytes = serializePropertyList(value, format, error);
  if (!bytes) return false;
  std::string temporary = path + ".XXXXXX";
  int fd = ::mkstemp(temporary.data());
  if (fd < 0) {
    setError(error, fileWriteError(errno, path));
    return false;
  }
  struct stat existing {};
  mode_t mode = ::stat(path.c_str(), &existing) == 0 ? existing.st_mode & 07777 : 0644;
  bool ok = ::fchmod(fd, mode) == 0 && writeAll(fd, *bytes) && ::fsync(fd) == 0;
  int savedErrno = errno;
  if (::close(fd) != 0 && ok) {
    ok = false;
    savedErrno = errno;
  }
  if (ok && ::rename(temporary.c_str(), path.c_str()) != 0) {
    ok = false;
    savedErrno = errno;
  }
  if (!ok) {
    ::unlink(temporary.c_str());
    setError(error, fileWriteError(savedErrno, path));
    return false;
  }
  // The rename itself becomes durable once the directory is synced.
  int directory = ::open(directoryOf(path).c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (directory >= 0) {
    ::fsync(directory);
    ::close(directory);
  }
  return true;
}

std::optional<PropertyList> readPropertyListFromFile(const std::string& path, Error* error) {
  int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) {
    setError(error, fileReadError(errno, path));
    return std::nullopt;
  }
  Bytes bytes;
  uint8_t buffer[65536];
  while (true) {
    ssize_t result = ::read(fd, buffer, sizeof buffer);
    if (result < 0 && errno == EINTR) continue;
    if (result < 0) {
      int savedErrno = errno;
      ::close(fd);
      setError(error, fileReadError(savedErrno, path));
      return std::nullopt;
    }
    if (result == 0) break;
    bytes.insert(bytes.end(), buffer, buffer + result);
  }
  ::close(fd);
  auto value = parsePropertyList(bytes, error);
  if (!value && error) error->setUserInfoValue(kFilePathErrorKey, path);
  return value;
}

}  // namespace qlt
