#include "cloud/library_cloud_sync.h"

#include <algorithm>
#include <future>
#include <optional>
#include <set>

#include "changes/library_change_deleted_file_provider_item.h"
#include "cloud/cloud_changes_application.h"
#include "cloud/extension_modify_cloud_records_operation.h"
#include "cloud/pending_cloud_changes.h"
#include "model/item.h"
#include "model/library_write_lock.h"
#include "platform/cloud/cloud_container.h"
#include "platform/cloud/cloud_fetch_zone_changes_operation.h"
#include "platform/cloud/cloud_modify_records_operation.h"
#include "platform/cloud/cloud_record_zone_operations.h"
#include "platform/foundation/log.h"
#include "platform/objectstore/managed_object_context.h"
#include "platform/objectstore/managed_object_model.h"
#include "store/library.h"
#include "store/library_manager.h"
#include "store/library_model_constants.h"

namespace qlt {
namespace {

constexpr size_t kDeletionsPerRequest = 400;
constexpr size_t kRecordsPerSave = 50;

// Every library object of the context.
std::vector<LibraryObject::Ptr> allLibraryObjects(ManagedObjectContext& context, Error* error) {
  std::vector<LibraryObject::Ptr> objects;
  for (const EntityDescription* entity : context.coordinator()->model().rootEntities()) {
    auto fetched = context.fetch(FetchRequest(entity->name()), error);
    if (!fetched) return {};
    for (const ManagedObjectPtr& object : *fetched)
      if (auto libraryObject = std::dynamic_pointer_cast<LibraryObject>(object)) objects.push_back(libraryObject);
  }
  return objects;
}

bool changesContent(const std::set<std::string>& keys) {
  return keys.count("dateModified") || keys.count("size") || keys.count(kItemCloudFileAssetKey);
}

}  // namespace

void LibraryCloudSync::cancel() {
  std::shared_ptr<Operation> current;
  {
    std::lock_guard lock(mutex_);
    cancelled_ = true;
    current = current_;
  }
  if (current) current->cancel();
}

void LibraryCloudSync::run(const std::shared_ptr<AsyncOperation>& operation) {
  {
    std::lock_guard lock(mutex_);
    current_ = operation;
    if (cancelled_) operation->cancel();
  }
  operation->waitUntilFinished();
  std::lock_guard lock(mutex_);
  current_.reset();
}

std::optional<LibraryCloudSyncSummary> LibraryCloudSync::sync(Error* error) {
  std::shared_ptr<Library> library = manager_->library();
  if (!library || !changes_) {
    setError(error, Error(kLibraryManagerErrorDomain, kLibraryManagerExceptionErrorCode, "The library is not loaded."));
    return std::nullopt;
  }
  std::shared_ptr<CloudContainer> container = CloudContainer::containerWithIdentifier(kCloudContainerName, error);
  if (!container) return std::nullopt;
  std::shared_ptr<CloudDatabase> database = container->privateCloudDatabase();
  const RecordZoneID zone = LibraryManager::libraryZoneID();
  ManagedObjectContext& view = manager_->container()->viewContext();

  std::optional<ServerChangeToken> token;
  bool firstStore = false;
  view.performAndWait([&] {
    if (auto tokens = library->changeTokensByRecordZone())
      if (auto found = tokens->find(zone); found != tokens->end()) token = found->second;
    firstStore = !library->boolForKey("firstCloudStoreCompleted");
  });

  std::optional<Error> failure;
  auto zones = std::make_shared<ModifyRecordZonesOperation>(std::vector<RecordZoneID>{zone}, std::vector<RecordZoneID>{});
  zones->modifyRecordZonesCompletionBlock = [&](auto&, auto&, const Error* failed) {
    if (failed) failure = *failed;
  };
  database->add(zones);
  run(zones);

  LibraryCloudSyncSummary summary;
  std::vector<CloudRecord> records;
  std::vector<RecordID> deletions;
  bool moreComing = !failure;
  while (moreComing) {
    auto fetch = std::make_shared<FetchRecordZoneChangesOperation>(zone, token);
    fetch->qualityOfService = 25;
    fetch->fetchRecordZoneChangesCompletionBlock = [&](const std::vector<CloudRecord>& changed,
                                                      const std::vector<RecordID>& deleted,
                                                      const ServerChangeToken& next, bool more, const Error* failed) {
      if (failed) {
        failure = *failed;
        moreComing = false;
        return;
      }
      records.insert(records.end(), changed.begin(), changed.end());
      deletions.insert(deletions.end(), deleted.begin(), deleted.end());
      token = next;
      moreComing = more;
    };
    database->add(fetch);
    run(fetch);
  }
  if (failure) {
    log("Cannot fetch the library's cloud changes: %@", *failure);
    setError(error, *failure);
    return std::nullopt;
  }
  summary.fetchedRecords = records.size();
  summary.fetchedDeletions = deletions.size();

  std::optional<PendingCloudChanges> pending;
  Error readError;
  changes_->performAndWait([&] { pending = PendingCloudChanges::read(*changes_, &readError); });
  if (!pending) {
    setError(error, readError);
    return std::nullopt;
  }

  // Saved a share at a time (a context with many unsaved objects answers
  // lookups slowly); the token goes with the last share, so that a sync
  // that stops half way is done again from the same token.
  bool applied = false;
  Error applyError;
  std::set<RecordID> fetchedIDs;
  for (const CloudRecord& record : records) fetchedIDs.insert(record.recordID());
  records = CloudChangesApplication::sortedForApplication(std::move(records));
  // A writer like the others: taken here, off the main queue, since writers
  // holding the turn wait for the main queue.
  std::optional<LibraryWriteLock> turn(std::in_place);
  view.performAndWait([&] {
    // The rows the records change are read in the turn.
    view.refreshAllObjects();
    CloudChangesApplication application(view, *pending);
    for (size_t start = 0; start < records.size(); start += kRecordsPerSave) {
      size_t end = std::min(start + kRecordsPerSave, records.size());
      application.applyRecords(std::vector<CloudRecord>(records.begin() + static_cast<std::ptrdiff_t>(start),
                                                        records.begin() + static_cast<std::ptrdiff_t>(end)));
      if (end < records.size() && !manager_->saveLibrary(&applyError)) {
        view.rollback();
        return;
      }
    }
    application.applyDeletions(deletions);
    summary.appliedRecords = application.appliedCount();
    summary.deletedObjects = application.deletedCount();
    if (token) library->setServerChangeTokenForRecordZoneID(token, zone);
    if (!library->boolForKey("storeInCloudDatabase")) library->setStoreInCloudDatabase(true);
    if (!application.deletedItemIdentifiers().empty()) {
      // The rows first: a deletion the service never hears of would leave
      // it showing files that are gone.
      bool recorded = false;
      changes_->performAndWait([&] {
        for (const std::string& identifier : application.deletedItemIdentifiers())
          LibraryChangeDeletedFileProviderItem::deletedFileProviderItem(identifier, *changes_);
        recorded = changes_->save(&applyError);
        if (!recorded) changes_->rollback();
      });
      if (!recorded) {
        view.rollback();
        return;
      }
    }
    applied = manager_->saveLibrary(&applyError);
    if (!applied) view.rollback();
  });
  turn.reset();
  if (!applied) {
    log("Cannot apply the library's cloud changes: %@", applyError);
    setError(error, applyError);
    return std::nullopt;
  }

  std::vector<LibraryObject::Ptr> toSave;
  std::vector<std::shared_ptr<Item>> withAssets;
  std::map<RecordID, std::set<std::string>> changedKeys = pending->changedKeysByRecordID;
  Error listError;
  bool listed = true;
  view.performAndWait([&] {
    std::vector<LibraryObject::Ptr> candidates;
    if (firstStore) {
      candidates = allLibraryObjects(view, &listError);
      listed = !candidates.empty();
      std::erase_if(candidates, [&](const LibraryObject::Ptr& object) {
        RecordID recordID = object->cloudRecordID();
        return fetchedIDs.count(recordID) && !pending->isPendingSave(recordID);
      });
    }
    for (const RecordID& recordID : pending->insertedRecordIDs)
      if (auto object = LibraryObject::libraryObjectForCloudRecordID(view, recordID)) candidates.push_back(object);
    for (const RecordID& recordID : pending->updatedRecordIDs)
      if (auto object = LibraryObject::libraryObjectForCloudRecordID(view, recordID)) candidates.push_back(object);
    std::set<LibraryObject*> seen;
    for (const LibraryObject::Ptr& object : candidates) {
      if (!seen.insert(object.get()).second) continue;
      toSave.push_back(object);
      auto item = std::dynamic_pointer_cast<Item>(object);
      if (!item || !item->fileExists()) continue;
      RecordID recordID = item->cloudRecordID();
      auto keys = changedKeys.find(recordID);
      if (firstStore || pending->insertedRecordIDs.count(recordID) ||
          (keys != changedKeys.end() && changesContent(keys->second)))
        withAssets.push_back(item);
    }
  });
  if (!listed) {
    setError(error, listError);
    return std::nullopt;
  }

  if (!toSave.empty()) {
    auto upload = ExtensionModifyCloudRecordsOperation::make(toSave, withAssets);
    if (!upload) {
      setError(error, Error(kLibraryManagerErrorDomain, kLibraryManagerExceptionErrorCode, "The library is not loaded."));
      return std::nullopt;
    }
    upload->setChangedKeysByRecordID(changedKeys);
    // It finishes before it reports: the sync waits for the report.
    auto reported = std::make_shared<std::promise<std::optional<Error>>>();
    upload->setCloudOperationCompletionBlock([reported](const Error* failed) {
      reported->set_value(failed ? std::optional<Error>(*failed) : std::nullopt);
    });
    {
      std::lock_guard lock(mutex_);
      current_ = upload;
      if (cancelled_) upload->cancel();
    }
    upload->start();
    failure = reported->get_future().get();
    {
      std::lock_guard lock(mutex_);
      current_.reset();
    }
    if (failure) {
      log("Cannot send the library's changes to the cloud: %@", *failure);
      setError(error, *failure);
      return std::nullopt;
    }
    summary.uploadedObjects = toSave.size();
  }

  std::vector<RecordID> toDelete(pending->deletedRecordIDs.begin(), pending->deletedRecordIDs.end());
  view.performAndWait([&] { toDelete = LibraryObject::sortedCloudRecordIDs(toDelete, false, view); });
  for (size_t start = 0; start < toDelete.size(); start += kDeletionsPerRequest) {
    std::vector<RecordID> batch(toDelete.begin() + static_cast<std::ptrdiff_t>(start),
                                toDelete.begin() + static_cast<std::ptrdiff_t>(std::min(start + kDeletionsPerRequest,
                                                                                         toDelete.size())));
    std::map<CloudDatabaseScope, std::vector<RecordID>> byScope;
    for (const RecordID& recordID : batch)
      byScope[recordID.zoneID == zone ? CloudDatabaseScope::Private : CloudDatabaseScope::Shared].push_back(recordID);
    for (auto& [scope, recordIDs] : byScope) {
      auto remove = std::make_shared<ModifyRecordsOperation>(std::vector<CloudRecord>{}, recordIDs);
      remove->atomic = false;
      remove->perRecordDeleteBlock = [&](const RecordID&, const Error* failed) {
        if (failed && !isCloudError(*failed, kCloudErrorUnknownItem) && !failure) failure = *failed;
      };
      remove->modifyRecordsCompletionBlock = [&](auto&, auto&, const Error* failed) {
        if (failed && !isCloudError(*failed, kCloudErrorPartialFailure) && !failure) failure = *failed;
      };
      container->database(scope)->add(remove);
      run(remove);
      if (failure) {
        log("Cannot delete the library's records in the cloud: %@", *failure);
        setError(error, *failure);
        return std::nullopt;
      }
      summary.deletedRecords += recordIDs.size();
    }
  }

  bool removed = true;
  Error removeError;
  changes_->performAndWait([&] { removed = pending->removeChangeSets(*changes_, &removeError); });
  if (!removed) log("Cannot remove the change sets sent to the cloud: %@", removeError);
  if (firstStore) {
    LibraryWriteLock finalTurn;
    view.performAndWait([&] {
      library->setValueForKey("firstCloudStoreCompleted", true);
      Error saveError;
      if (!manager_->saveLibrary(&saveError)) {
        log("Cannot save the library: %@", saveError);
        view.rollback();
      }
    });
  }
  return summary;
}

}  // namespace qlt
