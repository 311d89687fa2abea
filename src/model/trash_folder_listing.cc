#include "model/folder.h"
#include "platform/foundation/localized_strings.h"

namespace qlt {

std::optional<FetchRequest> TrashFolder::itemsFetchRequest() const {
  FetchRequest request(kItemEntityName);
  ValueList folders{Value(objectID())};
  for (const Ptr& folder : allSubfolders()) folders.emplace_back(folder->objectID());
  request.predicate = Predicate::withFormat("folder IN %@", {Value(std::move(folders))});
  request.sortDescriptors = itemSortDescriptors();
  return request;
}

std::vector<ItemSortOption> TrashFolder::itemSortOptions() const {
  return {
      ItemSortOption::withSortDescriptors(localizedString("Newest"),
                                          {SortDescriptor{"dateDeleted", false}, SortDescriptor{"name"}}),
      ItemSortOption::withSortDescriptors(localizedString("Oldest"),
                                          {SortDescriptor{"dateDeleted", true}, SortDescriptor{"name"}}),
  };
}

std::vector<SortDescriptor> TrashFolder::inheritedItemSortDescriptors() const {
  return itemSortOptions().front().sortDescriptors();
}

std::vector<SortDescriptor> TrashFolder::itemSortDescriptors() const {
  auto stored = storedItemSortDescriptors();
  if (stored && !stored->empty()) return *stored;
  return inheritedItemSortDescriptors();
}

}  // namespace qlt
