#pragma once

#include "platform/objectstore/persistent_store.h"
#include "platform/objectstore/predicate_sql.h"

namespace qlt {

// Answers the SQL compiler from a store's schema and entity codes.
class StoreSQLMapper final : public SQLSchemaMapper {
 public:
  explicit StoreSQLMapper(const PersistentStore& store) : store_(store) {}

  std::string tableName(const std::string& entity) const override;
  std::string primaryKeyColumn(const std::string& entity) const override;
  [[nodiscard]] std::optional<SQLProperty> property(const std::string& entity, const std::string& key) const override;
  [[nodiscard]] std::optional<int64_t> primaryKey(const ObjectID& id, const std::string& entity) const override;

  static SQLColumnType columnType(AttributeType type);

 private:
  const PersistentStore& store_;
};

}  // namespace qlt
