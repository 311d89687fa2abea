#include "platform/objectstore/managed_object_model.h"

#include <set>

namespace qlt {

const EntityDescription* ManagedObjectModel::entity(const std::string& name) const {
  auto found = byName_.find(name);
  return found == byName_.end() ? nullptr : found->second;
}

std::vector<const EntityDescription*> ManagedObjectModel::rootEntities() const {
  std::vector<const EntityDescription*> roots;
  for (const EntityDescription* entity : entities_)
    if (!entity->superentity()) roots.push_back(entity);
  return roots;
}

std::vector<const RelationshipDescription*> ManagedObjectModel::manyToManyRelationships() const {
  std::vector<const RelationshipDescription*> result;
  std::set<const RelationshipDescription*> seen;
  for (const EntityDescription* entity : entities_) {
    for (const auto& property : entity->declaredProperties()) {
      if (!property->isRelationship()) continue;
      auto relationship = static_cast<const RelationshipDescription*>(property.get());
      if (!relationship->isManyToMany() || seen.count(relationship->inverseRelationship())) continue;
      seen.insert(relationship);
      result.push_back(relationship);
    }
  }
  return result;
}

ModelBuilder::AttributeBuilder ModelBuilder::EntityBuilder::attribute(const std::string& name, AttributeType type) {
  auto attribute = std::make_unique<AttributeDescription>();
  attribute->name_ = name;
  attribute->type_ = type;
  attribute->entity_ = entity_;
  AttributeDescription* raw = attribute.get();
  entity_->declared_.push_back(std::move(attribute));
  return AttributeBuilder(this, raw);
}

ModelBuilder::RelationshipBuilder ModelBuilder::EntityBuilder::relationship(const std::string& name,
                                                                           const std::string& destination) {
  auto relationship = std::make_unique<RelationshipDescription>();
  relationship->name_ = name;
  relationship->destinationName_ = destination;
  relationship->entity_ = entity_;
  RelationshipDescription* raw = relationship.get();
  entity_->declared_.push_back(std::move(relationship));
  return RelationshipBuilder(this, raw);
}

ModelBuilder::ModelBuilder(std::string name) : model_(std::make_unique<ManagedObjectModel>()) {
  model_->name_ = std::move(name);
}

ModelBuilder::~ModelBuilder() = default;

ModelBuilder::EntityBuilder& ModelBuilder::entity(const std::string& name) {
  auto found = builders_.find(name);
  if (found != builders_.end()) return *found->second;
  auto entity = std::make_unique<EntityDescription>();
  entity->name_ = name;
  entity->model_ = model_.get();
  EntityDescription* raw = entity.get();
  model_->owned_.push_back(std::move(entity));
  model_->entities_.push_back(raw);
  model_->byName_[name] = raw;
  auto builder = std::unique_ptr<EntityBuilder>(new EntityBuilder(raw));
  EntityBuilder& result = *builder;
  builders_[name] = std::move(builder);
  return result;
}

namespace {

Error modelError(const std::string& text) { return Error(kModelErrorDomain, 1, text); }

}  // namespace

std::shared_ptr<const ManagedObjectModel> ModelBuilder::build(Error* error) {
  if (!model_) {
    setError(error, modelError("The model builder was already used."));
    return nullptr;
  }
  ManagedObjectModel& model = *model_;
  for (auto& owned : model.owned_) {
    EntityDescription* entity = owned.get();
    if (entity->parentName_.empty()) continue;
    auto parent = model.byName_.find(entity->parentName_);
    if (parent == model.byName_.end()) {
      setError(error, modelError("Entity " + entity->name_ + " names an unknown parent " + entity->parentName_ + "."));
      return nullptr;
    }
    entity->parent_ = parent->second;
    const_cast<EntityDescription*>(parent->second)->children_.push_back(entity);
  }
  for (const EntityDescription* entity : model.entities_) {
    size_t steps = 0;
    for (const EntityDescription* up = entity; up; up = up->parent_) {
      if (++steps > model.entities_.size()) {
        setError(error, modelError("Entity " + entity->name_ + " inherits from itself."));
        return nullptr;
      }
    }
  }
  // Inherited properties first, then the entity's own, in declaration order.
  for (auto& owned : model.owned_) {
    EntityDescription* entity = owned.get();
    std::vector<const EntityDescription*> chain;
    for (const EntityDescription* up = entity; up; up = up->parent_) chain.insert(chain.begin(), up);
    for (const EntityDescription* level : chain) {
      for (const auto& property : level->declared_) {
        if (!entity->propertiesByName_.emplace(property->name(), property.get()).second) {
          setError(error, modelError("Property " + property->name() + " is declared twice for " + entity->name_ + "."));
          return nullptr;
        }
        entity->indexByName_.emplace(property->name(), static_cast<int>(entity->allProperties_.size()));
        entity->allProperties_.push_back(property.get());
        if (property->isAttribute())
          entity->allAttributes_.push_back(static_cast<const AttributeDescription*>(property.get()));
        else
          entity->allRelationships_.push_back(static_cast<const RelationshipDescription*>(property.get()));
      }
    }
  }
  for (auto& owned : model.owned_) {
    for (auto& property : owned->declared_) {
      if (property->isAttribute()) continue;
      auto relationship = static_cast<RelationshipDescription*>(property.get());
      auto destination = model.byName_.find(relationship->destinationName_);
      if (destination == model.byName_.end()) {
        setError(error, modelError("Relationship " + owned->name_ + "." + relationship->name_ +
                                   " names an unknown destination " + relationship->destinationName_ + "."));
        return nullptr;
      }
      relationship->destination_ = destination->second;
      if (relationship->inverseName_.empty()) continue;
      const RelationshipDescription* inverse = destination->second->relationship(relationship->inverseName_);
      if (!inverse || inverse->destinationName_.empty() ||
          !owned->isKindOfEntity(*model.byName_.at(inverse->destinationName_)) ||
          inverse->inverseName_ != relationship->name_) {
        setError(error, modelError("Relationship " + owned->name_ + "." + relationship->name_ +
                                   " has an inverse that does not point back."));
        return nullptr;
      }
      relationship->inverse_ = inverse;
    }
  }
  for (auto& owned : model.owned_) {
    for (const auto& [ownerName, sortName] : owned->listingIndexNames_) {
      const RelationshipDescription* owner = owned->relationship(ownerName);
      const AttributeDescription* sortedBy = owned->attribute(sortName);
      if (!owner || owner->isToMany() || !sortedBy || sortedBy->isTransient()) {
        setError(error, modelError("The listing of " + owned->name_ + " by " + ownerName + " and " + sortName +
                                   " needs a to-one relationship and a stored attribute."));
        return nullptr;
      }
      owned->listingIndexes_.push_back({owner, sortedBy});
    }
    for (const auto& [ownerName, attributeName] : owned->nameLookupIndexNames_) {
      const RelationshipDescription* owner = owned->relationship(ownerName);
      const AttributeDescription* name = owned->attribute(attributeName);
      if (!owner || owner->isToMany() || !name || name->isTransient() || name->type() != AttributeType::String) {
        setError(error, modelError("The name lookup of " + owned->name_ + " by " + ownerName + " and " +
                                   attributeName + " needs a to-one relationship and a stored string attribute."));
        return nullptr;
      }
      owned->nameLookupIndexes_.push_back({owner, name});
    }
  }
  builders_.clear();
  return std::shared_ptr<const ManagedObjectModel>(model_.release());
}

}  // namespace qlt
