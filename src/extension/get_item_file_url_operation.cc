#include "extension/get_item_file_url_operation.h"

#include "platform/files/group_container.h"
#include "store/library_manager.h"

namespace qlt {

std::shared_ptr<GetItemFileURLOperation> GetItemFileURLOperation::getItemFileURLOperationForFileProviderItemIdentifier(
    std::string itemIdentifier, FileProviderDomain domain) {
  return std::make_shared<GetItemFileURLOperation>(std::move(itemIdentifier), std::move(domain));
}

GetItemFileURLOperation::GetItemFileURLOperation(std::string itemIdentifier, FileProviderDomain domain)
    : itemIdentifier_(std::move(itemIdentifier)), domain_(std::move(domain)) {}

void GetItemFileURLOperation::main() {
  std::string container = groupContainerPath(kSharedDefaultsSuite).value_or(std::string());
  FileProviderDomainManager::managerForDomain(domain_, container)
      ->getUserVisibleURLForItemIdentifier(itemIdentifier_,
                                           [this](const std::optional<std::string>& url, const Error* error) {
                                             if (completion_) completion_(url, error);
                                           });
  finish();
}

}  // namespace qlt
