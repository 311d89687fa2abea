#pragma once

#include <optional>
#include <string>
#include <string_view>

#include "platform/foundation/error.h"

namespace qlt {

// Identifiers and names of library objects that become names on disk (a
// folder's directory, an item's file, the per-share directories below
// "Shared", cache and temporary files named after an object) must each be
// one plain path component: not empty, not "." or "..", without "/" or NUL,
// at most 255 bytes. Anything else is refused with an error, so that a value
// read from a cloud record or a property list never leads outside the
// directory it is meant for.
[[nodiscard]] bool checkPathComponent(std::string_view component, Error* error = nullptr);

// `directory` joined with `component`, or nullopt with the error of
// checkPathComponent.
[[nodiscard]] std::optional<std::string> appendingCheckedPathComponent(std::string_view directory,
                                                                       std::string_view component,
                                                                       Error* error = nullptr);

}  // namespace qlt
