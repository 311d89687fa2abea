#pragma once

#include <functional>
#include <memory>
#include <optional>
#include <string>

#include "platform/dispatch/async_operation.h"
#include "platform/fileprovider/file_provider_domain.h"

namespace qlt {

// Asks the domain's file-provider manager where the file manager shows an
// item. Not a request of the service: it has no context and no progress.
class GetItemFileURLOperation final : public AsyncOperation {
 public:
  // (URL, null) or (nullopt, error), as the domain manager answered.
  using Completion = std::function<void(const std::optional<std::string>& url, const Error* error)>;

  static std::shared_ptr<GetItemFileURLOperation> getItemFileURLOperationForFileProviderItemIdentifier(
      std::string itemIdentifier, FileProviderDomain domain);

  GetItemFileURLOperation(std::string itemIdentifier, FileProviderDomain domain);

  const std::string& itemIdentifier() const { return itemIdentifier_; }
  const FileProviderDomain& domain() const { return domain_; }
  // Set before the operation is queued.
  void setGetURLCompletionBlock(Completion completion) { completion_ = std::move(completion); }

 protected:
  void main() override;

 private:
  const std::string itemIdentifier_;
  const FileProviderDomain domain_;
  Completion completion_;
};

}  // namespace qlt
