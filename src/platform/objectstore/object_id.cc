#include "platform/objectstore/object_id.h"

#include <charconv>

namespace qlt {

namespace {
constexpr std::string_view kScheme = "x-coredata://";
}

std::string ObjectID::uriRepresentation() const {
  return std::string(kScheme) + storeIdentifier + "/" + entityName + "/p" + std::to_string(primaryKey);
}

std::optional<ObjectID> ObjectID::fromURIRepresentation(std::string_view uri) {
  if (!uri.starts_with(kScheme)) return std::nullopt;
  uri.remove_prefix(kScheme.size());
  size_t storeEnd = uri.find('/');
  if (storeEnd == std::string_view::npos || storeEnd == 0) return std::nullopt;
  size_t entityEnd = uri.find('/', storeEnd + 1);
  if (entityEnd == std::string_view::npos || entityEnd == storeEnd + 1) return std::nullopt;
  std::string_view key = uri.substr(entityEnd + 1);
  if (key.size() < 2 || key[0] != 'p') return std::nullopt;
  int64_t primaryKey = 0;
  auto [end, status] = std::from_chars(key.data() + 1, key.data() + key.size(), primaryKey);
  if (status != std::errc() || end != key.data() + key.size() || primaryKey <= 0) return std::nullopt;
  ObjectID id;
  id.storeIdentifier = InternedString(uri.substr(0, storeEnd));
  id.entityName = InternedString(uri.substr(storeEnd + 1, entityEnd - storeEnd - 1));
  id.primaryKey = primaryKey;
  return id;
}

}  // namespace qlt
