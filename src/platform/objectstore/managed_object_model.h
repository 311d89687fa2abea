#pragma once

#include <map>
#include <memory>
#include <string>
#include <vector>

#include "platform/foundation/error.h"
#include "platform/objectstore/entity_description.h"

namespace qlt {

// An immutable, validated set of entities. Built once with ModelBuilder and
// shared by every store and context that uses it.
class ManagedObjectModel {
 public:
  const std::string& name() const { return name_; }
  const EntityDescription* entity(const std::string& name) const;
  const std::vector<const EntityDescription*>& entities() const { return entities_; }
  // Entities without a superentity, in declaration order: one table each.
  std::vector<const EntityDescription*> rootEntities() const;
  // Many-to-many relationships, one per pair (the side declared first).
  std::vector<const RelationshipDescription*> manyToManyRelationships() const;

 private:
  friend class ModelBuilder;
  std::string name_;
  std::vector<std::unique_ptr<EntityDescription>> owned_;
  std::vector<const EntityDescription*> entities_;
  std::map<std::string, const EntityDescription*> byName_;
};

// Declares a model in code:
//
//   ModelBuilder builder("Library");
//   builder.entity("Group").abstract().attribute("name", AttributeType::String);
//   builder.entity("Folder").parent("Group")
//       .relationship("children", "Group").toMany().ordered().inverse("parent").cascade();
//   std::shared_ptr<const ManagedObjectModel> model = builder.build(&error);
class ModelBuilder {
 public:
  class EntityBuilder;

  class AttributeBuilder {
   public:
    AttributeBuilder& required() { attribute_->optional_ = false; return *this; }
    AttributeBuilder& transient() { attribute_->transient_ = true; return *this; }
    AttributeBuilder& indexed() { attribute_->indexed_ = true; return *this; }
    AttributeBuilder& defaultValue(Value value) { attribute_->defaultValue_ = std::move(value); return *this; }
    AttributeBuilder& userInfo(const std::string& key, const std::string& value) {
      attribute_->userInfo_[key] = value;
      return *this;
    }
    EntityBuilder& done() { return *entity_; }

   private:
    friend class EntityBuilder;
    AttributeBuilder(EntityBuilder* entity, AttributeDescription* attribute) : entity_(entity), attribute_(attribute) {}
    EntityBuilder* entity_;
    AttributeDescription* attribute_;
  };

  class RelationshipBuilder {
   public:
    RelationshipBuilder& toMany() { relationship_->toMany_ = true; return *this; }
    RelationshipBuilder& ordered() { relationship_->toMany_ = relationship_->ordered_ = true; return *this; }
    RelationshipBuilder& inverse(const std::string& name) { relationship_->inverseName_ = name; return *this; }
    RelationshipBuilder& cascade() { relationship_->deleteRule_ = DeleteRule::Cascade; return *this; }
    RelationshipBuilder& deny() { relationship_->deleteRule_ = DeleteRule::Deny; return *this; }
    RelationshipBuilder& required() { relationship_->optional_ = false; return *this; }
    RelationshipBuilder& transient() { relationship_->transient_ = true; return *this; }
    RelationshipBuilder& userInfo(const std::string& key, const std::string& value) {
      relationship_->userInfo_[key] = value;
      return *this;
    }
    EntityBuilder& done() { return *entity_; }

   private:
    friend class EntityBuilder;
    RelationshipBuilder(EntityBuilder* entity, RelationshipDescription* relationship)
        : entity_(entity), relationship_(relationship) {}
    EntityBuilder* entity_;
    RelationshipDescription* relationship_;
  };

  class EntityBuilder {
   public:
    EntityBuilder& parent(const std::string& name) { entity_->parentName_ = name; return *this; }
    EntityBuilder& abstract() { entity_->abstract_ = true; return *this; }
    EntityBuilder& userInfo(const std::string& key, const std::string& value) {
      entity_->userInfo_[key] = value;
      return *this;
    }
    AttributeBuilder attribute(const std::string& name, AttributeType type);
    RelationshipBuilder relationship(const std::string& name, const std::string& destination);
    // Indexes the rows of each `owner` (a to-one) in the order of the
    // attribute `sortedBy`; both are this entity's or its ancestors'.
    EntityBuilder& listingIndex(const std::string& owner, const std::string& sortedBy) {
      entity_->listingIndexNames_.emplace_back(owner, sortedBy);
      return *this;
    }
    // Indexes the rows of each `owner` by the string attribute `name`
    // compared with the options [cd], so that "owner == X AND name ==[cd] Y"
    // finds its row without reading the owner's other rows.
    EntityBuilder& nameLookupIndex(const std::string& owner, const std::string& name) {
      entity_->nameLookupIndexNames_.emplace_back(owner, name);
      return *this;
    }

   private:
    friend class ModelBuilder;
    explicit EntityBuilder(EntityDescription* entity) : entity_(entity) {}
    EntityDescription* entity_;
  };

  explicit ModelBuilder(std::string name);
  ~ModelBuilder();

  // Declares an entity, or returns the builder of one already declared.
  EntityBuilder& entity(const std::string& name);

  // Resolves parents, destinations and inverses and checks the model: unknown
  // or cyclic parents, unknown destinations, inverses that do not point back,
  // names declared twice along an inheritance chain. The builder is spent.
  std::shared_ptr<const ManagedObjectModel> build(Error* error = nullptr);

 private:
  std::unique_ptr<ManagedObjectModel> model_;
  std::map<std::string, std::unique_ptr<EntityBuilder>> builders_;
};

inline constexpr const char* kModelErrorDomain = "QLTModelErrorDomain";

}  // namespace qlt
