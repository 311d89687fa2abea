#pragma once

#include <optional>

#include "platform/objectstore/predicate.h"
#include "platform/objectstore/value.h"

namespace qlt {

// Equality as == sees it: nil equals only nil; numbers (Booleans as 0 and
// 1) compare by value across types; strings compare by their bytes, or
// through compareStrings under `options`; dates, data and object IDs by
// value; values of different kinds are unequal.
bool predicateValuesEqual(const Value& lhs, const Value& rhs, unsigned options);

// The order of two values for <, <=, > and >=: -1, 0 or 1, or nullopt when
// they are not ordered (nil, different kinds, object IDs, collections).
// Strings without options order by bytes (code points), with options by
// compareStrings; data by bytes; dates by time.
[[nodiscard]] std::optional<int> predicateValueOrder(const Value& lhs, const Value& rhs, unsigned options);

// `lhs op rhs` for two evaluated operands, without ANY/ALL:
//  - IN: rhs a collection holding an element equal to lhs, or a string
//    containing lhs;
//  - CONTAINS: lhs a collection holding an element equal to rhs, or a
//    string containing rhs;
//  - BETWEEN: rhs a collection {low, high} with low <= lhs <= high;
//  - BEGINSWITH, ENDSWITH, LIKE (rhs is the pattern), MATCHES (rhs is the
//    regular expression; an invalid one matches nothing): strings only.
bool comparePredicateValues(const Value& lhs, ComparisonOperator op, const Value& rhs, unsigned options);

}  // namespace qlt
