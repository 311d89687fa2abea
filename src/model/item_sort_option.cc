#include "model/item_sort_option.h"

#include <algorithm>
#include <set>

#include "model/sort_descriptor_archive.h"
#include "platform/foundation/localized_strings.h"

namespace qlt {

ItemSortOption ItemSortOption::withKey(std::string displayName, std::string key,
                                       SortDescriptor::Comparison comparison) {
  ItemSortOption option;
  option.displayName_ = std::move(displayName);
  option.key_ = std::move(key);
  option.comparison_ = comparison;
  return option;
}

ItemSortOption ItemSortOption::withSortDescriptors(std::string displayName, std::vector<SortDescriptor> descriptors) {
  ItemSortOption option;
  option.displayName_ = std::move(displayName);
  option.custom_ = std::move(descriptors);
  return option;
}

std::vector<SortDescriptor> ItemSortOption::sortDescriptors() const { return descriptors(true); }

std::vector<SortDescriptor> ItemSortOption::descriptors(bool ascending) const {
  if (custom_) return *custom_;
  return {SortDescriptor{key_, ascending, comparison_}};
}

bool ItemSortOption::isDateKey() const {
  return key_ == "dateAdded" || key_ == "dateCreated" || key_ == "dateModified";
}

std::string ItemSortOption::ascendingString() const {
  return localizedString(isDateKey() ? "Oldest to Newest" : "Ascending");
}

std::string ItemSortOption::descendingString() const {
  return localizedString(isDateKey() ? "Newest to Oldest" : "Descending");
}

bool ItemSortOption::matchesSortDescriptors(const std::vector<SortDescriptor>& descriptors) const {
  if (!canChangeOrder()) return sameSortDescriptors(sortDescriptors(), descriptors);
  auto keys = [](const std::vector<SortDescriptor>& list) {
    std::set<std::string> result;
    for (const SortDescriptor& descriptor : list) result.insert(descriptor.key);
    return result;
  };
  return keys(sortDescriptors()) == keys(descriptors);
}

bool ItemSortOption::sortDescriptorsAscending(const std::vector<SortDescriptor>& descriptors) {
  return std::all_of(descriptors.begin(), descriptors.end(),
                     [](const SortDescriptor& descriptor) { return descriptor.ascending; });
}

}  // namespace qlt
