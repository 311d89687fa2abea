#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>

#include "platform/foundation/error.h"
#include "platform/foundation/property_list.h"

namespace qlt {

enum class PropertyListFormat { Binary, XML };

// Binary is "bplist00"; XML is the Apple XML property list, version 1.0.
// Strings must be valid UTF-8. Failures report kCocoaPropertyListWriteInvalidError.
[[nodiscard]] std::optional<Bytes> serializePropertyList(const PropertyList& value, PropertyListFormat format,
                                           Error* error = nullptr);

// Reads either format, telling which through `formatOut`. Failures report
// kCocoaPropertyListReadCorruptError.
[[nodiscard]] std::optional<PropertyList> parsePropertyList(const uint8_t* bytes, size_t size, Error* error = nullptr,
                                              PropertyListFormat* formatOut = nullptr);
[[nodiscard]] std::optional<PropertyList> parsePropertyList(const Bytes& bytes, Error* error = nullptr,
                                              PropertyListFormat* formatOut = nullptr);

}  // namespace qlt
