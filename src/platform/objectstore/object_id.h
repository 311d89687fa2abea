#pragma once

#include <compare>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>

#include "platform/objectstore/interned_string.h"

namespace qlt {

// Names one row of one store for the life of that store, in every context
// and every process: the store's UUID, the object's actual entity and its
// primary key. Keys are allocated when an object is inserted, so an ID never
// changes on save.
struct ObjectID {
  InternedString storeIdentifier;
  InternedString entityName;
  int64_t primaryKey = 0;

  bool isNull() const { return primaryKey == 0; }
  // "x-coredata://<store UUID>/<Entity>/p<key>"
  std::string uriRepresentation() const;
  [[nodiscard]] static std::optional<ObjectID> fromURIRepresentation(std::string_view uri);
  std::string description() const { return uriRepresentation(); }

  auto operator<=>(const ObjectID&) const = default;
};

}  // namespace qlt

template <>
struct std::hash<qlt::ObjectID> {
  size_t operator()(const qlt::ObjectID& id) const noexcept {
    return std::hash<int64_t>()(id.primaryKey) ^ (id.entityName.hash() << 1);
  }
};
