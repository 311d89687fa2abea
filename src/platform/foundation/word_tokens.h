#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace qlt {

// The words of `text` by the Unicode word-break rules, in order; spaces and
// punctuation between them are dropped.
std::vector<std::string> wordsOfText(std::string_view text);

}  // namespace qlt
