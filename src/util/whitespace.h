#pragma once

#include <string>
#include <string_view>

namespace qlt {

// Whitespace and newlines as Unicode defines them (the White_Space
// property): besides the ASCII ones, no-break spaces, the typographic
// spaces, NEL (U+0085) and the line and paragraph separators.
bool isWhitespaceOrNewline(char32_t c);
// U+000A–U+000D, U+0085, U+2028 and U+2029.
bool isNewline(char32_t c);

std::string_view trimmingWhitespaceAndNewlines(std::string_view text);
bool containsNewlineOrTab(std::string_view text);
// Every newline and tab replaced by a space.
std::string replacingNewlinesAndTabsWithSpaces(std::string_view text);

}  // namespace qlt
