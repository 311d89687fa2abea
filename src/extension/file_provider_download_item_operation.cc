#include "extension/file_provider_download_item_operation.h"

#include "extension/cloud_error_conversion.h"
#include "extension/library_object_file_provider_item.h"
#include "model/item.h"
#include "platform/cloud/cloud_container.h"
#include "platform/cloud/cloud_error.h"
#include "platform/cloud/cloud_fetch_records_operation.h"
#include "platform/files/file_coordinator.h"
#include "platform/files/file_path.h"
#include "platform/files/file_system.h"
#include "platform/files/group_container.h"
#include "platform/foundation/log.h"
#include "store/library.h"
#include "store/library_manager.h"
#include "store/library_model_constants.h"
#include "platform/objectstore/managed_object_context.h"

namespace qlt {
namespace {

constexpr int64_t kDownloading = 3;
constexpr int kUserInitiatedQualityOfService = 25;

Error noSuchItem() { return Error(kFileProviderErrorDomain, kFileProviderErrorNoSuchItem); }

}  // namespace

FileProviderDownloadItemOperation::FileProviderDownloadItemOperation(const ManagedObjectPtr& item,
                                                                     FileProviderDomain domain)
    : FileProviderOperation(100), domain_(std::move(domain)) {
  std::shared_ptr<ManagedObjectContext> context = managedObjectContext();
  if (!context || !item) return;
  ObjectID itemID = item->objectID();
  context->performAndWait([&] {
    item_ = std::dynamic_pointer_cast<Item>(context->existingObjectWithID(itemID));
    if (!item_) return;
    itemIdentifier_ = item_->identifier();
    fileProviderItemIdentifier_ = item_->fileProviderItemIdentifier();
  });
}

std::optional<std::string> FileProviderDownloadItemOperation::temporaryContentsURL() const {
  std::lock_guard lock(mutex_);
  return temporaryContentsURL_;
}

void FileProviderDownloadItemOperation::main() {
  std::shared_ptr<ManagedObjectContext> context = managedObjectContext();
  std::shared_ptr<Library> library = this->library();
  bool fileExists = false;
  bool cloudLibrary = false;
  context->performAndWait([&] {
    fileExists = item_ && item_->fileExists();
    cloudLibrary = library && library->boolForKey("storeInCloudDatabase") &&
                   library->boolForKey("firstCloudStoreCompleted");
  });
  if (fileExists) {
    Error error;
    bool copied = false;
    context->performAndWait([&] { copied = copyItemFileToTempoaryLocation(&error); });
    copied ? finishWithError() : finishWithError(error);
    return;
  }
  if (!cloudLibrary || !item_) {
    finishWithError(noSuchItem());
    return;
  }
  startDownloadingItemFromCloud();
}

bool FileProviderDownloadItemOperation::copyItemFileToTempoaryLocation(Error* error) {
  std::optional<std::string> container = groupContainerPath(kSharedDefaultsSuite, error);
  if (!container) return false;
  Error failure;
  std::string temporary =
      FileProviderDomainManager::managerForDomain(domain_, *container)->temporaryDirectory(&failure);
  if (temporary.empty()) {
    setError(error, failure);
    return false;
  }
  std::string name = item_->identifier();
  std::string extension = pathExtension(item_->filename());
  if (!extension.empty()) name += "." + extension;
  std::string destination = appendingPathComponent(temporary, name);
  if (qlt::fileExists(destination) && !removeItem(destination, error)) return false;

  std::optional<std::string> source = item_->fileURL();
  if (!source) {
    setError(error, noSuchItem());
    return false;
  }
  FileCoordinator coordinator;
  bool copied = false;
  Error copyError;
  bool coordinated = coordinator.coordinateReadingAndWriting(
      *source, FileCoordinator::kNoOptions, destination, FileCoordinator::kNoOptions,
      [&](const std::string& from, const std::string& to) { copied = copyItem(from, to, &copyError); }, &copyError);
  if (!coordinated || !copied) {
    log("Error copying contents for item %@: %@", itemIdentifier_, copyError);
    setError(error, copyError);
    return false;
  }
  std::lock_guard lock(mutex_);
  temporaryContentsURL_ = destination;
  return true;
}

bool FileProviderDownloadItemOperation::processDownloadedRecord(const CloudRecord& record, Error* error) {
  const CloudValue* asset = record.objectForKey(kItemCloudFileAssetKey);
  if (!asset || !asset->asset()) {
    log("No asset for for item %@", itemIdentifier_);
    setError(error, noSuchItem());
    return false;
  }
  return item_->updateFileFromRecord(record, error) && copyItemFileToTempoaryLocation(error);
}

void FileProviderDownloadItemOperation::startDownloadingItemFromCloud() {
  log("Downloading item from iCloud: %@", itemIdentifier_);
  std::shared_ptr<ManagedObjectContext> context = managedObjectContext();
  RecordID recordID;
  bool localRecord = true;
  context->performAndWait([&] {
    recordID = item_->cloudRecordID();
    localRecord = item_->isLocalRecord();
    item_->setValueForKey("cloudFileDownloadStatus", kDownloading);
  });
  Error error;
  std::shared_ptr<CloudContainer> container = CloudContainer::containerWithIdentifier(kCloudContainerName, &error);
  if (!container) {
    finishWithError(error);
    return;
  }

  auto fetch = std::make_shared<FetchRecordsOperation>(std::vector<RecordID>{recordID});
  fetch->desiredKeys = Item::desiredKeysForAssetDownloads();
  fetch->qualityOfService = kUserInitiatedQualityOfService;
  std::weak_ptr<FileProviderOperation> weakSelf =
      std::static_pointer_cast<FileProviderOperation>(shared_from_this());
  fetch->perRecordProgressBlock = [weakSelf](const RecordID&, double fraction) {
    auto self = weakSelf.lock();
    if (!self) return;
    self->resetResponseTimeoutTimer();
    self->progress()->setCompletedUnitCount(static_cast<int64_t>(fraction * 100));
  };
  fetch->fetchRecordsCompletionBlock = [weakSelf, recordID](const std::map<RecordID, CloudRecord>& records,
                                                            const Error* fetchError) {
    auto self = std::static_pointer_cast<FileProviderDownloadItemOperation>(weakSelf.lock());
    if (!self) return;
    self->cancelResponseTimeoutTimer();
    if (self->isCancelled()) {
      self->finishWithError();
      return;
    }
    if (fetchError) {
      log("Error downloading item from iCloud: %@", *fetchError);
      self->finishWithError(*fetchError);
      return;
    }
    std::optional<Error> failure;
    std::shared_ptr<ManagedObjectContext> context = self->managedObjectContext();
    context->performAndWait([&] {
      log("Downloaded item %@ from iCloud.", self->itemIdentifier_);
      auto found = records.find(recordID);
      Error error;
      if (found == records.end()) {
        failure = noSuchItem();
      } else if (!self->processDownloadedRecord(found->second, &error) || !context->save(&error)) {
        failure = error;
      }
    });
    self->finishWithError(failure);
  };
  startResponseTimeoutTimer();
  setCurrentOperation(fetch);
  if (isCancelled()) fetch->cancel();
  container->database(localRecord ? CloudDatabaseScope::Private : CloudDatabaseScope::Shared)->add(fetch);
}

Error FileProviderDownloadItemOperation::convertError(const Error& error) const {
  return fileProviderErrorForCloudError(error, fileProviderItemIdentifier_);
}

void FileProviderDownloadItemOperation::complete(const Error* error) {
  if (!completion_) return;
  if (error) {
    log("Error downloading item %@: %@", fileProviderItemIdentifier_, *error);
    completion_(std::nullopt, nullptr, error);
    return;
  }
  FileProviderItemPtr descriptor;
  std::shared_ptr<ManagedObjectContext> context = managedObjectContext();
  context->performAndWait([&] {
    descriptor = fileProviderItem(item_);
    item_->setValueForKey("fileProviderMaterialized", true);
    Error saveError;
    if (context->hasChanges() && !context->save(&saveError)) log("Cannot save materialized state: %@", saveError);
  });
  completion_(temporaryContentsURL(), descriptor, nullptr);
}

}  // namespace qlt
