#pragma once

#include <sys/stat.h>
#include <sys/xattr.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <functional>
#include <map>
#include <string>

namespace qlt {

// What a directory tree holds: for each item under `root` (by relative
// path) its kind, its bytes or link target, its extended attributes and,
// for files, its modification time; directories' times are left out, as
// any temporary entry changes them. Items `skip` accepts (given the
// relative path) are left out with everything inside them.
inline std::map<std::string, std::string> snapshotTree(
    const std::string& root, const std::function<bool(const std::string&)>& skip = nullptr) {
  namespace fs = std::filesystem;
  std::map<std::string, std::string> items;
  std::error_code failure;
  for (auto entry = fs::recursive_directory_iterator(root, failure); !failure && entry != fs::end(entry);
       entry.increment(failure)) {
    const std::string path = entry->path().native();
    const std::string relative = fs::relative(entry->path(), root).native();
    if (skip && skip(relative)) {
      entry.disable_recursion_pending();
      continue;
    }
    struct stat status {};
    if (::lstat(path.c_str(), &status) != 0) continue;
    std::string description;
    if (S_ISDIR(status.st_mode)) {
      description = "directory";
    } else if (S_ISLNK(status.st_mode)) {
      description = "link to " + fs::read_symlink(entry->path(), failure).native();
    } else {
      std::string bytes(static_cast<size_t>(status.st_size), '\0');
      std::FILE* file = std::fopen(path.c_str(), "rb");
      if (file) {
        bytes.resize(std::fread(bytes.data(), 1, bytes.size(), file));
        std::fclose(file);
      }
      description = "file modified " + std::to_string(status.st_mtim.tv_sec) + "." +
                    std::to_string(status.st_mtim.tv_nsec) + ": " + bytes;
    }
    char names[4096];
    ssize_t length = ::llistxattr(path.c_str(), names, sizeof names);
    for (ssize_t start = 0; start < length;) {
      std::string name(names + start);
      start += static_cast<ssize_t>(name.size()) + 1;
      char value[4096];
      ssize_t size = ::lgetxattr(path.c_str(), name.c_str(), value, sizeof value);
      description += "\n  " + name + " = " + std::string(value, static_cast<size_t>(std::max<ssize_t>(size, 0)));
    }
    items[relative] = description;
  }
  return items;
}

}  // namespace qlt
