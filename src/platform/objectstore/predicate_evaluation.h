#pragma once

#include <string>
#include <vector>

#include "platform/objectstore/object_id.h"
#include "platform/objectstore/predicate.h"
#include "platform/objectstore/value.h"

namespace qlt {

// What in-memory evaluation needs to know about an object and the objects
// its relationships lead to.
class ObjectAccessor {
 public:
  virtual ~ObjectAccessor() = default;

  // The object itself, for SELF.
  virtual ObjectID objectID() const = 0;
  // An attribute's value (nil when unset or unknown); a to-one relationship
  // as the destination's ObjectID or nil; a to-many relationship as a
  // collection of ObjectIDs, empty when there are none.
  virtual Value valueForKey(const std::string& key) const = 0;
  // The object `id` names, so that key paths can go on through
  // relationships; nullptr when it cannot be found (the key path then
  // yields nil). Evaluation resolves every ID met along a key path through
  // the evaluated object. The pointer must stay valid until the evaluation
  // returns.
  virtual const ObjectAccessor* objectForID(const ObjectID& id) const = 0;
};

// Whether `object` satisfies `predicate`. Two-valued throughout: a
// comparison that cannot hold (nil < 3, a string against a date) is false,
// and NOT of it true. Predicates deeper than kMaxPredicateDepth are false.
bool evaluate(const Predicate& predicate, const ObjectAccessor& object);

// One comparison; `object` may be null when neither side names a key path
// or SELF.
bool evaluateComparison(const Comparison& comparison, const ObjectAccessor* object);

// The value of a key path: each key is applied to the value so far, an
// ObjectID being resolved through objectForID, and a collection key by key
// (collections met on the way are flattened). "@count" gives the size of the
// collection before it. Nil, and anything that is not an object, yields nil.
Value valueForKeyPath(const ObjectAccessor& object, const std::vector<std::string>& keyPath);

// An expression's value for `object` (null: key paths and SELF give nil);
// an aggregate gives the collection of its elements' values.
Value evaluateExpression(const Expression& expression, const ObjectAccessor* object);

}  // namespace qlt
