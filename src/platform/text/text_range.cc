#include "platform/text/text_range.h"

#include <cctype>
#include <limits>

namespace qlt {

std::string stringFromRange(TextRange range) {
  return "{" + std::to_string(range.location) + ", " + std::to_string(range.length) + "}";
}

std::optional<TextRange> rangeFromString(std::string_view text) {
  size_t numbers[2];
  int found = 0;
  size_t i = 0;
  while (found < 2 && i < text.size()) {
    if (!std::isdigit(static_cast<unsigned char>(text[i]))) {
      ++i;
      continue;
    }
    size_t value = 0;
    for (; i < text.size() && std::isdigit(static_cast<unsigned char>(text[i])); ++i) {
      size_t digit = static_cast<size_t>(text[i] - '0');
      value = value > (std::numeric_limits<size_t>::max() - digit) / 10 ? std::numeric_limits<size_t>::max()
                                                                         : value * 10 + digit;
    }
    numbers[found++] = value;
  }
  if (found < 2) return std::nullopt;
  return TextRange{numbers[0], numbers[1]};
}

}  // namespace qlt
