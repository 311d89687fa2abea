#pragma once

#include "model/group.h"

namespace qlt {

inline constexpr const char* kUnfiledGroupVisibilityDidChangeNotification =
    "QLTUnfiledGroupVisibilityDidChangeNotification";
inline constexpr const char* kNoLabelGroupVisibilityDidChangeNotification =
    "QLTNoLabelGroupVisibilityDidChangeNotification";

// The fixed smart groups of a library. Their names are shown, not stored.
class RecentsGroup : public Group {
 public:
  std::string name() const override;
  bool canRemove() const override { return false; }
  bool canAcceptNewItems() const override { return false; }
  bool canAcceptExistingItems() const override { return false; }
  bool canShowFavoritesAtTop() const override { return false; }
  bool canDrag() const override { return false; }
  // The 50 latest items of the root tree.
  [[nodiscard]] std::optional<FetchRequest> itemsFetchRequest() const override;
  std::vector<ItemSortOption> itemSortOptions() const override;
  std::vector<SortDescriptor> itemSortDescriptors() const override;
  void setItemSortDescriptors(const std::vector<SortDescriptor>& descriptors) override;
  int64_t itemAdditionalInfoType() const override { return 5; }

 protected:
  void awakeFromInsert() override;
};

class FavoriteItemsGroup : public Group {
 public:
  std::string name() const override;
  bool canRemove() const override { return false; }
  bool canAcceptNewItems() const override { return false; }
  bool canShowFavoritesAtTop() const override { return false; }
  bool canDrag() const override { return false; }
  [[nodiscard]] std::optional<FetchRequest> itemsFetchRequest() const override;

 protected:
  void awakeFromInsert() override;
};

// Both visibility setters post their notification on every call.
class UnfiledGroup : public Group {
 public:
  std::string name() const override;
  bool canRemove() const override { return false; }
  bool canAcceptNewItems() const override { return false; }
  bool canAcceptExistingItems() const override { return false; }
  void setVisible(bool visible);
  // Items directly in the root folder that belong to one item group only.
  [[nodiscard]] std::optional<FetchRequest> itemsFetchRequest() const override;
};

class NoLabelGroup : public Group {
 public:
  std::string name() const override;
  bool canRemove() const override { return false; }
  bool canAcceptNewItems() const override { return false; }
  void setVisible(bool visible);
  [[nodiscard]] std::optional<FetchRequest> itemsFetchRequest() const override;
  std::vector<ItemSortOption> itemSortOptions() const override;
  std::vector<SortDescriptor> itemSortDescriptors() const override;
  void setItemSortDescriptors(const std::vector<SortDescriptor>& descriptors) override;
};

// The library's root folder and all its subfolders: every folder outside
// the trash. Empty when the group has no library.
ValueList rootTreeFolderIDs(const Group& group);

}  // namespace qlt
