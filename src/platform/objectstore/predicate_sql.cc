#include "platform/objectstore/predicate_sql.h"

#include "platform/foundation/regular_expression.h"
#include "platform/foundation/string_comparison.h"
#include "platform/objectstore/predicate_error.h"
#include "platform/objectstore/predicate_evaluation.h"
#include "platform/objectstore/predicate_sql_key_paths.h"
#include "platform/objectstore/predicate_value_comparison.h"

namespace qlt {
namespace {

using Op = ComparisonOperator;
using Shape = SQLOperand::Shape;
using Optional = std::optional<SQLText>;

bool isOrdering(Op op) {
  return op == Op::Less || op == Op::LessOrEqual || op == Op::Greater || op == Op::GreaterOrEqual;
}

const char* orderingSymbol(Op op) {
  switch (op) {
    case Op::Less:
      return " < ";
    case Op::LessOrEqual:
      return " <= ";
    case Op::Greater:
      return " > ";
    default:
      return " >= ";
  }
}

SQLText joined(const std::vector<SQLText>& parts, const char* separator, bool ifEmpty) {
  if (parts.empty()) return SQLText::literal(ifEmpty);
  if (parts.size() == 1) return parts.front();
  SQLText text("(");
  for (size_t i = 0; i < parts.size(); ++i) {
    if (i) text += separator;
    text += parts[i];
  }
  return text + ")";
}

SQLText negated(const SQLText& condition) { return SQLText("NOT ") + condition; }

// Comparisons compile to conditions that are 0 or 1 even when a column is
// NULL, so that NOT, AND and OR keep the two-valued logic of evaluate().
class Compiler {
 public:
  Compiler(const SQLSchemaMapper& mapper, Error* error) : resolver_(mapper), error_(error) {}

  Optional predicate(const Predicate& predicate, SQLScope& scope) {
    switch (predicate.kind()) {
      case Predicate::Kind::True:
        return SQLText::literal(true);
      case Predicate::Kind::False:
        return SQLText::literal(false);
      case Predicate::Kind::Not: {
        Optional operand = this->predicate(*predicate.subpredicates().front(), scope);
        return operand ? Optional(negated(*operand)) : std::nullopt;
      }
      case Predicate::Kind::And:
      case Predicate::Kind::Or: {
        bool conjunction = predicate.kind() == Predicate::Kind::And;
        std::vector<SQLText> parts;
        for (const PredicatePtr& subpredicate : predicate.subpredicates()) {
          Optional part = this->predicate(*subpredicate, scope);
          if (!part) return std::nullopt;
          parts.push_back(std::move(*part));
        }
        return joined(parts, conjunction ? " AND " : " OR ", conjunction);
      }
      case Predicate::Kind::Comparison:
        return comparison(predicate.comparison(), scope);
    }
    return std::nullopt;
  }

 private:
  std::nullopt_t fail(const std::string& message) {
    setError(error_, predicateError(kPredicateUnsupportedError, message));
    return std::nullopt;
  }

  Optional comparison(const Comparison& comparison, SQLScope& scope) {
    if (comparison.lhs.isConstant() && comparison.rhs.isConstant()) {
      return SQLText::literal(evaluateComparison(comparison, nullptr));
    }
    std::optional<SQLOperand> lhs = operand(comparison.lhs, scope);
    if (!lhs) return std::nullopt;
    std::optional<SQLOperand> rhs = operand(comparison.rhs, scope);
    if (!rhs) return std::nullopt;
    auto test = [&](const SQLOperand& element) { return direct(element, comparison.op, *rhs, comparison.options); };
    switch (comparison.modifier) {
      case ComparisonModifier::Direct:
        return direct(*lhs, comparison.op, *rhs, comparison.options);
      case ComparisonModifier::Any:
        return any(*lhs, test);
      case ComparisonModifier::All:
        return all(*lhs, test);
    }
    return std::nullopt;
  }

