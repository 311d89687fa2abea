#pragma once

#include <map>
#include <memory>
#include <optional>
#include <string>

#include "platform/fileprovider/file_provider_item.h"
#include "platform/objectstore/managed_object.h"

namespace qlt {

class Folder;
class Item;
class LibraryObject;

// A snapshot of one library object for the file-provider service: every
// answer is copied out when the descriptor is made, inside the object's
// context, so the descriptor can be read later on any thread.
class LibraryObjectFileProviderItem : public FileProviderItem {
 public:
  std::string itemIdentifier() const override { return itemIdentifier_; }
  std::string parentItemIdentifier() const override { return parentItemIdentifier_; }
  std::string filename() const override { return filename_; }
  std::string contentType() const override { return contentType_; }
  [[nodiscard]] std::optional<Date> creationDate() const override { return creationDate_; }
  [[nodiscard]] std::optional<Date> contentModificationDate() const override { return contentModificationDate_; }
  [[nodiscard]] std::optional<Date> lastUsedDate() const override { return lastUsedDate_; }
  uint64_t capabilities() const override { return capabilities_; }
  FileProviderItemVersion itemVersion() const override { return itemVersion_; }
  std::map<std::string, Bytes> extendedAttributes() const override { return extendedAttributes_; }
  [[nodiscard]] std::optional<Bytes> tagData() const override { return tagData_; }
  bool isShared() const override { return isShared_; }
  bool isSharedByCurrentUser() const override { return isSharedByCurrentUser_; }
  bool isUploaded() const override { return isUploaded_; }

 protected:
  // Copies the answers items and folders share; `T` is Item or Folder,
  // `file` what its answers about its file need, if anything.
  template <class T, class... File>
  void snapshotCommonAnswers(T& object, const File&... file) {
    itemIdentifier_ = object.fileProviderItemIdentifier();
    parentItemIdentifier_ = object.parentItemIdentifier();
    filename_ = object.filename();
    contentType_ = object.contentType();
    capabilities_ = object.capabilities();
    itemVersion_ = object.itemVersion();
    extendedAttributes_ = object.extendedAttributes(file...);
    tagData_ = object.tagData(file...);
    isShared_ = object.isShared();
    isSharedByCurrentUser_ = isShared_ && object.isLocalRecord();
    isUploaded_ = object.isUploaded();
  }

  std::string itemIdentifier_;
  std::string parentItemIdentifier_;
  std::string filename_;
  std::string contentType_;
  std::optional<Date> creationDate_;
  std::optional<Date> contentModificationDate_;
  std::optional<Date> lastUsedDate_;
  uint64_t capabilities_ = 0;
  FileProviderItemVersion itemVersion_;
  std::map<std::string, Bytes> extendedAttributes_;
  std::optional<Bytes> tagData_;
  bool isShared_ = false;
  bool isSharedByCurrentUser_ = false;
  bool isUploaded_ = true;
};

class ItemFileProviderItem final : public LibraryObjectFileProviderItem {
 public:
  // REQUIRES: called inside the item's context.
  explicit ItemFileProviderItem(Item& item);

  [[nodiscard]] std::optional<uint64_t> documentSize() const override { return documentSize_; }
  uint64_t fileSystemFlags() const override;
  bool isUploading() const override { return isUploading_; }
  bool isDownloaded() const override { return isDownloaded_; }
  bool isDownloading() const override { return isDownloading_; }
  bool isMostRecentVersionDownloaded() const override { return isMostRecentVersionDownloaded_; }

 private:
  bool extensionHidden_ = false;
  std::optional<uint64_t> documentSize_;
  bool isUploading_ = false;
  bool isDownloaded_ = true;
  bool isDownloading_ = false;
  bool isMostRecentVersionDownloaded_ = true;
};

class FolderFileProviderItem final : public LibraryObjectFileProviderItem {
 public:
  // REQUIRES: called inside the folder's context.
  explicit FolderFileProviderItem(Folder& folder);

  [[nodiscard]] std::optional<uint64_t> childItemCount() const override { return childItemCount_; }

 private:
  std::optional<uint64_t> childItemCount_;
};

// The descriptor of an item or a folder; null for any other object.
// REQUIRES: called inside the object's context.
FileProviderItemPtr fileProviderItem(const ManagedObjectPtr& object);

}  // namespace qlt
