#include "platform/files/content_type.h"

#include <sys/stat.h>

#include "platform/files/file_path.h"
#include "platform/foundation/uniform_type.h"

namespace qlt {

std::string contentTypeOfItem(const std::string& path) {
  struct stat status {};
  if (::lstat(path.c_str(), &status) != 0) return {};
  if (S_ISLNK(status.st_mode)) return UniformType::symbolicLink().identifier();
  const UniformType* declared = UniformType::withFilenameExtension(pathExtension(path));
  if (S_ISDIR(status.st_mode)) {
    if (declared && declared->conformsTo(UniformType::package())) return declared->identifier();
    return UniformType::folder().identifier();
  }
  if (declared && !declared->conformsTo(UniformType::directory())) return declared->identifier();
  return UniformType::data().identifier();
}

}  // namespace qlt
