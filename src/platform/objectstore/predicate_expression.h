#pragma once

#include <string>
#include <vector>

#include "platform/objectstore/value.h"

namespace qlt {

// The collection operator that may end a key path through a to-many
// relationship: "tags.@count".
inline constexpr const char* kCountOperator = "@count";

// One side of a comparison: a constant, a key path of the evaluated object,
// the object itself (SELF), or an aggregate {a, b, ...} of expressions.
class Expression {
 public:
  enum class Kind { Constant, KeyPath, Self, Aggregate };

  // The nil constant.
  Expression() = default;
  static Expression constant(Value value);
  // `components` must not be empty; "folder.name" is {"folder", "name"}.
  static Expression keyPath(std::vector<std::string> components);
  static Expression self();
  static Expression aggregate(std::vector<Expression> elements);

  Kind kind() const { return kind_; }
  const Value& constantValue() const { return constant_; }
  const std::vector<std::string>& keyPath() const { return components_; }
  const std::vector<Expression>& elements() const { return elements_; }

  // Whether the value is the same for every object: no key path or SELF.
  bool isConstant() const;
  // 1 for everything but aggregates, which add one level per nesting.
  int depth() const;

  // In format syntax; reserved words among the keys are escaped with '#'.
  std::string description() const;

 private:
  Kind kind_ = Kind::Constant;
  Value constant_;
  std::vector<std::string> components_;
  std::vector<Expression> elements_;
};

// Whether `word` is a keyword of formats (case-insensitively) and must be
// written "#word" to be read as a key. Any key may be written with '#'.
bool isReservedPredicateWord(std::string_view word);

// `value` as a format literal: "quoted strings", YES, nil, {1, 2}.
std::string predicateLiteral(const Value& value);

}  // namespace qlt
