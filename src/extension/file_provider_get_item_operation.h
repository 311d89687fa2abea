#pragma once

#include <functional>
#include <memory>
#include <string>

#include "extension/file_provider_operation.h"
#include "platform/fileprovider/file_provider_item.h"
#include "platform/objectstore/managed_object.h"

namespace qlt {

// Answers the service's request for the description of one item or folder.
class FileProviderGetItemOperation final : public FileProviderOperation {
 public:
  // (descriptor, null) on success, (null, error) on failure.
  using Completion = std::function<void(FileProviderItemPtr item, const Error* error)>;

  explicit FileProviderGetItemOperation(std::string itemIdentifier);

  const std::string& fileProviderIdentifier() const { return fileProviderIdentifier_; }
  void setGetItemOperationCompletionBlock(Completion completion) { completion_ = std::move(completion); }

 protected:
  void main() override;
  void complete(const Error* error) override;

 private:
  const std::string fileProviderIdentifier_;
  ManagedObjectPtr libraryObject_;
  Completion completion_;
};

}  // namespace qlt
