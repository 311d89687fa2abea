#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "platform/foundation/error.h"
#include "platform/foundation/property_list.h"

namespace qlt {

// One tag as file-provider tag data and Finder tag lists carry it.
struct TagDataEntry {
  std::string name;
  int64_t color = 0;
  bool operator==(const TagDataEntry&) const = default;
};

// File-provider tag data: a secure keyed archive of the dictionary
// {"v": 1, "t": [[name, colour], ...]} with the entries in the order given.
// nullopt when archiving fails (a name that is not UTF-8), which is logged.
[[nodiscard]] std::optional<Bytes> fileProviderTagData(const std::vector<TagDataEntry>& entries, Error* error = nullptr);

// Readers of tag data in either form: file-provider tag data, or a Finder
// tag list (a property list whose root is an array of "name\ncolour"
// strings). Names and colours are read separately and may differ in
// number; callers that pair them check that. nullopt for empty data and for
// data of neither form (logged); entries of unexpected types are skipped.
[[nodiscard]] std::optional<std::vector<std::string>> tagNamesFromTagData(const Bytes& data);
[[nodiscard]] std::optional<std::vector<int64_t>> tagLabelColorsFromTagData(const Bytes& data);

// A Finder tag list in binary property-list form: "name\ncolour" for each
// entry, or the bare name when `withColors` is false.
[[nodiscard]] std::optional<Bytes> finderTagListData(const std::vector<TagDataEntry>& entries, bool withColors = true,
                                       Error* error = nullptr);

}  // namespace qlt
