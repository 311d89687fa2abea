#pragma once

#include <cstddef>
#include <string>
#include <vector>

#include "platform/foundation/error.h"

namespace qlt {

inline constexpr const char* kItemFileVersionsFolderName = "Versions.noindex";
inline constexpr size_t kMaximumItemFileVersions = 10;

// Earlier contents of item files, kept when a download replaces them: the
// system has no version store of its own. Each item has a folder named by
// its identifier holding copies named "<sequence, 6 digits> <file name>";
// only the newest kMaximumItemFileVersions stay.
class ItemFileVersions {
 public:
  explicit ItemFileVersions(std::string folderPath) : folderPath_(std::move(folderPath)) {}
  // "Versions.noindex" in the shared library manager's library package.
  static ItemFileVersions ofSharedLibrary();

  const std::string& folderPath() const { return folderPath_; }

  // Copies the file or package at `path` as the item's newest version, then
  // removes the oldest beyond the limit. An identifier that is not a plain
  // path component is refused.
  [[nodiscard]] bool addVersionOfItem(const std::string& identifier, const std::string& path,
                                      Error* error = nullptr) const;
  // The paths of the item's versions, oldest first.
  std::vector<std::string> versionsOfItem(const std::string& identifier) const;

 private:
  std::string folderPath_;
};

}  // namespace qlt
