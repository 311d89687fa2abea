#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>

namespace qlt {

// A stretch of text in UTF-16 code units.
struct TextRange {
  size_t location = 0;
  size_t length = 0;

  size_t end() const { return location + length; }
  bool contains(size_t index) const { return index >= location && index < end(); }
  bool operator==(const TextRange&) const = default;
};

// "{12, 3}".
std::string stringFromRange(TextRange range);
// The first two decimal numbers of `text`; nothing when it has fewer.
[[nodiscard]] std::optional<TextRange> rangeFromString(std::string_view text);

}  // namespace qlt
