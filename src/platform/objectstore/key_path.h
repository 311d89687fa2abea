#pragma once

#include <string>
#include <vector>

namespace qlt {

// "folder.parent.name" → {"folder", "parent", "name"}.
std::vector<std::string> splitKeyPath(const std::string& keyPath);

}  // namespace qlt
