#include "changes/library_change_set.h"

#include "changes/library_changes_model.h"
#include "platform/foundation/uuid.h"
#include "platform/objectstore/managed_object_context.h"

namespace qlt {

LibraryChangeSet::Ptr LibraryChangeSet::changeRecordSet(const RecordIDSet& insertedRecordIDs,
                                                        const RecordIDSet& updatedRecordIDs,
                                                        const ChangedKeysByRecordID& changedKeysByRecordID,
                                                        const RecordIDSet& deletedRecordIDs,
                                                        ManagedObjectContext& context) {
  auto changeSet = std::dynamic_pointer_cast<LibraryChangeSet>(context.insertNewObject(kChangeSetEntityName));
  if (!changeSet) return nullptr;
  if (!insertedRecordIDs.empty())
    changeSet->addChangeRecords(changeRecords(LibraryChangeType::Insert, insertedRecordIDs, {}, context));
  if (!updatedRecordIDs.empty())
    changeSet->addChangeRecords(
        changeRecords(LibraryChangeType::Update, updatedRecordIDs, changedKeysByRecordID, context));
  if (!deletedRecordIDs.empty())
    changeSet->addChangeRecords(changeRecordsForDeletedRecordIDs(deletedRecordIDs, context));
  return changeSet;
}

std::vector<LibraryChangeRecord::Ptr> LibraryChangeSet::changeRecords(
    LibraryChangeType type, const RecordIDSet& recordIDs, const ChangedKeysByRecordID& changedKeysByRecordID,
    ManagedObjectContext& context) {
  std::vector<LibraryChangeRecord::Ptr> records;
  for (const RecordID& recordID : recordIDs) {
    auto keys = changedKeysByRecordID.find(recordID);
    auto record = LibraryChangeRecord::changeRecord(
        type, recordID, keys != changedKeysByRecordID.end() ? keys->second : std::set<std::string>{}, context);
    if (record) records.push_back(std::move(record));
  }
  return records;
}

std::vector<LibraryChangeRecord::Ptr> LibraryChangeSet::changeRecordsForDeletedRecordIDs(
    const RecordIDSet& recordIDs, ManagedObjectContext& context) {
  std::vector<LibraryChangeRecord::Ptr> records;
  for (const RecordID& recordID : recordIDs)
    if (auto record = LibraryChangeRecord::changeRecordForDeletedRecord(recordID, context))
      records.push_back(std::move(record));
  return records;
}

void LibraryChangeSet::awakeFromInsert() {
  setValueForKey("date", Date::now());
  setValueForKey("identifier", newUUIDString());
  setStatus(LibraryChangeSetStatus::Pending);
}

std::optional<Date> LibraryChangeSet::date() const {
  Value value = valueForKey("date");
  return value.date() ? std::optional<Date>(*value.date()) : std::nullopt;
}

std::string LibraryChangeSet::identifier() const {
  Value value = valueForKey("identifier");
  return value.string() ? *value.string() : std::string();
}

LibraryChangeSetStatus LibraryChangeSet::status() const {
  Value value = valueForKey("status");
  return value.integer() && *value.integer() == 1 ? LibraryChangeSetStatus::HandedToCloudUpload
                                                  : LibraryChangeSetStatus::Pending;
}

void LibraryChangeSet::setStatus(LibraryChangeSetStatus status) {
  setValueForKey("status", static_cast<int64_t>(status));
}

std::vector<LibraryChangeRecord::Ptr> LibraryChangeSet::changeRecords() const {
  std::vector<LibraryChangeRecord::Ptr> records;
  for (const ManagedObjectPtr& object : objectsForKey("changeRecords"))
    if (auto record = std::dynamic_pointer_cast<LibraryChangeRecord>(object)) records.push_back(record);
  return records;
}

void LibraryChangeSet::addChangeRecords(const std::vector<LibraryChangeRecord::Ptr>& records) {
  for (const LibraryChangeRecord::Ptr& record : records) addObjectForKey("changeRecords", record);
}

}  // namespace qlt
