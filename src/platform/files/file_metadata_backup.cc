#include "platform/files/file_metadata_backup.h"

#include "platform/files/extended_attributes.h"
#include "platform/files/file_attributes.h"
#include "platform/files/file_error.h"

namespace qlt {

std::optional<FileMetadataBackup> FileMetadataBackup::capture(const std::string& path, Error* error) {
  std::optional<FileAttributes> attributes = attributesOfItem(path, error);
  if (!attributes) return std::nullopt;
  Error failure;
  std::optional<std::vector<std::string>> names = extendedAttributeNames(path, &failure);
  if (!names) {
    setError(error, fileReadError(static_cast<int>(failure.code()), path));
    return std::nullopt;
  }
  FileMetadataBackup backup;
  backup.accessTime_ = attributes->accessTime;
  backup.modificationTime_ = attributes->modificationTime;
  for (const std::string& name : *names) {
    std::optional<std::string> value = extendedAttribute(path, name, &failure);
    if (!value) {
      setError(error, fileReadError(static_cast<int>(failure.code()), path));
      return std::nullopt;
    }
    backup.attributes_.emplace(name, std::move(*value));
  }
  return backup;
}

bool FileMetadataBackup::restore(const std::string& path, Error* error) const {
  Error failure;
  std::optional<std::vector<std::string>> names = extendedAttributeNames(path, &failure);
  bool restored = names.has_value();
  for (const std::string& name : names.value_or(std::vector<std::string>()))
    if (!attributes_.contains(name)) restored = removeExtendedAttribute(path, name, &failure) && restored;
  for (const auto& [name, value] : attributes_) {
    std::optional<std::string> current = extendedAttribute(path, name);
    if (current != value) restored = setExtendedAttribute(path, name, value, &failure) && restored;
  }
  if (!restored) {
    setError(error, fileWriteError(static_cast<int>(failure.code()), path));
    return false;
  }
  // Last: setting the attributes may touch the times.
  return setAccessTime(path, accessTime_, error) && setModificationTime(path, modificationTime_, error);
}

}  // namespace qlt
