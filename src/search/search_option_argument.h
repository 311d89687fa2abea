#pragma once

#include <optional>
#include <string>

#include "platform/foundation/error.h"
#include "search/search_option.h"

namespace qlt {

inline constexpr const char* kSearchOptionArgumentErrorDomain = "QLTSearchOptionArgumentErrorDomain";
inline constexpr long kBadSearchOptionArgumentErrorCode = 1;

// An option written as KIND:VALUE on a command line. KIND is a typed key
// ("tag", "modified", "label") or an item key path ("tags", "favorite",
// "attachments.@count"); VALUE depends on what the key compares:
//   text              the text; "*" and "?" make it a pattern
//   dates             YYYY-MM-DD for that day; "before" and "after" as KIND
//                     for the days around it; 3d, 2m, 1y for within the last
//   labels, tags,     an identifier; empty for none ("tags:" is untagged);
//   folders, bundles  a leading "!" for "is not"
//   file types        a type identifier or a coarse type ("image")
//   Booleans          yes or no
//   sizes             N, <N or >N bytes
// Anything else fails with a description of what was expected.
[[nodiscard]] std::optional<SearchOption> searchOptionFromArgument(const std::string& argument, Error* error = nullptr);

}  // namespace qlt
