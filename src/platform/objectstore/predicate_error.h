#pragma once

#include <cstddef>
#include <string>

#include "platform/foundation/error.h"

namespace qlt {

inline constexpr const char* kPredicateErrorDomain = "QLTPredicateErrorDomain";

enum PredicateErrorCode : long {
  // The format string is malformed.
  kPredicateSyntaxError = 1,
  // Too few arguments, or an argument of the wrong type for its placeholder.
  kPredicateArgumentError = 2,
  // Well formed, but the SQL compiler cannot express it for this schema.
  kPredicateUnsupportedError = 3,
  // Nested deeper than kMaxPredicateDepth.
  kPredicateTooDeepError = 4,
};

// User-info key of the byte offset in the format where parsing failed.
inline constexpr const char* kPredicateErrorPositionKey = "QLTPredicatePosition";

Error predicateError(long code, const std::string& message);
// "<message> at position <position>", with the position in the user info.
Error predicateError(long code, const std::string& message, size_t position);

}  // namespace qlt
