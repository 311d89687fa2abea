#pragma once

#include <memory>
#include <optional>
#include <string>

#include "model/item_sort_option.h"
#include "platform/foundation/error.h"
#include "platform/objectstore/fetch_request.h"
#include "store/library_object.h"

namespace qlt {

class Folder;

inline constexpr const char* kGroupErrorDomain = "QLTGroupErrorDomain";
inline constexpr long kGroupMaxDepthExceededErrorCode = 10001;
inline constexpr long kGroupCannotBeMovedErrorCode = 10002;
inline constexpr long kGroupCannotBeRemovedErrorCode = 10003;

inline constexpr const char* kGroupNameDidChangeNotification = "QLTGroupNameDidChangeNotification";
inline constexpr const char* kGroupFavoriteStateDidChangeNotification = "QLTGroupFavoriteStateDidChangeNotification";

inline constexpr unsigned kFolderMaxCloudFolderDepth = 100;

// The one cleaning of group names, whichever way they arrive: whitespace
// and newlines (as Unicode defines them) trimmed; when a newline or tab is
// left inside, each becomes a space and runs of spaces collapse to one.
std::string cleanedGroupName(const std::string& name);

// Anything that holds or presents items (entity "Group" and its
// subentities). The capability answers here are those of a plain group;
// folders and the special groups override them.
class Group : public LibraryObject {
 public:
  using Ptr = std::shared_ptr<Group>;

  // The stored name; special groups answer their shown name instead.
  virtual std::string name() const;
  // Stores the cleaned name and posts kGroupNameDidChangeNotification.
  void setName(const std::string& name);
  // Cleans `value` in place (nothing when absent) and accepts it.
  [[nodiscard]] static bool validateName(std::optional<std::string>& value, Error* error = nullptr);
  // Names arriving from property lists, cloud records and copies go
  // through validateName.
  [[nodiscard]] bool validateValue(Value& value, const std::string& key, Error* error = nullptr) const override;
  int64_t groupType() const;
  std::shared_ptr<Folder> parentFolder() const;
  // The library the group belongs to: its own `library`, else through its
  // root folder or its parent; null when it has none.
  virtual ManagedObjectPtr library() const;
  bool libraryStoresInCloud() const;

  virtual bool isFolder() const { return false; }
  virtual bool canEditName() const { return false; }
  virtual bool canMove() const { return false; }
  virtual bool canRemove() const { return true; }
  virtual bool canAcceptNewItems() const { return true; }
  virtual bool canAcceptExistingItems() const { return true; }
  virtual bool canFavorite() const { return true; }
  virtual bool canShowFavoritesAtTop() const { return true; }
  virtual bool canChangeColor() const { return false; }
  virtual bool canDrag() const { return true; }
  virtual bool canReorder() const { return false; }
  virtual bool isShared() const { return false; }
  virtual bool isLocalRecord() const { return true; }
  virtual bool canShareWithCloud() const { return false; }

  // Renaming: any name is acceptable; one that cleans to nothing changes
  // nothing.
  [[nodiscard]] virtual bool canChangeName(const std::string& newName, Error* error = nullptr) const;
  [[nodiscard]] virtual bool changeName(const std::string& newName, Error* error = nullptr);

  // Moving into the trash needs canRemove, any other move canMove; with
  // cloud storage no group goes below kFolderMaxCloudFolderDepth.
  [[nodiscard]] virtual bool canMoveToFolder(const Folder& destination, Error* error = nullptr) const;
  // Appends the group to the destination's children without any check and
  // clears the library's default import group when it is this group,
  // unless the destination is the root folder. Callers check first.
  [[nodiscard]] virtual bool moveToFolder(const std::shared_ptr<Folder>& destination, Error* error = nullptr);

  bool isDescendentOfFolder(const Folder& folder) const;
  // Puts the group at `index` among its parent's children (the end when
  // past it) and renumbers the siblings' parentOrder.
  void moveToIndexInParentFolder(size_t index);

  bool favorite() const;
  // Groups post kGroupFavoriteStateDidChangeNotification when the value
  // really changed; folders post nothing.
  virtual void setFavorite(bool favorite);
  bool isDefaultImportGroup() const;

  // Listing. A plain group has no fetch request of its own; the fetch
  // request is built anew on every call.
  [[nodiscard]] virtual std::optional<FetchRequest> itemsFetchRequest() const;
  // The condition a search group targeting this group narrows its items
  // to; null when the group has no fetch request.
  virtual PredicatePtr predicateForSearchGroup(const Group& searchGroup) const;
  // A failed fetch counts as not containing the item.
  bool containsItem(const ManagedObject& item) const;
  // YES for no items; otherwise every item must accept this group.
  bool canAcceptItems(const std::vector<ManagedObjectPtr>& items) const;

  // Sorting. Without stored descriptors a group inherits those of its
  // parent when that is a plain folder, else those of the library group.
  virtual std::vector<ItemSortOption> itemSortOptions() const;
  virtual std::vector<SortDescriptor> itemSortDescriptors() const;
  // Descriptors equal to the inherited ones are not stored, so the group
  // keeps following its parent.
  virtual void setItemSortDescriptors(const std::vector<SortDescriptor>& descriptors);
  // The extra column of a list: 1 created, 2 modified, 3 added, 6 size for
  // a single descriptor on that key, else 0.
  virtual int64_t itemAdditionalInfoType() const;

  // View mode: 0 stored means the inherited mode (the parent's, else the
  // library group's).
  int64_t listViewMode() const;
  virtual void setListViewMode(int64_t mode);
  virtual int64_t effectiveListViewMode() const;

  // Answers of lists and outlines.
  virtual std::string snapshotIdentifier() const;
  virtual bool canExport() const;
  virtual bool confirmBeforeRemoval() const;

 protected:
  Error maxDepthError() const;
  // The library's library group; null without a library.
  std::shared_ptr<Group> libraryGroup() const;
  // What the group shows when it stores no descriptors.
  virtual std::vector<SortDescriptor> inheritedItemSortDescriptors() const;
  // nullopt when nothing (or nothing readable) is stored.
  [[nodiscard]] std::optional<std::vector<SortDescriptor>> storedItemSortDescriptors() const;
  // nullopt clears the stored descriptors.
  void storeItemSortDescriptors(const std::optional<std::vector<SortDescriptor>>& descriptors);

 private:
  mutable std::optional<std::pair<Bytes, std::optional<std::vector<SortDescriptor>>>> cachedSortDescriptors_;
};

}  // namespace qlt
