#pragma once

#include <optional>
#include <vector>

#include "platform/foundation/error.h"
#include "platform/foundation/property_list.h"
#include "platform/objectstore/sort_descriptor.h"

namespace qlt {

// Same keys, directions and comparisons, in the same order.
bool sameSortDescriptors(const std::vector<SortDescriptor>& a, const std::vector<SortDescriptor>& b);

// A secure keyed archive of an array of NSSortDescriptor objects (keys
// "NSKey", "NSAscending", "NSSelector"), as groups keep in
// itemSortDescriptorsData.
[[nodiscard]] std::optional<Bytes> archivedSortDescriptors(const std::vector<SortDescriptor>& descriptors, Error* error = nullptr);
// Reads such an archive back. Anything else (another root, elements that
// are not sort descriptors, an empty key, a comparison selector we do not
// know) is refused with kCocoaCoderReadCorruptError.
[[nodiscard]] std::optional<std::vector<SortDescriptor>> unarchivedSortDescriptors(const Bytes& data, Error* error = nullptr);

// The Objective-C selector of a comparison and back; nullopt for a
// selector without a comparison here.
const char* comparisonSelector(SortDescriptor::Comparison comparison);
[[nodiscard]] std::optional<SortDescriptor::Comparison> comparisonForSelector(const std::string& selector);

}  // namespace qlt
