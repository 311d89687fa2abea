#pragma once

#include <set>
#include <string>
#include <string_view>
#include <vector>

#include "platform/text/text_range.h"

namespace qlt {

inline constexpr const char* kAllowNumericHashtagsDefaultsKey = "QLTAllowNumericHashtags";

struct Hashtag {
  std::string name;
  // The "#…" word the name came from, in UTF-16 units.
  TextRange range;
};

// Tag names from hashtags: every "#…" word at the start of the text or
// after whitespace is split at "#"; each piece ends before its first
// character that is neither alphanumeric nor "_", and "_" reads as a
// space. Without numeric hashtags, pieces made only of digits are dropped.
std::vector<Hashtag> tagNamesAndRangesFromHashtags(std::string_view text, bool allowNumericHashtags);
// The same names as a set, allowing numeric hashtags as the user default
// kAllowNumericHashtagsDefaultsKey says.
std::set<std::string> uniqueTagNamesFromHashtags(std::string_view text);

}  // namespace qlt
