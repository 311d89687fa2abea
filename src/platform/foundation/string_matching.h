#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace qlt {

// The string operators of predicates. Text and needle are compared in their
// foldString forms under `options` (CompareOptions), and a match never ends
// inside a character: "e" is not a prefix of "e\u0301" unless diacritics are
// ignored. An empty needle matches nothing.
bool stringHasPrefix(std::string_view text, std::string_view prefix, unsigned options);
bool stringHasSuffix(std::string_view text, std::string_view suffix, unsigned options);
bool stringContains(std::string_view text, std::string_view needle, unsigned options);

// A LIKE pattern of predicates, matched against the whole text: `*` stands
// for any run of characters, `?` for exactly one; a backslash makes the next
// character literal. A character is a code point with the combining marks
// that follow it.
class LikePattern {
 public:
  LikePattern(std::string_view pattern, unsigned options);

  bool matches(std::string_view text) const;

  const std::string& pattern() const { return pattern_; }
  unsigned options() const { return options_; }

 private:
  enum class Kind { Character, AnyCharacter, AnyRun };
  struct Item {
    Kind kind;
    size_t offset = 0;  // into literals_, for characters
    size_t length = 0;
  };

  std::string pattern_;
  unsigned options_;
  std::string literals_;
  std::vector<Item> items_;
};

}  // namespace qlt