  std::optional<SQLOperand> operand(const Expression& expression, SQLScope& scope) {
    if (expression.isConstant()) return SQLOperand::constantOperand(evaluateExpression(expression, nullptr));
    switch (expression.kind()) {
      case Expression::Kind::Self:
        return resolver_.self(scope);
      case Expression::Kind::KeyPath:
        return resolver_.resolve(expression.keyPath(), scope, error_);
      case Expression::Kind::Aggregate: {
        SQLOperand list;
        list.shape = Shape::List;
        for (const Expression& element : expression.elements()) {
          std::optional<SQLOperand> compiled = operand(element, scope);
          if (!compiled) return std::nullopt;
          list.elements.push_back(std::move(*compiled));
        }
        return list;
      }
      case Expression::Kind::Constant:
        break;
    }
    return std::nullopt;
  }

  // Whether `test` holds for some element; collections as in evaluate():
  // nil has no elements, a single value is its only element.
  Optional any(const SQLOperand& collection, const SQLKeyPathResolver::ElementTest& test) {
    std::vector<SQLText> parts;
    switch (collection.shape) {
      case Shape::ToMany:
        return resolver_.exists(collection.toMany, test, error_);
      case Shape::Scalar: {
        Optional condition = test(collection);
        if (!condition || !collection.nullable) return condition;
        return SQLText("(") + collection.sql + " IS NOT NULL AND " + *condition + ")";
      }
      case Shape::List:
        for (const SQLOperand& element : collection.elements) {
          Optional part = test(element);
          if (!part) return std::nullopt;
          parts.push_back(std::move(*part));
        }
        break;
      case Shape::Constant:
        if (!collection.constant.collection()) {
          if (collection.constant.isNull()) return SQLText::literal(false);
          return test(collection);
        }
        for (const Value& element : *collection.constant.collection()) {
          Optional part = test(SQLOperand::constantOperand(element));
          if (!part) return std::nullopt;
          parts.push_back(std::move(*part));
        }
        break;
    }
    return joined(parts, " OR ", false);
  }

  Optional all(const SQLOperand& collection, const SQLKeyPathResolver::ElementTest& test) {
    Optional counterexample = any(collection, [&](const SQLOperand& element) -> Optional {
      Optional condition = test(element);
      return condition ? Optional(negated(*condition)) : std::nullopt;
    });
    return counterexample ? Optional(negated(*counterexample)) : std::nullopt;
  }

  Optional direct(const SQLOperand& lhs, Op op, const SQLOperand& rhs, unsigned options) {
    if (lhs.shape == Shape::Constant && rhs.shape == Shape::Constant) {
      return SQLText::literal(comparePredicateValues(lhs.constant, op, rhs.constant, options));
    }
    switch (op) {
      case Op::Contains:
        if (lhs.isCollection()) {
          return any(lhs, [&](const SQLOperand& element) { return direct(element, Op::Equal, rhs, options); });
        }
        return stringTest(op, lhs, rhs, options);
      case Op::In:
        if (!rhs.isCollection()) return stringTest(Op::Contains, rhs, lhs, options);
        if (lhs.shape == Shape::Scalar && rhs.shape == Shape::Constant) return inList(lhs, rhs.constant, options);
        return any(rhs, [&](const SQLOperand& element) { return direct(lhs, Op::Equal, element, options); });
      case Op::Between:
        return between(lhs, rhs, options);
      default:
        break;
    }
    if (lhs.shape == Shape::ToMany || rhs.shape == Shape::ToMany) {
      return fail("A to-many key path can only be compared with ANY, ALL, CONTAINS, IN or @count");
    }
    if (lhs.isCollection() && rhs.isCollection()) return fail("Cannot compare two aggregates");
    // A collection is never equal to, nor ordered with, a single value.
    if (lhs.isCollection() || rhs.isCollection()) return SQLText::literal(op == Op::NotEqual);
    if (op == Op::Equal || op == Op::NotEqual) return equality(lhs, op == Op::Equal, rhs, options);
    if (isOrdering(op)) return ordering(lhs, op, rhs, options);
    return stringTest(op, lhs, rhs, options);
  }

  Optional between(const SQLOperand& lhs, const SQLOperand& range, unsigned options) {
    std::vector<SQLOperand> bounds;
    if (range.shape == Shape::List) bounds = range.elements;
    if (range.shape == Shape::Constant && range.constant.collection()) {
      for (const Value& bound : *range.constant.collection()) bounds.push_back(SQLOperand::constantOperand(bound));
    }
    if (bounds.size() != 2) return fail("BETWEEN needs a collection of two values");
    Optional low = direct(lhs, Op::GreaterOrEqual, bounds[0], options);
    Optional high = low ? direct(lhs, Op::LessOrEqual, bounds[1], options) : std::nullopt;
    if (!high) return std::nullopt;
    return joined({*low, *high}, " AND ", true);
  }

