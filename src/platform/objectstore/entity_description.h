#pragma once

#include <map>
#include <unordered_map>
#include <memory>
#include <string>
#include <vector>

#include "platform/objectstore/property_description.h"

namespace qlt {

class ManagedObjectModel;

// One entity of a model. Properties are declared on the entity that
// introduces them; the `all…` lookups include inherited ones.
class EntityDescription {
 public:
  const std::string& name() const { return name_; }
  const EntityDescription* superentity() const { return parent_; }
  const std::vector<const EntityDescription*>& subentities() const { return children_; }
  bool isAbstract() const { return abstract_; }
  const UserInfo& userInfo() const { return userInfo_; }
  [[nodiscard]] std::optional<std::string> userInfoValue(const std::string& key) const;
  const ManagedObjectModel& model() const { return *model_; }

  // The topmost ancestor: its table holds this entity's rows.
  const EntityDescription& rootEntity() const;
  // Whether this entity is `other` or one of its descendants.
  bool isKindOfEntity(const EntityDescription& other) const;
  // This entity's name and the names of all its descendants.
  std::vector<std::string> selfAndDescendantNames() const;

  // Properties in declaration order, inherited first.
  const std::vector<const PropertyDescription*>& allProperties() const { return allProperties_; }
  const std::vector<const AttributeDescription*>& allAttributes() const { return allAttributes_; }
  const std::vector<const RelationshipDescription*>& allRelationships() const { return allRelationships_; }
  const PropertyDescription* property(const std::string& name) const;
  // The position of a property in allProperties(); -1 when there is none.
  int propertyIndex(const std::string& name) const;
  const AttributeDescription* attribute(const std::string& name) const;
  const RelationshipDescription* relationship(const std::string& name) const;
  // Properties this entity declares itself.
  const std::vector<std::unique_ptr<PropertyDescription>>& declaredProperties() const { return declared_; }

  // A listing the store pages through: the rows of one owner (a to-one
  // relationship) ordered by one attribute, strings in the file manager's
  // order.
  struct ListingIndex {
    const RelationshipDescription* owner = nullptr;
    const AttributeDescription* sortedBy = nullptr;
  };
  // The listings this entity declares itself.
  const std::vector<ListingIndex>& listingIndexes() const { return listingIndexes_; }
  // Lookups of one owner's row by a string attribute compared as file names
  // are (ignoring case, diacritics and width: the predicate option [cd]);
  // `sortedBy` is the attribute looked up.
  const std::vector<ListingIndex>& nameLookupIndexes() const { return nameLookupIndexes_; }

 private:
  friend class ModelBuilder;
  std::string name_;
  std::string parentName_;
  const EntityDescription* parent_ = nullptr;
  std::vector<const EntityDescription*> children_;
  bool abstract_ = false;
  UserInfo userInfo_;
  const ManagedObjectModel* model_ = nullptr;
  std::vector<std::unique_ptr<PropertyDescription>> declared_;
  std::vector<const PropertyDescription*> allProperties_;
  std::vector<const AttributeDescription*> allAttributes_;
  std::vector<const RelationshipDescription*> allRelationships_;
  std::map<std::string, const PropertyDescription*> propertiesByName_;
  std::unordered_map<std::string, int> indexByName_;
  std::vector<std::pair<std::string, std::string>> listingIndexNames_;
  std::vector<ListingIndex> listingIndexes_;
  std::vector<std::pair<std::string, std::string>> nameLookupIndexNames_;
  std::vector<ListingIndex> nameLookupIndexes_;
};

}  // namespace qlt
