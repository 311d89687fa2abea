#pragma once

#include <optional>
#include <vector>

#include "platform/foundation/error.h"
#include "platform/foundation/property_list.h"
#include "search/search_option.h"

namespace qlt {

// A secure keyed archive of an array of QLTSearchOption objects, as search
// groups keep in searchOptionsData.
[[nodiscard]] std::optional<Bytes> archivedSearchOptions(const std::vector<SearchOption>& options, Error* error = nullptr);
// Reads such an archive back. Another root, elements that are not options,
// an option without a key or with values of the wrong kind are refused with
// kCocoaCoderReadCorruptError.
[[nodiscard]] std::optional<std::vector<SearchOption>> unarchivedSearchOptions(const Bytes& data, Error* error = nullptr);

}  // namespace qlt
