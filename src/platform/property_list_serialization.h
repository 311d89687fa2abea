#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>

#include "platform/error.h"
#include "platform/property_list.h"

namespace qlt {

enum class PropertyListFormat { Binary, XML };

// Binary is "bplist00"; XML is the Apple XML property list, version 1.0.
// Strings must be valid UTF-8. Failures report kCocoaPropertyListWriteInvalidError.
std::optional<Bytes> serializePropertyList(const PropertyList& value, PropertyListFormat format,
                                           Error* error = nullptr);

// Reads either format, telling which through `formatOut`. Failures report
// kCocoaPropertyListReadCorruptError.
std::optional<PropertyList> parsePropertyList(const uint8_t* bytes, size_t size, Error* error = nullptr,
                                              PropertyListFormat* formatOut = nullptr);
std::optional<PropertyList> parsePropertyList(const Bytes& bytes, Error* error = nullptr,
                                              PropertyListFormat* formatOut = nullptr);

// Replaces the file at `path` atomically: a crash leaves either the old or the
// new contents, never a mix.
bool writePropertyListToFile(const PropertyList& value, const std::string& path, PropertyListFormat format,
                             Error* error = nullptr);
std::optional<PropertyList> readPropertyListFromFile(const std::string& path, Error* error = nullptr);

}  // namespace qlt
