#include "util/hashtags.h"

#include <unicode/uchar.h>

#include <algorithm>

#include "platform/defaults/user_defaults.h"
#include "platform/foundation/property_list_unicode.h"
#include "util/whitespace.h"

namespace qlt {

namespace {

size_t utf16Units(char32_t c) { return c > 0xFFFF ? 2 : 1; }

std::vector<std::string> namesOf(std::u32string_view word, bool allowNumericHashtags) {
  std::vector<std::string> names;
  size_t start = 0;
  while (start <= word.size()) {
    size_t end = word.find(U'#', start);
    if (end == std::u32string_view::npos) end = word.size();
    std::u32string_view segment = word.substr(start, end - start);
    size_t cut = 0;
    while (cut < segment.size() && (u_isalnum(static_cast<UChar32>(segment[cut])) || segment[cut] == U'_')) ++cut;
    segment = segment.substr(0, cut);
    bool numeric = std::all_of(segment.begin(), segment.end(), [](char32_t c) { return c >= U'0' && c <= U'9'; });
    if (!segment.empty() && (allowNumericHashtags || !numeric)) {
      std::string name;
      for (char32_t c : segment) appendUTF8(name, c == U'_' ? U' ' : c);
      names.push_back(std::move(name));
    }
    start = end + 1;
  }
  return names;
}

}  // namespace

std::vector<Hashtag> tagNamesAndRangesFromHashtags(std::string_view text, bool allowNumericHashtags) {
  std::u32string points;
  for (size_t offset = 0; offset < text.size();) points += nextCodePoint(text, offset);
  std::vector<Hashtag> tags;
  size_t unit = 0;
  for (size_t i = 0; i < points.size();) {
    bool atWordStart = i == 0 || isWhitespaceOrNewline(points[i - 1]);
    if (points[i] != U'#' || !atWordStart) {
      unit += utf16Units(points[i++]);
      continue;
    }
    size_t end = i, length = 0;
    while (end < points.size() && !isWhitespaceOrNewline(points[end])) length += utf16Units(points[end++]);
    for (std::string& name : namesOf(std::u32string_view(points).substr(i + 1, end - i - 1), allowNumericHashtags))
      tags.push_back({std::move(name), {unit, length}});
    unit += length;
    i = end;
  }
  return tags;
}

std::set<std::string> uniqueTagNamesFromHashtags(std::string_view text) {
  bool allowNumeric = UserDefaults::standard().boolForKey(kAllowNumericHashtagsDefaultsKey);
  std::set<std::string> names;
  for (Hashtag& tag : tagNamesAndRangesFromHashtags(text, allowNumeric)) names.insert(std::move(tag.name));
  return names;
}

}  // namespace qlt
