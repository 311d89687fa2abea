#include "model/folder.h"
#include "model/item_group.h"
#include "model/label.h"
#include "model/special_groups.h"
#include "platform/foundation/localized_strings.h"
#include "platform/objectstore/managed_object_context.h"
#include "store/library_model_constants.h"

namespace qlt {
namespace {

constexpr int64_t kRecentsLimit = 50;

FetchRequest itemsRequest(const char* format, std::vector<Value> arguments, const Group& group) {
  FetchRequest request(kItemEntityName);
  request.predicate = Predicate::withFormat(format, std::move(arguments));
  request.sortDescriptors = group.itemSortDescriptors();
  return request;
}

Folder::Ptr rootFolderOf(const Group& group) {
  ManagedObjectPtr owner = group.library();
  return owner ? std::dynamic_pointer_cast<Folder>(owner->objectForKey("rootFolder")) : nullptr;
}

// Name, Added, Created, Modified and Size: every group's options without
// the label ordering (the custom one), which means nothing where all items
// share one label or none.
std::vector<ItemSortOption> singleKeyOptions(const Group& group) {
  std::vector<ItemSortOption> options = group.Group::itemSortOptions();
  std::erase_if(options, [](const ItemSortOption& option) { return option.customSortDescriptors().has_value(); });
  return options;
}

}  // namespace

ValueList rootTreeFolderIDs(const Group& group) {
  ValueList folders;
  Folder::Ptr root = rootFolderOf(group);
  if (!root) return folders;
  folders.emplace_back(root->objectID());
  for (const Folder::Ptr& folder : root->allSubfolders()) folders.emplace_back(folder->objectID());
  return folders;
}

std::optional<FetchRequest> ItemGroup::itemsFetchRequest() const {
  return itemsRequest("ANY groups.identifier IN %@", {ValueList{Value(identifier())}}, *this);
}

std::vector<SortDescriptor> LibraryGroup::itemSortDescriptors() const {
  auto stored = storedItemSortDescriptors();
  if (stored && !stored->empty()) return *stored;
  return {SortDescriptor::localizedStandard("name")};
}

void LibraryGroup::setItemSortDescriptors(const std::vector<SortDescriptor>& descriptors) {
  storeItemSortDescriptors(descriptors.empty() ? std::nullopt : std::optional(descriptors));
}

std::optional<FetchRequest> RecentsGroup::itemsFetchRequest() const {
  FetchRequest request = itemsRequest("folder IN %@", {rootTreeFolderIDs(*this)}, *this);
  request.limit = kRecentsLimit;
  return request;
}

std::vector<ItemSortOption> RecentsGroup::itemSortOptions() const {
  SortDescriptor byName = SortDescriptor::localizedStandard("name");
  return {
      ItemSortOption::withSortDescriptors(localizedString("Newest to Oldest"),
                                          {SortDescriptor{"mostRecentDate", false}, byName}),
      ItemSortOption::withSortDescriptors(localizedString("Oldest to Newest"),
                                          {SortDescriptor{"mostRecentDate", true}, byName}),
  };
}

std::vector<SortDescriptor> RecentsGroup::itemSortDescriptors() const {
  auto stored = storedItemSortDescriptors();
  if (stored && !stored->empty()) return *stored;
  return itemSortOptions().front().sortDescriptors();
}

void RecentsGroup::setItemSortDescriptors(const std::vector<SortDescriptor>& descriptors) {
  storeItemSortDescriptors(descriptors.empty() ? std::nullopt : std::optional(descriptors));
}

std::optional<FetchRequest> FavoriteItemsGroup::itemsFetchRequest() const {
  return itemsRequest("favorite == YES AND folder IN %@", {rootTreeFolderIDs(*this)}, *this);
}

std::optional<FetchRequest> UnfiledGroup::itemsFetchRequest() const {
  Folder::Ptr root = rootFolderOf(*this);
  if (!root) return std::nullopt;
  return itemsRequest("folder == %@ AND groups.@count == 1", {root->objectID()}, *this);
}

std::optional<FetchRequest> NoLabelGroup::itemsFetchRequest() const {
  return itemsRequest("label == nil AND folder IN %@", {rootTreeFolderIDs(*this)}, *this);
}

std::vector<ItemSortOption> NoLabelGroup::itemSortOptions() const { return singleKeyOptions(*this); }

std::vector<SortDescriptor> NoLabelGroup::itemSortDescriptors() const {
  auto stored = storedItemSortDescriptors();
  if (stored && !stored->empty()) return *stored;
  return singleKeyOptions(*this).front().sortDescriptors();
}

void NoLabelGroup::setItemSortDescriptors(const std::vector<SortDescriptor>& descriptors) {
  storeItemSortDescriptors(descriptors.empty() ? std::nullopt : std::optional(descriptors));
}

std::optional<FetchRequest> Label::itemsFetchRequest() const {
  return itemsRequest("label == %@ AND folder IN %@", {objectID(), rootTreeFolderIDs(*this)}, *this);
}

std::vector<ItemSortOption> Label::itemSortOptions() const { return singleKeyOptions(*this); }

std::vector<SortDescriptor> Label::itemSortDescriptors() const {
  auto stored = storedItemSortDescriptors();
  if (stored && !stored->empty()) return *stored;
  return singleKeyOptions(*this).front().sortDescriptors();
}

void Label::setItemSortDescriptors(const std::vector<SortDescriptor>& descriptors) {
  storeItemSortDescriptors(descriptors);
}

bool Label::canMoveToFolder(const Folder& destination, Error* error) const {
  if (destination.isTrashFolder()) return true;
  setError(error, Error(kLabelErrorDomain, kLabelCannotMoveToFolderErrorCode,
                        localizedString("Cannot move a label to a folder.")));
  return false;
}

bool Label::moveToFolder(const std::shared_ptr<Folder>& destination, Error* error) {
  if (!destination || !canMoveToFolder(*destination, error)) return false;
  if (ManagedObjectContext* context = managedObjectContext()) context->deleteObject(shared_from_this());
  return true;
}

}  // namespace qlt
