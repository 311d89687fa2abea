// Group: listing, sorting, view mode and the answers of lists and outlines.
#include <algorithm>

#include "model/folder.h"
#include "model/item.h"
#include "model/sort_descriptor_archive.h"
#include "platform/foundation/format.h"
#include "platform/foundation/localized_strings.h"
#include "platform/objectstore/managed_object_context.h"

namespace qlt {
namespace {

bool holdsItems(const ManagedObject& group) { return group.entity().relationship("items") != nullptr; }

}  // namespace

std::optional<FetchRequest> Group::itemsFetchRequest() const { return std::nullopt; }

PredicatePtr Group::predicateForSearchGroup(const Group&) const {
  std::optional<FetchRequest> request = itemsFetchRequest();
  return request ? request->predicate : nullptr;
}

bool Group::containsItem(const ManagedObject& item) const {
  ManagedObjectContext* context = managedObjectContext();
  std::optional<FetchRequest> request = itemsFetchRequest();
  if (!context || !request) return false;
  auto identifiers = context->fetchObjectIDs(*request);
  return identifiers && std::find(identifiers->begin(), identifiers->end(), item.objectID()) != identifiers->end();
}

bool Group::canAcceptItems(const std::vector<ManagedObjectPtr>& items) const {
  return std::all_of(items.begin(), items.end(), [&](const ManagedObjectPtr& object) {
    auto item = std::dynamic_pointer_cast<Item>(object);
    return item && item->canAddToGroup(*this);
  });
}

std::vector<ItemSortOption> Group::itemSortOptions() const {
  using Comparison = SortDescriptor::Comparison;
  return {
      ItemSortOption::withKey(localizedString("Name"), "name", Comparison::LocalizedStandard),
      ItemSortOption::withKey(localizedString("Added"), "dateAdded"),
      ItemSortOption::withKey(localizedString("Created"), "dateCreated"),
      ItemSortOption::withKey(localizedString("Modified"), "dateModified"),
      ItemSortOption::withSortDescriptors(localizedString("Label"), {SortDescriptor::localizedStandard("label.name"),
                                                                     SortDescriptor::localizedStandard("name")}),
      ItemSortOption::withKey(localizedString("Size"), "size"),
  };
}

std::shared_ptr<Group> Group::libraryGroup() const {
  ManagedObjectPtr owner = library();
  return owner ? std::dynamic_pointer_cast<Group>(owner->objectForKey("libraryGroup")) : nullptr;
}

std::optional<std::vector<SortDescriptor>> Group::storedItemSortDescriptors() const {
  Value data = valueForKey("itemSortDescriptorsData");
  if (!data.data()) {
    cachedSortDescriptors_.reset();
    return std::nullopt;
  }
  if (!cachedSortDescriptors_ || cachedSortDescriptors_->first != *data.data())
    cachedSortDescriptors_.emplace(*data.data(), unarchivedSortDescriptors(*data.data()));
  return cachedSortDescriptors_->second;
}

void Group::storeItemSortDescriptors(const std::optional<std::vector<SortDescriptor>>& descriptors) {
  std::optional<Bytes> data = descriptors ? archivedSortDescriptors(*descriptors) : std::nullopt;
  Value value = data ? Value(*data) : Value();
  if (!valueForKey("itemSortDescriptorsData").isIdenticalTo(value)) setValueForKey("itemSortDescriptorsData", value);
  cachedSortDescriptors_.reset();
  if (data) cachedSortDescriptors_.emplace(*data, descriptors);
}

std::vector<SortDescriptor> Group::inheritedItemSortDescriptors() const {
  std::shared_ptr<Folder> parent = parentFolder();
  if (parent && parent->isPlainFolder()) return parent->itemSortDescriptors();
  std::shared_ptr<Group> top = libraryGroup();
  if (top && top->objectID() != objectID()) return top->itemSortDescriptors();
  return {SortDescriptor::localizedStandard("name")};
}

std::vector<SortDescriptor> Group::itemSortDescriptors() const {
  auto stored = storedItemSortDescriptors();
  if (stored && !stored->empty()) return *stored;
  return inheritedItemSortDescriptors();
}

void Group::setItemSortDescriptors(const std::vector<SortDescriptor>& descriptors) {
  if (sameSortDescriptors(descriptors, inheritedItemSortDescriptors()))
    storeItemSortDescriptors(std::nullopt);
  else
    storeItemSortDescriptors(descriptors);
}

int64_t Group::itemAdditionalInfoType() const {
  std::vector<SortDescriptor> descriptors = itemSortDescriptors();
  if (descriptors.size() != 1) return 0;
  const std::string& key = descriptors.front().key;
  if (key == "dateCreated") return 1;
  if (key == "dateModified") return 2;
  if (key == "dateAdded") return 3;
  if (key == "size") return 6;
  return 0;
}

int64_t Group::listViewMode() const {
  Value mode = valueForKey("listViewMode");
  return mode.integer() ? *mode.integer() : 0;
}

void Group::setListViewMode(int64_t mode) {
  int64_t inherited = 0;
  if (std::shared_ptr<Folder> parent = parentFolder()) {
    inherited = parent->listViewMode();
  } else if (std::shared_ptr<Group> top = libraryGroup(); top && top->objectID() != objectID()) {
    inherited = top->listViewMode();
  }
  int64_t stored = mode == inherited ? 0 : mode;
  if (stored != listViewMode()) setValueForKey("listViewMode", stored);
}

int64_t Group::effectiveListViewMode() const {
  if (int64_t own = listViewMode(); own != 0) return own;
  if (std::shared_ptr<Folder> parent = parentFolder()) return parent->effectiveListViewMode();
  std::shared_ptr<Group> top = libraryGroup();
  return top && top->objectID() != objectID() ? top->listViewMode() : 0;
}

std::string Group::snapshotIdentifier() const { return formatString("%@-%@", name(), identifier()); }

bool Group::canExport() const { return holdsItems(*this) && !objectsForKey("items").empty(); }

bool Group::confirmBeforeRemoval() const { return !holdsItems(*this) || !objectsForKey("items").empty(); }

}  // namespace qlt
