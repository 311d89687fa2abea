#pragma once

#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/foundation/error.h"
#include "platform/objectstore/predicate_expression.h"
#include "platform/objectstore/value.h"

namespace qlt {

// Formats nested deeper than this (parentheses, NOT, aggregates) are
// rejected; evaluation and SQL compilation refuse deeper trees too.
inline constexpr int kMaxPredicateDepth = 100;

enum class ComparisonOperator {
  Equal,
  NotEqual,
  Less,
  LessOrEqual,
  Greater,
  GreaterOrEqual,
  In,
  Between,
  BeginsWith,
  EndsWith,
  Contains,
  Like,
  Matches,
};

// ANY and ALL apply the operator to each element of the left-hand
// collection.
enum class ComparisonModifier { Direct, Any, All };

// `options` are CompareOptions (platform/string_comparison.h): [c] is
// CaseInsensitive, [d] DiacriticInsensitive, [cd] both plus WidthInsensitive.
// They only affect string operands.
struct Comparison {
  Expression lhs;
  ComparisonOperator op = ComparisonOperator::Equal;
  Expression rhs;
  ComparisonModifier modifier = ComparisonModifier::Direct;
  unsigned options = 0;

  std::string description() const;
};

class Predicate;
using PredicatePtr = std::shared_ptr<const Predicate>;

// An immutable predicate tree; nodes are shared between trees.
class Predicate {
 public:
  enum class Kind { True, False, And, Or, Not, Comparison };

  // Parses `format`, taking %@, %K, %d and %f arguments from `arguments` in
  // order. Fails with a QLTPredicateErrorDomain error naming the position.
  static PredicatePtr withFormat(std::string_view format, std::vector<Value> arguments = {}, Error* error = nullptr);

  static PredicatePtr truePredicate();
  static PredicatePtr falsePredicate();
  // An empty AND is true, an empty OR false.
  static PredicatePtr andPredicate(std::vector<PredicatePtr> subpredicates);
  static PredicatePtr orPredicate(std::vector<PredicatePtr> subpredicates);
  static PredicatePtr notPredicate(PredicatePtr subpredicate);
  static PredicatePtr comparisonPredicate(Comparison comparison);

  Kind kind() const { return kind_; }
  // The operands of AND and OR, the single operand of NOT.
  const std::vector<PredicatePtr>& subpredicates() const { return subpredicates_; }
  // Only for Kind::Comparison.
  const Comparison& comparison() const { return *comparison_; }
  // Levels of the tree, counting aggregate nesting inside comparisons.
  int depth() const { return depth_; }

  // In format syntax; reads back to an equal predicate unless it holds
  // constants that have no literal form (dates, data, object IDs).
  std::string description() const;

  struct Passkey {
   private:
    Passkey() = default;
    friend class Predicate;
  };
  Predicate(Passkey, Kind kind, std::vector<PredicatePtr> subpredicates, std::optional<Comparison> comparison);

 private:
  Kind kind_;
  std::vector<PredicatePtr> subpredicates_;
  std::optional<Comparison> comparison_;
  int depth_ = 1;
};

}  // namespace qlt
