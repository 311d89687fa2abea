#pragma once

#include <memory>
#include <string>
#include <string_view>

#include "platform/foundation/error.h"

namespace qlt {

// An ICU regular expression as predicates use it (MATCHES): the whole text
// must match. CaseInsensitive matches case-insensitively; the diacritic and
// width options fold pattern and text as foldString does. One thread at a
// time per object.
class RegularExpression {
 public:
  // Fails with NSCocoaErrorDomain 2048 when `pattern` is not a valid
  // expression.
  static std::unique_ptr<RegularExpression> make(std::string_view pattern, unsigned options, Error* error = nullptr);
  ~RegularExpression();

  bool matchesWhole(std::string_view text);

  const std::string& pattern() const { return pattern_; }
  unsigned options() const { return options_; }

 private:
  struct Matcher;
  RegularExpression(std::string pattern, unsigned options, std::unique_ptr<Matcher> matcher);

  std::string pattern_;
  unsigned options_;
  std::unique_ptr<Matcher> matcher_;
};

}  // namespace qlt
