#include "extension/file_provider_get_item_operation.h"

#include "extension/library_object_file_provider_item.h"
#include "platform/foundation/log.h"
#include "store/library.h"
#include "store/library_object.h"
#include "platform/objectstore/managed_object_context.h"

namespace qlt {

FileProviderGetItemOperation::FileProviderGetItemOperation(std::string itemIdentifier)
    : FileProviderOperation(1), fileProviderIdentifier_(std::move(itemIdentifier)) {}

void FileProviderGetItemOperation::main() {
  std::shared_ptr<ManagedObjectContext> context = managedObjectContext();
  std::shared_ptr<Library> library = this->library();
  bool cloudLibrary = false;
  context->performAndWait([&] {
    libraryObject_ = LibraryObject::libraryObjectFromFileProviderIdentifier(fileProviderIdentifier_, *context);
    cloudLibrary = library && library->boolForKey("storeInCloudDatabase") && library->boolForKey("firstCloudStoreCompleted");
  });
  if (libraryObject_) {
    progress()->setCompletedUnitCount(1);
    finishWithError();
  } else if (cloudLibrary) {
    finishWithError(fileProviderErrorForNonExistentItem(fileProviderIdentifier_));
  } else {
    finishWithError(Error(kFileProviderErrorDomain, kFileProviderErrorNoSuchItem));
  }
}

void FileProviderGetItemOperation::complete(const Error* error) {
  if (error) log("Error getting item %@: %@", fileProviderIdentifier_, *error);
  if (!completion_) return;
  if (error) {
    completion_(nullptr, error);
    return;
  }
  FileProviderItemPtr item;
  managedObjectContext()->performAndWait([&] { item = fileProviderItem(libraryObject_); });
  completion_(item, nullptr);
}

}  // namespace qlt
