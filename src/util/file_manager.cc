#include "util/file_manager.h"

#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <filesystem>

#include "platform/files/extended_attributes.h"
#include "platform/files/file_attributes.h"
#include "platform/files/file_error.h"
#include "platform/files/file_path.h"
#include "platform/files/file_system.h"
#include "platform/files/file_system_calls.h"
#include "platform/foundation/date.h"
#include "platform/foundation/string_comparison.h"
#include "util/filename_rules.h"
#include "platform/defaults/user_defaults.h"

namespace qlt {

namespace fs = std::filesystem;

namespace {

bool isHidden(const std::string& name) { return name.starts_with('.'); }

// `path` made absolute with its symbolic links resolved as far as it
// exists; empty when it cannot even be made absolute.
std::string resolvedPath(const std::string& path) {
  if (path.empty()) return {};
  std::error_code failure;
  fs::path absolute = fs::absolute(path, failure);
  if (failure) return {};
  fs::path canonical = fs::weakly_canonical(absolute, failure);
  return standardizingPath(failure ? absolute.native() : canonical.native());
}

// Both already resolved.
bool isSameOrInside(const std::string& path, const std::string& folder) {
  return !path.empty() && !folder.empty() && (path == folder || isDescendant(path, folder));
}

// The file extended attributes are read from: the target of a symbolic link,
// else `path` itself.
std::string attributeTarget(const std::string& path) {
  char* resolved = ::realpath(path.c_str(), nullptr);
  if (!resolved) return path;
  std::string target(resolved);
  ::free(resolved);
  return target;
}

std::string homeTrash() {
  const char* data = std::getenv("XDG_DATA_HOME");
  if (data && data[0] == '/') return appendingPathComponent(data, "Trash");
  const char* home = std::getenv("HOME");
  if (home && home[0] == '/') return appendingPathComponent(home, ".local/share/Trash");
  return {};
}

// Whether `directory` (resolved) is the root of a mounted file system.
bool isVolumeTop(const fs::path& directory) {
  if (directory == directory.root_path()) return true;
  struct stat inner {};
  struct stat outer {};
  return ::stat(directory.c_str(), &inner) == 0 && ::stat(directory.parent_path().c_str(), &outer) == 0 &&
         (inner.st_dev != outer.st_dev || inner.st_ino == outer.st_ino);
}

}  // namespace

bool renameItem(const std::string& path, const std::string& newName, Error* error) {
  if (!isValidFilename(newName)) {
    setError(error, invalidFilenameError(newName, "it is not a single file name"));
    return false;
  }
  std::string oldName = lastPathComponent(path);
  if (newName == oldName) return true;
  std::string directory = deletingLastPathComponent(path);
  std::string destination = appendingPathComponent(directory, newName);
  if (compareStrings(newName, oldName, CaseInsensitive | DiacriticInsensitive | WidthInsensitive) != 0)
    return moveItem(path, destination, error);

  std::string pattern = appendingPathComponent(directory, ".qlt-rename-XXXXXX");
  if (!FileSystemCalls::current().mkdtemp(pattern.data())) {
    setError(error, fileWriteError(errno, pattern));
    return false;
  }
  std::string aside = appendingPathComponent(pattern, newName);
  bool moved = moveItem(path, aside, error);
  if (moved && !moveItem(aside, destination, error)) {
    moved = false;
    (void)moveItem(aside, appendingPathComponent(directory, oldName));  // undo; the reported error is the rename's
  }
  (void)FileSystemCalls::current().rmdir(pattern.c_str());
  return moved;
}

std::optional<uint64_t> sizeOfFile(const std::string& path, Error* error) {
  auto attributes = attributesOfItem(path, error);
  if (!attributes) return std::nullopt;
  if (attributes->type != FileAttributes::Type::Directory) return attributes->size;
  auto names = contentsOfDirectory(path, error);
  if (!names) return std::nullopt;
  uint64_t total = 0;
  for (const std::string& name : *names) {
    if (isHidden(name)) continue;
    std::string entry = appendingPathComponent(path, name);
    auto entryAttributes = attributesOfItem(entry, error);
    if (!entryAttributes) return std::nullopt;
    if (entryAttributes->type == FileAttributes::Type::Directory) {
      total += sizeOfFile(entry).value_or(0);
    } else {
      total += entryAttributes->size;
    }
  }
  return total;
}

std::map<std::string, Bytes> extendedAttributes(const std::string& path) {
  std::string target = attributeTarget(path);
  std::map<std::string, Bytes> attributes;
  auto names = extendedAttributeNames(target);
  if (!names) return attributes;
  for (const std::string& name : *names) {
    if (name.empty()) continue;
    if (auto value = xattrDataValue(name, target)) attributes.emplace(name, std::move(*value));
  }
  return attributes;
}

std::optional<Bytes> xattrDataValue(const std::string& key, const std::string& path) {
  auto value = extendedAttribute(attributeTarget(path), key);
  if (!value) return std::nullopt;
  return Bytes(value->begin(), value->end());
}

bool setXAttrDataValue(const Bytes& data, const std::string& key, const std::string& path) {
  std::string_view bytes(reinterpret_cast<const char*>(data.data()), data.size());
  return setExtendedAttribute(attributeTarget(path), key, bytes);
}

std::optional<std::string> trashItem(const std::string& path, Error* error) {
  std::string trash = homeTrash();
  if (trash.empty()) {
    setError(error, fileWriteError(ENOENT, path));
    return std::nullopt;
  }
  std::string files = appendingPathComponent(trash, "files");
  std::string info = appendingPathComponent(trash, "info");
  if (!createDirectory(files, true, error) || !createDirectory(info, true, error)) return std::nullopt;
  // A name free among the entries and among the info files alike.
  std::string name = uniqueFilename(lastPathComponent(path), [&](const std::string& candidate) {
    return makeFilenameUniqueInDirectory(candidate, files) != candidate ||
           fileExists(appendingPathComponent(info, candidate + ".trashinfo"));
  });
  if (name.empty()) {
    setError(error, fileWriteError(EINVAL, path));
    return std::nullopt;
  }
  std::string infoPath = appendingPathComponent(info, name + ".trashinfo");
  std::string record = "[Trash Info]\nPath=" + resolvedPath(path) + "\nDeletionDate=" +
                       Date::now().iso8601().substr(0, 19) + "\n";
  if (!writeFileAtomically(infoPath, record, error)) return std::nullopt;
  std::string destination = appendingPathComponent(files, name);
  if (!moveItem(path, destination, error)) {
    (void)removeItem(infoPath);  // the entry it described never arrived
    return std::nullopt;
  }
  return destination;
}

bool isPathInTrash(const std::string& path) {
  std::string resolved = resolvedPath(path);
  if (resolved.empty()) return false;
  if (isSameOrInside(resolved, resolvedPath(homeTrash()))) return true;

  const std::string uid = std::to_string(::getuid());
  fs::path prefix;
  fs::path previous;
  for (const fs::path& component : fs::path(resolved)) {
    fs::path parent = prefix;
    prefix /= component;
    if (component == ".Trash-" + uid && isVolumeTop(parent)) return true;
    if (component == uid && previous == ".Trash" && isVolumeTop(parent.parent_path())) return true;
    previous = component;
  }
  return false;
}

bool isPathInCloudDrive(const std::string& path) {
  auto roots = UserDefaults::standard().arrayForKey(kCloudDriveRootsKey);
  if (!roots) return false;
  std::string resolved = resolvedPath(path);
  for (const PropertyList& root : *roots) {
    const std::string* rootPath = root.string();
    if (rootPath && rootPath->starts_with('/') && isSameOrInside(resolved, resolvedPath(*rootPath))) return true;
  }
  return false;
}

bool replaceItemWithCopy(const std::string& destination, const std::string& source, const std::string& copy,
                         Error* error) {
  if (!copyItem(source, copy, error)) return false;
  if (attributesOfItem(destination)) {
    std::map<std::string, Bytes> kept = extendedAttributes(copy);
    for (const auto& [key, value] : extendedAttributes(destination))
      if (!kept.contains(key)) (void)setXAttrDataValue(value, key, copy);
  }
  if (replaceItem(destination, copy, error)) return true;
  (void)removeItem(copy);
  return false;
}

}  // namespace qlt
