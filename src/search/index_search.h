#pragma once

#include <optional>
#include <string>
#include <vector>

#include "search/search_option.h"

namespace qlt {

class SearchGroup;

// The form a search string takes for the content index: text with the
// operators AND, OR, NOT, &, | or ! and quoted phrases as they are; other
// text word by word, each word without "*" made a prefix ("word*"), joined
// by single spaces. nullopt when nothing is left.
[[nodiscard]] std::optional<std::string> indexSearchString(const std::string& text);

// What a search group asks of the content index: a typed "key:value" text
// whose option needs the index gives that value alone; otherwise the
// text's own index form; then the index form of every option that needs
// the index. Empty when the group wants no content search.
std::vector<std::string> indexSearchStrings(const SearchGroup& group, const std::vector<SearchOption>& options);

}  // namespace qlt
