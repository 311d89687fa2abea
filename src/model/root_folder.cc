#include "model/root_folder.h"

namespace qlt {

std::optional<std::string> RootFolder::customFolderURL() const {
  Value data = valueForKey("customFolderURLData");
  if (!data.data()) return std::nullopt;
  return std::string(data.data()->begin(), data.data()->end());
}

void RootFolder::setCustomFolderURL(const std::optional<std::string>& path) {
  if (!path || path->empty()) {
    setValueForKey("customFolderURLData", Value());
  } else {
    setValueForKey("customFolderURLData", Bytes(path->begin(), path->end()));
  }
}

}  // namespace qlt