  // A constant as the value stored in a column of its category; nullopt for
  // an object ID that names no row of `entity`.
  std::optional<SQLText> bound(const Value& value, const std::string& entity) {
    switch (value.type()) {
      case Value::Type::Boolean:
        return SQLText::parameter(Value(*value.boolean() ? 1 : 0));
      case Value::Type::Date:
        return SQLText::parameter(Value(value.date()->timeIntervalSinceReferenceDate()));
      case Value::Type::Object: {
        std::optional<int64_t> key = resolver_.mapper().primaryKey(*value.objectID(), entity);
        if (!key) return std::nullopt;
        return SQLText::parameter(Value(*key));
      }
      default:
        return SQLText::parameter(value);
    }
  }

  std::optional<SQLText> sqlOf(const SQLOperand& operand, const std::string& entity) {
    if (operand.shape == Shape::Scalar) return operand.sql;
    return bound(operand.constant, entity);
  }

  // Whether values of the two operands can ever be equal or ordered.
  bool comparable(const SQLOperand& lhs, const SQLOperand& rhs) const {
    if (lhs.category() != rhs.category()) return false;
    if (lhs.category() != SQLCategory::Object || lhs.shape != Shape::Scalar || rhs.shape != Shape::Scalar) return true;
    const SQLSchemaMapper& mapper = resolver_.mapper();
    return mapper.tableName(lhs.entity) == mapper.tableName(rhs.entity);
  }

  static std::string objectEntity(const SQLOperand& lhs, const SQLOperand& rhs) {
    return lhs.shape == Shape::Scalar ? lhs.entity : rhs.entity;
  }

  static SQLText folded(const SQLText& text, unsigned options) {
    return SQLText("qlt_fold(") + text + ", " + std::to_string(options) + ")";
  }

  Optional equality(const SQLOperand& lhs, bool equal, const SQLOperand& rhs, unsigned options) {
    const char* is = equal ? " IS " : " IS NOT ";
    if (lhs.category() == SQLCategory::Null || rhs.category() == SQLCategory::Null) {
      const SQLOperand& other = lhs.category() == SQLCategory::Null ? rhs : lhs;
      if (!other.nullable) return SQLText::literal(!equal);
      return SQLText("(") + other.sql + is + "NULL)";
    }
    if (!comparable(lhs, rhs)) {
      // Values of different kinds are never equal, but nil equals nil.
      if (!lhs.nullable || !rhs.nullable) return SQLText::literal(!equal);
      SQLText bothNil = SQLText("(") + lhs.sql + " IS NULL AND " + rhs.sql + " IS NULL)";
      return equal ? bothNil : negated(bothNil);
    }
    std::string entity = objectEntity(lhs, rhs);
    std::optional<SQLText> left = sqlOf(lhs, entity), right = sqlOf(rhs, entity);
    if (!left || !right) return SQLText::literal(!equal);
    if (lhs.category() != SQLCategory::String) return SQLText("(") + *left + is + *right + ")";
    if (options) return SQLText("(") + folded(*left, options) + is + folded(*right, options) + ")";
    return SQLText("(") + *left + is + *right + " COLLATE BINARY)";
  }

  // NULL-safe: a NULL operand makes the comparison 0.
  static SQLText guarded(const SQLOperand& lhs, const SQLOperand& rhs, const SQLText& comparison) {
    SQLText text("(");
    for (const SQLOperand* operand : {&lhs, &rhs}) {
      if (operand->shape == Shape::Scalar && operand->nullable) text += operand->sql + " IS NOT NULL AND ";
    }
    return text + comparison + ")";
  }

