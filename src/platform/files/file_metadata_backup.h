#pragma once

#include <ctime>
#include <map>
#include <optional>
#include <string>

#include "platform/foundation/error.h"

namespace qlt {

// The extended attributes and the access and modification times of one
// item, kept so that changes made to them can be undone: a request that
// fails half-way puts them back as they were.
class FileMetadataBackup {
 public:
  [[nodiscard]] static std::optional<FileMetadataBackup> capture(const std::string& path, Error* error = nullptr);

  // Makes the item at `path` carry exactly the kept attributes and times.
  [[nodiscard]] bool restore(const std::string& path, Error* error = nullptr) const;

 private:
  std::map<std::string, std::string> attributes_;
  struct timespec accessTime_ {};
  struct timespec modificationTime_ {};
};

}  // namespace qlt
