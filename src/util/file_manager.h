#pragma once

#include <cstdint>
#include <map>
#include <optional>
#include <string>

#include "platform/foundation/error.h"
#include "platform/foundation/property_list.h"

namespace qlt {

// File-system operations the library model and the file-provider operations
// need beyond the platform's own. Stateless; safe on any thread. Errors of
// the platform's file operations are passed on unchanged.

// The user default listing the folders whose contents a cloud drive
// synchronises (an array of absolute paths).
inline constexpr const char* kCloudDriveRootsKey = "QLTCloudDriveRoots";

// Gives the item at `path` the last path component `newName` in the same
// directory. The same name exactly succeeds without touching the disk. A
// name that differs only in case, diacritics or width goes through a private
// temporary directory created next to the item, so that a case-insensitive
// file system sees two real renames and the item never leaves its volume.
// An existing item at the destination is an error, and so is a `newName`
// that is not a single path component ("", ".", "..", "/" or NUL inside,
// over 255 bytes), which leaves everything untouched.
[[nodiscard]] bool renameItem(const std::string& path, const std::string& newName, Error* error = nullptr);

// The size in bytes of a file, or of everything inside a directory or
// package: the sum over its entries, hidden ones (".name") left out, with
// subdirectories counted by their own size and symbolic links by their own
// size, not their target's. A subdirectory whose size cannot be read counts
// as 0; failing to read `path` itself or its listing gives nothing.
[[nodiscard]] std::optional<uint64_t> sizeOfFile(const std::string& path, Error* error = nullptr);

// Extended attributes in the "user." namespace, named without that prefix as
// platform/extended_attributes.h does. Symbolic links at `path` are
// followed. Failures show only in the result.
std::map<std::string, Bytes> extendedAttributes(const std::string& path);
// Nothing when the attribute does not exist; empty data when it was written
// empty.
[[nodiscard]] std::optional<Bytes> xattrDataValue(const std::string& key, const std::string& path);
// Creates or replaces the attribute.
bool setXAttrDataValue(const Bytes& data, const std::string& key, const std::string& path);

// Moves the item at `path` into the user's home trash (the freedesktop.org
// trash: the item under "files" with a unique name, and a ".trashinfo" file
// under "info" recording where it came from and when), so the user can
// still restore it. Returns the item's new path, or nullopt with the error,
// leaving the item where it was.
[[nodiscard]] std::optional<std::string> trashItem(const std::string& path, Error* error = nullptr);

// Whether `path` is one of the user's trash folders or lies inside one: the
// home trash ($XDG_DATA_HOME/Trash, by default ~/.local/share/Trash) and the
// ".Trash-<uid>" and ".Trash/<uid>" folders at the top of a volume. Symbolic
// links are resolved first.
bool isPathInTrash(const std::string& path);

// Puts a copy of `source` (a file or a tree) in place of the item at
// `destination`: the copy is made at `staging` (nothing there yet, on the
// same file system), takes the extended attributes of the old item that it
// lacks, and is swapped in only once complete. On failure the old item is
// untouched and the copy is gone. Nothing at `destination` is fine.
[[nodiscard]] bool replaceItemWithCopy(const std::string& destination, const std::string& source,
                                       const std::string& staging, Error* error = nullptr);

// Whether `path` is one of the folders named by the standard user default
// kCloudDriveRootsKey or lies inside one. Linux has no system cloud drive to
// ask, so these configured roots stand in for it, and nothing is in a cloud
// drive unless the user names its folder there.
bool isPathInCloudDrive(const std::string& path);

}  // namespace qlt
