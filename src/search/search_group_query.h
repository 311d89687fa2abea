#pragma once

#include <optional>
#include <string>
#include <vector>

#include "model/search_group.h"
#include "platform/foundation/error.h"
#include "platform/objectstore/fetch_request.h"
#include "search/search_option.h"

namespace qlt {

// The search options a group keeps archived; none when nothing is stored.
// A stored archive that cannot be read fails.
[[nodiscard]] std::optional<std::vector<SearchOption>> searchGroupOptions(const SearchGroup& group, Error* error = nullptr);
// Archives `options` into the group.
[[nodiscard]] bool setSearchGroupOptions(SearchGroup& group, const std::vector<SearchOption>& options,
                                         Error* error = nullptr);

// Not deleted, in a library, with a target group and only options whose
// key is offered and whose condition that key allows.
bool isValidSearchGroup(const SearchGroup& group, const std::vector<SearchOption>& options);

// The item query of a search group, with the relationships worth
// prefetching for the items it finds.
struct SearchItemQuery {
  FetchRequest request{"Item"};
  std::vector<std::string> prefetchedRelationships;
};

// Turns the group's text, fields, options and target group into one item
// query. An invalid group answers the library group's items. Fails only
// when its options cannot be read.
[[nodiscard]] std::optional<SearchItemQuery> searchGroupItemQuery(const SearchGroup& group, const SearchClock& clock,
                                                                  Error* error = nullptr);

}  // namespace qlt
