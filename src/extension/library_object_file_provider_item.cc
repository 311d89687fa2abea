#include "extension/library_object_file_provider_item.h"

#include "model/folder.h"
#include "model/item.h"
#include "platform/foundation/log.h"

namespace qlt {

ItemFileProviderItem::ItemFileProviderItem(Item& item) {
  Item::FileState file = item.fileState();
  snapshotCommonAnswers(item, file);
  extensionHidden_ = item.extensionHidden();
  documentSize_ = item.documentSize();
  creationDate_ = item.dateCreated();
  contentModificationDate_ = item.dateModified();
  lastUsedDate_ = item.mostRecentDate();
  isDownloading_ = item.isDownloading();
  isDownloaded_ = item.isDownloaded(file);
  isMostRecentVersionDownloaded_ = item.isMostRecentVersionDownloaded(file);
  isUploading_ = item.isUploading();
  log("Returning %@", itemIdentifier_);
}

uint64_t ItemFileProviderItem::fileSystemFlags() const {
  uint64_t flags = kFileProviderFileSystemUserReadable | kFileProviderFileSystemUserWritable;
  if (extensionHidden_) flags |= kFileProviderFileSystemHidesExtension;
  return flags;
}

FolderFileProviderItem::FolderFileProviderItem(Folder& folder) {
  snapshotCommonAnswers(folder);
  childItemCount_ = folder.childItemCount();
  creationDate_ = folder.creationDate();
  contentModificationDate_ = folder.contentModificationDate();
  lastUsedDate_ = folder.lastUsedDate();
  log("Returning %@", itemIdentifier_);
}

FileProviderItemPtr fileProviderItem(const ManagedObjectPtr& object) {
  if (!object) return nullptr;
  if (auto item = std::dynamic_pointer_cast<Item>(object)) return std::make_shared<ItemFileProviderItem>(*item);
  if (auto folder = std::dynamic_pointer_cast<Folder>(object)) return std::make_shared<FolderFileProviderItem>(*folder);
  return nullptr;
}

}  // namespace qlt
