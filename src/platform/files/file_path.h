#pragma once

#include <optional>
#include <string>
#include <string_view>

#include "platform/foundation/error.h"

namespace qlt {

// Cocoa codes for names that cannot be used, in addition to those of error.h.
inline constexpr long kCocoaFileReadInvalidFileNameError = 258;
inline constexpr long kCocoaFileWriteInvalidFileNameError = 514;

// An error with code 514 naming `path` and saying what is wrong with it.
Error invalidFilenameError(std::string_view path, std::string_view reason);

// Path strings in the manner of the system's path methods. These work on the
// text only; none of them touches the file system except fileURLFromPath,
// which makes a relative path absolute against the working directory.

// Joins with exactly one '/' between the parts.
std::string appendingPathComponent(std::string_view path, std::string_view component);
// "/a/b/" → "b", "/" → "/", "" → "".
std::string lastPathComponent(std::string_view path);
// "/a/b" → "/a", "/a" → "/", "a" → "".
std::string deletingLastPathComponent(std::string_view path);
// The text after the last dot of the last component; empty for "name",
// "name." and ".hidden".
std::string pathExtension(std::string_view path);
std::string deletingPathExtension(std::string_view path);
std::string appendingPathExtension(std::string_view path, std::string_view extension);
// Collapses "//" and ".", resolves ".." against the preceding component and
// drops a trailing '/'. Symbolic links are not resolved.
std::string standardizingPath(std::string_view path);

// Whether `name` can be one component of a path: not empty, not "." or "..",
// no '/' or NUL, at most 255 bytes.
bool isValidFilename(std::string_view name);

// Whether `path` lies strictly inside `directory` once both are standardized
// (relative ones against the working directory).
bool isDescendant(std::string_view path, std::string_view directory);

// `directory` joined with `relativePath`, refused with an error when the
// relative path is absolute, contains NUL or leads anywhere but strictly
// inside `directory` (for example through "..").
[[nodiscard]] std::optional<std::string> pathInside(std::string_view directory, std::string_view relativePath,
                                      Error* error = nullptr);

// "file:///a%20b" for "/a b"; a directory URL ends in '/'.
std::string fileURLFromPath(std::string_view path, bool isDirectory = false);
// The path of a "file://" URL with an empty or "localhost" host, with
// percent escapes decoded; query and fragment are dropped.
[[nodiscard]] std::optional<std::string> pathFromFileURL(std::string_view url, Error* error = nullptr);

// Whether a symbolic link's destination stays below the link's own folder:
// relative, without NUL and without ".." components.
bool isContainedLinkDestination(std::string_view destination);

}  // namespace qlt
