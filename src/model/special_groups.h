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
};

class NoLabelGroup : public Group {
 public:
  std::string name() const override;
  bool canRemove() const override { return false; }
  bool canAcceptNewItems() const override { return false; }
  void setVisible(bool visible);
};

}  // namespace qlt
