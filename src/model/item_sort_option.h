#pragma once

#include <optional>
#include <string>
#include <vector>

#include "platform/objectstore/sort_descriptor.h"

namespace qlt {

// One way of ordering a group's items: a key with a comparison, whose
// direction the user may flip, or a fixed list of descriptors.
class ItemSortOption {
 public:
  static ItemSortOption withKey(std::string displayName, std::string key,
                                SortDescriptor::Comparison comparison = SortDescriptor::Comparison::Plain);
  static ItemSortOption withSortDescriptors(std::string displayName, std::vector<SortDescriptor> descriptors);

  const std::string& displayName() const { return displayName_; }
  const std::string& key() const { return key_; }
  SortDescriptor::Comparison comparison() const { return comparison_; }
  const std::optional<std::vector<SortDescriptor>>& customSortDescriptors() const { return custom_; }
  bool canChangeOrder() const { return !custom_ && canChangeOrder_; }

  std::vector<SortDescriptor> sortDescriptors() const;
  std::vector<SortDescriptor> ascendingSortDescriptors() const { return descriptors(true); }
  std::vector<SortDescriptor> descendingSortDescriptors() const { return descriptors(false); }

  bool isDateKey() const;
  std::string ascendingString() const;
  std::string descendingString() const;

  // Whether a group's stored descriptors are this option: the same set of
  // keys when the order can change, else exactly the same descriptors.
  bool matchesSortDescriptors(const std::vector<SortDescriptor>& descriptors) const;
  static bool sortDescriptorsAscending(const std::vector<SortDescriptor>& descriptors);

 private:
  std::vector<SortDescriptor> descriptors(bool ascending) const;

  std::string displayName_;
  std::string key_;
  SortDescriptor::Comparison comparison_ = SortDescriptor::Comparison::Plain;
  bool canChangeOrder_ = true;
  std::optional<std::vector<SortDescriptor>> custom_;
};

}  // namespace qlt
