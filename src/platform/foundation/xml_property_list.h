#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>

#include "platform/foundation/property_list.h"

namespace qlt {

// The Apple XML property-list format on its own. UIDs travel as
// <dict><key>CF$UID</key><integer>n</integer></dict>, and such a dictionary
// reads back as a UID. Dates keep whole seconds.
[[nodiscard]] std::optional<Bytes> writeXMLPropertyList(const PropertyList& value, std::string* problem);
[[nodiscard]] std::optional<PropertyList> readXMLPropertyList(const uint8_t* bytes, size_t size, std::string* problem);

}  // namespace qlt
