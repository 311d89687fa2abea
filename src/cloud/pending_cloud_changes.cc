#include "cloud/pending_cloud_changes.h"

#include "changes/library_change_set.h"
#include "changes/library_changes_model.h"
#include "platform/objectstore/managed_object_context.h"

namespace qlt {

std::optional<PendingCloudChanges> PendingCloudChanges::read(ManagedObjectContext& changes, Error* error) {
  FetchRequest request(kChangeSetEntityName);
  request.predicate = Predicate::withFormat("status == %@", {Value(static_cast<int64_t>(LibraryChangeSetStatus::Pending))});
  request.sortDescriptors = {SortDescriptor{"date", true}};
  auto sets = changes.fetch(request, error);
  if (!sets) return std::nullopt;
  PendingCloudChanges pending;
  for (const ManagedObjectPtr& object : *sets) {
    auto set = std::dynamic_pointer_cast<LibraryChangeSet>(object);
    if (!set) continue;
    pending.changeSets.push_back(set);
    for (const LibraryChangeRecord::Ptr& record : set->changeRecords()) {
      std::optional<RecordID> recordID = record->recordID();
      if (!recordID) continue;
      switch (record->changeType()) {
        case LibraryChangeType::Insert:
          pending.insertedRecordIDs.insert(*recordID);
          pending.deletedRecordIDs.erase(*recordID);
          break;
        case LibraryChangeType::Update:
          pending.updatedRecordIDs.insert(*recordID);
          if (auto keys = record->changedKeys())
            pending.changedKeysByRecordID[*recordID].insert(keys->begin(), keys->end());
          break;
        case LibraryChangeType::Delete:
          pending.deletedRecordIDs.insert(*recordID);
          break;
      }
    }
  }
  for (const RecordID& recordID : pending.deletedRecordIDs) {
    pending.insertedRecordIDs.erase(recordID);
    pending.updatedRecordIDs.erase(recordID);
    pending.changedKeysByRecordID.erase(recordID);
  }
  return pending;
}

bool PendingCloudChanges::removeChangeSets(ManagedObjectContext& changes, Error* error) {
  for (const ManagedObjectPtr& set : changeSets) {
    if (auto changeSet = std::dynamic_pointer_cast<LibraryChangeSet>(set))
      for (const LibraryChangeRecord::Ptr& record : changeSet->changeRecords()) changes.deleteObject(record);
    changes.deleteObject(set);
  }
  changeSets.clear();
  if (!changes.hasChanges() || changes.save(error)) return true;
  changes.rollback();
  return false;
}

}  // namespace qlt
