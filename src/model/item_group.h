#pragma once

#include "model/group.h"

namespace qlt {

inline constexpr const char* kBundleErrorDomain = "QLTBundleErrorDomain";
inline constexpr long kBundleCannotMoveToSharedFolderErrorCode = 10001;

// A group whose items are those that list it among their `groups`.
class ItemGroup : public Group {
 public:
  [[nodiscard]] std::optional<FetchRequest> itemsFetchRequest() const override;
  // A record that would put the group where it may not go keeps the local
  // parent (logged); everything else applies as for any library object.
  void updateFromCloudRecord(const CloudRecord& record) override;
};

// A group of items made by the user inside a folder. Bundles are not kept
// in the trash: moving one there deletes it and leaves its items in place.
class Bundle : public ItemGroup {
 public:
  static std::string untitledFolderName();

  bool canEditName() const override { return true; }
  bool canMove() const override { return true; }
  bool canChangeColor() const override { return true; }
  // The group checks, and never into a shared folder.
  [[nodiscard]] bool canMoveToFolder(const Folder& destination, Error* error = nullptr) const override;
  [[nodiscard]] bool moveToFolder(const std::shared_ptr<Folder>& destination, Error* error = nullptr) override;

 protected:
  void awakeFromInsert() override;
};

// "All Items": every item of the library.
class LibraryGroup : public ItemGroup {
 public:
  std::string name() const override;
  bool canRemove() const override { return false; }
  // The end of the inheritance chain: its own descriptors, else by name.
  std::vector<SortDescriptor> itemSortDescriptors() const override;
  void setItemSortDescriptors(const std::vector<SortDescriptor>& descriptors) override;

 protected:
  void awakeFromInsert() override;
  void awakeFromFetch() override;
};

}  // namespace qlt
