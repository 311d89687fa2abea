#include "platform/objectstore/predicate_evaluation.h"

#include "platform/objectstore/predicate_value_comparison.h"

namespace qlt {
namespace {

Value valueOfKey(const ObjectAccessor& origin, const Value& value, const std::string& key) {
  const ObjectID* id = value.objectID();
  if (!id) return Value();
  const ObjectAccessor* object = origin.objectForID(*id);
  return object ? object->valueForKey(key) : Value();
}

// The elements ANY and ALL range over: a collection's elements, nothing for
// nil, the value itself otherwise.
ValueList elementsOf(const Value& value) {
  if (const ValueList* list = value.collection()) return *list;
  if (value.isNull()) return {};
  return {value};
}

bool evaluateNode(const Predicate& predicate, const ObjectAccessor& object) {
  switch (predicate.kind()) {
    case Predicate::Kind::True:
      return true;
    case Predicate::Kind::False:
      return false;
    case Predicate::Kind::Not:
      return !evaluateNode(*predicate.subpredicates().front(), object);
    case Predicate::Kind::And:
      for (const PredicatePtr& operand : predicate.subpredicates()) {
        if (!evaluateNode(*operand, object)) return false;
      }
      return true;
    case Predicate::Kind::Or:
      for (const PredicatePtr& operand : predicate.subpredicates()) {
        if (evaluateNode(*operand, object)) return true;
      }
      return false;
    case Predicate::Kind::Comparison:
      return evaluateComparison(predicate.comparison(), &object);
  }
  return false;
}

}  // namespace

Value valueForKeyPath(const ObjectAccessor& object, const std::vector<std::string>& keyPath) {
  if (keyPath.empty()) return Value();
  Value value = object.valueForKey(keyPath.front());
  for (size_t i = 1; i < keyPath.size(); ++i) {
    const std::string& key = keyPath[i];
    if (key == kCountOperator) {
      const ValueList* list = value.collection();
      value = list ? Value(static_cast<int64_t>(list->size())) : Value();
    } else if (const ValueList* list = value.collection()) {
      ValueList results;
      for (const Value& element : *list) {
        Value result = valueOfKey(object, element, key);
        if (const ValueList* nested = result.collection()) {
          results.insert(results.end(), nested->begin(), nested->end());
        } else {
          results.push_back(std::move(result));
        }
      }
      value = Value(std::move(results));
    } else {
      value = valueOfKey(object, value, key);
    }
  }
  return value;
}

Value evaluateExpression(const Expression& expression, const ObjectAccessor* object) {
  switch (expression.kind()) {
    case Expression::Kind::Constant:
      return expression.constantValue();
    case Expression::Kind::Self:
      return object ? Value(object->objectID()) : Value();
    case Expression::Kind::KeyPath:
      return object ? valueForKeyPath(*object, expression.keyPath()) : Value();
    case Expression::Kind::Aggregate: {
      ValueList values;
      for (const Expression& element : expression.elements()) values.push_back(evaluateExpression(element, object));
      return Value(std::move(values));
    }
  }
  return Value();
}

bool evaluateComparison(const Comparison& comparison, const ObjectAccessor* object) {
  Value lhs = evaluateExpression(comparison.lhs, object);
  Value rhs = evaluateExpression(comparison.rhs, object);
  switch (comparison.modifier) {
    case ComparisonModifier::Direct:
      return comparePredicateValues(lhs, comparison.op, rhs, comparison.options);
    case ComparisonModifier::Any:
      for (const Value& element : elementsOf(lhs)) {
        if (comparePredicateValues(element, comparison.op, rhs, comparison.options)) return true;
      }
      return false;
    case ComparisonModifier::All:
      for (const Value& element : elementsOf(lhs)) {
        if (!comparePredicateValues(element, comparison.op, rhs, comparison.options)) return false;
      }
      return true;
  }
  return false;
}

bool evaluate(const Predicate& predicate, const ObjectAccessor& object) {
  return predicate.depth() <= kMaxPredicateDepth && evaluateNode(predicate, object);
}

}  // namespace qlt
