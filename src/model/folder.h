#pragma once

#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "model/group.h"
#include "platform/cloud/cloud_record.h"
#include "platform/foundation/error.h"
#include "platform/fileprovider/file_provider_item.h"
#include "store/library_model_constants.h"
#include "platform/objectstore/sort_descriptor.h"

namespace qlt {

class Item;

inline constexpr const char* kFolderErrorDomain = "QLTFolderErrorDomain";
inline constexpr long kFolderWithNameExistsErrorCode = 10001;
inline constexpr long kFolderItemWithNameExistsErrorCode = 10002;
inline constexpr long kFolderNoParentErrorCode = 10003;
inline constexpr long kFolderNoURLErrorCode = 10004;
inline constexpr long kFolderNoParentFolderURLErrorCode = 10005;
inline constexpr long kFolderContainsFolderURLErrorCode = 10006;
inline constexpr long kFolderCannotMoveSharedFolderErrorCode = 10007;
inline constexpr long kFolderCannotMoveIntoSharedFolderErrorCode = 10008;
// User-info values are the clashing objects as ManagedObjectPtr.
inline constexpr const char* kFolderErrorExistingFolderUserInfoKey = "existingFolder";
inline constexpr const char* kFolderErrorExistingItemUserInfoKey = "existingItem";

inline constexpr const char* kFolderCloudShareDidChangeNotification = "QLTFolderCloudShareDidChangeNotification";

inline constexpr const char* kRootFolderName = "Files";
inline constexpr const char* kTrashFolderName = "Deleted Files";
inline constexpr const char* kSharedFolderName = "Shared";
inline constexpr const char* kFolderSharedFolderExtension = "qltfolder";
inline constexpr const char* kFolderNoIndexExtension = "noindex";

inline constexpr const char* kFolderShowAllItemsKey = "QLTFolderShowAllItems";
inline constexpr const char* kImportLoggingKey = "QLTImportLogging";
inline constexpr const char* kFolderDidExpandNotification = "QLTFolderDidExpandNotification";
inline constexpr const char* kFolderDidCollapseNotification = "QLTFolderDidCollapseNotification";

class OperationQueue;

// A folder of the user's tree (entity "Folder" and its subentities) and the
// directory on disk that holds its items' files and its subfolders'
// directories. Every change of name or place is made on disk first, under
// file coordination, and only then in the database; nothing here saves.
// A top-level folder that another user shared with this one lives in
// "<shared directory>/<identifier>.qltfolder/<name>".
class Folder : public Group {
 public:
  using Ptr = std::shared_ptr<Folder>;

  static std::string untitledFolderName();

  std::string name() const override;
  bool isPlainFolder() const { return groupType() == kFolderGroupType; }
  bool isRootFolder() const { return groupType() == kRootFolderGroupType; }
  bool isTrashFolderItself() const { return groupType() == kTrashFolderGroupType; }
  // The library, reached through the top of the tree.
  ManagedObjectPtr library() const override;
  bool libraryUsesFileProvider() const;

  // Directory. Null when the folder has no directory: no library, a parent
  // without one, or a name (or, when shared with this user, an identifier)
  // that is not a single path component, which is refused with the error.
  [[nodiscard]] std::optional<std::string> folderPath(Error* error = nullptr) const;
  std::optional<std::string> folderURL() const;
  bool folderExists() const;
  [[nodiscard]] bool createFolder(Error* error = nullptr);

  // Tree.
  bool isTrashFolder() const;
  unsigned depth() const override;
  unsigned relativeMaxDepth() const;
  Ptr topLevelFolder();

  // Sharing.
  [[nodiscard]] std::optional<RecordSystemFields> cloudShare() const;
  // Stores the share (nullopt clears it) and posts
  // kFolderCloudShareDidChangeNotification.
  void setCloudShare(const std::optional<RecordSystemFields>& share);
  bool isShared() const override;
  bool isLocalRecord() const override;
  bool isSharedByCurrentUser() const { return isShared() && isLocalRecord(); }
  bool canShareWithCloud() const override;

