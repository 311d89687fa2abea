#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/foundation/error.h"
#include "platform/objectstore/predicate.h"

namespace qlt {

struct PredicateToken {
  enum class Type {
    End,
    Identifier,         // text: a key or keyword
    EscapedIdentifier,  // "#size": text is "size", never a keyword
    CollectionKey,      // "@count": text includes the '@'
    Dot,
    String,
    Integer,
    Real,
    Placeholder,  // placeholder: '@', 'K', 'd' or 'f'
    Operator,     // op: a symbolic comparison operator
    Not,          // !
    And,          // &&
    Or,           // ||
    LeftParen,
    RightParen,
    LeftBrace,
    RightBrace,
    Comma,
    Options,  // options: the letters between '[' and ']' as CompareOptions
  };

  Type type = Type::End;
  size_t position = 0;
  std::string text;
  int64_t integer = 0;
  double real = 0;
  char placeholder = 0;
  ComparisonOperator op = ComparisonOperator::Equal;
  unsigned options = 0;
};

// Splits a format into tokens; the last one is End. Fails on characters
// that cannot start a token, unterminated strings, bad escapes, unknown
// placeholders and option letters, and out-of-range numbers.
[[nodiscard]] std::optional<std::vector<PredicateToken>> tokenizePredicate(std::string_view format, Error* error = nullptr);

}  // namespace qlt
