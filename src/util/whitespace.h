#pragma once

#include <functional>
#include <string>
#include <string_view>

namespace qlt {

// Whitespace and newlines as Unicode defines them (the White_Space
// property): besides the ASCII ones, no-break spaces, the typographic
// spaces, NEL (U+0085) and the line and paragraph separators.
bool isWhitespaceOrNewline(char32_t c);
// U+000A–U+000D, U+0085, U+2028 and U+2029.
bool isNewline(char32_t c);

// Reads the UTF-8 code point at `offset` (U+FFFD for a malformed one) and
// moves past it.
char32_t nextCodePoint(std::string_view text, size_t& offset);
// `text` without the leading and trailing code points that `drop` accepts.
std::string_view trimmingCodePoints(std::string_view text, const std::function<bool(char32_t)>& drop);
std::string_view trimmingWhitespaceAndNewlines(std::string_view text);
bool containsNewlineOrTab(std::string_view text);
// Every newline and tab replaced by a space.
std::string replacingNewlinesAndTabsWithSpaces(std::string_view text);

}  // namespace qlt
