#pragma once

#include <string>

namespace qlt {

// Whether `path` lies inside one of the user's trash folders: the home
// trash ($XDG_DATA_HOME/Trash, by default ~/.local/share/Trash) or a
// ".Trash-<uid>" or ".Trash/<uid>" folder at the top of another volume.
bool isPathInTrash(const std::string& path);

}  // namespace qlt
