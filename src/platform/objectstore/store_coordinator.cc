#include "platform/objectstore/store_coordinator.h"

#include "platform/sqlite/database.h"

namespace qlt {
namespace {

constexpr size_t kRowsPerQuery = 500;

std::string placeholders(size_t count) {
  std::string text;
  for (size_t i = 0; i < count; ++i) text += i ? ",?" : "?";
  return text;
}

}  // namespace

StoreCoordinator::StoreCoordinator(std::unique_ptr<PersistentStore> store)
    : store_(std::move(store)), mapper_(*store_), storeIdentifier_(store_->identifier()) {
  for (const EntityDescription* entity : store_->model().entities())
    if (auto code = store_->entityCode(entity->name())) entitiesByCode_[*code] = EntityInfo{entity, entity->name()};
}

const StoreCoordinator::EntityInfo* StoreCoordinator::entityInfo(int64_t code) const {
  auto found = entitiesByCode_.find(code);
  return found == entitiesByCode_.end() ? nullptr : &found->second;
}

const ManagedObjectClasses::Factory& StoreCoordinator::factoryFor(const EntityDescription& entity) {
  std::lock_guard lock(factoriesMutex_);
  auto found = factories_.find(&entity);
  if (found != factories_.end()) return found->second;
  ManagedObjectClasses::Factory factory;
  for (const EntityDescription* e = &entity; e && !factory; e = e->superentity())
    factory = ManagedObjectClasses::factory(entity.model().name(), e->name());
  return factories_.emplace(&entity, factory).first->second;
}

std::optional<ObjectID> StoreCoordinator::objectID(int64_t code, int64_t pk) const {
  const EntityInfo* info = entityInfo(code);
  if (!info) return std::nullopt;
  return ObjectID{storeIdentifier_, info->name, pk};
}

bool StoreCoordinator::bindValue(Statement& statement, int index, const Value& value, Error* error) {
  switch (value.type()) {
    case Value::Type::Null:
      return statement.bindNull(index, error);
    case Value::Type::Boolean:
      return statement.bindInt64(index, *value.boolean() ? 1 : 0, error);
    case Value::Type::Integer:
      return statement.bindInt64(index, *value.integer(), error);
    case Value::Type::Double:
      return statement.bindDouble(index, *value.real(), error);
    case Value::Type::String:
      return statement.bindText(index, *value.string(), error);
    case Value::Type::Date:
      return statement.bindDouble(index, value.date()->timeIntervalSinceReferenceDate(), error);
    case Value::Type::Data:
      return statement.bindBlob(index, *value.data(), error);
    case Value::Type::Object:
      return statement.bindInt64(index, value.objectID()->primaryKey, error);
    case Value::Type::Collection:
      break;
  }
  setError(error, Error(kCocoaErrorDomain, kPersistentStoreOperationError, "A collection cannot be stored in a column."));
  return false;
}

Value StoreCoordinator::columnValue(const Statement& statement, int column, AttributeType type) {
  if (statement.isNull(column)) return Value();
  switch (type) {
    case AttributeType::Boolean:
      return Value(statement.columnInt64(column) != 0);
    case AttributeType::Integer32:
    case AttributeType::Integer64:
      return Value(static_cast<int64_t>(statement.columnInt64(column)));
    case AttributeType::Double:
      return Value(statement.columnDouble(column));
    case AttributeType::Number:
      if (statement.columnType(column) == Statement::ColumnType::Integer)
        return Value(static_cast<int64_t>(statement.columnInt64(column)));
      return Value(statement.columnDouble(column));
    case AttributeType::String:
    case AttributeType::URI:
      return Value(std::string(statement.columnText(column)));
    case AttributeType::Date:
      return Value(Date(statement.columnDouble(column)));
    case AttributeType::Binary: {
      auto blob = statement.columnBlob(column);
      return Value(Bytes(blob.begin(), blob.end()));
    }
  }
  return Value();
}

const std::map<std::string, int>& StoreCoordinator::columnsOf(const Statement& statement,
                                                              const std::string& table) const {
  auto found = columnsByTable_.find(table);
  if (found != columnsByTable_.end() && static_cast<int>(found->second.size()) == statement.columnCount())
    return found->second;
  std::map<std::string, int> columns;
  for (int i = 0; i < statement.columnCount(); ++i) columns.emplace(statement.columnName(i), i);
  return columnsByTable_[table] = std::move(columns);
}

const StoreCoordinator::RowLayout* StoreCoordinator::layoutOf(const Statement& statement, const std::string& table,
                                                               const EntityDescription* entity) const {
  auto key = std::make_pair(table, entity);
  auto found = layouts_.find(key);
  if (found != layouts_.end()) return &found->second;
  const auto& columns = columnsOf(statement, table);
  auto column = [&](const std::string& name) {
    auto position = columns.find(name);
    return position == columns.end() ? -1 : position->second;
  };
  RowLayout layout;
  layout.pk = column("_pk");
  layout.entity = column("_entity");
  layout.version = column("_version");
  if (entity) {
    const StoreSchema& schema = store_->schema();
    for (const PropertyDescription* property : entity->allProperties()) {
      int position = -1, entityPosition = -1;
      if (!property->isTransient()) {
        if (property->isAttribute()) {
          position = column(schema.columnName(*static_cast<const AttributeDescription*>(property)));
        } else if (auto relationship = static_cast<const RelationshipDescription*>(property);
                   !relationship->isToMany()) {
          position = column(schema.foreignKeyColumn(*relationship));
          if (schema.storesForeignEntity(*relationship)) entityPosition = column(schema.foreignEntityColumn(*relationship));
        }
      }
      layout.columns.push_back(position);
      layout.entityColumns.push_back(entityPosition);
      layout.destinations.push_back(property->isRelationship()
                                        ? InternedString(static_cast<const RelationshipDescription*>(property)
                                                             ->destinationEntityName())
                                        : InternedString());
    }
  }
  return &layouts_.emplace(key, std::move(layout)).first->second;
}

std::optional<StoredRow> StoreCoordinator::decodeRow(const Statement& statement, const std::string& table) const {
  StoredRow row;
  if (!decodeRow(statement, table, &row)) return std::nullopt;
  return row;
}

bool StoreCoordinator::decodeRow(const Statement& statement, const std::string& table, StoredRow* row) const {
  const RowLayout* keys = layoutOf(statement, table, nullptr);
  if (keys->pk < 0 || keys->entity < 0 || keys->version < 0) return false;
  const EntityInfo* info = entityInfo(statement.columnInt64(keys->entity));
  if (!info) return false;
  const EntityDescription* entity = info->entity;
  const RowLayout* layout = layoutOf(statement, table, entity);
  row->entity = entity;
  row->version = statement.columnInt64(keys->version);
  const auto& properties = entity->allProperties();
  row->values.resize(properties.size());
  for (size_t i = 0; i < properties.size(); ++i) {
    Value& value = row->values[i];
    int position = layout->columns[i];
    const PropertyDescription* property = properties[i];
    if (position >= 0 && property->isAttribute()) {
      value = columnValue(statement, position, static_cast<const AttributeDescription*>(property)->type());
      continue;
    }
    if (position < 0 || statement.isNull(position)) {
      if (!value.isNull()) value = Value();
      continue;
    }
    InternedString destination = layout->destinations[i];
    if (int entityPosition = layout->entityColumns[i]; entityPosition >= 0) {
      if (const EntityInfo* actual = entityInfo(statement.columnInt64(entityPosition))) destination = actual->name;
    }
    value = Value(ObjectID{storeIdentifier_, destination, statement.columnInt64(position)});
  }
  row->id = ObjectID{storeIdentifier_, info->name, statement.columnInt64(keys->pk)};
  return true;
}

bool StoreCoordinator::readRows(const std::vector<ObjectID>& ids, std::map<ObjectID, StoredRow>* rows,
                                Error* error) {
  std::map<std::string, std::vector<int64_t>> keysByTable;
  for (const ObjectID& id : ids) {
    const EntityDescription* entity = model().entity(id.entityName);
    if (!entity || id.storeIdentifier != store_->identifier()) continue;
    keysByTable[store_->schema().tableName(entity->rootEntity())].push_back(id.primaryKey);
  }
  Database& database = store_->database();
  for (const auto& [table, keys] : keysByTable) {
    for (size_t start = 0; start < keys.size(); start += kRowsPerQuery) {
      size_t count = std::min(kRowsPerQuery, keys.size() - start);
      std::string sql = "SELECT t0.* FROM " + StoreSchema::quote(table) + " t0 WHERE t0.\"_pk\" IN (" +
                        placeholders(count) + ")";
      auto statement = database.cachedStatement(sql, error);
      if (!statement) return false;
      for (size_t i = 0; i < count; ++i)
        if (!statement->bindInt64(static_cast<int>(i + 1), keys[start + i], error)) return false;
      while (statement->step(error)) {
        if (auto row = decodeRow(*statement, table)) rows->insert_or_assign(row->id, std::move(*row));
      }
      if (statement->failed()) return false;
    }
  }
  return true;
}

std::optional<std::vector<ObjectID>> StoreCoordinator::readToMany(const ObjectID& owner,
                                                                  const RelationshipDescription& relationship,
                                                                  Error* error) {
  const StoreSchema& schema = store_->schema();
  std::string sql;
  if (!relationship.isManyToMany()) {
    const RelationshipDescription& inverse = *relationship.inverseRelationship();
    std::string table = schema.tableName(relationship.destinationEntity().rootEntity());
    std::string order = relationship.isOrdered() ? StoreSchema::quote(schema.orderColumn(relationship)) + ", " : "";
    sql = "SELECT \"_pk\", \"_entity\" FROM " + StoreSchema::quote(table) + " WHERE " +
          StoreSchema::quote(schema.foreignKeyColumn(inverse)) + " = ? ORDER BY " + order + "\"_pk\"";
  } else {
    auto join = schema.joinTable(relationship);
    bool source = schema.isJoinSource(relationship);
    sql = source ? "SELECT \"dst\", \"dst_entity\" FROM " + StoreSchema::quote(join.name) +
                       " WHERE \"src\" = ? ORDER BY \"ord\", \"dst\""
                 : "SELECT \"src\", \"src_entity\" FROM " + StoreSchema::quote(join.name) +
                       " WHERE \"dst\" = ? ORDER BY \"src\"";
  }
  auto statement = store_->database().cachedStatement(sql, error);
  if (!statement || !statement->bindInt64(1, owner.primaryKey, error)) return std::nullopt;
  std::vector<ObjectID> result;
  while (statement->step(error)) {
    if (auto id = objectID(statement->columnInt64(1), statement->columnInt64(0))) result.push_back(std::move(*id));
  }
  if (statement->failed()) return std::nullopt;
  return result;
}

std::optional<int64_t> StoreCoordinator::readVersion(const ObjectID& id, Error* error, bool* failed) {
  *failed = false;
  const EntityDescription* entity = model().entity(id.entityName);
  if (!entity) return std::nullopt;
  std::string sql = "SELECT \"_version\" FROM " +
                    StoreSchema::quote(store_->schema().tableName(entity->rootEntity())) + " WHERE \"_pk\" = ?";
  auto statement = store_->database().cachedStatement(sql, error);
  if (!statement || !statement->bindInt64(1, id.primaryKey, error)) {
    *failed = true;
    return std::nullopt;
  }
  if (statement->step(error)) return statement->columnInt64(0);
  *failed = statement->failed();
  return std::nullopt;
}

}  // namespace qlt
