#include "platform/objectstore/predicate_sql_key_paths.h"

#include "platform/objectstore/predicate_error.h"
#include "platform/objectstore/predicate_expression.h"

namespace qlt {

SQLText SQLText::parameter(Value value) {
  SQLText text("?");
  text.parameters.push_back(std::move(value));
  return text;
}

SQLText& SQLText::operator+=(const SQLText& other) {
  text += other.text;
  parameters.insert(parameters.end(), other.parameters.begin(), other.parameters.end());
  return *this;
}

SQLText operator+(SQLText lhs, const SQLText& rhs) { return lhs += rhs; }

SQLCategory sqlCategory(const Value& value) {
  switch (value.type()) {
    case Value::Type::Null:
      return SQLCategory::Null;
    case Value::Type::Boolean:
    case Value::Type::Integer:
    case Value::Type::Double:
      return SQLCategory::Number;
    case Value::Type::String:
      return SQLCategory::String;
    case Value::Type::Date:
      return SQLCategory::Date;
    case Value::Type::Data:
      return SQLCategory::Data;
    case Value::Type::Object:
      return SQLCategory::Object;
    case Value::Type::Collection:
      return SQLCategory::Collection;
  }
  return SQLCategory::Null;
}

SQLOperand SQLOperand::constantOperand(Value value) {
  SQLOperand operand;
  operand.constant = std::move(value);
  return operand;
}

SQLOperand SQLOperand::scalar(SQLText sql, SQLCategory category, bool nullable, std::string entity) {
  SQLOperand operand;
  operand.shape = Shape::Scalar;
  operand.sql = std::move(sql);
  operand.scalarCategory = category;
  operand.nullable = nullable;
  operand.entity = std::move(entity);
  return operand;
}

SQLCategory SQLOperand::category() const {
  switch (shape) {
    case Shape::Constant:
      return sqlCategory(constant);
    case Shape::Scalar:
      return scalarCategory;
    case Shape::List:
    case Shape::ToMany:
      return SQLCategory::Collection;
  }
  return SQLCategory::Null;
}

std::string quoteSQLIdentifier(const std::string& identifier) {
  std::string quoted = "\"";
  for (char c : identifier) quoted += c == '"' ? std::string("\"\"") : std::string(1, c);
  return quoted + "\"";
}

namespace {

SQLCategory columnCategory(SQLColumnType type) {
  switch (type) {
    case SQLColumnType::Integer:
    case SQLColumnType::Real:
    case SQLColumnType::Boolean:
      return SQLCategory::Number;
    case SQLColumnType::Text:
      return SQLCategory::String;
    case SQLColumnType::Blob:
      return SQLCategory::Data;
    case SQLColumnType::Date:
      return SQLCategory::Date;
  }
  return SQLCategory::Null;
}

std::nullopt_t fail(Error* error, const std::string& message) {
  setError(error, predicateError(kPredicateUnsupportedError, message));
  return std::nullopt;
}

}  // namespace

SQLOperand SQLKeyPathResolver::self(const SQLScope& scope) const {
  return SQLOperand::scalar(primaryKey(scope.alias, scope.entity), SQLCategory::Object, false, scope.entity);
}

std::string SQLKeyPathResolver::joinToOne(SQLScope& scope, const std::string& path, const std::string& ownerAlias,
                                          const SQLProperty& toOne) {
  auto found = scope.aliasByPath.find(path);
  if (found != scope.aliasByPath.end()) return found->second;
  std::string alias = newAlias();
  scope.joins.push_back("LEFT JOIN " + quoteSQLIdentifier(mapper_.tableName(toOne.destinationEntity)) + " " + alias +
                        " ON " + primaryKey(alias, toOne.destinationEntity) + " = " + column(ownerAlias, toOne.column));
  scope.aliasByPath.emplace(path, alias);
  return alias;
}

std::optional<SQLOperand> SQLKeyPathResolver::resolve(const std::vector<std::string>& keyPath, SQLScope& scope,
                                                      Error* error, bool nested) {
  std::string entity = scope.entity;
  std::string alias = scope.alias;
  std::string path;
  bool nullable = false;
  for (size_t i = 0; i < keyPath.size(); ++i) {
    const std::string& key = keyPath[i];
    if (key == kCountOperator) return fail(error, "@count must follow a to-many relationship");
    std::optional<SQLProperty> property = mapper_.property(entity, key);
    if (!property) return fail(error, "Unknown key '" + key + "' of entity " + entity);
    bool last = i + 1 == keyPath.size();
    switch (property->kind) {
      case SQLProperty::Kind::Attribute:
        if (!last) return fail(error, "Key path goes on after attribute '" + key + "'");
        return SQLOperand::scalar(column(alias, property->column), columnCategory(property->type), true);
      case SQLProperty::Kind::ToOne:
        if (last) {
          return SQLOperand::scalar(column(alias, property->column), SQLCategory::Object, true,
                                    property->destinationEntity);
        }
        path += key + ".";
        alias = joinToOne(scope, path, alias, *property);
        entity = property->destinationEntity;
        nullable = true;
        break;
      case SQLProperty::Kind::ToMany: {
        if (nested) return fail(error, "Key paths through more than one to-many relationship are not supported");
        SQLOperand operand;
        operand.shape = SQLOperand::Shape::ToMany;
        operand.toMany = {alias, entity, nullable, *property, {keyPath.begin() + i + 1, keyPath.end()}};
        if (operand.toMany.rest.size() == 1 && operand.toMany.rest.front() == kCountOperator) {
          return count(operand.toMany);
        }
        return operand;
      }
    }
  }
  return fail(error, "Empty key path");
}

SQLOperand SQLKeyPathResolver::count(const SQLToMany& toMany) {
  const SQLProperty& relationship = toMany.relationship;
  std::string alias = newAlias();
  std::string owner = primaryKey(toMany.ownerAlias, toMany.ownerEntity);
  std::string counted = relationship.inverseColumn.empty()
                            ? "(SELECT COUNT(*) FROM " + quoteSQLIdentifier(relationship.joinTable) + " " + alias +
                                  " WHERE " + column(alias, relationship.joinSourceColumn) + " = " + owner + ")"
                            : "(SELECT COUNT(*) FROM " +
                                  quoteSQLIdentifier(mapper_.tableName(relationship.destinationEntity)) + " " + alias +
                                  " WHERE " + column(alias, relationship.inverseColumn) + " = " + owner + ")";
  // Through a nil to-one the count is nil, as in memory, not 0.
  if (toMany.ownerNullable) counted = "CASE WHEN " + owner + " IS NULL THEN NULL ELSE " + counted + " END";
  return SQLOperand::scalar(counted, SQLCategory::Number, toMany.ownerNullable);
}

std::optional<SQLText> SQLKeyPathResolver::exists(const SQLToMany& toMany, const ElementTest& test, Error* error) {
  const SQLProperty& relationship = toMany.relationship;
  const std::string& destination = relationship.destinationEntity;
  std::string owner = primaryKey(toMany.ownerAlias, toMany.ownerEntity);
  SQLScope scope{destination, newAlias(), {}, {}};
  std::string from = quoteSQLIdentifier(mapper_.tableName(destination)) + " " + scope.alias;
  std::string correlation;
  std::optional<SQLOperand> element;
  if (relationship.inverseColumn.empty()) {
    std::string link = newAlias();
    correlation = column(link, relationship.joinSourceColumn) + " = " + owner;
    std::string destinationKey = column(link, relationship.joinDestinationColumn);
    if (toMany.rest.empty()) {
      // The join table alone names the elements.
      from = quoteSQLIdentifier(relationship.joinTable) + " " + link;
      element = SQLOperand::scalar(destinationKey, SQLCategory::Object, false, destination);
    } else {
      from = quoteSQLIdentifier(relationship.joinTable) + " " + link + " JOIN " + from + " ON " +
             primaryKey(scope.alias, destination) + " = " + destinationKey;
    }
  } else {
    correlation = column(scope.alias, relationship.inverseColumn) + " = " + owner;
    if (toMany.rest.empty()) element = self(scope);
  }
  if (!element) {
    element = resolve(toMany.rest, scope, error, true);
    if (!element) return std::nullopt;
  }
  std::optional<SQLText> condition = test(*element);
  if (!condition) return std::nullopt;
  for (const std::string& join : scope.joins) from += " " + join;
  return SQLText("EXISTS (SELECT 1 FROM " + from + " WHERE " + correlation + " AND ") + *condition + ")";
}

}  // namespace qlt
