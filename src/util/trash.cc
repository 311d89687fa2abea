#include "util/trash.h"

#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>

namespace qlt {
namespace {

std::string homeTrash() {
  if (const char* data = getenv("XDG_DATA_HOME"); data && *data) return std::string(data) + "/Trash";
  if (const char* home = getenv("HOME"); home && *home) return std::string(home) + "/.local/share/Trash";
  return {};
}

bool isInside(const std::filesystem::path& path, const std::filesystem::path& folder) {
  auto mismatch = std::mismatch(folder.begin(), folder.end(), path.begin(), path.end());
  return mismatch.first == folder.end();
}

}  // namespace

bool isPathInTrash(const std::string& path) {
  std::error_code ignored;
  std::filesystem::path resolved = std::filesystem::weakly_canonical(std::filesystem::absolute(path, ignored), ignored);
  std::string trash = homeTrash();
  if (!trash.empty()) {
    std::filesystem::path trashPath = std::filesystem::weakly_canonical(trash, ignored);
    if (isInside(resolved, trashPath)) return true;
  }
  std::string uid = std::to_string(getuid());
  std::filesystem::path previous;
  for (const auto& component : resolved) {
    if (component == ".Trash-" + uid) return true;
    if (previous == ".Trash" && component == uid) return true;
    previous = component;
  }
  return false;
}

}  // namespace qlt
