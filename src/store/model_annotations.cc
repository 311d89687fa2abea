#include "store/model_annotations.h"

#include <charconv>

#include "store/library_model_constants.h"

namespace qlt {
namespace {

bool excluded(const PropertyDescription& property, const char* key) {
  auto value = property.userInfoValue(key);
  if (value == "YES") return true;
  return property.isTransient() && value != "NO";
}

}  // namespace

bool isSystemObjectEntity(const EntityDescription& entity) {
  return entity.userInfoValue(kEntityIsSystemObjectKey) == "YES";
}

bool isExcludedFromPropertyList(const PropertyDescription& property) {
  return excluded(property, kExcludeFromPropertyListKey);
}

bool isExcludedFromCloudDatabase(const PropertyDescription& property) {
  if (property.name() == "dateRecordChanged" || property.name() == "cloudRecordData") return true;
  return excluded(property, kExcludeFromCloudDatabaseKey);
}

bool isExcludedFromMetadata(const PropertyDescription& property) {
  return property.userInfoValue(kExcludeFromMetadataKey) == "YES";
}

std::optional<int64_t> cloudRecordOrdering(const EntityDescription& entity) {
  auto value = entity.userInfoValue(kCloudRecordOrderingKey);
  if (!value) return std::nullopt;
  int64_t rank = 0;
  auto [end, failure] = std::from_chars(value->data(), value->data() + value->size(), rank);
  if (failure != std::errc() || end != value->data() + value->size()) return std::nullopt;
  return rank;
}

}  // namespace qlt