  // Cloud record: a shared folder's record lies in the zone of its own
  // share or of its top-level folder's; the record's parent is the parent
  // folder's record when that is a plain folder, and the depth travels as
  // kFolderCloudRecordDepthKey. A move or rename that the local rules
  // refuse is written back into the record before it is applied.
  RecordID cloudRecordID() const override;
  void updateRecordWithCurrentValues(CloudRecord& record) const override;
  void updateFromCloudRecord(const CloudRecord& record) override;

  // Answers to the file-provider service (see FileProviderItem); the dates
  // are the directory's, absent when it cannot be read.
  uint64_t capabilities() const;
  std::string parentItemIdentifier() const;
  std::string contentType() const;
  std::string filename() const;
  [[nodiscard]] std::optional<uint64_t> childItemCount() const;
  bool isUploaded() const;
  [[nodiscard]] std::optional<Bytes> tagData() const;
  [[nodiscard]] std::optional<Date> creationDate() const;
  [[nodiscard]] std::optional<Date> contentModificationDate() const;
  [[nodiscard]] std::optional<Date> lastUsedDate() const;
  FileProviderItemVersion itemVersion() const;
  std::map<std::string, Bytes> extendedAttributes() const;

  // Capabilities.
  bool isFolder() const override { return true; }
  bool canEditName() const override;
  bool canMove() const override;
  bool canRemove() const override;
  bool canAcceptNewItems() const override;
  bool canFavorite() const override;
  bool canShowFavoritesAtTop() const override;
  bool canChangeColor() const override;
  bool canReorder() const override;
  virtual bool canReorderChildren() const;
  // Also copies the value to the folder's shared-folder attributes; posts
  // nothing.
  void setFavorite(bool favorite) override;

  // Lookups, comparing names as file names.
  Ptr subfolderWithName(const std::string& name) const;
  // Children named `name`, then the matches inside each child folder, depth
  // first in children order.
  std::vector<ManagedObjectPtr> childrenWithName(const std::string& name) const;
  std::shared_ptr<Item> itemWithFilename(const std::string& filename, const Item* excluding = nullptr) const;
  // The item whose file `path` names, walking subfolders from this folder's
  // directory; null for paths outside it and for paths naming a folder.
  virtual std::shared_ptr<Item> itemWithFilePath(const std::string& path) const;
  // The same walk without the root folder's detour through the shared
  // directory.
  std::shared_ptr<Item> walkToItem(const std::string& path) const;
  std::shared_ptr<Item> itemWithFileURL(const std::string& url) const;
  // This folder when `path` is its directory, the deepest subfolder whose
  // directory holds `path`, or null when `path` lies outside.
  Ptr nearestDescendentForPath(const std::string& path) const;
  Ptr nearestDescendentForURL(const std::string& url) const;
  // What the file manager shows for `path`: the path itself when it lies
  // directly in this directory, the package holding it when it lies deeper;
  // null otherwise, and for hidden names.
  [[nodiscard]] std::optional<std::string> subitemPathFromPath(const std::string& path) const;
  [[nodiscard]] std::optional<std::string> subitemFileURLFromURL(const std::string& url) const;

  // Collections.
  std::vector<Ptr> subfolders() const;
  std::vector<Ptr> allSubfolders() const;
  std::vector<ManagedObjectPtr> allChildren() const;
  std::vector<ManagedObjectPtr> allItems() const;
  std::vector<ManagedObjectPtr> allBundles() const;
  std::vector<ManagedObjectPtr> allSearchGroups() const;
  std::vector<ManagedObjectPtr> childSearchGroups() const;
  std::vector<ManagedObjectPtr> allIndividuallySharedItems() const;
  std::vector<ManagedObjectPtr> orderedChildren() const;
  std::vector<Ptr> orderedSubfolders() const;

  // Ordering.
  static std::vector<SortDescriptor> nameSortDescriptors();
  static std::vector<SortDescriptor> parentOrderSortDescriptors();
  std::vector<SortDescriptor> childrenSortDescriptors() const;
  void updateChildrenParentOrder();
  void updateOrderedChildren();
  void reorderChildrenByName();

