#include "platform/fileprovider/file_provider_item.h"

namespace qlt {

Error fileProviderErrorForCollisionWithItem(const FileProviderItemPtr& item) {
  Error error(kFileProviderErrorDomain, kFileProviderErrorFilenameCollision,
              item ? "An item named “" + item->filename() + "” already exists." : "An item of that name already exists.");
  if (item) {
    error.setItemIdentifier(item->itemIdentifier());
    error.setUserInfoValue(kFileProviderErrorCollidingItemKey, item);
  }
  return error;
}

}  // namespace qlt
