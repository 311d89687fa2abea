#pragma once

#include <functional>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "platform/foundation/error.h"
#include "platform/objectstore/predicate_sql.h"
#include "platform/objectstore/value.h"

namespace qlt {

// SQL text with the values of its ? placeholders, so that pieces can be
// combined (and repeated) without losing track of parameter order.
struct SQLText {
  std::string text;
  std::vector<Value> parameters;

  SQLText() = default;
  SQLText(std::string sql) : text(std::move(sql)) {}
  SQLText(const char* sql) : text(sql) {}
  static SQLText parameter(Value value);
  static SQLText literal(bool value) { return value ? "1" : "0"; }

  SQLText& operator+=(const SQLText& other);
};

SQLText operator+(SQLText lhs, const SQLText& rhs);

// What a compiled operand holds, as far as comparisons care.
enum class SQLCategory { Null, Number, String, Date, Data, Object, Collection };

SQLCategory sqlCategory(const Value& value);

// A to-many relationship reached by a key path, with the keys that follow it.
struct SQLToMany {
  std::string ownerAlias;
  std::string ownerEntity;
  // Whether the owner was reached through to-one relationships that may be
  // nil (a LEFT JOIN row of NULLs).
  bool ownerNullable = false;
  SQLProperty relationship;
  std::vector<std::string> rest;
};

struct SQLOperand {
  enum class Shape { Constant, Scalar, List, ToMany };
  Shape shape = Shape::Constant;
  // Constant.
  Value constant;
  // Scalar: an SQL expression; for Object, `entity` is the destination.
  SQLText sql;
  SQLCategory scalarCategory = SQLCategory::Null;
  std::string entity;
  bool nullable = false;
  // List: the elements of an aggregate that is not constant.
  std::vector<SQLOperand> elements;
  // ToMany.
  SQLToMany toMany;

  static SQLOperand constantOperand(Value value);
  static SQLOperand scalar(SQLText sql, SQLCategory category, bool nullable, std::string entity = {});

  SQLCategory category() const;
  bool isCollection() const { return category() == SQLCategory::Collection; }
};

// The rows a condition may refer to: the fetched row or a subquery's row,
// with the LEFT JOINs its to-one key paths needed.
struct SQLScope {
  std::string entity;
  std::string alias;
  std::vector<std::string> joins;
  std::map<std::string, std::string> aliasByPath;
};

std::string quoteSQLIdentifier(const std::string& identifier);

// Turns key paths into operands against a mapper, joining to-one
// relationships and building subqueries over to-many ones. Aliases are
// unique across one compilation.
class SQLKeyPathResolver {
 public:
  explicit SQLKeyPathResolver(const SQLSchemaMapper& mapper) : mapper_(mapper) {}

  const SQLSchemaMapper& mapper() const { return mapper_; }

  // Inside a subquery over one to-many relationship (`nested`), key paths
  // through another one are refused: evaluate() flattens them into a single
  // collection, which a subquery per element cannot reproduce.
  [[nodiscard]] std::optional<SQLOperand> resolve(const std::vector<std::string>& keyPath, SQLScope& scope, Error* error,
                                    bool nested = false);
  SQLOperand self(const SQLScope& scope) const;

  // EXISTS over the elements of `toMany` (each an operand of the subquery's
  // row) for which `test` holds.
  using ElementTest = std::function<std::optional<SQLText>(const SQLOperand& element)>;
  [[nodiscard]] std::optional<SQLText> exists(const SQLToMany& toMany, const ElementTest& test, Error* error);

 private:
  std::string newAlias() { return "t" + std::to_string(nextAlias_++); }
  std::string column(const std::string& alias, const std::string& name) const {
    return alias + "." + quoteSQLIdentifier(name);
  }
  std::string primaryKey(const std::string& alias, const std::string& entity) const {
    return column(alias, mapper_.primaryKeyColumn(entity));
  }
  std::string joinToOne(SQLScope& scope, const std::string& path, const std::string& ownerAlias,
                        const SQLProperty& toOne);
  SQLOperand count(const SQLToMany& toMany);

  const SQLSchemaMapper& mapper_;
  int nextAlias_ = 1;
};

}  // namespace qlt
