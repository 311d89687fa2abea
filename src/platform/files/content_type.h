#pragma once

#include <string>

namespace qlt {

// The type identifier of the item at `path` as the file manager sees it: a
// symbolic link is public.symlink (never followed); a directory is the
// package type its extension declares, else public.folder; a file is the
// type of its extension, else public.data. Empty when nothing is there.
std::string contentTypeOfItem(const std::string& path);

}  // namespace qlt
