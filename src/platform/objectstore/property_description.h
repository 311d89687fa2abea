#pragma once

#include <map>
#include <optional>
#include <string>

#include "platform/objectstore/value.h"

namespace qlt {

class EntityDescription;

enum class AttributeType { Boolean, Integer32, Integer64, Double, String, Date, Binary, URI, Number };
enum class DeleteRule { Nullify, Cascade, Deny, NoAction };

using UserInfo = std::map<std::string, std::string>;

// What attributes and relationships share: a name, optionality, whether the
// store keeps the value, and free string annotations.
class PropertyDescription {
 public:
  virtual ~PropertyDescription() = default;

  const std::string& name() const { return name_; }
  const EntityDescription& entity() const { return *entity_; }
  bool isOptional() const { return optional_; }
  bool isTransient() const { return transient_; }
  const UserInfo& userInfo() const { return userInfo_; }
  // The annotation under `key`, or nullopt.
  [[nodiscard]] std::optional<std::string> userInfoValue(const std::string& key) const;

  bool isAttribute() const { return attribute_; }
  bool isRelationship() const { return !attribute_; }

 protected:
  friend class ModelBuilder;
  explicit PropertyDescription(bool attribute) : attribute_(attribute) {}
  bool attribute_;
  std::string name_;
  const EntityDescription* entity_ = nullptr;
  bool optional_ = true;
  bool transient_ = false;
  UserInfo userInfo_;
};

class AttributeDescription final : public PropertyDescription {
 public:
  AttributeDescription() : PropertyDescription(true) {}
  AttributeType type() const { return type_; }
  const Value& defaultValue() const { return defaultValue_; }
  bool isIndexed() const { return indexed_; }

  // Whether `value` may be stored in this attribute (nil only when optional).
  bool accepts(const Value& value) const;
  // `value` converted to the attribute's type where that is lossless
  // (integer ↔ double with an integral value, Boolean ↔ 0/1).
  [[nodiscard]] std::optional<Value> coerce(const Value& value) const;

 private:
  friend class ModelBuilder;
  AttributeType type_ = AttributeType::String;
  Value defaultValue_;
  bool indexed_ = false;
};

class RelationshipDescription final : public PropertyDescription {
 public:
  RelationshipDescription() : PropertyDescription(false) {}
  const std::string& destinationEntityName() const { return destinationName_; }
  const EntityDescription& destinationEntity() const { return *destination_; }
  const RelationshipDescription* inverseRelationship() const { return inverse_; }
  bool isToMany() const { return toMany_; }
  bool isOrdered() const { return ordered_; }
  DeleteRule deleteRule() const { return deleteRule_; }

  // A to-many whose inverse is to-many too, or that has no inverse: kept in
  // a join table.
  bool isManyToMany() const { return toMany_ && (!inverse_ || inverse_->isToMany()); }
  // A to-one whose foreign key lives in this entity's table.

 private:
  friend class ModelBuilder;
  std::string destinationName_;
  std::string inverseName_;
  const EntityDescription* destination_ = nullptr;
  const RelationshipDescription* inverse_ = nullptr;
  bool toMany_ = false;
  bool ordered_ = false;
  DeleteRule deleteRule_ = DeleteRule::Nullify;
};

}  // namespace qlt
