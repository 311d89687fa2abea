#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>

#include "platform/foundation/property_list.h"

namespace qlt {

// The "bplist00" format on its own. Failures give a reason in `problem`;
// property_list_serialization.h turns it into an Error.
[[nodiscard]] std::optional<Bytes> writeBinaryPropertyList(const PropertyList& value, std::string* problem);
[[nodiscard]] std::optional<PropertyList> readBinaryPropertyList(const uint8_t* bytes, size_t size, std::string* problem);

bool looksLikeBinaryPropertyList(const uint8_t* bytes, size_t size);

}  // namespace qlt