  Optional ordering(const SQLOperand& lhs, Op op, const SQLOperand& rhs, unsigned options) {
    if (!comparable(lhs, rhs) || lhs.category() == SQLCategory::Null || lhs.category() == SQLCategory::Object) {
      return SQLText::literal(false);
    }
    std::optional<SQLText> left = sqlOf(lhs, {}), right = sqlOf(rhs, {});
    if (lhs.category() != SQLCategory::String) return guarded(lhs, rhs, *left + orderingSymbol(op) + *right);
    if (options) return guarded(lhs, rhs, folded(*left, options) + orderingSymbol(op) + folded(*right, options));
    return guarded(lhs, rhs, *left + orderingSymbol(op) + *right + " COLLATE BINARY");
  }

  // BEGINSWITH, ENDSWITH, LIKE, MATCHES, and CONTAINS of strings; the
  // functions give 0 for NULL.
  Optional stringTest(Op op, const SQLOperand& text, const SQLOperand& operand, unsigned options) {
    if (text.category() != SQLCategory::String || operand.category() != SQLCategory::String) {
      return SQLText::literal(false);
    }
    if (op == Op::Matches && operand.shape == Shape::Constant) {
      Error invalid;
      if (!RegularExpression::make(*operand.constant.string(), options, &invalid)) {
        return fail("Invalid regular expression: " + invalid.localizedDescription());
      }
    }
    SQLText subject = *sqlOf(text, {}), argument = *sqlOf(operand, {});
    std::string suffix = ", " + std::to_string(options) + ")";
    switch (op) {
      case Op::BeginsWith:
        return SQLText("qlt_beginswith(") + subject + ", " + argument + suffix;
      case Op::EndsWith:
        return SQLText("qlt_endswith(") + subject + ", " + argument + suffix;
      case Op::Contains:
        return SQLText("qlt_contains(") + subject + ", " + argument + suffix;
      case Op::Like:
        return SQLText("qlt_like(") + argument + ", " + subject + suffix;
      case Op::Matches:
        return SQLText("qlt_matches(") + argument + ", " + subject + suffix;
      default:
        return fail("Not a string operator");
    }
  }

  static constexpr size_t kMaxBoundListElements = 500;

  // `lhs IN (constants)`, with the constants that can equal lhs.
  Optional inList(const SQLOperand& lhs, const Value& list, unsigned options) {
    bool string = lhs.category() == SQLCategory::String;
    bool containsNil = false;
    SQLText items;
    size_t count = 0;
    for (const Value& element : *list.collection()) {
      SQLOperand constant = SQLOperand::constantOperand(element);
      if (element.isNull()) containsNil = true;
      if (!comparable(lhs, constant)) continue;
      std::optional<SQLText> value = bound(element, lhs.entity);
      if (!value) continue;
      // Long lists of objects go in as literal keys: SQLite limits the
      // number of parameters of a statement.
      if (list.collection()->size() > kMaxBoundListElements && element.objectID())
        value = SQLText(std::to_string(*value->parameters.front().integer()));
      if (count++) items += ", ";
      items += string && options ? folded(*value, options) : *value;
    }
    std::vector<SQLText> parts;
    if (count) {
      SQLText subject = string ? (options ? folded(lhs.sql, options) : lhs.sql + " COLLATE BINARY") : lhs.sql;
      SQLText test = subject + " IN (" + items + ")";
      parts.push_back(lhs.nullable ? SQLText("(") + lhs.sql + " IS NOT NULL AND " + test + ")" : test);
    }
    if (containsNil && lhs.nullable) parts.push_back(SQLText("(") + lhs.sql + " IS NULL)");
    return joined(parts, " OR ", false);
  }

  SQLKeyPathResolver resolver_;
  Error* error_;
};

}  // namespace

bool compileToSQL(const Predicate& predicate, const std::string& entity, const SQLSchemaMapper& mapper,
                  SQLFragment* out, Error* error) {
  if (predicate.depth() > kMaxPredicateDepth) {
    setError(error, predicateError(kPredicateTooDeepError, "Predicate nested too deeply"));
    return false;
  }
  Compiler compiler(mapper, error);
  SQLScope scope{entity, kSQLRootAlias, {}, {}};
  std::optional<SQLText> where = compiler.predicate(predicate, scope);
  if (!where) return false;
  if (out) {
    out->where = std::move(where->text);
    out->joins = std::move(scope.joins);
    out->parameters = std::move(where->parameters);
  }
  return true;
}

}  // namespace qlt
