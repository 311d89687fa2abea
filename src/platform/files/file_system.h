#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/foundation/error.h"

namespace qlt {

// Operations on items in the file system. Failures carry Cocoa file codes
// with the POSIX error underneath (see file_error.h). Trees are walked
// without following the symbolic links inside them.

// These follow a symbolic link at `path`.
bool fileExists(const std::string& path, bool* isDirectory = nullptr);
bool isDirectory(const std::string& path);
// A directory whose extension names a type that conforms to com.apple.package.
bool isPackage(const std::string& path);

[[nodiscard]] std::optional<uint64_t> fileSize(const std::string& path, Error* error = nullptr);
[[nodiscard]] std::optional<std::string> readFile(const std::string& path, Error* error = nullptr);
// The names in a directory, sorted, without "." and "..".
[[nodiscard]] std::optional<std::vector<std::string>> contentsOfDirectory(const std::string& path, Error* error = nullptr);

// Writes a temporary file next to `path`, flushes it to disk and renames it
// over `path`: readers see the old contents or the new, never a mixture. A
// replaced file keeps its permissions.
[[nodiscard]] bool writeFileAtomically(const std::string& path, std::string_view contents, Error* error = nullptr);

// Without intermediates an existing item is an error; with them an existing
// directory is fine.
[[nodiscard]] bool createDirectory(const std::string& path, bool withIntermediates, Error* error = nullptr);

// Copies a file, symbolic link or tree to `destination`, which must not
// exist, keeping permissions, dates, extended attributes and the creation
// date. Other kinds of items inside a tree are left out. A failed copy
// leaves nothing behind.
[[nodiscard]] bool copyItem(const std::string& source, const std::string& destination, Error* error = nullptr);
// Renames, or copies and removes across file systems. `destination` must
// not exist.
[[nodiscard]] bool moveItem(const std::string& source, const std::string& destination, Error* error = nullptr);
// Puts the item at `replacement` in place of the one at `destination` in one
// step, then removes the old item; with nothing at `destination` it is a
// rename. Both paths must be on the same file system.
[[nodiscard]] bool replaceItem(const std::string& destination, const std::string& replacement, Error* error = nullptr);
// As replaceItem, but only over an item that is still there: with nothing at
// `destination` it fails (kCocoaFileNoSuchFileError) and leaves
// `replacement` where it is.
[[nodiscard]] bool replaceExistingItem(const std::string& destination, const std::string& replacement,
                                       Error* error = nullptr);
// Removes the directory only while it is empty.
[[nodiscard]] bool removeEmptyDirectory(const std::string& path, Error* error = nullptr);
// Removes a file, link or whole tree. A missing item is an error.
[[nodiscard]] bool removeItem(const std::string& path, Error* error = nullptr);

// A new empty directory of this user's own in the system's temporary
// folder ($TMPDIR, else /tmp).
[[nodiscard]] std::optional<std::string> createTemporaryDirectory(Error* error = nullptr);

// A path in the directory of `path` that nothing uses yet, for building an
// item before it is put in place. Create it exclusively: the name is only
// unlikely to be taken.
std::string temporarySiblingPath(const std::string& path);

}  // namespace qlt
