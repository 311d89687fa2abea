#pragma once

#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "platform/error.h"
#include "store/library/library_model_constants.h"
#include "store/library/library_object.h"

namespace qlt {

class Item;

inline constexpr const char* kGroupErrorDomain = "QLTGroupErrorDomain";
inline constexpr long kGroupMaxDepthExceededErrorCode = 10001;
inline constexpr long kGroupCannotBeMovedErrorCode = 10002;
inline constexpr long kGroupCannotBeRemovedErrorCode = 10003;

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

inline constexpr const char* kGroupNameDidChangeNotification = "QLTGroupNameDidChangeNotification";

inline constexpr const char* kRootFolderName = "Files";
inline constexpr const char* kTrashFolderName = "Deleted Files";
inline constexpr const char* kSharedFolderName = "Shared";
inline constexpr const char* kFolderSharedFolderExtension = "qltfolder";
inline constexpr const char* kFolderNoIndexExtension = "noindex";
inline constexpr unsigned kFolderMaxCloudFolderDepth = 100;

// Whitespace trimmed, newlines and tabs inside turned into single spaces.
std::string cleanedGroupName(const std::string& name);

// A folder of the user's tree (entity "Folder" and its subentities) and the
// directory on disk that holds its items' files and its subfolders'
// directories. Every change of name or place is made on disk first, under
// file coordination, and only then in the database; nothing here saves.
// Cloud sharing is not modelled: every folder counts as unshared and owned
// by this user.
class Folder : public LibraryObject {
 public:
  using Ptr = std::shared_ptr<Folder>;

  static std::string untitledFolderName();

  std::string name() const;
  // Stores the cleaned name and posts kGroupNameDidChangeNotification.
  void setName(const std::string& name);
  int64_t groupType() const;
  bool isPlainFolder() const { return groupType() == kFolderGroupType; }
  bool isRootFolder() const { return groupType() == kRootFolderGroupType; }
  bool isTrashFolderItself() const { return groupType() == kTrashFolderGroupType; }
  Ptr parentFolder() const;
  // The library, reached through the top of the tree.
  ManagedObjectPtr library() const;
  bool libraryUsesFileProvider() const;

  // Directory. Null when the folder has no directory: no library, a parent
  // without one, or a name that is not a single path component.
  std::optional<std::string> folderPath() const;
  std::optional<std::string> folderURL() const;
  bool folderExists() const;
  bool createFolder(Error* error = nullptr);

  // Tree.
  bool isTrashFolder() const;
  unsigned depth() const override;
  unsigned relativeMaxDepth() const;
  bool isDescendentOfFolder(const Folder& folder) const;
  Ptr topLevelFolder();
  bool isShared() const { return false; }
  bool isLocalRecord() const { return true; }

  // Capabilities.
  bool canEditName() const;
  bool canMove() const;
  bool canRemove() const;
  bool canAcceptNewItems() const;
  bool canReorderChildren() const;

  // Lookups, comparing names as file names.
  Ptr subfolderWithName(const std::string& name) const;
  std::shared_ptr<Item> itemWithFilename(const std::string& filename) const;
  std::vector<Ptr> subfolders() const;
  std::vector<Ptr> allSubfolders() const;
  std::vector<ManagedObjectPtr> allItems() const;
  std::vector<ManagedObjectPtr> orderedChildren() const;
  std::vector<Ptr> orderedSubfolders() const;

  // Ordering.
  void updateChildrenParentOrder();
  void updateOrderedChildren();
  void addChildrenObject(const ManagedObjectPtr& child);
  void removeChildrenObject(const ManagedObjectPtr& child);

  // Naming.
  bool canChangeName(const std::string& newName, Error* error = nullptr) const;
  bool changeName(const std::string& newName, Error* error = nullptr);
  std::string uniqueName(const std::string& name, const Folder& folder) const;
  std::string uniqueNameInFolder(const Folder& folder) const { return uniqueName(name(), folder); }
  bool makeNameUniqueInFolder(const Folder& folder, Error* error = nullptr);
  std::string uniqueNameForSubfolder(const std::string& name) const;
  // A new plain folder below this one, named after `name` (sanitized, made
  // unique among the subfolders and items), with its directory. Null with
  // the error when the directory cannot be made; nothing is left behind.
  Ptr createSubfolder(const std::string& name, Error* error = nullptr);

  // Moving.
  bool canMoveToFolder(const Folder& destination) const { return canMoveToFolder(destination, name(), nullptr); }
  bool canMoveToFolder(const Folder& destination, const std::string& name, Error* error = nullptr) const;
  bool moveToFolder(const Folder::Ptr& destination, Error* error = nullptr) {
    return moveToFolder(destination, name(), error);
  }
  bool moveToFolder(const Folder::Ptr& destination, const std::string& name, Error* error = nullptr);

  // Deletes the folder and everything below it, directory included; a
  // directory that another folder or item also maps to is left in place.
  bool remove(Error* error = nullptr);

 protected:
  void awakeFromInsert() override;
  void awakeFromFetch() override;
  void prepareForDeletion() override;

  virtual std::optional<std::string> systemFolderPath() const { return std::nullopt; }

 private:
  bool groupCanMoveToFolder(const Folder& destination, Error* error) const;
  void groupMoveToFolder(const Folder::Ptr& destination);
  bool createDirectory(Error* error);
  bool moveLegacyDirectory(Error* error, bool* handled);
  bool directoryBelongsToAnother(const std::string& path) const;
};

class RootFolder : public Folder {
 public:
  // The custom files directory, kept in customFolderURLData as its UTF-8
  // path; nullopt when none is set.
  std::optional<std::string> customFolderURL() const;
  // nullopt or an empty path clears it.
  void setCustomFolderURL(const std::optional<std::string>& path);

 protected:
  std::optional<std::string> systemFolderPath() const override;
};

class TrashFolder : public Folder {
 public:
  bool canEmpty() const;
  // Deletes every child and every item of the trash, with their files.
  void empty();

 protected:
  std::optional<std::string> systemFolderPath() const override;
};

class SharedFolder : public Folder {
 protected:
  std::optional<std::string> systemFolderPath() const override;
};

}  // namespace qlt
