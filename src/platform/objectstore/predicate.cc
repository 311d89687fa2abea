#include "platform/objectstore/predicate.h"

#include <algorithm>

#include "platform/foundation/string_comparison.h"
#include "platform/objectstore/predicate_parser.h"

namespace qlt {

Predicate::Predicate(Passkey, Kind kind, std::vector<PredicatePtr> subpredicates, std::optional<Comparison> comparison)
    : kind_(kind), subpredicates_(std::move(subpredicates)), comparison_(std::move(comparison)) {
  int deepest = comparison_ ? std::max(comparison_->lhs.depth(), comparison_->rhs.depth()) : 0;
  for (const PredicatePtr& subpredicate : subpredicates_) deepest = std::max(deepest, subpredicate->depth());
  depth_ = 1 + deepest;
}

PredicatePtr Predicate::withFormat(std::string_view format, std::vector<Value> arguments, Error* error) {
  return parsePredicate(format, arguments, error);
}

PredicatePtr Predicate::truePredicate() {
  static const PredicatePtr predicate =
      std::make_shared<const Predicate>(Passkey(), Kind::True, std::vector<PredicatePtr>(), std::nullopt);
  return predicate;
}

PredicatePtr Predicate::falsePredicate() {
  static const PredicatePtr predicate =
      std::make_shared<const Predicate>(Passkey(), Kind::False, std::vector<PredicatePtr>(), std::nullopt);
  return predicate;
}

PredicatePtr Predicate::andPredicate(std::vector<PredicatePtr> subpredicates) {
  return std::make_shared<const Predicate>(Passkey(), Kind::And, std::move(subpredicates), std::nullopt);
}

PredicatePtr Predicate::orPredicate(std::vector<PredicatePtr> subpredicates) {
  return std::make_shared<const Predicate>(Passkey(), Kind::Or, std::move(subpredicates), std::nullopt);
}

PredicatePtr Predicate::notPredicate(PredicatePtr subpredicate) {
  return std::make_shared<const Predicate>(Passkey(), Kind::Not, std::vector<PredicatePtr>{std::move(subpredicate)},
                                           std::nullopt);
}

PredicatePtr Predicate::comparisonPredicate(Comparison comparison) {
  return std::make_shared<const Predicate>(Passkey(), Kind::Comparison, std::vector<PredicatePtr>(),
                                           std::move(comparison));
}

namespace {

const char* operatorText(ComparisonOperator op) {
  switch (op) {
    case ComparisonOperator::Equal:
      return "==";
    case ComparisonOperator::NotEqual:
      return "!=";
    case ComparisonOperator::Less:
      return "<";
    case ComparisonOperator::LessOrEqual:
      return "<=";
    case ComparisonOperator::Greater:
      return ">";
    case ComparisonOperator::GreaterOrEqual:
      return ">=";
    case ComparisonOperator::In:
      return "IN";
    case ComparisonOperator::Between:
      return "BETWEEN";
    case ComparisonOperator::BeginsWith:
      return "BEGINSWITH";
    case ComparisonOperator::EndsWith:
      return "ENDSWITH";
    case ComparisonOperator::Contains:
      return "CONTAINS";
    case ComparisonOperator::Like:
      return "LIKE";
    case ComparisonOperator::Matches:
      return "MATCHES";
  }
  return "?";
}

std::string optionsText(unsigned options) {
  std::string letters;
  if (options & CaseInsensitive) letters += 'c';
  if (options & DiacriticInsensitive) letters += 'd';
  return letters.empty() ? "" : "[" + letters + "]";
}

}  // namespace

std::string Comparison::description() const {
  std::string text;
  if (modifier == ComparisonModifier::Any) text = "ANY ";
  if (modifier == ComparisonModifier::All) text = "ALL ";
  return text + lhs.description() + " " + operatorText(op) + optionsText(options) + " " + rhs.description();
}

std::string Predicate::description() const {
  switch (kind_) {
    case Kind::True:
      return "TRUEPREDICATE";
    case Kind::False:
      return "FALSEPREDICATE";
    case Kind::Comparison:
      return comparison_->description();
    case Kind::Not: {
      const Predicate& operand = *subpredicates_.front();
      bool compound = operand.kind() == Kind::And || operand.kind() == Kind::Or || operand.kind() == Kind::Not;
      return compound ? "NOT (" + operand.description() + ")" : "NOT " + operand.description();
    }
    case Kind::And:
    case Kind::Or: {
      if (subpredicates_.empty()) return kind_ == Kind::And ? "TRUEPREDICATE" : "FALSEPREDICATE";
      std::string text;
      for (size_t i = 0; i < subpredicates_.size(); ++i) {
        const Predicate& operand = *subpredicates_[i];
        bool compound = operand.kind() == Kind::And || operand.kind() == Kind::Or;
        if (i) text += kind_ == Kind::And ? " AND " : " OR ";
        text += compound ? "(" + operand.description() + ")" : operand.description();
      }
      return text;
    }
  }
  return {};
}

}  // namespace qlt
