#include "store/library_package_path.h"

#include "platform/files/file_path.h"
#include "store/library_manager.h"

namespace qlt {

std::string sharedLibraryPackagePath(const std::string& name) {
  std::shared_ptr<LibraryManager> manager = LibraryManager::sharedManager();
  std::string package = manager ? manager->libraryFilePath() : std::string();
  return package.empty() ? std::string() : appendingPathComponent(package, name);
}

}  // namespace qlt
