#include "platform/objectstore/schema.h"

#include "platform/foundation/string_comparison.h"

#include <algorithm>
#include <set>

namespace qlt {

StoreSchema::StoreSchema(std::shared_ptr<const ManagedObjectModel> model) : model_(std::move(model)) {
  std::map<std::pair<const EntityDescription*, std::string>, std::vector<const RelationshipDescription*>> byName;
  for (const EntityDescription* entity : model_->entities()) {
    for (const auto& property : entity->declaredProperties()) {
      if (property->isAttribute() || property->isTransient()) continue;
      auto relationship = static_cast<const RelationshipDescription*>(property.get());
      if (!relationship->isToMany()) byName[{&entity->rootEntity(), relationship->name()}].push_back(relationship);
    }
  }
  for (const auto& [key, relationships] : byName) {
    if (relationships.size() < 2) continue;
    for (const RelationshipDescription* relationship : relationships)
      qualifiedForeignKeys_[relationship] = relationship->name() + "__" + relationship->entity().name();
  }
}

std::string StoreSchema::quote(const std::string& identifier) {
  std::string quoted = "\"";
  for (char c : identifier) {
    if (c == '"') quoted += '"';
    quoted += c;
  }
  return quoted + "\"";
}

std::string StoreSchema::tableName(const EntityDescription& entity) const { return entity.rootEntity().name(); }

std::string StoreSchema::columnName(const AttributeDescription& attribute) const { return attribute.name(); }

std::string StoreSchema::foreignKeyColumn(const RelationshipDescription& toOne) const {
  auto qualified = qualifiedForeignKeys_.find(&toOne);
  return qualified == qualifiedForeignKeys_.end() ? toOne.name() : qualified->second;
}

std::string StoreSchema::foreignEntityColumn(const RelationshipDescription& toOne) const {
  return foreignKeyColumn(toOne) + "__entity";
}

bool StoreSchema::storesForeignEntity(const RelationshipDescription& toOne) const {
  return !toOne.destinationEntity().subentities().empty();
}

std::string StoreSchema::orderColumn(const RelationshipDescription& orderedToMany) const {
  return foreignKeyColumn(*orderedToMany.inverseRelationship()) + "__order";
}

bool StoreSchema::isJoinSource(const RelationshipDescription& relationship) const {
  const RelationshipDescription* inverse = relationship.inverseRelationship();
  if (!inverse) return true;
  // The pair's first declared side owns the "src" column.
  for (const EntityDescription* entity : model_->entities()) {
    for (const auto& property : entity->declaredProperties()) {
      if (property.get() == &relationship) return true;
      if (property.get() == inverse) return false;
    }
  }
  return true;
}

StoreSchema::JoinTable StoreSchema::joinTable(const RelationshipDescription& relationship) const {
  const RelationshipDescription& source =
      isJoinSource(relationship) ? relationship : *relationship.inverseRelationship();
  JoinTable table;
  table.name = "_join_" + source.entity().name() + "_" + source.name();
  table.ordered = source.isOrdered() || (source.inverseRelationship() && source.inverseRelationship()->isOrdered());
  return table;
}

const char* StoreSchema::columnType(AttributeType type) {
  switch (type) {
    case AttributeType::Boolean:
    case AttributeType::Integer32:
    case AttributeType::Integer64:
    case AttributeType::Number: return "INTEGER";
    case AttributeType::Double:
    case AttributeType::Date: return "REAL";
    case AttributeType::String:
    case AttributeType::URI: return "TEXT";
    case AttributeType::Binary: return "BLOB";
  }
  return "BLOB";
}

std::vector<StoreSchema::Column> StoreSchema::columnsOfRootTable(const EntityDescription& root) const {
  std::vector<Column> columns{{"_pk", "INTEGER PRIMARY KEY"},
                              {"_entity", "INTEGER NOT NULL DEFAULT 0"},
                              {"_version", "INTEGER NOT NULL DEFAULT 1"}};
  std::set<std::string> seen{"_pk", "_entity", "_version"};
  auto add = [&](const std::string& name, const std::string& type) {
    if (seen.insert(name).second) columns.push_back({name, type});
  };
  std::vector<const EntityDescription*> family{&root};
  for (size_t i = 0; i < family.size(); ++i)
    for (const EntityDescription* child : family[i]->subentities()) family.push_back(child);
  for (const EntityDescription* entity : family) {
    for (const auto& property : entity->declaredProperties()) {
      if (property->isTransient()) continue;
      if (property->isAttribute()) {
        auto attribute = static_cast<const AttributeDescription*>(property.get());
        add(columnName(*attribute), columnType(attribute->type()));
        continue;
      }
      auto relationship = static_cast<const RelationshipDescription*>(property.get());
      if (!relationship->isToMany()) {
        add(foreignKeyColumn(*relationship), "INTEGER");
        if (storesForeignEntity(*relationship)) add(foreignEntityColumn(*relationship), "INTEGER");
      }
    }
  }
  // Order columns of ordered to-many relationships that point into this family.
  for (const EntityDescription* entity : model_->entities()) {
    for (const auto& property : entity->declaredProperties()) {
      if (property->isAttribute() || property->isTransient()) continue;
      auto relationship = static_cast<const RelationshipDescription*>(property.get());
      if (relationship->isOrdered() && !relationship->isManyToMany() &&
          &relationship->destinationEntity().rootEntity() == &root)
        add(orderColumn(*relationship), "INTEGER");
    }
  }
  return columns;
}

std::vector<std::string> StoreSchema::indexStatements(const EntityDescription& root) const {
  std::vector<std::string> statements;
  std::string table = tableName(root);
  std::set<std::string> indexed;
  auto index = [&](const std::string& column) {
    if (!indexed.insert(column).second) return;
    statements.push_back("CREATE INDEX IF NOT EXISTS " + quote("_index_" + table + "_" + column) + " ON " +
                         quote(table) + " (" + quote(column) + ")");
  };
  index("_entity");
  std::vector<const EntityDescription*> family{&root};
  for (size_t i = 0; i < family.size(); ++i)
    for (const EntityDescription* child : family[i]->subentities()) family.push_back(child);
  for (const EntityDescription* entity : family) {
    for (const auto& property : entity->declaredProperties()) {
      if (property->isTransient()) continue;
      if (property->isAttribute()) {
        auto attribute = static_cast<const AttributeDescription*>(property.get());
        if (attribute->isIndexed() || attribute->name() == "identifier") index(columnName(*attribute));
        // Listings page through indexed names in the file manager's order.
        if (attribute->isIndexed() && attribute->type() == AttributeType::String &&
            indexed.insert(columnName(*attribute) + "/localized").second)
          statements.push_back("CREATE INDEX IF NOT EXISTS " +
                               quote("_index_" + table + "_" + columnName(*attribute) + "_localized") + " ON " +
                               quote(table) + " (" + quote(columnName(*attribute)) +
                               " COLLATE QLT_LOCALIZED_STANDARD, \"_pk\")");
      } else {
        auto relationship = static_cast<const RelationshipDescription*>(property.get());
        if (!relationship->isToMany()) index(foreignKeyColumn(*relationship));
      }
    }
    // An owner's rows in order come straight off these, page after page,
    // without sorting the owner's rows for each page.
    for (const EntityDescription::ListingIndex& listing : entity->listingIndexes()) {
      std::string owner = foreignKeyColumn(*listing.owner);
      std::string sorted = columnName(*listing.sortedBy);
      if (!indexed.insert(owner + "/" + sorted).second) continue;
      std::string collation = listing.sortedBy->type() == AttributeType::String ? " COLLATE QLT_LOCALIZED_STANDARD" : "";
      statements.push_back("CREATE INDEX IF NOT EXISTS " + quote("_index_" + table + "_" + owner + "_" + sorted) +
                           " ON " + quote(table) + " (" + quote(owner) + ", " + quote(sorted) + collation +
                           ", \"_pk\")");
    }
    // The expression must read exactly as predicates compile "==[cd]".
    for (const EntityDescription::ListingIndex& lookup : entity->nameLookupIndexes()) {
      std::string owner = foreignKeyColumn(*lookup.owner);
      std::string name = columnName(*lookup.sortedBy);
      if (!indexed.insert(owner + "/" + name + "/folded").second) continue;
      const unsigned options = CaseInsensitive | DiacriticInsensitive | WidthInsensitive;
      statements.push_back("CREATE INDEX IF NOT EXISTS " + quote("_index_" + table + "_" + owner + "_" + name + "_folded") +
                           " ON " + quote(table) + " (" + quote(owner) + ", qlt_fold(" + quote(name) + ", " +
                           std::to_string(options) + "))");
    }
  }
  return statements;
}

std::vector<std::string> StoreSchema::migrationStatements(
    const std::map<std::string, std::vector<std::string>>& existingColumns) const {
  std::vector<std::string> statements;
  for (const EntityDescription* root : model_->rootEntities()) {
    std::string table = tableName(*root);
    auto columns = columnsOfRootTable(*root);
    auto existing = existingColumns.find(table);
    if (existing == existingColumns.end()) {
      std::string sql = "CREATE TABLE " + quote(table) + " (";
      for (size_t i = 0; i < columns.size(); ++i) sql += (i ? ", " : "") + quote(columns[i].name) + " " + columns[i].type;
      statements.push_back(sql + ")");
    } else {
      for (const Column& column : columns) {
        if (std::find(existing->second.begin(), existing->second.end(), column.name) != existing->second.end()) continue;
        std::string type = column.type == "INTEGER PRIMARY KEY" ? "INTEGER" : column.type;
        statements.push_back("ALTER TABLE " + quote(table) + " ADD COLUMN " + quote(column.name) + " " + type);
      }
    }
    auto indexes = indexStatements(*root);
    statements.insert(statements.end(), indexes.begin(), indexes.end());
  }
  for (const RelationshipDescription* relationship : model_->manyToManyRelationships()) {
    JoinTable join = joinTable(*relationship);
    if (existingColumns.count(join.name)) continue;
    statements.push_back("CREATE TABLE " + quote(join.name) +
                         " (\"src\" INTEGER NOT NULL, \"dst\" INTEGER NOT NULL, \"src_entity\" INTEGER NOT NULL "
                         "DEFAULT 0, \"dst_entity\" INTEGER NOT NULL DEFAULT 0, \"ord\" INTEGER NOT NULL DEFAULT 0, "
                         "PRIMARY KEY (\"src\", \"dst\")) WITHOUT ROWID");
    statements.push_back("CREATE INDEX IF NOT EXISTS " + quote("_index_" + join.name + "_dst") + " ON " +
                         quote(join.name) + " (\"dst\")");
  }
  return statements;
}

}  // namespace qlt
