#include "platform/objectstore/predicate_error.h"

namespace qlt {

Error predicateError(long code, const std::string& message) { return Error(kPredicateErrorDomain, code, message); }

Error predicateError(long code, const std::string& message, size_t position) {
  Error error(kPredicateErrorDomain, code, message + " at position " + std::to_string(position));
  error.setUserInfoValue(kPredicateErrorPositionKey, static_cast<long>(position));
  return error;
}

}  // namespace qlt
