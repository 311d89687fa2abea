#include "extension/library_object_file_provider_item.h"

#include "model/folder.h"
#include "model/item.h"
#include "platform/log.h"

namespace qlt {

ItemFileProviderItem::ItemFileProviderItem(Item& item) {
  itemIdentifier_ = item.fileProviderItemIdentifier();
  tagData_ = item.tagData();
  itemVersion_ = item.itemVersion();
  parentItemIdentifier_ = item.parentItemIdentifier();
  contentType_ = item.contentType();
  filename_ = item.filename();
  extensionHidden_ = item.extensionHidden();
  capabilities_ = item.capabilities();
  documentSize_ = item.documentSize();
  creationDate_ = item.dateCreated();
  contentModificationDate_ = item.dateModified();
  lastUsedDate_ = item.mostRecentDate();
  isShared_ = item.isShared();
  isSharedByCurrentUser_ = isShared_ && item.isLocalRecord();
  isDownloading_ = item.isDownloading();
  isDownloaded_ = item.isDownloaded();
  isMostRecentVersionDownloaded_ = item.isMostRecentVersionDownloaded();
  isUploading_ = item.isUploading();
  isUploaded_ = item.isUploaded();
  extendedAttributes_ = item.extendedAttributes();
  log("Returning %@", itemIdentifier_);
}

uint64_t ItemFileProviderItem::fileSystemFlags() const {
  uint64_t flags = kFileProviderFileSystemUserReadable | kFileProviderFileSystemUserWritable;
  if (extensionHidden_) flags |= kFileProviderFileSystemHidesExtension;
  return flags;
}

FolderFileProviderItem::FolderFileProviderItem(Folder& folder) {
  itemIdentifier_ = folder.fileProviderItemIdentifier();
  tagData_ = folder.tagData();
  itemVersion_ = folder.itemVersion();
  capabilities_ = folder.capabilities();
  parentItemIdentifier_ = folder.parentItemIdentifier();
  contentType_ = folder.contentType();
  filename_ = folder.filename();
  childItemCount_ = folder.childItemCount();
  isUploaded_ = folder.isUploaded();
  isShared_ = folder.isShared();
  isSharedByCurrentUser_ = isShared_ && folder.isLocalRecord();
  creationDate_ = folder.creationDate();
  contentModificationDate_ = folder.contentModificationDate();
  lastUsedDate_ = folder.lastUsedDate();
  extendedAttributes_ = folder.extendedAttributes();
  log("Returning %@", itemIdentifier_);
}

FileProviderItemPtr fileProviderItem(const ManagedObjectPtr& object) {
  if (!object) return nullptr;
  if (auto item = std::dynamic_pointer_cast<Item>(object)) return std::make_shared<ItemFileProviderItem>(*item);
  if (auto folder = std::dynamic_pointer_cast<Folder>(object)) return std::make_shared<FolderFileProviderItem>(*folder);
  return nullptr;
}

}  // namespace qlt
