// Item: keeping its per-user shared-item record in step with the item.
#include "model/folder.h"
#include "model/item.h"
#include "platform/dispatch/notification_center.h"

namespace qlt {

void Item::updateCloudSharedItemForFolder() {
  ManagedObjectPtr sharedItem = objectForKey("sharedItem");
  if (!sharedItem) return;
  std::shared_ptr<Folder> owner = folder();
  Value identifier = owner ? owner->valueForKey("identifier") : Value();
  if (!sharedItem->valueForKey("folderIdentifier").isIdenticalTo(identifier))
    sharedItem->setValueForKey("folderIdentifier", identifier);
}

void Item::setFavorite(bool favorite) {
  setValueForKey("favorite", favorite);
  if (ManagedObjectPtr sharedItem = objectForKey("sharedItem")) sharedItem->setValueForKey("favorite", favorite);
  postIfInMainQueueContext(kItemFavoriteDidChangeNotification);
}

}  // namespace qlt
