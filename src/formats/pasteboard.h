#pragma once

#include <optional>
#include <string>
#include <vector>

#include "formats/url_components.h"
#include "platform/foundation/property_list.h"

namespace qlt {

// "WebURLsWithTitlesPboardType": a property list whose first element is a
// list of address strings (the second, their titles, is not read).
inline constexpr const char* kWebURLsWithTitlesPboardType = "WebURLsWithTitlesPboardType";

// A stretch of rich text and the link it carries, if any. A link attribute
// that was a URL object holds the URL's string.
struct TextRun {
  std::string text;
  std::optional<std::string> link;
};

struct AttributedText {
  std::vector<TextRun> runs;

  std::string string() const;
};

// What a clipboard offers for web addresses.
struct Pasteboard {
  // The URL objects it gives.
  std::vector<URLComponents> urls;
  // The one URL read from the clipboard as a whole.
  std::optional<URLComponents> url;
  // Unset when it cannot give attributed strings at all; empty when it can
  // but gives none.
  std::optional<std::vector<AttributedText>> attributedStrings;
  // The value of kWebURLsWithTitlesPboardType, when offered.
  std::optional<PropertyList> webURLsWithTitles;
};

}  // namespace qlt