  // Relationship changes. The children mutators skip what is already (or
  // not) there and renumber parentOrder when something changed; the items
  // mutators let each affected item update its shared-item record.
  void addChildrenObject(const ManagedObjectPtr& child);
  void removeChildrenObject(const ManagedObjectPtr& child);
  void addChildren(const std::vector<ManagedObjectPtr>& children);
  void removeChildren(const std::vector<ManagedObjectPtr>& children);
  void addItemsObject(const ManagedObjectPtr& item);
  void addItems(const std::vector<ManagedObjectPtr>& items);
  void removeItemsObject(const ManagedObjectPtr& item);
  void removeItems(const std::vector<ManagedObjectPtr>& items);
  void setParent(const Ptr& parent);

  // Naming.
  [[nodiscard]] bool canChangeName(const std::string& newName, Error* error = nullptr) const override;
  [[nodiscard]] bool changeName(const std::string& newName, Error* error = nullptr) override;
  std::string uniqueName(const std::string& name, const Folder& folder) const;
  std::string uniqueNameInFolder(const Folder& folder) const { return uniqueName(name(), folder); }
  [[nodiscard]] bool makeNameUniqueInFolder(const Folder& folder, Error* error = nullptr);
  std::string uniqueNameForSubfolder(const std::string& name) const;
  // A new plain folder below this one, named after `name` (sanitized, made
  // unique among the subfolders and items), with its directory. Null with
  // the error when the directory cannot be made; nothing is left behind.
  Ptr createSubfolder(const std::string& name, Error* error = nullptr);

  // Moving (the first two use the current name).
  [[nodiscard]] bool canMoveToFolder(const Folder& destination, Error* error = nullptr) const override {
    return canMoveToFolder(destination, name(), error);
  }
  [[nodiscard]] bool moveToFolder(const Folder::Ptr& destination, Error* error = nullptr) override {
    return moveToFolder(destination, name(), error);
  }
  [[nodiscard]] bool canMoveToFolder(const Folder& destination, const std::string& name, Error* error = nullptr) const;
  [[nodiscard]] bool moveToFolder(const Folder::Ptr& destination, const std::string& name, Error* error = nullptr);

  // Deletes the folder and everything below it, directory included; a
  // directory that another folder or item also maps to is left in place.
  [[nodiscard]] bool remove(Error* error = nullptr);

  // Listing. Whether items of subfolders are listed follows the user
  // default kFolderShowAllItemsKey: 0 never, 1 while collapsed, 2 always.
  bool showAllItems() const;
  bool showContainerGroupForItems() const;
  // Items of this folder, or with `includeSubfolders` of every folder below
  // it and of the bundles in that tree too.
  PredicatePtr itemsPredicate(bool includeSubfolders) const;
  [[nodiscard]] std::optional<FetchRequest> itemsFetchRequest() const override;
  // A saved search group decides by its includeChildrenOfTargetFolder,
  // another by showAllItems.
  PredicatePtr predicateForSearchGroup(const Group& searchGroup) const override;
  // A folder in the trash hands its sorting to its parent, so the whole
  // trash sorts as the trash folder does.
  std::vector<ItemSortOption> itemSortOptions() const override;
  std::vector<SortDescriptor> itemSortDescriptors() const override;
  void setItemSortDescriptors(const std::vector<SortDescriptor>& descriptors) override;
  // Always 4 in the trash.
  int64_t itemAdditionalInfoType() const override;

  // Outlines.
  bool expanded() const;
  // Stores a changed value and posts kFolderDidExpandNotification or
  // kFolderDidCollapseNotification.
  void setExpanded(bool expanded);
  bool isExpandable() const;
  bool canFocus() const;
  // "> " first for an expandable folder.
  std::string snapshotIdentifier() const override;
  // Each ordered child's snapshot identifier, followed for an expanded
  // child folder by that folder's own.
  std::vector<std::string> snapshotIdentifiers() const;
  bool canExport() const override;
  bool confirmBeforeRemoval() const override;
  // What a fetch of folders for the file-provider service loads up front.
  static std::vector<std::string> propertiesToFetch();
  // Asks the service to enumerate this folder again.
  void signalFileProviderFolderDidChange() const;

