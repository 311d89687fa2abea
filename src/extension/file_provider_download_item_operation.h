#pragma once

#include <functional>
#include <memory>
#include <optional>
#include <string>

#include "extension/file_provider_operation.h"
#include "platform/cloud/cloud_record.h"
#include "platform/fileprovider/file_provider_domain.h"
#include "platform/fileprovider/file_provider_item.h"
#include "platform/objectstore/managed_object.h"

namespace qlt {

class Item;

// Answers the service's request for an item's contents with a private copy
// of the item's file in the domain's temporary folder, fetching the file
// from the cloud database first when it is not on disk.
class FileProviderDownloadItemOperation final : public FileProviderOperation {
 public:
  // (copy, descriptor, null) on success, (nullopt, null, error) on failure.
  using Completion =
      std::function<void(const std::optional<std::string>& contents, FileProviderItemPtr item, const Error* error)>;

  // `item` is the object of the library's main context; the operation
  // re-reads it in its own.
  FileProviderDownloadItemOperation(const ManagedObjectPtr& item, FileProviderDomain domain);

  void setDownloadOperationCompletionBlock(Completion completion) { completion_ = std::move(completion); }
  [[nodiscard]] std::optional<std::string> temporaryContentsURL() const;
  std::shared_ptr<Item> item() const { return item_; }

  // Copies the item's file to "<temporary folder>/<identifier>[.<extension
  // of the filename>]", replacing an earlier copy. REQUIRES: called inside
  // the operation's context.
  [[nodiscard]] bool copyItemFileToTempoaryLocation(Error* error = nullptr);
  // Writes the downloaded file into the library and hands out a copy.
  // REQUIRES: called inside the operation's context.
  [[nodiscard]] bool processDownloadedRecord(const CloudRecord& record, Error* error = nullptr);

 protected:
  void main() override;
  void complete(const Error* error) override;
  Error convertError(const Error& error) const override;

 private:
  void startDownloadingItemFromCloud();

  const FileProviderDomain domain_;
  std::shared_ptr<Item> item_;
  std::string itemIdentifier_;
  std::string fileProviderItemIdentifier_;
  mutable std::mutex mutex_;
  std::optional<std::string> temporaryContentsURL_;
  Completion completion_;
};

}  // namespace qlt
