#include "platform/objectstore/entity_description.h"

namespace qlt {

std::optional<std::string> EntityDescription::userInfoValue(const std::string& key) const {
  auto found = userInfo_.find(key);
  if (found == userInfo_.end()) return std::nullopt;
  return found->second;
}

const EntityDescription& EntityDescription::rootEntity() const {
  const EntityDescription* entity = this;
  while (entity->parent_) entity = entity->parent_;
  return *entity;
}

bool EntityDescription::isKindOfEntity(const EntityDescription& other) const {
  for (const EntityDescription* entity = this; entity; entity = entity->parent_)
    if (entity == &other) return true;
  return false;
}

std::vector<std::string> EntityDescription::selfAndDescendantNames() const {
  std::vector<std::string> names{name_};
  for (const EntityDescription* child : children_) {
    auto more = child->selfAndDescendantNames();
    names.insert(names.end(), more.begin(), more.end());
  }
  return names;
}

const PropertyDescription* EntityDescription::property(const std::string& name) const {
  auto found = propertiesByName_.find(name);
  return found == propertiesByName_.end() ? nullptr : found->second;
}

int EntityDescription::propertyIndex(const std::string& name) const {
  auto found = indexByName_.find(name);
  return found == indexByName_.end() ? -1 : found->second;
}

const AttributeDescription* EntityDescription::attribute(const std::string& name) const {
  const PropertyDescription* found = property(name);
  return found && found->isAttribute() ? static_cast<const AttributeDescription*>(found) : nullptr;
}

const RelationshipDescription* EntityDescription::relationship(const std::string& name) const {
  const PropertyDescription* found = property(name);
  return found && found->isRelationship() ? static_cast<const RelationshipDescription*>(found) : nullptr;
}

}  // namespace qlt
