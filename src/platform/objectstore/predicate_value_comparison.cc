#include "platform/objectstore/predicate_value_comparison.h"

#include <cmath>
#include <map>
#include <memory>
#include <string>
#include <utility>

#include "platform/foundation/regular_expression.h"
#include "platform/foundation/string_comparison.h"
#include "platform/foundation/string_matching.h"

namespace qlt {
namespace {

int sign(auto difference) { return difference < 0 ? -1 : (difference > 0 ? 1 : 0); }

// A predicate evaluated over many objects matches the same few expressions
// again and again; compiling them once per thread keeps that cheap.
bool regexMatches(const std::string& pattern, const std::string& text, unsigned options) {
  using Key = std::pair<std::string, unsigned>;
  thread_local std::map<Key, std::unique_ptr<RegularExpression>> cache;
  Key key(pattern, options);
  auto found = cache.find(key);
  if (found == cache.end()) {
    if (cache.size() >= 16) cache.clear();
    found = cache.emplace(key, RegularExpression::make(pattern, options)).first;
  }
  return found->second && found->second->matchesWhole(text);
}

bool anyElementEqual(const ValueList& list, const Value& value, unsigned options) {
  for (const Value& element : list) {
    if (predicateValuesEqual(element, value, options)) return true;
  }
  return false;
}

bool ordered(const Value& lhs, const Value& rhs, unsigned options, bool (*test)(int)) {
  std::optional<int> order = predicateValueOrder(lhs, rhs, options);
  return order && test(*order);
}

}  // namespace

bool predicateValuesEqual(const Value& lhs, const Value& rhs, unsigned options) {
  if (lhs.string() && rhs.string()) {
    if (options == 0) return *lhs.string() == *rhs.string();
    return compareStrings(*lhs.string(), *rhs.string(), options) == 0;
  }
  return lhs == rhs;
}

std::optional<int> predicateValueOrder(const Value& lhs, const Value& rhs, unsigned options) {
  if (lhs.isNumber() && rhs.isNumber()) {
    if (lhs.integer() && rhs.integer()) return sign(*lhs.integer() <=> *rhs.integer());
    double a = *lhs.numberValue(), b = *rhs.numberValue();
    if (std::isnan(a) || std::isnan(b)) return std::nullopt;
    return sign(a - b);
  }
  if (lhs.type() != rhs.type()) return std::nullopt;
  switch (lhs.type()) {
    case Value::Type::String:
      if (options == 0) return sign(lhs.string()->compare(*rhs.string()));
      return compareStrings(*lhs.string(), *rhs.string(), options);
    case Value::Type::Date: {
      double a = lhs.date()->timeIntervalSinceReferenceDate(), b = rhs.date()->timeIntervalSinceReferenceDate();
      if (std::isnan(a) || std::isnan(b)) return std::nullopt;
      return sign(a - b);
    }
    case Value::Type::Data:
      return sign(*lhs.data() <=> *rhs.data());
    default:
      return std::nullopt;
  }
}

bool comparePredicateValues(const Value& lhs, ComparisonOperator op, const Value& rhs, unsigned options) {
  const std::string* text = lhs.string();
  const std::string* operand = rhs.string();
  switch (op) {
    case ComparisonOperator::Equal:
      return predicateValuesEqual(lhs, rhs, options);
    case ComparisonOperator::NotEqual:
      return !predicateValuesEqual(lhs, rhs, options);
    case ComparisonOperator::Less:
      return ordered(lhs, rhs, options, [](int order) { return order < 0; });
    case ComparisonOperator::LessOrEqual:
      return ordered(lhs, rhs, options, [](int order) { return order <= 0; });
    case ComparisonOperator::Greater:
      return ordered(lhs, rhs, options, [](int order) { return order > 0; });
    case ComparisonOperator::GreaterOrEqual:
      return ordered(lhs, rhs, options, [](int order) { return order >= 0; });
    case ComparisonOperator::In:
      if (const ValueList* list = rhs.collection()) return anyElementEqual(*list, lhs, options);
      return text && operand && stringContains(*operand, *text, options);
    case ComparisonOperator::Contains:
      if (const ValueList* list = lhs.collection()) return anyElementEqual(*list, rhs, options);
      return text && operand && stringContains(*text, *operand, options);
    case ComparisonOperator::Between: {
      const ValueList* range = rhs.collection();
      if (!range || range->size() != 2) return false;
      return comparePredicateValues(lhs, ComparisonOperator::GreaterOrEqual, (*range)[0], options) &&
             comparePredicateValues(lhs, ComparisonOperator::LessOrEqual, (*range)[1], options);
    }
    case ComparisonOperator::BeginsWith:
      return text && operand && stringHasPrefix(*text, *operand, options);
    case ComparisonOperator::EndsWith:
      return text && operand && stringHasSuffix(*text, *operand, options);
    case ComparisonOperator::Like:
      return text && operand && LikePattern(*operand, options).matches(*text);
    case ComparisonOperator::Matches:
      return text && operand && regexMatches(*operand, *text, options);
  }
  return false;
}

}  // namespace qlt
