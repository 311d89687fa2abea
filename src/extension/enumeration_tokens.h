#pragma once

#include <cstdint>
#include <optional>

#include "platform/foundation/date.h"
#include "platform/foundation/property_list.h"

namespace qlt {

// How far a listing got: folders come first, then items.
struct PageOffsets {
  uint64_t foldersReturned = 0;
  uint64_t itemsReturned = 0;
  bool operator==(const PageOffsets&) const = default;
};

// Sync anchors and item versions: a secure archive of one number holding a
// date in seconds since the reference date (0 for no date).
Bytes syncAnchorForDate(const std::optional<Date>& date);
[[nodiscard]] std::optional<Date> dateFromSyncAnchor(const Bytes& anchor);

// Page tokens: {"foldersReturned":F,"itemsReturned":I} as compact JSON.
Bytes pageTokenForOffsets(uint64_t foldersReturned, uint64_t itemsReturned);
// The offsets a token holds, read leniently: a missing key, or a value that
// is not a number, counts as 0, negative numbers as 0 and fractions are cut.
// nullopt when the token is not a JSON object.
[[nodiscard]] std::optional<PageOffsets> offsetsFromPageToken(const Bytes& token);

}  // namespace qlt
