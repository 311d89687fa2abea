// The item, contents and host-application requests of FileProviderExtension.

#include "extension/file_provider_create_operation.h"
#include "extension/file_provider_delete_operation.h"
#include "extension/file_provider_download_item_operation.h"
#include "extension/file_provider_extension.h"
#include "extension/file_provider_get_item_operation.h"
#include "extension/file_provider_modify_operation.h"
#include "extension/file_provider_service_source.h"
#include "platform/files/file_coordinator.h"
#include "platform/files/group_container.h"
#include "platform/foundation/log.h"
#include "store/library.h"
#include "store/library_manager.h"
#include "store/library_object.h"
#include "platform/objectstore/managed_object_context.h"

namespace qlt {

std::shared_ptr<Progress> FileProviderExtension::itemForIdentifier(const std::string& identifier,
                                                                   ItemCompletion completion) {
  log("Get item for identifier: %@", identifier);
  auto operation = std::make_shared<FileProviderGetItemOperation>(identifier);
  operation->setGetItemOperationCompletionBlock(std::move(completion));
  operationQueue_.addOperation(operation);
  return operation->progress();
}

std::shared_ptr<Progress> FileProviderExtension::fetchContentsForItemWithIdentifier(const std::string& identifier,
                                                                                    ContentsCompletion completion) {
  log("Fetch contents for item with identifier: %@", identifier);
  ManagedObjectPtr object;
  std::shared_ptr<Library> library = this->library();
  if (ManagedObjectContext* context = library ? library->managedObjectContext() : nullptr)
    context->performAndWait([&] { object = LibraryObject::libraryObjectFromFileProviderIdentifier(identifier, *context); });
  auto operation = std::make_shared<FileProviderDownloadItemOperation>(object, domain_);
  operation->setDownloadOperationCompletionBlock(std::move(completion));
  operationQueue_.addOperation(operation);
  return operation->progress();
}

std::shared_ptr<Progress> FileProviderExtension::createItemBasedOnTemplate(FileProviderItemPtr itemTemplate,
                                                                           uint64_t fields,
                                                                           const std::optional<std::string>& contents,
                                                                           uint64_t options,
                                                                           CreateCompletion completion) {
  log("Create item based on template: %@ in %@ May Exist: %@", itemTemplate->filename(),
      itemTemplate->parentItemIdentifier(), (options & kFileProviderCreateItemMayAlreadyExist) ? "YES" : "NO");
  auto operation = std::make_shared<FileProviderCreateOperation>(std::move(itemTemplate), fields, contents, options,
                                                                 changesManagerContext());
  operation->setCreateOperationCompletionBlock(
      [completion = std::move(completion)](FileProviderItemPtr item, uint64_t pendingFields, const Error* error) {
        if (completion) completion(std::move(item), pendingFields, false, error);
      });
  operationQueue_.addOperation(operation);
  return operation->progress();
}

std::shared_ptr<Progress> FileProviderExtension::modifyItem(FileProviderItemPtr item,
                                                           const std::optional<FileProviderItemVersion>& baseVersion,
                                                           uint64_t changedFields,
                                                           const std::optional<std::string>& contents,
                                                           uint64_t options, ModifyCompletion completion) {
  log("Modify item with identifier: %@", item->itemIdentifier());
  auto operation = std::make_shared<FileProviderModifyOperation>(std::move(item), domain_, baseVersion, changedFields,
                                                                 contents, options, changesManagerContext());
  operation->setModifyOperationCompletionBlock(
      [completion = std::move(completion)](FileProviderItemPtr item, uint64_t pendingFields, const Error* error) {
        if (completion) completion(std::move(item), pendingFields, false, error);
      });
  operationQueue_.addOperation(operation);
  return operation->progress();
}

std::shared_ptr<Progress> FileProviderExtension::deleteItemWithIdentifier(
    const std::string& identifier, const std::optional<FileProviderItemVersion>& /*baseVersion*/, uint64_t options,
    DeleteCompletion completion) {
  log("Delete item with identifier: %@", identifier);
  bool recursive = (options & kFileProviderDeleteItemRecursive) != 0;
  auto operation = std::make_shared<FileProviderDeleteOperation>(identifier, recursive, changesManagerContext());
  operation->setDeleteOperationCompletionBlock(std::move(completion));
  operationQueue_.addOperation(operation);
  return operation->progress();
}

std::shared_ptr<Progress> FileProviderExtension::supportedServiceSourcesForItemIdentifier(
    const std::string& identifier, ServiceSourcesCompletion completion) {
  auto progress = Progress::make(1);
  std::shared_ptr<Library> library = this->library();
  ManagedObjectContext* context = library ? library->managedObjectContext() : nullptr;
  std::weak_ptr<FileProviderExtension> weakSelf = weak_from_this();
  auto answer = [=] {
    if (progress->isCancelled()) return;
    bool found = false;
    if (context) found = LibraryObject::libraryObjectFromFileProviderIdentifier(identifier, *context) != nullptr;
    if (found) {
      completion({std::make_shared<FileProviderServiceSource>(weakSelf)}, nullptr);
      return;
    }
    Error error(kExtensionFileProviderErrorDomain, kFileProviderNoLibraryObjectErrorCode);
    completion({}, &error);
    progress->setCompletedUnitCount(1);
  };
  if (context)
    context->perform(answer);
  else
    operationQueue_.addOperationWithBlock(answer);
  return progress;
}

void FileProviderExtension::materializeURL(const std::string& url, Reply reply) {
  materalizationOperationQueue_.addOperationWithBlock([url, reply = std::move(reply)] {
    FileCoordinator coordinator;
    bool accessed = false;
    Error error;
    // Only whether the accessor ran matters: it is the materialization.
    (void)coordinator.coordinateReading(url, FileCoordinator::kNoOptions, [&](const std::string&) { accessed = true; },
                                  &error);
    FileProvidingReply answer;
    if (accessed)
      answer.url = url;
    else
      answer.error = error;
    if (reply) reply(answer);
  });
}

void FileProviderExtension::reimportItemsBelowItemWithIdentifier(const std::string& identifier, Reply reply) {
  log("Reimporting items below %@", identifier);
  std::string container = groupContainerPath(kSharedDefaultsSuite).value_or(std::string());
  FileProviderDomainManager::managerForDomain(domain_, container)
      ->reimportItemsBelowItemWithIdentifier(identifier, [reply = std::move(reply)](const Error* error) {
        FileProvidingReply answer;
        if (error)
          answer.error = *error;
        else
          answer.success = true;
        if (reply) reply(answer);
      });
}

}  // namespace qlt
