#pragma once

#include <optional>
#include <string>

namespace qlt {

// The fixed identifier of a system object's entity (the entity name, but
// "QLTStandardCloudDefaults" for CloudDefaults).
std::string systemObjectIdentifier(const std::string& entityName);
// The group-type code a group of `entityName` gets when first inserted;
// nullopt for entities that are not groups.
[[nodiscard]] std::optional<int64_t> groupTypeForEntity(const std::string& entityName);

}  // namespace qlt
