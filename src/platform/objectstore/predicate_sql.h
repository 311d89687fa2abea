#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "platform/foundation/error.h"
#include "platform/objectstore/object_id.h"
#include "platform/objectstore/predicate.h"
#include "platform/objectstore/value.h"

namespace qlt {

// How an attribute is kept in its column: Booleans as 0 and 1, dates as
// REAL seconds since 2001-01-01.
enum class SQLColumnType { Integer, Real, Text, Blob, Boolean, Date };

// One stored property of an entity, as the SQL compiler needs to know it.
// Names are unquoted; the compiler quotes them.
struct SQLProperty {
  enum class Kind { Attribute, ToOne, ToMany };
  Kind kind = Kind::Attribute;
  // Attribute: its column. To-one: the column holding the destination's
  // primary key. Both in the table of the entity the property belongs to.
  std::string column;
  SQLColumnType type = SQLColumnType::Text;
  // Relationships.
  std::string destinationEntity;
  // A to-many whose inverse is a to-one: the destination table's column
  // holding the key of this entity's row.
  std::string inverseColumn;
  // A to-many kept in a join table (set when inverseColumn is empty):
  // joinSourceColumn holds this entity's key, joinDestinationColumn the
  // destination's.
  std::string joinTable;
  std::string joinSourceColumn;
  std::string joinDestinationColumn;
};

// The store's answer to "where is this kept?", for the SQL compiler.
class SQLSchemaMapper {
 public:
  virtual ~SQLSchemaMapper() = default;

  // The table holding `entity`'s rows.
  virtual std::string tableName(const std::string& entity) const = 0;
  // Its integer primary-key column.
  virtual std::string primaryKeyColumn(const std::string& entity) const = 0;
  // The stored property `key` of `entity`, inherited ones included; nullopt
  // when there is none.
  [[nodiscard]] virtual std::optional<SQLProperty> property(const std::string& entity, const std::string& key) const = 0;
  // The primary key under which `id` is stored among `entity`'s rows;
  // nullopt when `id` cannot name one (another store, an entity that is
  // neither `entity` nor one of its subentities).
  [[nodiscard]] virtual std::optional<int64_t> primaryKey(const ObjectID& id, const std::string& entity) const = 0;
};

// The fetched entity's table is expected under this alias:
//   SELECT ... FROM <table> t0 <joins...> WHERE <where>
inline constexpr const char* kSQLRootAlias = "t0";

struct SQLFragment {
  // A condition that is always 0 or 1, never NULL, so that it may be
  // negated or combined further.
  std::string where;
  // LEFT JOIN clauses for to-one key paths, one per distinct path.
  std::vector<std::string> joins;
  // Values of the ? placeholders of `where`, in order: only integers,
  // doubles, strings and data.
  std::vector<Value> parameters;
};

// Compiles `predicate`, evaluated against rows of `entity`, to a WHERE
// clause that selects exactly the rows evaluate() accepts (for
// ObjectAccessors that present the same rows). To-many key paths compile to
// EXISTS subqueries (ANY, ALL, CONTAINS, IN) or COUNT subqueries (@count).
// Fails for unknown keys, key paths through two to-many relationships,
// to-many key paths compared directly, non-constant operands on both sides
// of a collection comparison, malformed BETWEEN ranges, invalid constant
// regular expressions and trees deeper than kMaxPredicateDepth.
[[nodiscard]] bool compileToSQL(const Predicate& predicate, const std::string& entity, const SQLSchemaMapper& mapper,
                  SQLFragment* out, Error* error = nullptr);

}  // namespace qlt
