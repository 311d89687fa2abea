#pragma once

#include <optional>
#include <string>

#include "platform/objectstore/entity_description.h"

namespace qlt {

// Readings of the library model's user-info annotations. Values count only
// when they are exactly "YES" or "NO".
bool isSystemObjectEntity(const EntityDescription& entity);
// Excluded when annotated "YES", or when transient and not annotated "NO".
bool isExcludedFromPropertyList(const PropertyDescription& property);
// As above, and always for "dateRecordChanged" and "cloudRecordData".
bool isExcludedFromCloudDatabase(const PropertyDescription& property);
bool isExcludedFromMetadata(const PropertyDescription& property);
// The entity's rank among cloud records; nullopt when it has none.
[[nodiscard]] std::optional<int64_t> cloudRecordOrdering(const EntityDescription& entity);

}  // namespace qlt
