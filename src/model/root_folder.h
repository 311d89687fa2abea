#pragma once

#include <optional>
#include <string>

#include "store/library/library_object.h"

namespace qlt {

// The top folder of a library (entity "RootFolder"). Its items' files may
// live in a custom directory chosen by the user instead of the library's.
class RootFolder : public LibraryObject {
 public:
  // The custom files directory, kept in customFolderURLData as its UTF-8
  // path; nullopt when none is set.
  std::optional<std::string> customFolderURL() const;
  // nullopt or an empty path clears it.
  void setCustomFolderURL(const std::optional<std::string>& path);
};

}  // namespace qlt
