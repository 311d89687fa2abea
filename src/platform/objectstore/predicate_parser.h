#pragma once

#include <string_view>
#include <vector>

#include "platform/foundation/error.h"
#include "platform/objectstore/predicate.h"

namespace qlt {

// The grammar, loosest first:
//   predicate   := and (("OR" | "||") and)*
//   and         := unary (("AND" | "&&") unary)*
//   unary       := ("NOT" | "!") unary | "(" predicate ")" | TRUEPREDICATE | FALSEPREDICATE | comparison
//   comparison  := [ANY | SOME | ALL | NONE] expression operator ["[c]" | "[d]" | "[cd]"] expression
//   expression  := literal | keypath | SELF | placeholder | "{" [expression ("," expression)*] "}"
// Keywords are case-insensitive; a key that is a reserved word is written
// with a leading '#'. Placeholders: %@ any value, %K a key path (string),
// %d %i %ld %lld %u integers, %f numbers. Arguments beyond the
// placeholders are ignored.
PredicatePtr parsePredicate(std::string_view format, const std::vector<Value>& arguments, Error* error = nullptr);

}  // namespace qlt
