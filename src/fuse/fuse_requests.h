#pragma once

// What the kernel's request handlers of the mount share.

#include <map>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

#include "fuse/library_file_system.h"

namespace qlt::fuse {

inline constexpr std::string_view kUserNamespace = "user.";
inline constexpr const char* kXdgTagsName = "user.xdg.tags";

LibraryFileSystem& fileSystem(fuse_req_t request);
// Logs the failure and answers the errno it stands for.
void replyError(fuse_req_t request, const char* operation, const std::string& what, const Error& error);
// The entry of a node for the kernel; `found` false when it is gone.
void fillEntry(LibraryFileSystem& system, fuse_ino_t ino, fuse_entry_param* entry, Error* error, bool* found);
// Where a package's contents (or one of their entries) lie on disk.
std::optional<std::string> packagePathOf(LibraryFileSystem& system, const Node& node, Error* error);
// The extended attributes a node shows, under "user.".
std::map<std::string, std::string> shownAttributes(const Node& node);

// An open file: the handed-out contents for reading, or the staged
// contents that collect writes.
struct FileHandle {
  int descriptor = -1;
  std::shared_ptr<StagedFile> staged;
  bool writing = false;
  int fd() const { return staged ? staged->descriptor() : descriptor; }
};

// open, create, read, write, flush, fsync, release and setattr.
void addFileOperations(fuse_lowlevel_ops& operations);
// mkdir, unlink, rmdir, rename, setxattr and removexattr.
void addTreeOperations(fuse_lowlevel_ops& operations);

}  // namespace qlt::fuse
