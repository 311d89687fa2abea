#pragma once

#include <optional>
#include <string>

#include "platform/foundation/error.h"
#include "platform/foundation/property_list.h"
#include "platform/foundation/property_list_serialization.h"

namespace qlt {

// Replaces the file at `path` atomically: a crash leaves either the old or the
// new contents, never a mix.
[[nodiscard]] bool writePropertyListToFile(const PropertyList& value, const std::string& path, PropertyListFormat format,
                             Error* error = nullptr);
[[nodiscard]] std::optional<PropertyList> readPropertyListFromFile(const std::string& path, Error* error = nullptr);

}  // namespace qlt
