// Item: keeping its per-user shared-item record in step with the item.
#include "model/folder.h"
#include "model/item.h"
#include "platform/dispatch/notification_center.h"
#include "model/shared_item.h"

namespace qlt {

void Item::updateCloudSharedItemForFolder() {
  ManagedObjectPtr sharedItem = objectForKey("sharedItem");
  if (!sharedItem) return;
  std::shared_ptr<Folder> owner = folder();
  Value identifier = owner ? owner->valueForKey("identifier") : Value();
  if (!sharedItem->valueForKey("folderIdentifier").isIdenticalTo(identifier))
    sharedItem->setValueForKey("folderIdentifier", identifier);
}

namespace {

std::shared_ptr<SharedItem> sharedItemOf(const Item& item) {
  return std::dynamic_pointer_cast<SharedItem>(item.objectForKey("sharedItem"));
}

}  // namespace

void Item::setLabel(const ManagedObjectPtr& label) {
  setObjectForKey("label", label);
  if (auto shared = sharedItemOf(*this)) shared->setLabel(label);
}

void Item::setFavorite(bool favorite) {
  setValueForKey("favorite", favorite);
  if (auto shared = sharedItemOf(*this)) shared->setFavorite(favorite);
  postIfInMainQueueContext(kItemFavoriteDidChangeNotification);
}

void Item::setGroups(const std::vector<ManagedObjectPtr>& groups) {
  setObjectsForKey("groups", groups);
  if (auto shared = sharedItemOf(*this)) shared->setGroups(groups);
}

void Item::addGroupsObject(const ManagedObjectPtr& group) {
  addObjectForKey("groups", group);
  if (auto shared = sharedItemOf(*this)) shared->setGroups(objectsForKey("groups"));
}

void Item::removeGroupsObject(const ManagedObjectPtr& group) {
  removeObjectForKey("groups", group);
  if (auto shared = sharedItemOf(*this)) shared->setGroups(objectsForKey("groups"));
}

void Item::tagsDidChange() {
  if (auto shared = sharedItemOf(*this)) shared->setTags(objectsForKey("tags"));
}

}  // namespace qlt
