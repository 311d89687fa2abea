#include "model/special_groups.h"

#include "platform/foundation/localized_strings.h"
#include "store/main_thread_notification.h"

namespace qlt {
namespace {

void markFavorite(Group& group, int64_t order) {
  group.setValueForKey("favorite", true);
  group.setValueForKey("favoriteOrder", order);
}

}  // namespace

std::string RecentsGroup::name() const { return localizedString("Recents"); }

void RecentsGroup::awakeFromInsert() {
  Group::awakeFromInsert();
  markFavorite(*this, 20);
}

std::string FavoriteItemsGroup::name() const { return localizedString("Favorites"); }

void FavoriteItemsGroup::awakeFromInsert() {
  Group::awakeFromInsert();
  markFavorite(*this, 30);
}

std::string UnfiledGroup::name() const { return localizedString("Unfiled"); }

void UnfiledGroup::setVisible(bool visible) {
  setValueForKey("visible", visible);
  postWithMainThreadObject(kUnfiledGroupVisibilityDidChangeNotification, objectID());
}

std::string NoLabelGroup::name() const { return localizedString("No Label"); }

void NoLabelGroup::setVisible(bool visible) {
  setValueForKey("visible", visible);
  postWithMainThreadObject(kNoLabelGroupVisibilityDidChangeNotification, objectID());
}

}  // namespace qlt
