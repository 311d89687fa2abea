#include "platform/objectstore/store_sql_mapper.h"

namespace qlt {

std::string StoreSQLMapper::tableName(const std::string& entity) const {
  const EntityDescription* description = store_.model().entity(entity);
  return description ? store_.schema().tableName(*description) : entity;
}

std::string StoreSQLMapper::primaryKeyColumn(const std::string&) const { return "_pk"; }

SQLColumnType StoreSQLMapper::columnType(AttributeType type) {
  switch (type) {
    case AttributeType::Boolean:
      return SQLColumnType::Boolean;
    case AttributeType::Integer32:
    case AttributeType::Integer64:
      return SQLColumnType::Integer;
    case AttributeType::Double:
    case AttributeType::Number:
      return SQLColumnType::Real;
    case AttributeType::String:
    case AttributeType::URI:
      return SQLColumnType::Text;
    case AttributeType::Date:
      return SQLColumnType::Date;
    case AttributeType::Binary:
      return SQLColumnType::Blob;
  }
  return SQLColumnType::Text;
}

std::optional<SQLProperty> StoreSQLMapper::property(const std::string& entity, const std::string& key) const {
  const EntityDescription* description = store_.model().entity(entity);
  if (!description) return std::nullopt;
  const PropertyDescription* property = description->property(key);
  if (!property || property->isTransient()) return std::nullopt;
  const StoreSchema& schema = store_.schema();
  SQLProperty result;
  if (property->isAttribute()) {
    auto attribute = static_cast<const AttributeDescription*>(property);
    result.kind = SQLProperty::Kind::Attribute;
    result.column = schema.columnName(*attribute);
    result.type = columnType(attribute->type());
    return result;
  }
  auto relationship = static_cast<const RelationshipDescription*>(property);
  result.destinationEntity = relationship->destinationEntityName();
  if (!relationship->isToMany()) {
    result.kind = SQLProperty::Kind::ToOne;
    result.column = schema.foreignKeyColumn(*relationship);
    result.type = SQLColumnType::Integer;
    return result;
  }
  result.kind = SQLProperty::Kind::ToMany;
  if (!relationship->isManyToMany()) {
    result.inverseColumn = schema.foreignKeyColumn(*relationship->inverseRelationship());
    return result;
  }
  result.joinTable = schema.joinTable(*relationship).name;
  bool source = schema.isJoinSource(*relationship);
  result.joinSourceColumn = source ? "src" : "dst";
  result.joinDestinationColumn = source ? "dst" : "src";
  return result;
}

std::optional<int64_t> StoreSQLMapper::primaryKey(const ObjectID& id, const std::string& entity) const {
  if (id.storeIdentifier != store_.identifier()) return std::nullopt;
  if (id.entityName == entity) return id.primaryKey;  // the entity being compiled, known to exist
  const EntityDescription* target = store_.model().entity(entity);
  const EntityDescription* actual = store_.model().entity(id.entityName);
  if (!target || !actual || !actual->isKindOfEntity(*target)) return std::nullopt;
  return id.primaryKey;
}

}  // namespace qlt
