#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/foundation/error.h"

namespace qlt {

// Named extended attributes of a file or directory, kept in the Linux
// "user." namespace: "com.example.tag" is stored as "user.com.example.tag",
// and a name that already starts with "user." is used as it is. Values are
// arbitrary bytes, as large as the file system allows. Symbolic links are not
// followed. Failures report POSIX errors (ENODATA for a missing attribute).

[[nodiscard]] bool setExtendedAttribute(const std::string& path, std::string_view name, std::string_view value,
                          Error* error = nullptr);
[[nodiscard]] std::optional<std::string> extendedAttribute(const std::string& path, std::string_view name,
                                             Error* error = nullptr);
// Removing an attribute that is not there succeeds.
[[nodiscard]] bool removeExtendedAttribute(const std::string& path, std::string_view name, Error* error = nullptr);
// The names of the "user." attributes without that prefix, sorted.
[[nodiscard]] std::optional<std::vector<std::string>> extendedAttributeNames(const std::string& path, Error* error = nullptr);

}  // namespace qlt