  // Directory watching. Change reports arrive on the presented-item queue;
  // each changed file (not hidden, not a plain directory) gets a check on
  // the check-files queue, in a background context of its own, that lets
  // the item refresh its metadata from the file. Both queues run at most
  // five operations at once.
  [[nodiscard]] std::optional<std::string> presentedItemURL() const { return folderURL(); }
  static OperationQueue& sharedPresentedItemOperationQueue();
  static OperationQueue& checkFilesOperationQueue();
  OperationQueue& presentedItemOperationQueue() const { return sharedPresentedItemOperationQueue(); }
  void presentedSubitemDidChangeAtURL(const std::string& url);
  void checkPresentedSubitemAtURL(const std::string& url) const;
  void addFilePresenterIfNecessary() {}
  void removeFilePresenterIfNecessary() {}
  // After a save that should have deleted this folder failed and the
  // context was rolled back: its directory, set aside for the deletion,
  // goes back where its row says it is.
  void deletionWasNotSaved();
  // Whether this folder or one above it is being deleted, moved or renamed
  // and not yet saved: its directory is not where its row says.
  bool isAtOrBelowFolderInFlux() const;
  // Whether the store, read afresh, puts the folder's directory where this
  // context's rows say.
  bool storePutsDirectoryAtSamePath() const;

 protected:
  void awakeFromInsert() override;
  void awakeFromFetch() override;
  void didSave() override;
  void prepareForDeletion() override;

  [[nodiscard]] virtual std::optional<std::string> systemFolderPath() const { return std::nullopt; }

 private:
  [[nodiscard]] bool createDirectory(Error* error);
  [[nodiscard]] bool moveLegacyDirectory(Error* error, bool* handled);
  bool directoryBelongsToAnother(const std::string& path) const;
  [[nodiscard]] std::optional<bool> sharingAllowsMove(const Folder& destination, Error* error) const;
  // Returns what must be deleted once the folder is in the trash.
  std::vector<ManagedObjectPtr> moveContentsToTrash(bool wasInTrash, const std::vector<ManagedObjectPtr>& items);
  void removeEmptySharedWrapper(const std::string& oldPath) const;
  // Reads every folder below this one before its directory moves: a folder
  // first read while the directories are on their way would find its own
  // missing and recreate it at the old place.
  void loadSubtree() const;
  // Moves what stands at `path`, which no library object owns, into the
  // library's deleted-files directory under a name free there, so that a
  // rename or move never destroys a user's file.
  [[nodiscard]] bool setAside(const std::string& path, Error* error) const;

  ManagedObjectPtr findLibrary() const;
  [[nodiscard]] std::optional<std::string> findFolderPath(Error* error) const;

  mutable std::optional<std::pair<Bytes, std::optional<RecordSystemFields>>> cachedShare_;
};

class SharedFolder;

class RootFolder : public Folder {
 public:
  // The custom files directory, kept in customFolderURLData as its UTF-8
  // path; nullopt when none is set.
  [[nodiscard]] std::optional<std::string> customFolderURL() const;
  // nullopt or an empty path clears it.
  void setCustomFolderURL(const std::optional<std::string>& path);
  bool canReorderChildren() const override;
  // Paths below the shared directory are resolved by the shared folder.
  std::shared_ptr<Item> itemWithFilePath(const std::string& path) const override;

 protected:
  void awakeFromInsert() override;
  void awakeFromFetch() override;
  [[nodiscard]] std::optional<std::string> systemFolderPath() const override;

 private:
  void ensureUnfiledGroup();
};

class TrashFolder : public Folder {
 public:
  bool canEmpty() const;
  // Deletes every child and every item of the trash, with their files.
  void empty();

  // Everything in the trash, however deep, newest deleted first unless
  // other descriptors are stored; nothing is inherited.
  [[nodiscard]] std::optional<FetchRequest> itemsFetchRequest() const override;
  std::vector<ItemSortOption> itemSortOptions() const override;
  std::vector<SortDescriptor> itemSortDescriptors() const override;

 protected:
  [[nodiscard]] std::optional<std::string> systemFolderPath() const override;
  std::vector<SortDescriptor> inheritedItemSortDescriptors() const override;
};

class SharedFolder : public Folder {
 public:
  bool containsFileAtPath(const std::string& path) const;
  // Below "<id>.qltfolder" the folder with that identifier resolves the
  // path; otherwise the parent directory's name is an item identifier.
  std::shared_ptr<Item> itemWithFilePath(const std::string& path) const override;

 protected:
  [[nodiscard]] std::optional<std::string> systemFolderPath() const override;
};

}  // namespace qlt
