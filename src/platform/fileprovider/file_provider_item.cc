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

std::shared_ptr<FileProviderItemTemplate> FileProviderItemTemplate::copyOf(const FileProviderItem& item) {
  auto values = std::make_shared<FileProviderItemTemplate>();
  values->identifier = item.itemIdentifier();
  values->parent = item.parentItemIdentifier();
  values->name = item.filename();
  values->type = item.contentType();
  values->size = item.documentSize();
  values->created = item.creationDate();
  values->modified = item.contentModificationDate();
  values->lastUsed = item.lastUsedDate();
  values->flags = item.fileSystemFlags();
  values->attributes = item.extendedAttributes();
  values->tags = item.tagData();
  values->typeAndCreatorCodes = item.typeAndCreator();
  return values;
}

}  // namespace qlt
