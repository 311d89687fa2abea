#pragma once

#include <map>
#include <memory>
#include <string>
#include <vector>

#include "platform/objectstore/managed_object_model.h"

namespace qlt {

// How a model maps onto SQLite tables:
// - one table per root entity, named after it, holding the rows of all its
//   subentities: "_pk" INTEGER PRIMARY KEY, "_entity" (entity code),
//   "_version" (bumped by every save, for optimistic locking), one column
//   per stored attribute and one per to-one relationship (the destination's
//   key; plus "<key column>__entity" when the destination has subentities);
// - a to-one's key column is named after it, or "<name>__<Entity>" when
//   another entity of the same table declares a to-one of the same name, so
//   that a to-many read through its inverse's column never meets the rows
//   of a sibling's relationship;
// - an order column "<inverse>__order" in the destination table of an
//   ordered to-many whose inverse is to-one;
// - one join table per many-to-many (or inverse-less to-many) relationship,
//   with an "ord" column when it is ordered.
// Identifiers are always quoted, so entity and property names never clash
// with SQL keywords.
class StoreSchema {
 public:
  struct JoinTable {
    std::string name;
    // "src" and "dst" hold the keys of both ends; "dst_entity" the code of
    // the destination's actual entity; "ord" the position when ordered.
    bool ordered = false;
  };

  explicit StoreSchema(std::shared_ptr<const ManagedObjectModel> model);

  const ManagedObjectModel& model() const { return *model_; }

  static std::string quote(const std::string& identifier);

  std::string tableName(const EntityDescription& entity) const;
  std::string columnName(const AttributeDescription& attribute) const;
  // For a to-one: the column of this entity's table that holds the key.
  std::string foreignKeyColumn(const RelationshipDescription& toOne) const;
  // For a to-one whose destination has subentities: the entity-code column.
  std::string foreignEntityColumn(const RelationshipDescription& toOne) const;
  bool storesForeignEntity(const RelationshipDescription& toOne) const;
  // For an ordered to-many with a to-one inverse: the order column in the
  // destination table.
  std::string orderColumn(const RelationshipDescription& orderedToMany) const;
  // For a relationship kept in a join table (either side of the pair).
  JoinTable joinTable(const RelationshipDescription& relationship) const;
  // Whether `relationship` is the side whose keys sit in the "src" column.
  bool isJoinSource(const RelationshipDescription& relationship) const;

  // SQL that creates every table and index of the model on an empty store,
  // or what an existing store lacks: `existingColumns` maps table names to
  // their column names (tables missing from it are created).
  std::vector<std::string> migrationStatements(
      const std::map<std::string, std::vector<std::string>>& existingColumns) const;

  // The SQLite type of an attribute's column.
  static const char* columnType(AttributeType type);

 private:
  struct Column {
    std::string name;
    std::string type;
  };
  std::vector<Column> columnsOfRootTable(const EntityDescription& root) const;
  std::vector<std::string> indexStatements(const EntityDescription& root) const;

  std::shared_ptr<const ManagedObjectModel> model_;
  // Key columns of to-ones whose name another entity of their table shares.
  std::map<const RelationshipDescription*, std::string> qualifiedForeignKeys_;
};

}  // namespace qlt
