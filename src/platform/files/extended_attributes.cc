#include "platform/files/extended_attributes.h"

#include <sys/xattr.h>

#include <algorithm>
#include <cerrno>

#include "platform/files/file_system_calls.h"

namespace qlt {

namespace {

constexpr std::string_view kUserNamespace = "user.";

std::string storedName(std::string_view name) {
  if (name.starts_with(kUserNamespace)) return std::string(name);
  return std::string(kUserNamespace) + std::string(name);
}

bool validName(const std::string& path, std::string_view name, Error* error) {
  if (!name.empty() && name != kUserNamespace && name.find('\0') == std::string_view::npos) return true;
  setError(error, posixError(EINVAL, path));
  return false;
}

// Calls `query(buffer, size)` (a listxattr or getxattr call) until the
// buffer is large enough for the result, which may grow between calls.
template <typename Query>
std::optional<std::string> readGrowing(const std::string& path, Query query, Error* error) {
  std::string buffer;
  for (;;) {
    ssize_t size = query(nullptr, 0);
    if (size < 0) {
      setError(error, posixError(errno, path));
      return std::nullopt;
    }
    buffer.resize(static_cast<size_t>(size));
    if (size == 0) return buffer;
    ssize_t read = query(buffer.data(), buffer.size());
    if (read >= 0) {
      buffer.resize(static_cast<size_t>(read));
      return buffer;
    }
    if (errno != ERANGE) {
      setError(error, posixError(errno, path));
      return std::nullopt;
    }
  }
}

}  // namespace

bool setExtendedAttribute(const std::string& path, std::string_view name, std::string_view value, Error* error) {
  if (!validName(path, name, error)) return false;
  if (FileSystemCalls::current().setxattr(path.c_str(), storedName(name).c_str(), value.data(), value.size()) != 0) {
    setError(error, posixError(errno, path));
    return false;
  }
  return true;
}

std::optional<std::string> extendedAttribute(const std::string& path, std::string_view name, Error* error) {
  if (!validName(path, name, error)) return std::nullopt;
  std::string stored = storedName(name);
  return readGrowing(
      path, [&](char* buffer, size_t size) { return lgetxattr(path.c_str(), stored.c_str(), buffer, size); }, error);
}

bool removeExtendedAttribute(const std::string& path, std::string_view name, Error* error) {
  if (!validName(path, name, error)) return false;
  if (FileSystemCalls::current().removexattr(path.c_str(), storedName(name).c_str()) != 0 && errno != ENODATA) {
    setError(error, posixError(errno, path));
    return false;
  }
  return true;
}

std::optional<std::vector<std::string>> extendedAttributeNames(const std::string& path, Error* error) {
  auto list = readGrowing(
      path, [&](char* buffer, size_t size) { return llistxattr(path.c_str(), buffer, size); }, error);
  if (!list) return std::nullopt;
  std::vector<std::string> names;
  for (size_t start = 0; start < list->size();) {
    size_t end = list->find('\0', start);
    if (end == std::string::npos) end = list->size();
    std::string_view name(list->data() + start, end - start);
    if (name.starts_with(kUserNamespace)) names.emplace_back(name.substr(kUserNamespace.size()));
    start = end + 1;
  }
  std::sort(names.begin(), names.end());
  return names;
}

}  // namespace qlt
