// Item: keeping its per-user shared-item record in step with the item.
#include "model/folder.h"
#include "model/item.h"

namespace qlt {

void Item::updateCloudSharedItemForFolder() {
  ManagedObjectPtr sharedItem = objectForKey("sharedItem");
  if (!sharedItem) return;
  std::shared_ptr<Folder> owner = folder();
  Value identifier = owner ? owner->valueForKey("identifier") : Value();
  if (!sharedItem->valueForKey("folderIdentifier").isIdenticalTo(identifier))
    sharedItem->setValueForKey("folderIdentifier", identifier);
}

}  // namespace qlt
